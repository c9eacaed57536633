// The driver object after construction and the three set-up entry points.

#include "core/driver_object.h"

#include <gtest/gtest.h>

namespace {

TEST(DriverSetup, FreshObjectHasEmptyListsNoItemTakenAndZeroImage)
{
    Tavrin driver;
    EXPECT_EQ(driver.ListKind, 100);
    EXPECT_TRUE(driver.ReadVarList.isEmpty());
    EXPECT_TRUE(driver.WriteVarList.isEmpty());
    EXPECT_TRUE(driver.OnceReadVarList.isEmpty());
    EXPECT_TRUE(driver.FrameQueue.isEmpty());
    EXPECT_EQ(driver.CommFailed, 0);
    EXPECT_EQ(driver.Callback, nullptr);
    EXPECT_FALSE(driver.ComInfo.isAttached());
    const auto* bytes = reinterpret_cast<const unsigned char*>(&driver.Image);
    for (size_t i = 0; i < sizeof(driver.Image); ++i)
        ASSERT_EQ(bytes[i], 0) << "image byte " << i;
}

TEST(DriverSetup, SetComInfoZeroesWordsTenAndThirteenOnly)
{
    qint32 block[24];
    for (int i = 0; i < 24; ++i)
        block[i] = 1000 + i;
    Tavrin driver;
    driver.SetComInfo(block);
    for (int i = 0; i < 24; ++i) {
        const bool zeroed = i == 10 || i == 13;
        EXPECT_EQ(block[i], zeroed ? 0 : 1000 + i) << "word " << i;
    }
}

TEST(DriverSetup, SecondSetComInfoRedirectsEveryLaterAccess)
{
    qint32 first[ComInfoWord::Count] = {};
    qint32 second[ComInfoWord::Count] = {};
    first[ComInfoWord::BlockSize] = 8;
    second[ComInfoWord::BlockSize] = 32;
    second[ComInfoWord::ResetWordA] = 5;
    Tavrin driver;
    driver.SetComInfo(first);
    driver.SetComInfo(second);
    EXPECT_EQ(second[ComInfoWord::ResetWordA], 0);
    EXPECT_EQ(driver.blockSize(), 32);
    driver.ComInfo.set(ComInfoWord::ScanComplete, 1);
    EXPECT_EQ(first[ComInfoWord::ScanComplete], 0);
    EXPECT_EQ(second[ComInfoWord::ScanComplete], 1);
}

// BlockSize 0 and below in an attached block: BlockSizeBelowOne/* in the
// out-of-contract tests.
TEST(DriverSetup, MissingBlockReadsZeroAndBlockSizeCountsAsOne)
{
    Tavrin driver;
    EXPECT_EQ(driver.ComInfo.get(ComInfoWord::BlockSize), 0); // no block yet: no crash
    driver.ComInfo.set(ComInfoWord::ScanComplete, 1);         // goes nowhere
    EXPECT_EQ(driver.blockSize(), 1);
}

TEST(DriverSetup, FlashLocalRegisterStoresItsThreeValuesInOrder)
{
    Tavrin driver;
    driver.FlashLocalRegister(7, -8, 9);
    EXPECT_EQ(driver.LocalRegisterArg1, 7);
    EXPECT_EQ(driver.LocalRegisterArg2, -8);
    EXPECT_EQ(driver.LocalRegisterArg3, 9);
}

void firstCallback(qint32, qint32, qint32, qint32) {}
void secondCallback(qint32, qint32, qint32, qint32) {}

TEST(DriverSetup, SecondCallbackRegistrationReplacesBoth)
{
    Tavrin driver;
    driver.RegistCallBackFuncIntf(firstCallback, 11);
    driver.RegistCallBackFuncIntf(secondCallback, 22);
    EXPECT_EQ(driver.Callback, &secondCallback);
    EXPECT_EQ(driver.CallbackContext, 22);
}

} // namespace
