#pragma once

// The thirteen register types of the FX device memory as the driver sees
// them: one row per type and every per-type fact a column, read by every
// part of the module (lists, rebuild, request builders, image, reply
// decoding, address tools). A new register type is one new row.

#include "registers/tool_message.h"

#include <QString>
#include <QtGlobal>

enum class RegisterType : quint8 { X, Y, M, SM, S, T, C, D, DBit, SD, TV, CV, CV32 };

// What one register index addresses.
enum class ElementKind : quint8 { Bit, Word, DoubleWord };

// What the configuration editor calls the variable's address type.
enum class AddressKind : qint32 { Bit = 0, Word = 1 };

// Cyclic and one-shot reads fetch bit types in whole bytes and the rest in
// 16-bit words (a D_bit variable is read as the D words holding its bits).
enum class ReadGroup : quint8 { Bits, Words };

enum class AddressNotation : quint8 { Octal, Decimal, WordDotBit };

// How a queued write of the type goes on the line.
enum class WriteCommand : quint8 {
    None,          // X: inputs are driven by the hardware
    Force,         // one bit: force ON "7" / force OFF "8"
    BlockWrite,    // whole words: block write "1"
    BitOfWordPair, // D_bit: read the D word, then write it back with the bit changed
};

struct RegisterTypeInfo {
    RegisterType type;
    const char* name;            // exact, case-sensitive register name
    ElementKind element;
    AddressKind addressKind;
    ReadGroup readGroup;
    AddressNotation notation;
    const char* notationToken;   // "ooo", "dddd", "ddd", "ddd.DD"
    int numberBase;              // base of the address text: 8 or 10
    qint32 numberOffset;         // written number minus this is the index (SM8000 is 0)
    qint32 parseFailure;         // AddrStringToInt result for a text that does not parse
    qint32 registerCount;        // N: size of the index space
    const char* highestText;     // highest address as written, used when a copy is clamped
    quint16 byteBase;            // byte address of index 0 in block reads and writes
    int bytesPerIndex;           // 0: eight indexes per byte (bit types); 2 words; 4 32CV
    WriteCommand write;
    qint32 forceBase;            // bit address of index 0 in forces; -1 when not forced
    RegisterType imageArea;      // the type whose image area holds it (D_bit: D)
    int imageUnits;              // units of its own area (bytes of bits, words, double words); 0 when shared
    int rebuildBucket;           // the read-list rebuild's bucket, in the order blocks are polled
    const char* rangeMessageZh;  // CheckAddrCorrect's message when the address is out of range
    const char* rangeMessageEn;
};

constexpr int RegisterTypeCount = 13;

