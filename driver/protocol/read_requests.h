#pragma once

// Read requests: one block read "0" per list item. The lists deliver bit
// blocks in whole bytes and D_bit blocks as the D words holding the bits,
// so the builders neither split nor check.

#include "protocol/request_record.h"
#include "registers/register_types.h"

// The block read of `item`, chosen by its register name (exact comparison):
// BuildBitRead for X Y M SM S T C, BuildWordRead for D D_bit SD TV CV 32CV,
// nothing for any other name.
RequestFrames BuildReadRequest(const VarItem& item);

// Count bytes of packed bits from the byte holding bit Addr: X item at
// Addr 16, Count 2 reads 2 bytes at 0x0080 + 16 / 8 = 0x0082.
RequestFrame BuildBitRead(const RegisterTypeInfo& type, const VarItem& item);

// Count words from word Addr (D_bit: the word index); 32CV reads
// 4 x Count - 4 bytes from 0x0C00 + 4 x Addr (see wordReadByteCount).
RequestFrame BuildWordRead(const RegisterTypeInfo& type, const VarItem& item);
