// The configuration editor's address check: the order of the checks, the
// exact message of each, every type's range boundaries, and when the
// register index is written.

#include "registers/address_validation.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr qint32 kUntouched = 424242; // the caller's index before the call
constexpr qint32 kBit = 0;
constexpr qint32 kWord = 1;
constexpr qint32 kZh = 0;
constexpr qint32 kEn = 1;

const char* const kOk = "";
const char* const kKindEn = "The register and address type isn't match!";
const char* const kEmptyEn = "The register address can not be null!";
const char* const kSpaceEn = "The register address can not contain spaces!";
const char* const kNoRegisterEn = "Didn't have this register!";
const char* const kXyEn = "Address Format:ooo, range:0~377";
const char* const kMdEn = "Address Format:dddd, range:0~7999";
const char* const kSpecialEn = "Address Format:dddd, range:8000~8255";
const char* const kSEn = "Address Format:ddd, range:0~999";
const char* const kTcEn = "Address Format:ddd, range:0~255";
const char* const kCvEn = "Address Format:ddd, range:0~199";
const char* const kCv32En = "Address Format:ddd, range:200~255";
const char* const kDBitEn = "Address Format:ddd, range:0.0~7999.15, DD-bit addresses 0~15";

struct CheckCase {
    const char* label;
    const char* regName;
    const char* text;
    qint32 count;
    qint32 language;
    qint32 addressType;
    const char* message; // UTF-8
    qint32 index;        // kUntouched: the index must not be written
};

void PrintTo(const CheckCase& c, std::ostream* os)
{
    *os << c.regName << " '" << c.text << "' count " << c.count << " language " << c.language
        << " type " << c.addressType;
}

class AddressCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(AddressCheck, GivesTheMessageAndWritesTheIndexOnlyFromTheConversionOn)
{
    const CheckCase& c = GetParam();
    qint32 index = kUntouched;
    EXPECT_EQ(checkAddress(QString::fromUtf8(c.regName), QString::fromUtf8(c.text), &index, c.count,
                           c.language, c.addressType),
              QString::fromUtf8(c.message));
    EXPECT_EQ(index, c.index);
}

std::string rowName(const ::testing::TestParamInfo<CheckCase>& info)
{
    return info.param.label;
}

