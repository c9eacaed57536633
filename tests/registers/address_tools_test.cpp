// The configuration editor's address tools: address text to register index,
// the address check with its exact messages, addresses for many copies of a
// variable, and the messages' translation hook.

#include "registers/address_conversion.h"
#include "registers/address_multi_copy.h"
#include "registers/address_validation.h"
#include "support/qt_printers.h"

#include <QCoreApplication>
#include <QTranslator>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

constexpr qint32 kMax = std::numeric_limits<qint32>::max();
constexpr qint32 kMin = std::numeric_limits<qint32>::min();
const auto rowName = [](const auto& info) { return std::string(info.param.label); };
const auto u = [](const char* text) { return QString::fromUtf8(text); };

// Address text to register index: one row per branch (the address check
// rows below convert plain octal and offset texts too).
struct TextRow { const char *label, *reg, *text; qint32 index; };

class AddressText : public ::testing::TestWithParam<TextRow> {};

TEST_P(AddressText, GivesTheIndexOrTheTypesFailureValue)
{
    EXPECT_EQ(addressTextToIndex(u(GetParam().reg), u(GetParam().text)), GetParam().index);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Branches, AddressText, ::testing::Values(
    TextRow{"NotOctal",            "X",     "18",          -1},
    TextRow{"OffsetBaseFails",     "SD",    "abc",         -8001},
    TextRow{"EmptyFailsByType",    "32CV",  "",            -201},
    TextRow{"UnknownNameDecimal",  "Q",     "12",          12},
    // Below INT32_MIN once 8000 is taken off: no index, the failure value.
    TextRow{"OffsetPastInt32",     "SM",    "-2147483648", -8001},
    TextRow{"WordDotBit",          "D_bit", "100.07",      1607},
    TextRow{"BitPast15",           "D_bit", "100.16",      -1},
    TextRow{"TwoPoints",           "D_bit", "1.2.3",       -1},
    TextRow{"EmptyBit",            "D_bit", "5.",          -1},
    TextRow{"NoPoint",             "D_bit", "100",         -1},
    TextRow{"NegativeBit",         "D_bit", "5.-1",        -1},
    TextRow{"WordPastInt32",       "D_bit", "999999999.1", -1}), rowName);
// clang-format on

// The address check. kUntouched: the index is not written (the check stops
// before the conversion); a null index pointer is skipped.
constexpr qint32 kUntouched = 424242;
const char* const kXyEn = "Address Format:ooo, range:0~377";
const char* const kMdEn = "Address Format:dddd, range:0~7999";
const char* const kKindEn = "The register and address type isn't match!";

// language 0 Chinese, 1 English; type 0 bit, 1 word.
// clang-format off
struct CheckRow { const char *label, *reg, *text; qint32 count, language, type; const char* message; qint32 index; };
// clang-format on

class AddressCheck : public ::testing::TestWithParam<CheckRow> {};

TEST_P(AddressCheck, GivesTheMessageAndTheIndex)
{
    const CheckRow& c = GetParam();
    qint32 index = kUntouched;
    EXPECT_EQ(checkAddress(u(c.reg), u(c.text), &index, c.count, c.language, c.type), u(c.message));
    EXPECT_EQ(index, c.index);
    EXPECT_EQ(checkAddress(u(c.reg), u(c.text), nullptr, c.count, c.language, c.type), u(c.message));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Boundaries, AddressCheck, ::testing::Values(
    CheckRow{"XLast",            "X",     "377",     1,    1, 0, "",         255},
    CheckRow{"XPastEnd",         "X",     "400",     1,    1, 0, kXyEn,      256},
    CheckRow{"XCountPastTheEnd", "X",     "370",     9,    1, 0, kXyEn,      248},
    CheckRow{"XHugeCountNoWrap", "X",     "10",      kMax, 1, 0, kXyEn,      8},
    CheckRow{"XCountZeroTakesN", "X",     "400",     0,    1, 0, "",         256},
    CheckRow{"SMBelowBase",      "SM",    "7999",    1,    1, 0, "Address Format:dddd, range:8000~8255", -1},
    CheckRow{"DCountPastTheEnd", "D",     "7999",    2,    1, 1, kMdEn,      7999},
    CheckRow{"DBitLast",         "D_bit", "7999.15", 1,    1, 0, "",         127999},
    CheckRow{"DBitBitPast15",    "D_bit", "7999.16", 1,    1, 0,
             "Address Format:ddd, range:0.0~7999.15, DD-bit addresses 0~15", -1},
    CheckRow{"CV32Last",         "32CV",  "255",     1,    1, 1, "",         55},
    CheckRow{"CV32BelowBase",    "32CV",  "199",     1,    0, 1, "地址格式:ddd, 范围:200~255", -1}), rowName);

