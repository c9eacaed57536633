#pragma once

// Reads a fuzz input front to back: small integers, 32-bit values, strings
// and byte arrays. An exhausted input reads as zeros, so every input is a
// valid program. The layout is simple enough that seed files can be written
// by hand (fuzz/make_corpus.py).

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool atEnd() const { return pos_ >= size_; }

    quint8 u8() { return atEnd() ? 0 : data_[pos_++]; }

    quint16 u16()
    {
        const quint16 low = u8();
        return static_cast<quint16>(low | (u8() << 8));
    }

    // Four bytes, least significant first.
    qint32 i32()
    {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<quint32>(u8()) << (8 * i);
        return static_cast<qint32>(value);
    }

    // One of n choices (n > 0).
    int pick(int n) { return u8() % n; }

    // An integer that is often a boundary: a selector byte chooses a small
    // value, a 16-bit value, any 32-bit value or one of the edges that
    // address and count arithmetic gets wrong.
    qint32 number()
    {
        static const qint32 edges[] = {0,    1,    -1,    7,      8,      15,     16,     127,
                                       128,  255,  256,   1023,   1024,   7999,   8000,   8255,
                                       127999, 128000, std::numeric_limits<qint32>::max(),
                                       std::numeric_limits<qint32>::min(), -8001, -201};
        switch (pick(4)) {
        case 0: return u8();
        case 1: return u16();
        case 2: return i32();
        default: return edges[pick(static_cast<int>(sizeof edges / sizeof edges[0]))];
        }
    }

    // A length byte, then that many bytes.
    QByteArray bytes()
    {
        const int length = u8();
        QByteArray out;
        for (int i = 0; i < length && !atEnd(); ++i)
            out.append(static_cast<char>(u8()));
        return out;
    }

    QString text() { return QString::fromUtf8(bytes()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// The thirteen register names, then names a host may send by mistake.
inline QString registerName(FuzzInput& in)
{
    static const char* const names[] = {"X",  "Y",  "M",  "SM", "S",  "T",  "C",  "D",    "D_bit",
                                        "SD", "TV", "CV", "32CV", "",  "Q",  "d",  "D_BIT", "X "};
    const int choice = in.pick(19);
    if (choice == 18)
        return in.text(); // anything at all
    return QString::fromLatin1(names[choice]);
}

// Ends the run with a message when an invariant breaks; libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);   \
            abort();                                                                              \
        }                                                                                         \
    } while (0)
