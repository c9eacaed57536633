#pragma once

// The thirteen register types of the FX device memory as the driver sees
// them: one row per type, read by every part of the module (lists, rebuild,
// request builders, image, reply decoding, address tools).

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

struct RegisterTypeInfo {
    RegisterType type;
    const char* name;              // exact, case-sensitive register name
    ElementKind element;
    AddressKind addressKind;
    ReadGroup readGroup;
    AddressNotation notation;
    const char* notationToken;     // "ooo", "dddd", "ddd", "ddd.DD"
    int numberBase;                // base of the address text: 8 or 10
    qint32 numberOffset;           // written number minus this is the index (SM8000 is 0)
    qint32 parseFailure;           // AddrStringToInt result for a text that does not parse
    qint32 registerCount;          // N: size of the index space
    const char* highestText;       // highest address as written, used when a copy is clamped
    const char* rangeMessageZh;    // CheckAddrCorrect's message when the address is out of range
    const char* rangeMessageEn;
};

constexpr int RegisterTypeCount = 13;

// The table, in the order the driver keeps its per-type lists:
// X, Y, M, SM, S, T, C, D, D_bit, SD, TV, CV, 32CV.
const RegisterTypeInfo* registerTypeTable();

// The row whose name equals regName exactly, or null. No trimming, no case folding.
const RegisterTypeInfo* findRegisterType(const QString& regName);

const RegisterTypeInfo& registerTypeInfo(RegisterType type);

// Number-to-text limit of the address tools: one past the highest address in
// the numbering the editor uses (256 for X, 8256 for SM, 128000 for D_bit).
inline qint32 addressNumberLimit(const RegisterTypeInfo& info)
{
    return info.registerCount + info.numberOffset;
}
