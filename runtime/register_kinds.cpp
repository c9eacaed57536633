#include "register_kinds.h"

#include <cstring>

namespace {

using E = ElementKind;
using K = RegisterKindId;

// Byte and bit addresses are those of the classic programming-port map:
// S 0x0000, X 0x0080, Y 0x00A0, T contacts 0x00C0, M 0x0100 (M0-M1535 only),
// C contacts 0x01C0, M8000 0x01E0, T values 0x0800, C values 0x0A00, 32-bit
// C values 0x0C00, D8000 0x0E00, D 0x1000.
// clang-format off
constexpr RegisterKind kKinds[RegisterKindCount] = {
//   id      name     element        area    base offset registers reachable byte    unit force   writable
    {K::X,    "X",     E::Bit,        "X",    8,   0,     256,      256,      0x0080, 0,   -1,     false},
    {K::Y,    "Y",     E::Bit,        "Y",    8,   0,     256,      256,      0x00A0, 0,   0x0500, true},
    {K::M,    "M",     E::Bit,        "M",    10,  0,     8000,     1536,     0x0100, 0,   0x0800, true},
    {K::SM,   "SM",    E::Bit,        "SM",   10,  8000,  256,      256,      0x01E0, 0,   0x0F00, true},
    {K::S,    "S",     E::Bit,        "S",    10,  0,     1000,     1000,     0x0000, 0,   0x0000, true},
    {K::T,    "T",     E::Bit,        "T",    10,  0,     256,      256,      0x00C0, 0,   0x0600, true},
    {K::C,    "C",     E::Bit,        "C",    10,  0,     256,      256,      0x01C0, 0,   0x0E00, true},
    {K::D,    "D",     E::Word,       "D",    10,  0,     8000,     8000,     0x1000, 2,   -1,     true},
    {K::DBit, "D_bit", E::Bit,        "D",    10,  0,     128000,   128000,   0x1000, 2,   -1,     true},
    {K::SD,   "SD",    E::Word,       "SD",   10,  8000,  256,      256,      0x0E00, 2,   -1,     true},
    {K::TV,   "TV",    E::Word,       "TV",   10,  0,     256,      256,      0x0800, 2,   -1,     true},
    {K::CV,   "CV",    E::Word,       "CV",   10,  0,     200,      200,      0x0A00, 2,   -1,     true},
    {K::CV32, "32CV",  E::DoubleWord, "32CV", 10,  200,   56,       56,       0x0C00, 4,   -1,     true},
};
// clang-format on

constexpr bool rowsInIdOrder()
{
    for (int i = 0; i < RegisterKindCount; ++i) {
        if (static_cast<int>(kKinds[i].id) != i)
            return false;
    }
    return true;
}
static_assert(rowsInIdOrder(), "row i of the register kinds must be kind i");

// Bytes the kind's reachable indexes span in the byte map: S0-S999 span 125.
qint64 byteSpan(const RegisterKind& kind)
{
    return kind.readInBytes() ? (qint64(kind.reachable) + 7) / 8 : qint64(kind.reachable) * kind.unitBytes;
}

} // namespace

const RegisterKind* registerKinds()
{
    return kKinds;
}

const RegisterKind& registerKind(RegisterKindId id)
{
    return kKinds[static_cast<int>(id)];
}

const RegisterKind* findRegisterKind(const QString& name)
{
    for (const RegisterKind& kind : kKinds) {
        if (name == QLatin1String(kind.name))
            return &kind;
    }
    return nullptr;
}

QString plcRegisterText(const RegisterKind& kind, qint64 index)
{
    // The PLC's spellings: SM and SD are M and D from 8000, 32CV is C from 200.
    const char* plcName = kind.id == K::SM ? "M" : kind.id == K::SD ? "D" : kind.id == K::CV32 ? "C" : kind.name;
    return QLatin1String(plcName) + QString::number(index + kind.numberOffset, kind.numberBase).toUpper();
}

QString registerAtByte(qint64 byteAddress)
{
    for (const RegisterKind& kind : kKinds) {
        if (kind.id == K::DBit || byteAddress < kind.byteBase || byteAddress >= kind.byteBase + byteSpan(kind))
            continue;
        const qint64 offset = byteAddress - kind.byteBase;
        return plcRegisterText(kind, kind.readInBytes() ? offset * 8 : offset / kind.unitBytes);
    }
    return {};
}

QString registerAtBit(qint64 bitAddress)
{
    for (const RegisterKind& kind : kKinds) {
        if (kind.forceBase >= 0 && bitAddress >= kind.forceBase && bitAddress < kind.forceBase + kind.reachable)
            return plcRegisterText(kind, bitAddress - kind.forceBase);
    }
    return {};
}
