// Addresses for many copies of one variable: the notation of each type,
// clamping at the end of the range with generation going on, the question,
// and the out-of-contract starts, steps and counts.

#include "registers/address_multi_copy.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

const char* const kQuestionZh = "复制已超出地址最大限制, 是否继续复制?";
const char* const kQuestionEn =
    "Copy has exceeded the maximum limit of the address, and whether to continue copying?";
constexpr qint32 kMin = std::numeric_limits<qint32>::min();
constexpr qint32 kMax = std::numeric_limits<qint32>::max();

struct CopyCase {
    const char* label;
    const char* regName;
    qint32 start;
    qint32 count;
    qint32 step;
    qint32 language;
    std::vector<const char*> texts;
    std::vector<qint32> numbers;
    const char* result; // UTF-8
};

void PrintTo(const CopyCase& c, std::ostream* os)
{
    *os << c.regName << " start " << c.start << " count " << c.count << " step " << c.step
        << " language " << c.language;
}

std::string rowName(const ::testing::TestParamInfo<CopyCase>& info)
{
    return info.param.label;
}

class AddressCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(AddressCopy, GivesOneTextAndNumberPerCopyInOrder)
{
    const CopyCase& c = GetParam();
    QStringList texts;
    QVector<qint32> numbers;
    EXPECT_EQ(copyAddresses(QString::fromUtf8(c.regName), c.start, c.count, c.step, texts, numbers,
                            c.language),
              QString::fromUtf8(c.result));
    QStringList expectedTexts;
    for (const char* text : c.texts)
        expectedTexts.append(QString::fromLatin1(text));
    EXPECT_EQ(texts, expectedTexts);
    EXPECT_EQ(std::vector<qint32>(numbers.begin(), numbers.end()), c.numbers);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Notation, AddressCopy, ::testing::Values(
    CopyCase{"XOctal",            "X",     15,   3, 1,   1, {"20", "21", "22"}, {16, 17, 18}, ""},
    CopyCase{"YOctalStep8",       "Y",     0,    2, 8,   1, {"10", "20"},       {8, 16},      ""},
    CopyCase{"MDecimal",          "M",     9,    2, 1,   1, {"10", "11"},       {10, 11},     ""},
    CopyCase{"SMWithin",          "SM",    8000, 2, 100, 1, {"8100", "8200"},   {8100, 8200}, ""},
    CopyCase{"DBitAcrossWord",    "D_bit", 1607, 2, 9,   1, {"101.00", "101.09"}, {1616, 1625}, ""},
    CopyCase{"DBitTwoDigitBit",   "D_bit", 0,    2, 10,  1, {"0.10", "1.04"},   {10, 20},     ""},
    CopyCase{"StepZero",          "Y",     7,    2, 0,   1, {"7", "7"},         {7, 7},       ""}),
    rowName);

INSTANTIATE_TEST_SUITE_P(Clamping, AddressCopy, ::testing::Values(
    CopyCase{"XGoesOnAfterClamp", "X",     250,    8, 2, 1,
             {"374", "376", "377", "377", "377", "377", "377", "377"},
             {252, 254, 256, 256, 256, 256, 256, 256}, kQuestionEn},
    CopyCase{"MLastCopyClamped",  "M",     7990,  10, 1, 0,
             {"7991", "7992", "7993", "7994", "7995", "7996", "7997", "7998", "7999", "7999"},
             {7991, 7992, 7993, 7994, 7995, 7996, 7997, 7998, 7999, 8000}, kQuestionZh},
    CopyCase{"SMBothClamped",     "SM",    8200,   2, 100, 1, {"8255", "8255"}, {8256, 8256}, kQuestionEn},
    CopyCase{"SD",                "SD",    8254,   2, 1, 1, {"8255", "8255"},     {8255, 8256}, kQuestionEn},
    CopyCase{"S",                 "S",     998,    2, 1, 1, {"999", "999"},       {999, 1000},  kQuestionEn},
    CopyCase{"T",                 "T",     254,    2, 1, 1, {"255", "255"},       {255, 256},   kQuestionEn},
    CopyCase{"C",                 "C",     254,    2, 1, 1, {"255", "255"},       {255, 256},   kQuestionEn},
    CopyCase{"D",                 "D",     7998,   2, 1, 1, {"7999", "7999"},     {7999, 8000}, kQuestionEn},
    CopyCase{"TV",                "TV",    254,    2, 1, 1, {"255", "255"},       {255, 256},   kQuestionEn},
    CopyCase{"CV",                "CV",    198,    2, 1, 1, {"199", "199"},       {199, 200},   kQuestionEn},
    CopyCase{"CV32",              "32CV",  254,    2, 1, 1, {"255", "255"},       {255, 256},   kQuestionEn},
    CopyCase{"DBit",              "D_bit", 127990, 2, 5, 1, {"7999.11", "7999.15"}, {127995, 128000}, kQuestionEn},
    CopyCase{"LanguageTwoSilent", "X",     250,    2, 10, 2, {"377", "377"},      {256, 256},   ""}),
    rowName);

