#pragma once

// Decoding the data characters of an accepted reply into the image. The
// request the reply answers says where its data lie (DataStart, DataChars)
// and where they go (its item's RegName and Addr). Each decoder reads only
// characters inside the reply and writes only elements inside the area.

#include "image/image_areas.h"
#include "tavrin.h"

// Stores the data of an accepted data reply to `head` into the area of the
// head item's register type; a name outside the register table stores nothing.
void DecodeReply(RegisterImage& image, const RequestFrame& head, const QByteArray& reply);

// Bit-read group: each byte (two characters, high first) lands unchanged in
// byte Addr / 8 + j of the bit area: the PLC sends bits a..a+7 in one byte,
// lowest in bit 0, which is the area's own packing.
void DecodeBytes(const QByteArray& reply, const RequestFrame& frame, BitArea area);

// D, D_bit, SD, TV, CV: four characters per word, low byte first, stored as
// word Addr + j. "12 34" is the word 0x3412.
void DecodeWords(const QByteArray& reply, const RequestFrame& frame, WordArea area);

// 32CV: eight characters per counter, least significant byte first, stored
// as double word Addr + j. "78 56 34 12" is 0x12345678.
void DecodeDoubleWords(const QByteArray& reply, const RequestFrame& frame, DoubleWordArea area);

// The last word DecodeWords takes from the reply, or 0 when it holds none.
quint16 lastReplyWord(const RequestFrame& frame, const QByteArray& reply);