// Kind, then empty, then space, then the conversion and the name, then the range.
INSTANTIATE_TEST_SUITE_P(CheckOrder, AddressCheck, ::testing::Values(
    CheckRow{"KindBeforeEmpty",  "M",     "",        1,    1, 1, kKindEn,    kUntouched},
    CheckRow{"UnknownNameAsBit", "Q",     "5",       1,    1, 0, kKindEn,    kUntouched},
    CheckRow{"KindZh",           "D",     "10",      1,    0, 0, "寄存器和地址类型不匹配!", kUntouched},
    CheckRow{"EmptyZh",          "D",     "",        1,    0, 1, "寄存器地址不能为空!", kUntouched},
    CheckRow{"SpaceEn",          "D",     "1 0",     1,    1, 1, "The register address can not contain spaces!", kUntouched},
    CheckRow{"TabGoesOn",        "D",     "1\t0",    1,    1, 1, kMdEn,      -1},
    CheckRow{"UnknownNameEn",    "Q",     "5",       1,    1, 1, "Didn't have this register!", 5},
    CheckRow{"OtherLanguageSilent", "X",  "400",     1,    2, 0, "",         256}), rowName);
// clang-format on

// Addresses for many copies, each one step after the last.
// clang-format off
const char* const kAskZh = "复制已超出地址最大限制, 是否继续复制?";
const char* const kAskEn = "Copy has exceeded the maximum limit of the address, and whether to continue copying?";

// texts: the address texts joined by spaces.
struct CopyRow { const char *label, *reg; qint32 start, count, step, language; const char* texts;
                 std::vector<qint32> numbers; const char* question; };
// clang-format on

class AddressCopy : public ::testing::TestWithParam<CopyRow> {};

TEST_P(AddressCopy, GivesOneTextAndNumberPerCopy)
{
    const CopyRow& c = GetParam();
    QStringList texts{QStringLiteral("stale")}; // both outputs are emptied first
    QVector<qint32> numbers{7};
    EXPECT_EQ(copyAddresses(u(c.reg), c.start, c.count, c.step, texts, numbers, c.language),
              u(c.question));
    EXPECT_EQ(texts.join(QLatin1Char(' ')), u(c.texts));
    EXPECT_EQ(std::vector<qint32>(numbers.begin(), numbers.end()), c.numbers);
}

// Clamped copies get the highest address as text and one past it as number.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, AddressCopy, ::testing::Values(
    CopyRow{"XOctal",              "X",     15,   3, 1,   1, "20 21 22",        {16, 17, 18},         ""},
    CopyRow{"DBitAcrossWord",      "D_bit", 1607, 2, 9,   1, "101.00 101.09",   {1616, 1625},         ""},
    CopyRow{"XClampGoesOn",        "X",     250,  4, 2,   1, "374 376 377 377", {252, 254, 256, 256}, kAskEn},
    CopyRow{"MLastThenClampZh",    "M",     7998, 2, 1,   0, "7999 7999",       {7999, 8000},         kAskZh},
    CopyRow{"OtherLanguageSilent", "X",     250,  2, 10,  2, "377 377",         {256, 256},           ""},
    CopyRow{"UnknownName",         "Q",     0,    3, 1,   1, "",                {},                   ""},
    // Negative addresses count as in range and print as unsigned 32-bit values.
    CopyRow{"NegativeOctal",       "X",     1,    2, -1,  1, "0 37777777777",   {0, -1},              ""},
    // Computed in 64 bits: no wrap past either end of the int range.
    CopyRow{"PastInt32Top",        "D",     kMax - 10, 1, 100,  1, "7999",      {8000},               kAskEn},
    CopyRow{"BelowInt32",          "D",     kMin + 10, 1, -100, 1, "7999",      {8000},               kAskEn}), rowName);
// clang-format on

// Two billion copies would need gigabytes: no more than 128000 are made, the
// largest index space of any type (D_bit).
TEST(AddressCopyBound, HugeCountStopsAtTheLargestIndexSpace)
{
    QStringList texts;
    QVector<qint32> numbers;
    EXPECT_EQ(copyAddresses(u("D_bit"), 0, 2000000000, 1, texts, numbers, 1), u(kAskEn));
    ASSERT_EQ(texts.size(), 128000);
    EXPECT_EQ(numbers.at(127999), 128000);
}

// The messages go through QObject::tr: a translator the host installs
// replaces them, and the source texts come back once it is removed. This
// one brackets every text asked for in the QObject context without
// disambiguation; a lookup elsewhere stays untranslated and shows.
class BracketingTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* text, const char* note, int) const override
    {
        const bool plainTr = qstrcmp(context, "QObject") == 0 && !(note && *note);
        return plainTr ? QLatin1Char('[') + QString::fromUtf8(text) + QLatin1Char(']') : QString();
    }
    bool isEmpty() const override { return false; }
};

TEST(ToolTranslation, AnInstalledTranslatorReplacesTheMessages)
{
    qint32 index = 0;
    QStringList texts;
    QVector<qint32> numbers;
    BracketingTranslator translator;
    ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
    EXPECT_EQ(checkAddress(u("X"), u("400"), &index, 1, 0, 0), u("[地址格式:ooo, 范围:0~377]"));
    EXPECT_EQ(copyAddresses(u("X"), 250, 2, 10, texts, numbers, 1), u("[") + u(kAskEn) + u("]"));
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(checkAddress(u("Q"), u("5"), &index, 1, 1, 1), u("Didn't have this register!"));
}

} // namespace
