// The module and the virtual PLC agree: the module's request cycle sends its
// frames to the PLC, which answers them, and the module decodes the replies
// back. Reads land in the image as the PLC holds them; writes, forces and a
// D_bit pair change exactly the PLC bytes named here (worked by hand from
// the port's device ranges, not taken from either side).

#include "core/driver_object.h"
#include "support/qt_printers.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

namespace {

struct AgreementRow {
    const char* name;
    const char* regName;
    qint32 addr;         // as the lists deliver it: bit blocks start on a byte
    qint32 count;        // bytes for bit types, words for word types
    const char* data;    // the write's data, nullptr for a read
    qint64 plcAddress;   // byte address in the PLC
    const char* plcBefore;
    const char* expected; // a read: the image's values; a write: the PLC bytes after
    qint32 imageCount;    // a read: elements GetRegisterData returns
};

const AgreementRow kRows[] = {
    {"ReadX0ToX7", "X", 0, 1, nullptr, 0x0080, "A5", "0100010000010001", 8},
    {"ReadD7999", "D", 7999, 1, nullptr, 0x4E7E, "3412", "3412", 1},
    {"ReadC255", "32CV", 55, 2, nullptr, 0x0CDC, "EFCDAB89", "EFCDAB89", 2},
    {"ForceOnY377", "Y", 255, 1, "01", 0x00BF, "00", "80", 0},
    {"ForceOffM1535", "M", 1535, 1, "00", 0x01BF, "FF", "7F", 0},
    {"WriteC200", "32CV", 0, 2, "78563412", 0x0C00, "00000000", "78563412", 0},
    {"WriteD10Bit3KeepsBit0", "D_bit", 163, 1, "01", 0x1014, "0100", "0900", 0},
};

class ModuleAgreement : public ::testing::TestWithParam<AgreementRow> {};

TEST_P(ModuleAgreement, PlcAnswersTheModuleAndTheModuleDecodesTheReply)
{
    const AgreementRow& row = GetParam();
    VirtualPlc plc;
    const QByteArray before = QByteArray::fromHex(row.plcBefore);
    for (int i = 0; i < before.size(); ++i)
        ASSERT_TRUE(plc.setByte(row.plcAddress + i, static_cast<quint8>(before.at(i))));
    qint32 comInfo[ComInfoWord::Count] = {};
    comInfo[ComInfoWord::BlockSize] = 16;
    Tavrin driver;
    driver.SetComInfo(comInfo);
    VarItem item;
    item.RegName = QLatin1String(row.regName);
    item.Addr = row.addr;
    item.Count = row.count;
    item.Data = QByteArray::fromHex(row.data);
    row.data ? driver.AddListWriteVar(item) : driver.AddListReadVar(item);
    // Up to two exchanges, while the module has a frame: a D_bit write is a read, then a write.
    for (int n = 0; RequestFrame* frame = n < 2 ? driver.ComCommunication() : nullptr; ++n)
        EXPECT_EQ(driver.DataCom(plc.receive(frame->FrameBytes)), ReplyAccepted);
    QByteArray values; // a write: the PLC's bytes; a read: the image's values
    if (row.data)
        values = plc.readBytes(row.plcAddress, static_cast<int>(qstrlen(row.expected) / 2));
    else
        driver.GetRegisterData(QLatin1String(row.regName), row.addr, 0, values, row.imageCount);
    EXPECT_EQ(values, QByteArray::fromHex(row.expected));
}

INSTANTIATE_TEST_SUITE_P(Sim, ModuleAgreement, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
