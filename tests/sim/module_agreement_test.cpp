// The module's request builders and the virtual PLC agree on where every
// register type lives: for the first and the last element of each type the
// module's request reaches, in the PLC, the byte or bit address that the
// port's device ranges give (written out here, not taken from either side).

#include "core/driver_object.h"
#include "support/qt_printers.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

#include <QMutexLocker>

namespace {

// Builds the item's frames with the module and returns the first one.
QByteArray moduleFrame(const VarItem& item, bool write)
{
    Tavrin driver;
    qint32 comInfo[32] = {};
    driver.SetComInfo(comInfo);
    QMutexLocker lock(&driver.ListMutex);
    if (write)
        driver.BuildWriteRequest(item);
    else
        driver.BuildReadRequest(item);
    return driver.FrameQueue.isEmpty() ? QByteArray() : driver.FrameQueue.first().FrameBytes;
}

VarItem item(const char* regName, qint32 addr, qint32 count, const QByteArray& data = QByteArray())
{
    VarItem v;
    v.RegName = QLatin1String(regName);
    v.Addr = addr;
    v.Count = count;
    v.Data = data;
    return v;
}

struct ReadRow {
    const char* name;
    const char* regName;
    qint32 addr;         // as the lists deliver it: bit blocks start on a byte
    qint32 count;        // bytes for bit types, words for word types
    qint64 byteAddress;  // where the PLC keeps the element
    int bytes;           // bytes the read returns
};

void PrintTo(const ReadRow& row, std::ostream* os)
{
    *os << row.name;
}

const ReadRow kReads[] = {
    {"X0", "X", 0, 1, 0x0080, 1},         {"X377", "X", 248, 1, 0x009F, 1},
    {"Y0", "Y", 0, 1, 0x00A0, 1},         {"Y377", "Y", 248, 1, 0x00BF, 1},
    {"M0", "M", 0, 1, 0x0100, 1},         {"M1535", "M", 1528, 1, 0x01BF, 1},
    {"M8000", "SM", 0, 1, 0x01E0, 1},     {"M8255", "SM", 248, 1, 0x01FF, 1},
    {"S0", "S", 0, 1, 0x0000, 1},         {"S999", "S", 992, 1, 0x007C, 1},
    {"T0", "T", 0, 1, 0x00C0, 1},         {"T255", "T", 248, 1, 0x00DF, 1},
    {"C0", "C", 0, 1, 0x01C0, 1},         {"C255", "C", 248, 1, 0x01DF, 1},
    {"D0", "D", 0, 1, 0x1000, 2},         {"D7999", "D", 7999, 1, 0x4E7E, 2},
    {"D0Bits", "D_bit", 0, 1, 0x1000, 2}, {"D7999Bits", "D_bit", 7999, 1, 0x4E7E, 2},
    {"D8000", "SD", 0, 1, 0x0E00, 2},     {"D8255", "SD", 255, 1, 0x0FFE, 2},
    {"TV0", "TV", 0, 1, 0x0800, 2},       {"TV255", "TV", 255, 1, 0x09FE, 2},
    {"CV0", "CV", 0, 1, 0x0A00, 2},       {"CV199", "CV", 199, 1, 0x0B8E, 2},
    {"C200", "32CV", 0, 2, 0x0C00, 4},    {"C255Value", "32CV", 55, 2, 0x0CDC, 4},
};

class ModuleRead : public ::testing::TestWithParam<ReadRow> {};

TEST_P(ModuleRead, ReachesTheElementInThePlc)
{
    const ReadRow& row = GetParam();
    VirtualPlc plc;
    QByteArray pattern;
    for (int i = 0; i < row.bytes; ++i) {
        pattern.append(static_cast<char>(0xA1 + i));
        plc.setByte(row.byteAddress + i, static_cast<quint8>(0xA1 + i));
    }
    const QByteArray frame = moduleFrame(item(row.regName, row.addr, row.count), false);
    ASSERT_FALSE(frame.isEmpty()) << "the module built no read";
    const QByteArray reply = plc.receive(frame);
    ASSERT_EQ(reply.size(), 2 * row.bytes + 4) << "request " << frame.toStdString();
    EXPECT_EQ(QByteArray::fromHex(reply.mid(1, 2 * row.bytes)), pattern);
}

INSTANTIATE_TEST_SUITE_P(ModuleAgreement, ModuleRead, ::testing::ValuesIn(kReads),
                         [](const auto& info) { return std::string(info.param.name); });

struct ForceRow {
    const char* name;
    const char* regName;
    qint32 addr;
    qint64 bitAddress;
};

void PrintTo(const ForceRow& row, std::ostream* os)
{
    *os << row.name;
}

const ForceRow kForces[] = {
    {"Y0", "Y", 0, 0x0500},      {"Y377", "Y", 255, 0x05FF},
    {"M0", "M", 0, 0x0800},      {"M1535", "M", 1535, 0x0DFF},
    {"M8000", "SM", 0, 0x0F00},  {"M8255", "SM", 255, 0x0FFF},
    {"S0", "S", 0, 0x0000},      {"S999", "S", 999, 0x03E7},
    {"T0", "T", 0, 0x0600},      {"T255", "T", 255, 0x06FF},
    {"C0", "C", 0, 0x0E00},      {"C255", "C", 255, 0x0EFF},
};

class ModuleForce : public ::testing::TestWithParam<ForceRow> {};

TEST_P(ModuleForce, SetsThenClearsTheBitInThePlc)
{
    const ForceRow& row = GetParam();
    VirtualPlc plc;
    const QByteArray on = moduleFrame(item(row.regName, row.addr, 1, QByteArray(1, 1)), true);
    EXPECT_EQ(plc.receive(on), QByteArray(1, '\x06')) << "request " << on.toStdString();
    EXPECT_TRUE(plc.bit(row.bitAddress));
    EXPECT_EQ(plc.byte(row.bitAddress / 8), 1 << (row.bitAddress % 8));
    const QByteArray off = moduleFrame(item(row.regName, row.addr, 1, QByteArray(1, 0)), true);
    EXPECT_EQ(plc.receive(off), QByteArray(1, '\x06'));
    EXPECT_FALSE(plc.bit(row.bitAddress));
}

INSTANTIATE_TEST_SUITE_P(ModuleAgreement, ModuleForce, ::testing::ValuesIn(kForces),
                         [](const auto& info) { return std::string(info.param.name); });

struct WordWriteRow {
    const char* name;
    const char* regName;
    qint32 addr;
    qint32 count; // words
    qint64 byteAddress;
};

void PrintTo(const WordWriteRow& row, std::ostream* os)
{
    *os << row.name;
}

const WordWriteRow kWordWrites[] = {
    {"D0", "D", 0, 1, 0x1000},      {"D7999", "D", 7999, 1, 0x4E7E},
    {"D8000", "SD", 0, 1, 0x0E00},  {"D8255", "SD", 255, 1, 0x0FFE},
    {"TV0", "TV", 0, 1, 0x0800},    {"TV255", "TV", 255, 1, 0x09FE},
    {"CV0", "CV", 0, 1, 0x0A00},    {"CV199", "CV", 199, 1, 0x0B8E},
    {"C200", "32CV", 0, 2, 0x0C00}, {"C255", "32CV", 55, 2, 0x0CDC},
};

class ModuleWordWrite : public ::testing::TestWithParam<WordWriteRow> {};

TEST_P(ModuleWordWrite, StoresTheBytesInThePlc)
{
    const WordWriteRow& row = GetParam();
    const QByteArray data = QByteArray::fromHex("785634121A2B3C4D").left(2 * row.count);
    VirtualPlc plc;
    const QByteArray frame = moduleFrame(item(row.regName, row.addr, row.count, data), true);
    EXPECT_EQ(plc.receive(frame), QByteArray(1, '\x06')) << "request " << frame.toStdString();
    EXPECT_EQ(plc.readBytes(row.byteAddress, static_cast<int>(data.size())), data);
}

INSTANTIATE_TEST_SUITE_P(ModuleAgreement, ModuleWordWrite, ::testing::ValuesIn(kWordWrites),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
