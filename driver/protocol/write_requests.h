#pragma once

// Write requests: a force per bit (Y M SM S T C), a block write "1" of whole
// words (D SD TV CV 32CV), and for a bit of a data register a pair: a read of
// the D word, then a write of the word that the read's reply completes with
// the changed bit. Inputs (X) are not writable: nothing goes on the line.

#include "protocol/request_record.h"
#include "registers/register_types.h"

// The frames of `item`, chosen by the write command of its register type:
// one force or block write, the D_bit pair, or nothing (X, unknown names).
RequestFrames BuildWriteRequest(const VarItem& item);

// Force ON "7" when the first Data byte is 1, else force OFF "8", of bit
// address force base + Addr: Y5 ON is "7" "05" "05" (low byte first).
RequestFrame BuildForce(const RegisterTypeInfo& type, const VarItem& item);

// Block write of Count words (2 x Count bytes of Data, zero where Data is
// shorter) at the type's byte address of Addr.
RequestFrame BuildWordWrite(const RegisterTypeInfo& type, const VarItem& item);

// The pair for D_bit index Addr (bit Addr mod 16 of D Addr / 16): the read
// of the word, marked OpKindReadBeforeWrite with Addr the word index, then
// the write placeholder "0000" with sum "00", Addr the bit index.
RequestFrames BuildBitOfWordWrite(const RegisterTypeInfo& type, const VarItem& item);

// The word the pair writes back: `readWord` with bit (Addr mod 16) of the
// write item set by a first Data byte 1 or cleared by 0; any other byte, or
// no byte, leaves the word as read.
quint16 applyWriteBit(quint16 readWord, const VarItem& writeItem);

// The write half of a pair with `word` in place: the word at characters 8 to
// 11, low byte first, and the sum over characters 1 to 12 at 13 and 14. A
// frame shorter than the placeholder is left as it is.
QByteArray completeBitOfWordWrite(const QByteArray& placeholder, quint16 word);
