#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

// Addresses for `count` copies of a variable, each `step` after the last,
// starting one step after `start` (exported as AddrMutilCopy). Copies past
// the type's range are clamped; the result is then the continue-copying
// question in the selected language, otherwise empty.
QString copyAddresses(const QString& regName, qint32 start, qint32 count, qint32 step,
                      QStringList& addrTexts, QVector<qint32>& addrNumbers, qint32 language);
