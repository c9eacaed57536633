#pragma once

// How long a request may take on a line of the programming port's character
// frame: 7 data bits, even parity, 1 stop bit and the start bit, 10 bits a
// character.

#include <QtGlobal>

namespace LineTiming {

constexpr int BitsPerCharacter = 10;

// Wire time of `characters` characters at `baud`, in microseconds (0 for a
// baud rate of 0 or less).
qint64 wireTimeUs(qint64 characters, qint64 baud);

// Characters of the longest reply a request may ask for: 64 data bytes, the
// limit real ports take, as STX, 128 characters, ETX and the sum: 132.
constexpr int LongestReplyCharacters = 2 * 64 + 4;

} // namespace LineTiming