namespace RegisterTable {

constexpr const char* XyZh = TR_SOURCE("地址格式:ooo, 范围:0~377");
constexpr const char* XyEn = TR_SOURCE("Address Format:ooo, range:0~377");
constexpr const char* MdZh = TR_SOURCE("地址格式:dddd, 范围:0~7999");
constexpr const char* MdEn = TR_SOURCE("Address Format:dddd, range:0~7999");
constexpr const char* SpecialZh = TR_SOURCE("地址格式:dddd, 范围:8000~8255");
constexpr const char* SpecialEn = TR_SOURCE("Address Format:dddd, range:8000~8255");
constexpr const char* SZh = TR_SOURCE("地址格式:ddd, 范围:0~999");
constexpr const char* SEn = TR_SOURCE("Address Format:ddd, range:0~999");
constexpr const char* TcZh = TR_SOURCE("地址格式:ddd, 范围:0~255");
constexpr const char* TcEn = TR_SOURCE("Address Format:ddd, range:0~255");
constexpr const char* CvZh = TR_SOURCE("地址格式:ddd, 范围:0~199");
constexpr const char* CvEn = TR_SOURCE("Address Format:ddd, range:0~199");
constexpr const char* Cv32Zh = TR_SOURCE("地址格式:ddd, 范围:200~255");
constexpr const char* Cv32En = TR_SOURCE("Address Format:ddd, range:200~255");
constexpr const char* DBitZh = TR_SOURCE("地址格式:ddd.DD, 范围:0.0~7999.15, DD位地址0~15");
constexpr const char* DBitEn = TR_SOURCE("Address Format:ddd, range:0.0~7999.15, DD-bit addresses 0~15");

using R = RegisterType;
using E = ElementKind;
using K = AddressKind;
using G = ReadGroup;
using N = AddressNotation;
using W = WriteCommand;

// The table, in the order the driver keeps its per-type lists. Bit areas of
// the image have spare bytes (X 33 bytes for 256 bits); D_bit lives in the D
// area and the D rebuild bucket as the D words holding its bits.
// clang-format off
inline constexpr RegisterTypeInfo Rows[RegisterTypeCount] = {
//   type     name     element        kind     group     notation       token     base offset failure  N       highest    byte base /index write             force   image area  units bucket range messages
    {R::X,    "X",     E::Bit,        K::Bit,  G::Bits,  N::Octal,      "ooo",    8,   0,     -1,      256,    "377",     0x0080,   0,    W::None,          -1,     R::X,    33,   0,     XyZh,      XyEn},
    {R::Y,    "Y",     E::Bit,        K::Bit,  G::Bits,  N::Octal,      "ooo",    8,   0,     -1,      256,    "377",     0x00A0,   0,    W::Force,         0x0500, R::Y,    33,   1,     XyZh,      XyEn},
    {R::M,    "M",     E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "dddd",   10,  0,     -1,      8000,   "7999",    0x0100,   0,    W::Force,         0x0800, R::M,    1000, 2,     MdZh,      MdEn},
    {R::SM,   "SM",    E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "dddd",   10,  8000,  -8001,   256,    "8255",    0x01E0,   0,    W::Force,         0x0F00, R::SM,   40,   3,     SpecialZh, SpecialEn},
    {R::S,    "S",     E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "ddd",    10,  0,     -1,      1000,   "999",     0x0000,   0,    W::Force,         0x0000, R::S,    150,  4,     SZh,       SEn},
    {R::T,    "T",     E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "ddd",    10,  0,     -1,      256,    "255",     0x00C0,   0,    W::Force,         0x0600, R::T,    40,   5,     TcZh,      TcEn},
    {R::C,    "C",     E::Bit,        K::Bit,  G::Bits,  N::Decimal,    "ddd",    10,  0,     -1,      256,    "255",     0x01C0,   0,    W::Force,         0x0E00, R::C,    40,   6,     TcZh,      TcEn},
    {R::D,    "D",     E::Word,       K::Word, G::Words, N::Decimal,    "dddd",   10,  0,     -1,      8000,   "7999",    0x1000,   2,    W::BlockWrite,    -1,     R::D,    8000, 7,     MdZh,      MdEn},
    {R::DBit, "D_bit", E::Bit,        K::Bit,  G::Words, N::WordDotBit, "ddd.DD", 10,  0,     -1,      128000, "7999.15", 0x1000,   2,    W::BitOfWordPair, -1,     R::D,    0,    7,     DBitZh,    DBitEn},
    {R::SD,   "SD",    E::Word,       K::Word, G::Words, N::Decimal,    "dddd",   10,  8000,  -8001,   256,    "8255",    0x0E00,   2,    W::BlockWrite,    -1,     R::SD,   256,  8,     SpecialZh, SpecialEn},
    {R::TV,   "TV",    E::Word,       K::Word, G::Words, N::Decimal,    "ddd",    10,  0,     -1,      256,    "255",     0x0800,   2,    W::BlockWrite,    -1,     R::TV,   256,  9,     TcZh,      TcEn},
    {R::CV,   "CV",    E::Word,       K::Word, G::Words, N::Decimal,    "ddd",    10,  0,     -1,      200,    "199",     0x0A00,   2,    W::BlockWrite,    -1,     R::CV,   200,  10,    CvZh,      CvEn},
    {R::CV32, "32CV",  E::DoubleWord, K::Word, G::Words, N::Decimal,    "ddd",    10,  200,   -201,    56,     "255",     0x0C00,   4,    W::BlockWrite,    -1,     R::CV32, 56,   11,    Cv32Zh,    Cv32En},
};
// clang-format on

constexpr bool rowsFollowTypeOrder()
{
    for (int i = 0; i < RegisterTypeCount; ++i) {
        if (Rows[i].type != static_cast<RegisterType>(i))
            return false;
    }
    return true;
}
static_assert(rowsFollowTypeOrder(), "row i of the register table describes register type i");

// A row either owns its image area or shares another row's, which owns its own.
constexpr bool imageAreasAreOwned()
{
    for (const RegisterTypeInfo& row : Rows) {
        const RegisterTypeInfo& owner = Rows[static_cast<int>(row.imageArea)];
        if (owner.imageArea != owner.type || (row.imageArea != row.type) != (row.imageUnits == 0))
            return false;
    }
    return true;
}
static_assert(imageAreasAreOwned(), "a shared image area belongs to a row that owns it");

} // namespace RegisterTable

constexpr const RegisterTypeInfo& registerTypeInfo(RegisterType type)
{
    return RegisterTable::Rows[static_cast<int>(type)];
}

// The rows, in table order: X, Y, M, SM, S, T, C, D, D_bit, SD, TV, CV, 32CV.
inline const RegisterTypeInfo* registerTypeTable()
{
    return RegisterTable::Rows;
}

// The row whose name equals regName exactly, or null. No trimming, no case folding.
const RegisterTypeInfo* findRegisterType(const QString& regName);

// Number-to-text limit of the address tools: one past the highest address in
// the numbering the editor uses (256 for X, 8256 for SM, 128000 for D_bit).
constexpr qint32 addressNumberLimit(const RegisterTypeInfo& info)
{
    return info.registerCount + info.numberOffset;
}

// The D words that hold a run of D_bit bits. Bit 3 of D10 (index 163) with
// 20 bits lies in (3 + 20) / 16 + 1 = 2 words from D10. Divisions truncate
// toward zero, as the host numbers bits, and a run ending on a word boundary
// still takes one word more (bit 0 with 16 bits: 2 words).
struct DataWordRun {
    qint64 firstWord = 0;
    qint64 words = 0;
};

constexpr DataWordRun dataWordsOfBits(qint64 bitIndex, qint64 bitCount)
{
    return {bitIndex / 16, (bitIndex % 16 + bitCount) / 16 + 1};
}
