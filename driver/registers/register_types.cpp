#include "registers/register_types.h"

#include "registers/tool_message.h"

#include <QCoreApplication>

#include <array>

namespace {

constexpr const char* kXyZh = TR_SOURCE("地址格式:ooo, 范围:0~377");
constexpr const char* kXyEn = TR_SOURCE("Address Format:ooo, range:0~377");
constexpr const char* kMdZh = TR_SOURCE("地址格式:dddd, 范围:0~7999");
constexpr const char* kMdEn = TR_SOURCE("Address Format:dddd, range:0~7999");
constexpr const char* kSpecialZh = TR_SOURCE("地址格式:dddd, 范围:8000~8255");
constexpr const char* kSpecialEn = TR_SOURCE("Address Format:dddd, range:8000~8255");
constexpr const char* kSZh = TR_SOURCE("地址格式:ddd, 范围:0~999");
constexpr const char* kSEn = TR_SOURCE("Address Format:ddd, range:0~999");
constexpr const char* kTcZh = TR_SOURCE("地址格式:ddd, 范围:0~255");
constexpr const char* kTcEn = TR_SOURCE("Address Format:ddd, range:0~255");
constexpr const char* kCvZh = TR_SOURCE("地址格式:ddd, 范围:0~199");
constexpr const char* kCvEn = TR_SOURCE("Address Format:ddd, range:0~199");
constexpr const char* kCv32Zh = TR_SOURCE("地址格式:ddd, 范围:200~255");
constexpr const char* kCv32En = TR_SOURCE("Address Format:ddd, range:200~255");
constexpr const char* kDBitZh = TR_SOURCE("地址格式:ddd.DD, 范围:0.0~7999.15, DD位地址0~15");
constexpr const char* kDBitEn = TR_SOURCE("Address Format:ddd, range:0.0~7999.15, DD-bit addresses 0~15");

using E = ElementKind;
using K = AddressKind;
using G = ReadGroup;
using N = AddressNotation;

// clang-format off
constexpr RegisterTypeInfo kTable[RegisterTypeCount] = {
//   type               name    element        kind     group      notation       token     base offset failure  N       highest    range messages
    {RegisterType::X,    "X",    E::Bit,        K::Bit,  G::Bits,  N::Octal,      "ooo",    8,   0,     -1,      256,    "377",     kXyZh,      kXyEn},
    {RegisterType::Y,    "Y",    E::Bit,        K::Bit,  G::Bits,  N::Octal,      "ooo",    8,   0,     -1,      256,    "377",     kXyZh,      kXyEn},
    {RegisterType::M,    "M",    E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "dddd",   10,  0,     -1,      8000,   "7999",    kMdZh,      kMdEn},
    {RegisterType::SM,   "SM",   E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "dddd",   10,  8000,  -8001,   256,    "8255",    kSpecialZh, kSpecialEn},
    {RegisterType::S,    "S",    E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "ddd",    10,  0,     -1,      1000,   "999",     kSZh,       kSEn},
    {RegisterType::T,    "T",    E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "ddd",    10,  0,     -1,      256,    "255",     kTcZh,      kTcEn},
    {RegisterType::C,    "C",    E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "ddd",    10,  0,     -1,      256,    "255",     kTcZh,      kTcEn},
    {RegisterType::D,    "D",    E::Word,       K::Word, G::Words, N::Decimal,    "dddd",   10,  0,     -1,      8000,   "7999",    kMdZh,      kMdEn},
    {RegisterType::DBit, "D_bit", E::Bit,       K::Bit,  G::Words, N::WordDotBit, "ddd.DD", 10,  0,     -1,      128000, "7999.15", kDBitZh,    kDBitEn},
    {RegisterType::SD,   "SD",   E::Word,       K::Word, G::Words, N::Decimal,    "dddd",   10,  8000,  -8001,   256,    "8255",    kSpecialZh, kSpecialEn},
    {RegisterType::TV,   "TV",   E::Word,       K::Word, G::Words, N::Decimal,    "ddd",    10,  0,     -1,      256,    "255",     kTcZh,      kTcEn},
    {RegisterType::CV,   "CV",   E::Word,       K::Word, G::Words, N::Decimal,    "ddd",    10,  0,     -1,      200,    "199",     kCvZh,      kCvEn},
    {RegisterType::CV32, "32CV", E::DoubleWord, K::Word, G::Words, N::Decimal,    "ddd",    10,  200,   -201,    56,     "255",     kCv32Zh,    kCv32En},
};
// clang-format on

constexpr int nameLength(const char* name)
{
    int length = 0;
    while (name[length] != '\0')
        ++length;
    return length;
}

// The names' lengths, counted at compile time: a lookup runs several times a
// transaction, so it compares sizes first and never counts a name again.
constexpr std::array<int, RegisterTypeCount> nameLengths()
{
    std::array<int, RegisterTypeCount> lengths{};
    for (int i = 0; i < RegisterTypeCount; ++i)
        lengths[i] = nameLength(kTable[i].name);
    return lengths;
}

constexpr std::array<int, RegisterTypeCount> kNameLengths = nameLengths();

} // namespace

const RegisterTypeInfo* registerTypeTable()
{
    return kTable;
}

const RegisterTypeInfo* findRegisterType(const QString& regName)
{
    for (int i = 0; i < RegisterTypeCount; ++i) {
        const int length = kNameLengths[i];
        if (regName.size() == length && regName == QLatin1String(kTable[i].name, length))
            return &kTable[i];
    }
    return nullptr;
}

const RegisterTypeInfo& registerTypeInfo(RegisterType type)
{
    return kTable[static_cast<int>(type)];
}
