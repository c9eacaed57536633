// Value formats: text to the module's value bytes and back, with the bytes
// worked out by hand (IEEE 754 1.5 is 0x3FC00000, -100000 is 0xFFFE7960).

#include "support/qt_printers.h"
#include "value_format.h"

#include <gtest/gtest.h>

namespace {

struct EncodeRow {
    const char* name;
    const char* text;
    ValueFormat format;
    ElementKind element;
    const char* bytes; // spaced hex
};

const EncodeRow kEncodeRows[] = {
    {"BitOn", "1", ValueFormat::Bit, ElementKind::Bit, "01"},
    {"BitOffWord", "off", ValueFormat::Bit, ElementKind::Bit, "00"},
    {"Int16Negative", "-2", ValueFormat::Int16, ElementKind::Word, "FE FF"},
    {"Uint16Top", "65535", ValueFormat::Uint16, ElementKind::Word, "FF FF"},
    {"Int32LowWordFirst", "-100000", ValueFormat::Int32, ElementKind::Word, "60 79 FE FF"},
    {"Uint32Top", "4294967295", ValueFormat::Uint32, ElementKind::Word, "FF FF FF FF"},
    {"FloatOneAndHalf", "1.5", ValueFormat::Float, ElementKind::Word, "00 00 C0 3F"},
    {"FloatNegative", "-2.25", ValueFormat::Float, ElementKind::Word, "00 00 10 C0"},
    {"HexWord", "0xBEEF", ValueFormat::Hex, ElementKind::Word, "EF BE"},
    {"HexCounter", "12345678", ValueFormat::Hex, ElementKind::DoubleWord, "78 56 34 12"},
    {"CounterInt32", "-5", ValueFormat::Int32, ElementKind::DoubleWord, "FB FF FF FF"},
};

class EncodeValue : public ::testing::TestWithParam<EncodeRow> {};

TEST_P(EncodeValue, GivesTheModulesValueBytesAndReadsBack)
{
    const EncodeRow& row = GetParam();
    QByteArray bytes;
    QString error;
    ASSERT_TRUE(encodeValue(QLatin1String(row.text), row.format, row.element, &bytes, &error)) << error.toStdString();
    EXPECT_EQ(bytes, fromHexBytes(row.bytes));
    const QString back = decodeValue(bytes, row.format, row.element);
    QByteArray again;
    ASSERT_TRUE(encodeValue(back, row.format, row.element, &again, &error)) << back.toStdString();
    EXPECT_EQ(again, bytes);
}

INSTANTIATE_TEST_SUITE_P(Formats, EncodeValue, ::testing::ValuesIn(kEncodeRows),
                         [](const ::testing::TestParamInfo<EncodeRow>& info) { return std::string(info.param.name); });

struct DecodeRow {
    const char* name;
    const char* bytes;
    ValueFormat format;
    ElementKind element;
    const char* text;
};

const DecodeRow kDecodeRows[] = {
    {"Int16", "FE FF", ValueFormat::Int16, ElementKind::Word, "-2"},
    {"Uint16", "FE FF", ValueFormat::Uint16, ElementKind::Word, "65534"},
    {"Int32", "60 79 FE FF", ValueFormat::Int32, ElementKind::Word, "-100000"},
    {"FloatShortest", "CD CC CC 3D", ValueFormat::Float, ElementKind::Word, "0.1"},
    {"HexPadded", "0A 00", ValueFormat::Hex, ElementKind::Word, "0x000A"},
    {"HexCounter", "78 56 34 12", ValueFormat::Hex, ElementKind::DoubleWord, "0x12345678"},
    {"BitAnyNonZero", "01", ValueFormat::Bit, ElementKind::Bit, "1"},
};

class DecodeValue : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeValue, ShowsTheValue)
{
    const DecodeRow& row = GetParam();
    EXPECT_EQ(decodeValue(fromHexBytes(row.bytes), row.format, row.element), QLatin1String(row.text));
}

INSTANTIATE_TEST_SUITE_P(Formats, DecodeValue, ::testing::ValuesIn(kDecodeRows),
                         [](const ::testing::TestParamInfo<DecodeRow>& info) { return std::string(info.param.name); });

TEST(ValueFormat, RejectsValuesOutsideTheFormatAndSaysWhatIsAccepted)
{
    QByteArray bytes;
    QString error;
    EXPECT_FALSE(encodeValue(QStringLiteral("40000"), ValueFormat::Int16, ElementKind::Word, &bytes, &error));
    EXPECT_TRUE(error.contains(QLatin1String("-32768 to 32767"))) << error.toStdString();
    EXPECT_FALSE(encodeValue(QStringLiteral("-1"), ValueFormat::Uint32, ElementKind::Word, &bytes, &error));
    EXPECT_FALSE(encodeValue(QStringLiteral("0x10000"), ValueFormat::Hex, ElementKind::Word, &bytes, &error));
    EXPECT_TRUE(error.contains(QLatin1String("4 hex digits"))) << error.toStdString();
    EXPECT_FALSE(encodeValue(QStringLiteral("2"), ValueFormat::Bit, ElementKind::Bit, &bytes, &error));
    EXPECT_FALSE(encodeValue(QStringLiteral("pi"), ValueFormat::Float, ElementKind::Word, &bytes, &error));
}

TEST(ValueFormat, RegistersPerValueFollowTheRegisterKind)
{
    EXPECT_EQ(registersPerValue(ValueFormat::Int32, ElementKind::Word), 2);       // two D words
    EXPECT_EQ(registersPerValue(ValueFormat::Int32, ElementKind::DoubleWord), 1); // one 32-bit counter
    EXPECT_EQ(registersPerValue(ValueFormat::Int16, ElementKind::DoubleWord), 0);
    EXPECT_EQ(registersPerValue(ValueFormat::Float, ElementKind::Bit), 0);
    EXPECT_EQ(moduleCount(ElementKind::DoubleWord, 3), 6); // the module counts counters in words
    ValueFormat format = ValueFormat::Bit;
    EXPECT_TRUE(parseValueFormat(QStringLiteral("uint32"), &format));
    EXPECT_EQ(format, ValueFormat::Uint32);
    EXPECT_FALSE(parseValueFormat(QStringLiteral("double"), &format));
}

} // namespace
