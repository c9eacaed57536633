#include "registers/address_multi_copy.h"

QString copyAddresses(const QString&, qint32, qint32, qint32, QStringList& addrTexts,
                      QVector<qint32>& addrNumbers, qint32)
{
    addrTexts.clear();
    addrNumbers.clear();
    return {};
}
