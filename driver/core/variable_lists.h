#pragma once

// The three variable lists and the rules by which items enter them: a
// one-shot read cut into blocks of BlockSize units, and a host write cut
// into write items.

#include "core/owning_list.h"
#include "tavrin.h"

using VarItemList = OwningList<VarItem>;
using FrameQueueList = OwningList<RequestFrame>;

// Most items WriteVarList and OnceReadVarList hold; further items are dropped.
constexpr int PendingListLimit = 1024;

// A one-shot request turned into block units: the first block's start, the
// number of units (bytes for bit types, words for D_bit, elements
// otherwise) and how far the start moves per unit.
struct OnceReadUnits {
    qint64 base = 0;
    qint64 units = 0;
    qint64 indexesPerUnit = 1;
};

// The extra unit is always added for bit types and D_bit: X from 0 with 8
// bits asks for (0 + 8) / 8 + 1 = 2 bytes, not 1. The address is not
// negative here.
OnceReadUnits onceReadUnits(const QString& regName, qint64 addr, qint64 count);

// Two blocks are the same request when they agree in HostId, HostSubId,
// StationNo, RegName, Addr and Count.
bool isSameBlock(const VarItem& a, const VarItem& b);

// How a host write in queue mode is cut into write items: Y M SM S T C D_bit
// bit by bit, D SD TV CV 32CV in blocks of BlockSize words; X and unknown
// names queue nothing.
enum class WriteSplit : quint8 { None, BitByBit, WordBlocks };
WriteSplit writeSplitOf(const QString& regName);

// A host write of `count` elements from register index `index`, cut into
// pieces of `step` elements: 1 bit, or BlockSize words (B 32, "D" from 0
// count 70: (0, 32), (32, 32), (64, 6)). 32CV counts 16-bit halves, so with
// an odd B a block boundary may fall inside a counter.
struct HostWrite {
    WriteSplit split = WriteSplit::None;
    qint64 step = 1;
    qint32 index = 0;
    qint32 count = 0;
    QByteArray values;

    // Sets Addr, Count and Data of `item` to the piece `offset` elements in:
    // one byte per bit, 2 x Count bytes per word block, zero bytes where the
    // host's values end. False, and `item` unchanged, when the piece's
    // address leaves the 32-bit index range.
    bool pieceAt(qint64 offset, VarItem& item) const;
};
