// Which tags a Modbus request covers: the spans of each tag, in address
// order, or no answer when any address in the request belongs to no tag.
// The layout and every expected span are written out by hand. How a range
// is named in messages shows in the configuration reader's tests.

#include "config_reader.h"
#include "modbus_map.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

// Found by gtest through the span's own namespace.
void PrintTo(const ModbusSpan& span, std::ostream* out)
{
    *out << "{line " << span.line << ", tag " << span.tag << ", " << span.first << "+" << span.count << "}";
}

namespace {

// Holding: 0 speed, 1-2 total (int32), 10-15 recipe (3 x float); coils:
// 0-7 outputs; on the second line holding 3 flow.
const char* const kFile = R"(
modbus:
lines:
  - name: press1
    port: /dev/ttyS0
    tags:
      - { name: speed,   address: D100, holding: 0 }
      - { name: total,   address: D200, format: int32, holding: 1 }
      - { name: recipe,  address: D500, format: float, count: 3, writable: true, holding: 10 }
      - { name: outputs, address: Y0, count: 8, coil: 0 }
  - name: oven
    port: /dev/ttyS1
    tags:
      - { name: flow, address: D0, holding: 3 }
)";

struct Row {
    const char* name;
    ModbusTable table;
    int address;
    int count;
    bool found;
    QVector<ModbusSpan> spans; // line, tag, first, count
};

const Row kRows[] = {
    {"TheHighHalfOfATag", ModbusTable::HoldingRegister, 2, 1, true, {{0, 1, 1, 1}}},
    {"ThreeTagsOfTwoLines", ModbusTable::HoldingRegister, 0, 4, true, {{0, 0, 0, 1}, {0, 1, 0, 2}, {1, 0, 0, 1}}},
    {"PartOfAnArray", ModbusTable::HoldingRegister, 12, 3, true, {{0, 2, 2, 3}}},
    {"ThroughAGap", ModbusTable::HoldingRegister, 3, 8, false, {}},
    {"PastTheLastTag", ModbusTable::HoldingRegister, 15, 2, false, {}},
    {"BitsOfOneTag", ModbusTable::Coil, 3, 5, true, {{0, 3, 3, 5}}},
    {"ATableWithNoTags", ModbusTable::InputRegister, 0, 1, false, {}},
    {"TheSameAddressInAnotherTable", ModbusTable::DiscreteInput, 0, 1, false, {}},
    {"NoRegisters", ModbusTable::HoldingRegister, 0, 0, false, {}},
    {"PastTheLastAddress", ModbusTable::HoldingRegister, 65535, 2000, false, {}},
};

class ModbusMapLookups : public ::testing::TestWithParam<Row> {};

TEST_P(ModbusMapLookups, FindTheSpansOfEachTag)
{
    GatewayConfig config;
    QStringList errors;
    ASSERT_TRUE(parseGatewayConfig(QByteArray(kFile), QStringLiteral("plant.yaml"), &config, &errors))
        << errors.join(QLatin1Char('\n')).toStdString();
    const ModbusMap map(config.lines);
    const Row& row = GetParam();
    QVector<ModbusSpan> spans;
    EXPECT_EQ(map.find(row.table, row.address, row.count, &spans), row.found);
    if (row.found) {
        EXPECT_EQ(spans, row.spans);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ModbusMapLookups, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

} // namespace
