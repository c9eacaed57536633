#pragma once

#include <QString>
#include <QtGlobal>

// Turns an address text into the register index of its type: the octal value
// for X and Y, the number minus 8000 for SM and SD, minus 200 for 32CV,
// word x 16 + bit for D_bit ("12.5" and "12.05" both name bit 5 of D12), the
// decimal number otherwise (names outside the table included). A text that
// does not parse gives the type's failure value: -1, -8001 (SM, SD) or -201
// (32CV). No range check: out-of-range numbers come back as computed.
qint32 addressTextToIndex(const QString& regName, const QString& addrText);
