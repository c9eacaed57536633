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

// How long the host waits for a reply: the request's and the reply's
// characters on the line plus the PLC's answer allowance (its scan time, an
// adapter's latency, a network hop), rounded up to whole milliseconds.
// 9600 baud, a read of one word (11 + 8 characters): 19.8 ms -> 20 ms, plus
// the allowance.
int replyTimeoutMs(qint64 sentCharacters, qint64 replyCharacters, qint64 baud,
                   int answerAllowanceMs);

// Characters of the longest reply a request may ask for: 64 data bytes, the
// limit real ports take, as STX, 128 characters, ETX and the sum: 132.
constexpr int LongestReplyCharacters = 2 * 64 + 4;

// How long the line must stay quiet after a failed reply before the host
// sends again, so that no late reply can pass for the next request's answer:
// a reply that began as the timeout ran out has arrived in full, and so has
// one that the PLC sends up to a whole answer allowance after the timeout.
// 9600 baud, 200 ms allowance: 132 characters take 137.5 ms -> 138 + 200 = 338 ms.
int quietPeriodMs(qint64 baud, int answerAllowanceMs);

} // namespace LineTiming
