#pragma once

#include <QString>
#include <QtGlobal>

// The configuration editor's address check (exported as CheckAddrCorrect).
// Returns an empty text when the address is valid for `count` registers of
// the type, otherwise the message in the selected language (0 Chinese,
// 1 English, anything else empty). Writes the register index through
// `registerIndex` once the check reaches the conversion step.
QString checkAddress(const QString& regName, const QString& addrText, qint32* registerIndex,
                     qint32 count, qint32 language, qint32 addressType);
