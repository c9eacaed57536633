// Value formats: text to the module's value bytes and shown back, the bytes
// worked out by hand (IEEE 754 -2.25 is 0xC0100000, -100000 is 0xFFFE7960).

#include "value_format.h"

#include <gtest/gtest.h>

namespace {

using F = ValueFormat;
using E = ElementKind;

const struct {
    const char* text;
    F format;
    E element;
    const char* expected; // "bytes -> shown", or the refusal
} kRows[] = {
    {"off", F::Bit, E::Bit, "00 -> 0"},
    {"-2", F::Int16, E::Word, "fe ff -> -2"},
    {"-100000", F::Int32, E::Word, "60 79 fe ff -> -100000"},
    {"4294967295", F::Uint32, E::Word, "ff ff ff ff -> 4294967295"},
    {"-2.25", F::Float, E::Word, "00 00 10 c0 -> -2.25"},
    {"0.1", F::Float, E::Word, "cd cc cc 3d -> 0.1"},
    {"0xA", F::Hex, E::Word, "0a 00 -> 0x000A"},
    {"12345678", F::Hex, E::DoubleWord, "78 56 34 12 -> 0x12345678"},
    {"-5", F::Int32, E::DoubleWord, "fb ff ff ff -> -5"},
    {"0xFFFF", F::Int16, E::Word, "ff ff -> -1"},
    {"0b101", F::Uint16, E::Word, "05 00 -> 5"},
    {"0x80000000", F::Int32, E::Word, "00 00 00 80 -> -2147483648"},
    {"40000", F::Int16, E::Word,
     "int16 value \"40000\": expected a whole number from -32768 to 32767, or 0x0000 to 0xFFFF"},
    {"0x10000", F::Uint16, E::Word,
     "uint16 value \"0x10000\": expected a whole number from 0 to 65535, or 0x0000 to 0xFFFF"},
    {"0x-5", F::Int16, E::Word,
     "int16 value \"0x-5\": expected a whole number from -32768 to 32767, or 0x0000 to 0xFFFF"},
    {"1e40", F::Float, E::Word, "float value \"1e40\": expected a number from -3.4e38 to 3.4e38, such as 3.25 or -1e-3"},
    {"0x10000", F::Hex, E::Word, "hex value \"0x10000\": expected up to 4 hex digits, 0x optional"},
    {"2", F::Bit, E::Bit, "bit value \"2\": expected 0, 1, on, off, true or false"},
};

TEST(ValueFormat, EncodesToTheModulesBytesAndShowsThemBack)
{
    for (const auto& row : kRows) {
        QByteArray bytes;
        QString error;
        const bool encoded = encodeValue(QLatin1String(row.text), row.format, row.element, &bytes, &error);
        EXPECT_EQ(encoded ? QString::fromLatin1(bytes.toHex(' ')) + QLatin1String(" -> ") + decodeValue(bytes, row.format, row.element)
                          : error,
                  QString::fromUtf8(row.expected));
    }
}

} // namespace