constexpr qint32 kMax = std::numeric_limits<qint32>::max();
constexpr qint32 kMin = std::numeric_limits<qint32>::min();

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ranges, AddressCheck, ::testing::Values(
    CheckCase{"X_First",          "X",     "0",       1, kEn, kBit,  kOk,        0},
    CheckCase{"X_Last",           "X",     "377",     1, kEn, kBit,  kOk,        255},
    CheckCase{"X_PastEnd",        "X",     "400",     1, kEn, kBit,  kXyEn,      256},
    CheckCase{"X_NotOctal",       "X",     "8",       1, kEn, kBit,  kXyEn,      -1},
    CheckCase{"X_CountReachesN",  "X",     "370",     8, kEn, kBit,  kOk,        248},
    CheckCase{"X_CountPastN",     "X",     "370",     9, kEn, kBit,  kXyEn,      248},
    CheckCase{"Y_Last",           "Y",     "377",     1, kEn, kBit,  kOk,        255},
    CheckCase{"Y_PastEnd",        "Y",     "400",     1, kEn, kBit,  kXyEn,      256},
    CheckCase{"M_First",          "M",     "0",       1, kEn, kBit,  kOk,        0},
    CheckCase{"M_Last",           "M",     "7999",    1, kEn, kBit,  kOk,        7999},
    CheckCase{"M_PastEnd",        "M",     "8000",    1, kEn, kBit,  kMdEn,      8000},
    CheckCase{"SM_First",         "SM",    "8000",    1, kEn, kBit,  kOk,        0},
    CheckCase{"SM_Last",          "SM",    "8255",    1, kEn, kBit,  kOk,        255},
    CheckCase{"SM_PastEnd",       "SM",    "8256",    1, kEn, kBit,  kSpecialEn, 256},
    CheckCase{"SM_BelowBase",     "SM",    "7999",    1, kEn, kBit,  kSpecialEn, -1},
    CheckCase{"SM_Letters",       "SM",    "abc",     1, kEn, kBit,  kSpecialEn, -8001},
    CheckCase{"S_Last",           "S",     "999",     1, kEn, kBit,  kOk,        999},
    CheckCase{"S_PastEnd",        "S",     "1000",    1, kEn, kBit,  kSEn,       1000},
    CheckCase{"T_Last",           "T",     "255",     1, kEn, kBit,  kOk,        255},
    CheckCase{"T_PastEnd",        "T",     "256",     1, kEn, kBit,  kTcEn,      256},
    CheckCase{"C_Last",           "C",     "255",     1, kEn, kBit,  kOk,        255},
    CheckCase{"C_PastEnd",        "C",     "256",     1, kEn, kBit,  kTcEn,      256},
    CheckCase{"D_First",          "D",     "0",       1, kEn, kWord, kOk,        0},
    CheckCase{"D_CountReachesN",  "D",     "7998",    2, kEn, kWord, kOk,        7998},
    CheckCase{"D_CountPastN",     "D",     "7999",    2, kEn, kWord, kMdEn,      7999},
    CheckCase{"D_PastEnd",        "D",     "8000",    1, kEn, kWord, kMdEn,      8000},
    CheckCase{"DBit_First",       "D_bit", "0.0",     1, kEn, kBit,  kOk,        0},
    CheckCase{"DBit_Last",        "D_bit", "7999.15", 1, kEn, kBit,  kOk,        127999},
    CheckCase{"DBit_BitPastEnd",  "D_bit", "7999.16", 1, kEn, kBit,  kDBitEn,    -1},
    CheckCase{"DBit_WordPastEnd", "D_bit", "8000.0",  1, kEn, kBit,  kDBitEn,    128000},
    CheckCase{"SD_First",         "SD",    "8000",    1, kEn, kWord, kOk,        0},
    CheckCase{"SD_Last",          "SD",    "8255",    1, kEn, kWord, kOk,        255},
    CheckCase{"SD_PastEnd",       "SD",    "8256",    1, kEn, kWord, kSpecialEn, 256},
    CheckCase{"TV_Last",          "TV",    "255",     1, kEn, kWord, kOk,        255},
    CheckCase{"TV_PastEnd",       "TV",    "256",     1, kEn, kWord, kTcEn,      256},
    CheckCase{"CV_Last",          "CV",    "199",     1, kEn, kWord, kOk,        199},
    CheckCase{"CV_PastEnd",       "CV",    "200",     1, kEn, kWord, kCvEn,      200},
    CheckCase{"CV32_First",       "32CV",  "200",     1, kEn, kWord, kOk,        0},
    CheckCase{"CV32_Last",        "32CV",  "255",     1, kEn, kWord, kOk,        55},
    CheckCase{"CV32_PastEnd",     "32CV",  "256",     1, kEn, kWord, kCv32En,    56},
    CheckCase{"CV32_BelowBase",   "32CV",  "199",     1, kEn, kWord, kCv32En,    -1}),
    rowName);

INSTANTIATE_TEST_SUITE_P(Counts, AddressCheck, ::testing::Values(
    CheckCase{"ZeroAcceptsIndexN",     "X", "400", 0,    kEn, kBit,  kOk,   256},
    CheckCase{"NegativeWidensRange",   "X", "401", -1,   kEn, kBit,  kOk,   257},
    CheckCase{"NegativeIndexStillOut", "X", "8",   -5,   kEn, kBit,  kXyEn, -1},
    CheckCase{"HugeCountDoesNotWrap",  "X", "10",  kMax, kEn, kBit,  kXyEn, 8},
    CheckCase{"MostNegativeCount",     "D", "0",   kMin, kEn, kWord, kOk,   0}),
    rowName);

