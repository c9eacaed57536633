// The host's reads and writes through the driver: image-only writes read
// back at once, and queue-mode writes cut into write items (seen in the
// frames the cycle builds for them).

#include "core/driver_harness.h"

#include <gtest/gtest.h>

namespace {

class HostData : public ::testing::Test {
protected:
    HostData() : h(32) {}
    void queueMode() { h.comInfo[ComInfoWord::WriteMode] = WriteModeQueue; }
    DriverHarness h;
};

TEST_F(HostData, ImageOnlyWritesEveryNameAndQueuesNothing)
{
    EXPECT_EQ(h.get("D", 100, 2), fromHexBytes("00 00 00 00")); // all zero after load
    EXPECT_EQ(h.set("X", 8, "01 01", 2), 1);                       // X10 and X11 (octal)
    EXPECT_EQ(h.get("X", 7, 3), fromHexBytes("00 01 01"));
    EXPECT_EQ(h.set("32CV", 0, "78 56 34 12", 2), 1);
    EXPECT_EQ(h.get("32CV", 0, 4), fromHexBytes("78 56 34 12 00 00 00 00"));
    EXPECT_EQ(h.set("Q", 0, "01", 1), 1);
    EXPECT_TRUE(h.requestItems().empty());
}

TEST_F(HostData, QueueModeWritesBitsOneItemEach)
{
    queueMode();
    h.comInfo[ComInfoWord::StationNo] = 6;
    h.comInfo[ComInfoWord::ItemParam1] = 5;
    h.comInfo[ComInfoWord::ItemParam2] = -7;
    EXPECT_EQ(h.set("X", 0, "01", 1), 0);  // inputs are not written to the PLC
    EXPECT_EQ(h.set("M", 10, "01", 3), 3); // M11 and M12 have no byte: they send 0
    EXPECT_EQ(h.get("M", 10, 1), fromHexBytes("00")); // the image waits for the request
    const std::vector<VarItem> items = h.requestItems();
    ASSERT_EQ(spansOf(items), "M:10+1 M:11+1 M:12+1");
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(items[k].Data, fromHexBytes(k == 0 ? "01" : "00"));
    const VarItem& item = items[2];
    EXPECT_EQ((std::array{item.HostId, item.HostSubId, item.OpKind, item.StationNo,
                          item.ItemParam1, item.ItemParam2}),
              (std::array{0, -1, OpKindWrite, 6, 5, -7}));
    h.comInfo[ComInfoWord::StationPerVar] = 1;
    h.set("Y", 0, "01", 1, 9);
    EXPECT_EQ(h.requestItems().at(0).StationNo, 9); // the caller's station
}

// BlockSize 32, D0 count 70: (0, 32), (32, 32), (64, 6); the array's 130
// bytes end inside the last block (from byte 128), which is padded with zeros.
TEST_F(HostData, QueueModeCutsWordsIntoBlocksOfBlockSize)
{
    queueMode();
    const QByteArray values = QByteArray(128, '\0') + QByteArray("\x80\x81", 2);
    EXPECT_EQ(h.driver.SetRegisterData(QStringLiteral("D"), 0, 0, values, 70), 3);
    const std::vector<VarItem> items = h.requestItems();
    EXPECT_EQ(spansOf(items), "D:0+32 D:32+32 D:64+6");
    EXPECT_EQ(items.at(2).Data, fromHexBytes("80 81 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(h.set("D", 0, "01 00", 0), 0); // a count of 0 queues nothing
}

// A full list takes no more items; while the PLC is not answering, written
// values still reach the image at once, also the pieces the list did not take.
TEST_F(HostData, FullListTakesNoMoreButWhileCommFailedTheImageDoes)
{
    h.driver.AddListReadVar(makeItem("D", 0, 1));
    ASSERT_EQ(spansOf(h.requestItems(1)), "D:0+1"); // given up: the PLC is not answering
    queueMode();
    EXPECT_EQ(h.set("M", 1000, "", PendingListLimit - 2), PendingListLimit - 2); // one item per bit
    EXPECT_EQ(h.set("M", 10, "01 00 01 01", 4), PendingListLimit);
    EXPECT_EQ(h.get("M", 10, 4), fromHexBytes("01 00 01 01"));
    EXPECT_EQ(h.set("32CV", 3, "78 56 34 12", 2), PendingListLimit);
    EXPECT_EQ(h.get("32CV", 3, 2), fromHexBytes("78 56 34 12"));
}

} // namespace
