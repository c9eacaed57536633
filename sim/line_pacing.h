#pragma once

// How long an exchange takes on a real programming-port line: pure arithmetic,
// no clock. The port's character frame is 7E1 with its start bit, 10 bits a
// character, so at 9600 baud one character takes 10 / 9600 s = 1.042 ms.

#include <QtGlobal>

constexpr int BitsPerCharacter = 10;

struct LinePacing {
    qint32 baudRate = 0;         // 0 or less: characters take no time
    qint64 responseDelayUs = 0;  // the PLC's answer delay (its scan time) per request

    // Time `characters` characters take on the line, rounded to the nearest
    // nanosecond: 143 characters at 9600 baud take 148958333 ns.
    qint64 transmitTimeNs(qint64 characters) const;

    // From the moment the last request byte reached the PLC to the moment
    // the last reply character has left it: the request's own characters
    // (a host writes faster than the line carries them), the answer delay,
    // any fault delay, then the reply's characters. A read of 64 bytes at
    // 9600 baud with no answer delay: (11 + 132) characters = 148.96 ms.
    qint64 exchangeTimeNs(qint64 requestCharacters, qint64 replyCharacters,
                          qint64 extraDelayUs = 0) const;
};