INSTANTIATE_TEST_SUITE_P(CheckOrder, AddressCheck, ::testing::Values(
    CheckCase{"WordTypeAsBit",          "D",  "10",  1, kEn, kBit,  kKindEn,       kUntouched},
    CheckCase{"BitTypeAsWordBeforeEmpty", "M", "",   1, kEn, kWord, kKindEn,       kUntouched},
    CheckCase{"DBitAsWord",             "D_bit", "1.1", 1, kEn, kWord, kKindEn,    kUntouched},
    CheckCase{"UnknownNameAsBit",       "Q",  "5",   1, kEn, kBit,  kKindEn,       kUntouched},
    CheckCase{"AddressTypeTwo",         "D",  "10",  1, kEn, 2,     kKindEn,       kUntouched},
    CheckCase{"Empty",                  "D",  "",    1, kEn, kWord, kEmptyEn,      kUntouched},
    CheckCase{"SpaceInside",            "D",  "1 0", 1, kEn, kWord, kSpaceEn,      kUntouched},
    CheckCase{"SpaceOnly",              "X",  " ",   1, kEn, kBit,  kSpaceEn,      kUntouched},
    CheckCase{"TabGoesToConversion",    "D",  "1\t0", 1, kEn, kWord, kMdEn,        -1},
    CheckCase{"UnknownName",            "Q",  "5",   1, kEn, kWord, kNoRegisterEn, 5},
    CheckCase{"UnknownNameBadText",     "Q",  "abc", 1, kEn, kWord, kNoRegisterEn, -1},
    CheckCase{"LowerCaseIsNoRegister",  "x",  "17",  1, kEn, kWord, kNoRegisterEn, 17}),
    rowName);

INSTANTIATE_TEST_SUITE_P(Languages, AddressCheck, ::testing::Values(
    CheckCase{"ZhKind",        "D",     "10",     1, kZh, kBit,  "寄存器和地址类型不匹配!",  kUntouched},
    CheckCase{"ZhEmpty",       "D",     "",       1, kZh, kWord, "寄存器地址不能为空!",      kUntouched},
    CheckCase{"ZhSpace",       "D",     "1 0",    1, kZh, kWord, "寄存器地址不能包含空格!",  kUntouched},
    CheckCase{"ZhNoRegister",  "Q",     "5",      1, kZh, kWord, "无此寄存器!",              5},
    CheckCase{"ZhXy",          "X",     "400",    1, kZh, kBit,  "地址格式:ooo, 范围:0~377", 256},
    CheckCase{"ZhMd",          "M",     "8000",   1, kZh, kBit,  "地址格式:dddd, 范围:0~7999", 8000},
    CheckCase{"ZhSpecial",     "SD",    "7999",   1, kZh, kWord, "地址格式:dddd, 范围:8000~8255", -1},
    CheckCase{"ZhS",           "S",     "1000",   1, kZh, kBit,  "地址格式:ddd, 范围:0~999", 1000},
    CheckCase{"ZhTc",          "TV",    "256",    1, kZh, kWord, "地址格式:ddd, 范围:0~255", 256},
    CheckCase{"ZhCv",          "CV",    "200",    1, kZh, kWord, "地址格式:ddd, 范围:0~199", 200},
    CheckCase{"ZhCv32",        "32CV",  "199",    1, kZh, kWord, "地址格式:ddd, 范围:200~255", -1},
    CheckCase{"ZhDBit",        "D_bit", "8000.0", 1, kZh, kBit,
              "地址格式:ddd.DD, 范围:0.0~7999.15, DD位地址0~15", 128000},
    CheckCase{"ZhValid",       "D",     "100",    1, kZh, kWord, kOk,                       100},
    CheckCase{"OtherRangeFail", "D",    "8000",   1, 2,   kWord, kOk,                       8000},
    CheckCase{"OtherNoRegister", "Q",   "5",      1, 2,   kWord, kOk,                       5},
    CheckCase{"OtherKindFail", "M",     "1",      1, 2,   kWord, kOk,                       kUntouched},
    CheckCase{"NegativeLanguage", "X",  "400",    1, -1,  kBit,  kOk,                       256}),
    rowName);
// clang-format on

TEST(AddressCheckPointer, NullIndexPointerIsSkippedAndTheCheckStillAnswers)
{
    EXPECT_EQ(checkAddress(QStringLiteral("X"), QStringLiteral("400"), nullptr, 1, kEn, kBit),
              QString::fromUtf8(kXyEn));
    EXPECT_EQ(checkAddress(QStringLiteral("X"), QStringLiteral("377"), nullptr, 1, kEn, kBit), QString());
}

} // namespace
