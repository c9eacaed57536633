// A tag's value between the module's bytes and JSON, both ways, and when a
// new value is worth publishing. Expected bytes are worked out by hand: low
// byte first, low word first, IEEE 754 for floats. The text codec under it
// has its own table (value_format_test.cpp): these rows are what JSON adds.

#include "tag_value.h"

#include "support/qt_printers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

TagConfig makeTag(const char* address, ValueFormat format, int count = 1)
{
    TagConfig tag;
    tag.format = format;
    tag.count = count;
    VariableAddress first;
    QString error;
    EXPECT_TRUE(parseVariableAddress(QLatin1String(address), 1, &first, &error)) << error.toStdString();
    const int registers = count * registersPerValue(format, first.type->element);
    EXPECT_TRUE(parseVariableAddress(QLatin1String(address), registers, &tag.address, &error)) << error.toStdString();
    return tag;
}

QJsonValue json(const char* text)
{
    return QJsonDocument::fromJson(QByteArray("[") + text + "]").array().at(0);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

// A row goes both ways unless its value reads back in another form (255 as
// "0x00FF": Write) or is never written (NaN: Read); a row with an error is a
// refused write.
enum class Way { Both, Read, Write };

struct Row {
    const char* name;
    const char* address;
    ValueFormat format;
    int count;
    const char* json;
    QByteArray bytes; // the values' bytes one after another
    const char* error = "";
    Way way = Way::Both;
};

const Row kRows[] = {
    {"Int16", "D100", ValueFormat::Int16, 1, "42", bytes({0x2A, 0x00})},
    {"Int32LowWordFirst", "D200", ValueFormat::Int32, 1, "-2", bytes({0xFE, 0xFF, 0xFF, 0xFF})},
    {"Float", "D300", ValueFormat::Float, 1, "3.25", bytes({0x00, 0x00, 0x50, 0x40})},
    {"FloatNaN", "D300", ValueFormat::Float, 1, "\"NaN\"", bytes({0x00, 0x00, 0xC0, 0x7F}), "", Way::Read},
    {"FloatInfinity", "D300", ValueFormat::Float, 1, "\"-Infinity\"", bytes({0x00, 0x00, 0x80, 0xFF}), "", Way::Read},
    {"Hex", "D100", ValueFormat::Hex, 1, "\"0x00FF\"", bytes({0xFF, 0x00})},
    {"HexNumber", "D100", ValueFormat::Hex, 1, "255", bytes({0xFF, 0x00}), "", Way::Write},
    {"Bits", "X0", ValueFormat::Bit, 3, "[true,false,true]", bytes({0x01, 0x00, 0x01})},
    {"BitZero", "M5", ValueFormat::Bit, 1, "0", bytes({0x00}), "", Way::Write},
    {"Words", "D10", ValueFormat::Int16, 2, "[1,258]", bytes({0x01, 0x00, 0x02, 0x01})},
    {"Counter32", "32CV200", ValueFormat::Int32, 1, "-100", bytes({0x9C, 0xFF, 0xFF, 0xFF})},
    {"DataBit", "D10.3", ValueFormat::Bit, 1, "true", bytes({0x01})},
    {"Int16Fraction", "D100", ValueFormat::Int16, 1, "3.5", {}, "int16 takes a whole number"},
    {"Uint32TooLarge", "D200", ValueFormat::Uint32, 1, "4294967296", {},
     "uint32 value \"4294967296\": expected a whole number from 0 to 4294967295, or 0x00000000 to 0xFFFFFFFF"},
    {"FloatFromABool", "D300", ValueFormat::Float, 1, "true", {}, "a float takes a number"},
    {"FloatTooSmall", "D300", ValueFormat::Float, 1, "1e-50", {},
     "float value \"1e-50\": too small for a 32-bit float, whose smallest is about 1.4e-45; write 0 for zero"},
    {"BitTwo", "M5", ValueFormat::Bit, 1, "2", {}, "a bit takes true, false, 0 or 1"},
    {"ArrayTooShort", "D10", ValueFormat::Int16, 2, "[1]", {}, "this tag takes an array of 2 values"},
    {"ArrayForAScalar", "D10", ValueFormat::Int16, 1, "[1]", {}, "int16 takes a whole number"},
    {"ArrayWithABadValue", "M0", ValueFormat::Bit, 2, "[true, 5]", {}, "value 2 of 2: a bit takes true, false, 0 or 1"},
};

class TagValues : public ::testing::TestWithParam<Row> {};

TEST_P(TagValues, GoBetweenTheModulesBytesAndJsonOrSayWhatFits)
{
    const Row& row = GetParam();
    const TagConfig tag = makeTag(row.address, row.format, row.count);
    const bool refused = *row.error != 0;
    if (row.way != Way::Write && !refused) {
        EXPECT_EQ(tagValue(tag, row.bytes).json(), json(row.json));
    }
    if (row.way == Way::Read)
        return;
    QVector<QByteArray> values;
    QString error;
    EXPECT_EQ(encodeTagValue(tag, json(row.json), &values, &error), !refused);
    EXPECT_EQ(error, QLatin1String(row.error));
    if (refused)
        return;
    EXPECT_EQ(values.size(), row.count);
    QByteArray written;
    for (const QByteArray& value : values)
        written += value;
    EXPECT_EQ(written, row.bytes);
}

INSTANTIATE_TEST_SUITE_P(Rows, TagValues, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

struct DeadbandRow {
    const char* name;
    const char* published;
    const char* now;
    double deadband;
    bool differs;
};

const DeadbandRow kDeadbands[] = {
    {"AnyChangeWithoutDeadband", "1", "2", 0, true},
    {"WithinDeadband", "10", "10.5", 0.5, false},
    {"BeyondDeadband", "10", "10.6", 0.5, true},
    {"DownBeyondDeadband", "10", "9", 0.5, true},
    {"ArrayElementBeyond", "[1, 2]", "[1, 3]", 0.5, true},
    {"ArrayWithin", "[1, 2]", "[1.2, 2.4]", 0.5, false},
    {"NaNToNumber", "\"NaN\"", "1", 5, true},
};

class TagValueDeadbands : public ::testing::TestWithParam<DeadbandRow> {};

TEST_P(TagValueDeadbands, DecideWhetherAValueIsPublished)
{
    const DeadbandRow& row = GetParam();
    EXPECT_EQ(differsBeyond(json(row.published), json(row.now), row.deadband), row.differs);
}

INSTANTIATE_TEST_SUITE_P(Rows, TagValueDeadbands, ::testing::ValuesIn(kDeadbands),
                         [](const ::testing::TestParamInfo<DeadbandRow>& info) { return std::string(info.param.name); });

} // namespace