INSTANTIATE_TEST_SUITE_P(NothingGenerated, AddressCopy, ::testing::Values(
    CopyCase{"CountZero",         "X",     0,  0, 1, 1, {}, {}, ""},
    CopyCase{"CountNegative",     "D",     0, -3, 1, 1, {}, {}, ""},
    CopyCase{"CountMostNegative", "D",     0, kMin, 1, 1, {}, {}, ""},
    CopyCase{"UnknownName",       "Q",     0,  3, 1, 1, {}, {}, ""},
    CopyCase{"LowerCaseName",     "x",     0,  3, 1, 1, {}, {}, ""}),
    rowName);

// Negative addresses count as in range and print as unsigned 32-bit values.
INSTANTIATE_TEST_SUITE_P(OutOfContract, AddressCopy, ::testing::Values(
    CopyCase{"NegativeOctal",     "X",     1, 2, -1, 1, {"0", "37777777777"}, {0, -1}, ""},
    CopyCase{"NegativeDecimal",   "D",     0, 1, -1, 1, {"4294967295"},       {-1},    ""},
    CopyCase{"NegativeStart",     "SM",   -5, 1,  1, 1, {"4294967292"},       {-4},    ""},
    CopyCase{"NegativeWordBit",   "D_bit", 0, 2, -1, 1, {"0.4294967295", "0.4294967294"}, {-1, -2}, ""},
    CopyCase{"NegativeBothParts", "D_bit", 0, 1, -17, 1, {"4294967295.4294967295"}, {-17}, ""},
    CopyCase{"Int32Bottom",       "D",  kMin, 1,  0, 1, {"2147483648"},       {kMin},  ""},
    CopyCase{"PastInt32TopClamps", "D", kMax - 10, 1, 100, 1, {"7999"},       {8000},  kQuestionEn},
    CopyCase{"BelowInt32Clamps",  "D",  kMin + 10, 1, -100, 1, {"7999"},      {8000},  kQuestionEn},
    CopyCase{"HugeStepClamps",    "D",     0, 2, kMax, 1, {"7999", "7999"},   {8000, 8000}, kQuestionEn}),
    rowName);
// clang-format on

TEST(AddressCopyOutputs, AreEmptiedBeforeFilling)
{
    QStringList texts{QStringLiteral("old"), QStringLiteral("older")};
    QVector<qint32> numbers{7, 8, 9};
    copyAddresses(QStringLiteral("X"), 15, 1, 1, texts, numbers, 1);
    EXPECT_EQ(texts, QStringList{QStringLiteral("20")});
    EXPECT_EQ(numbers, QVector<qint32>{16});

    copyAddresses(QStringLiteral("Q"), 15, 1, 1, texts, numbers, 1);
    EXPECT_TRUE(texts.isEmpty());
    EXPECT_TRUE(numbers.isEmpty());
}

// Two billion copies would need gigabytes; generation stops after 128000,
// the largest index space of any type (D_bit).
TEST(AddressCopyOutputs, HugeCountIsBoundedByTheLargestIndexSpace)
{
    QStringList texts;
    QVector<qint32> numbers;
    EXPECT_EQ(copyAddresses(QStringLiteral("D_bit"), 0, 2000000000, 1, texts, numbers, 1),
              QString::fromUtf8(kQuestionEn));
    ASSERT_EQ(texts.size(), 128000);
    ASSERT_EQ(numbers.size(), 128000);
    EXPECT_EQ(texts.at(0), QStringLiteral("0.01"));
    EXPECT_EQ(texts.at(127998), QStringLiteral("7999.15")); // copy 127999 is the last bit
    EXPECT_EQ(numbers.at(127998), 127999);
    EXPECT_EQ(texts.at(127999), QStringLiteral("7999.15")); // copy 128000 is clamped
    EXPECT_EQ(numbers.at(127999), 128000);

    // The bound is the same for every type: X keeps its clamped copies up to it.
    EXPECT_EQ(copyAddresses(QStringLiteral("X"), 0, kMax, 0, texts, numbers, 1), QString());
    EXPECT_EQ(texts.size(), 128000);
    EXPECT_EQ(texts.constLast(), QStringLiteral("0"));
}

} // namespace
