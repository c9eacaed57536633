// The module's request cycle against the virtual PLC's own device map, for
// every register type: reads land in the image as the PLC holds them, and
// writes, forces and a D_bit pair change exactly the PLC bytes worked out by
// hand here, so a wrong base on either side shows.

#include "core/driver_harness.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

namespace {

struct AgreementRow {
    const char* name;
    const char* regName;
    qint32 addr;         // as the lists deliver it: bit blocks start on a byte
    qint32 count;        // bytes for bit types, words for word types
    const char* data;    // the write's data, "" for a read
    qint64 plcAddress;   // byte address in the PLC
    const char* plcBefore;
    const char* expected; // a read: the image's values; a write: the PLC bytes after
    qint32 imageIndex;    // a read: where GetRegisterData starts ...
    qint32 imageCount;    // ... and how many elements it returns
};

// PLC byte addresses: S 0x0000, X 0x0080, Y 0x00A0, T 0x00C0, M 0x0100,
// C 0x01C0, M8000 0x01E0, TV 0x0800, CV 0x0A00, 32CV 0x0C00, D8000 0x0E00,
// D 0x1000; bit devices eight to a byte, words low byte first.
const AgreementRow kRows[] = {
    {"ReadX0ToX7", "X", 0, 1, "", 0x0080, "A5", "0100010000010001", 0, 8},
    {"ReadY370ToY377", "Y", 248, 1, "", 0x00BF, "80", "0000000000000001", 248, 8},
    {"ReadM1528ToM1535", "M", 1528, 1, "", 0x01BF, "01", "0100", 1528, 2},
    {"ReadM8000ToM8007", "SM", 0, 1, "", 0x01E0, "03", "010100", 0, 3},
    {"ReadS992ToS999", "S", 992, 1, "", 0x007C, "80", "0001", 998, 2},
    {"ReadT8ToT15", "T", 8, 1, "", 0x00C1, "02", "0001", 8, 2},
    {"ReadC248ToC255", "C", 248, 1, "", 0x01DF, "40", "000100", 253, 3},
    {"ReadD7999", "D", 7999, 1, "", 0x4E7E, "3412", "3412", 7999, 1},
    {"ReadD5AsBits", "D_bit", 5, 1, "", 0x100A, "0900", "01000001", 80, 4},
    {"ReadD8255", "SD", 255, 1, "", 0x0FFE, "3412", "3412", 255, 1},
    {"ReadTV10", "TV", 10, 1, "", 0x0814, "3412", "3412", 10, 1},
    {"ReadCV0AndCV1", "CV", 0, 2, "", 0x0A00, "34127856", "34127856", 0, 2},
    {"ReadC255", "32CV", 55, 2, "", 0x0CDC, "EFCDAB89", "EFCDAB89", 55, 2},
    {"ForceOnY377", "Y", 255, 1, "01", 0x00BF, "00", "80", 0, 0},
    {"ForceOffM1535", "M", 1535, 1, "00", 0x01BF, "FF", "7F", 0, 0},
    {"ForceOnM8002", "SM", 2, 1, "01", 0x01E0, "00", "04", 0, 0},
    {"ForceOnS999", "S", 999, 1, "01", 0x007C, "00", "80", 0, 0},
    {"ForceOnT255", "T", 255, 1, "01", 0x00DF, "00", "80", 0, 0},
    {"ForceOffC0", "C", 0, 1, "00", 0x01C0, "FF", "FE", 0, 0},
    {"WriteD100", "D", 100, 1, "3412", 0x10C8, "0000", "3412", 0, 0},
    {"WriteD8000", "SD", 0, 1, "0A00", 0x0E00, "0000", "0A00", 0, 0},
    {"WriteTV255", "TV", 255, 1, "3412", 0x09FE, "0000", "3412", 0, 0},
    {"WriteCV199", "CV", 199, 1, "3412", 0x0B8E, "0000", "3412", 0, 0},
    {"WriteC200", "32CV", 0, 2, "78563412", 0x0C00, "00000000", "78563412", 0, 0},
    {"WriteD10Bit3KeepsBit0", "D_bit", 163, 1, "01", 0x1014, "0100", "0900", 0, 0},
};

TEST(ModuleAgreement, PlcAnswersTheModuleAndTheModuleDecodesTheReply)
{
    for (const AgreementRow& row : kRows) {
        VirtualPlc plc;
        const QByteArray before = QByteArray::fromHex(row.plcBefore);
        for (int i = 0; i < before.size(); ++i)
            ASSERT_TRUE(plc.setByte(row.plcAddress + i, static_cast<quint8>(before.at(i)))) << row.name;
        DriverHarness h;
        const VarItem item = makeItem(row.regName, row.addr, row.count, row.data);
        *row.data ? h.driver.AddListWriteVar(item) : h.driver.AddListReadVar(item);
        // Up to two exchanges, while the module has a frame: a D_bit write is a read, then a write.
        for (int n = 0; RequestFrame* frame = n < 2 ? h.driver.ComCommunication() : nullptr; ++n)
            EXPECT_EQ(h.driver.DataCom(plc.receive(frame->FrameBytes)), ReplyAccepted) << row.name;
        // A write: the PLC's bytes; a read: the image's values.
        EXPECT_EQ(*row.data ? plc.readBytes(row.plcAddress, static_cast<int>(qstrlen(row.expected) / 2))
                            : h.get(row.regName, row.imageIndex, row.imageCount),
                  QByteArray::fromHex(row.expected))
            << row.name;
    }
}

} // namespace
