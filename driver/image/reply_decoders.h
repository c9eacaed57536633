#pragma once

// Decoding the data characters of an accepted reply into an image area. The
// request the reply answers says where its data lie (DataStart, DataChars)
// and where they go (its item's Addr). Each decoder reads only characters
// inside the reply and writes only elements inside the area.

#include "image/image_areas.h"
#include "tavrin.h"

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

// The decoder of the area's shape; shape None stores nothing.
void decodeIntoArea(const ImageArea& area, const QByteArray& reply, const RequestFrame& frame);

// The last word DecodeWords takes from the reply, or 0 when it holds none.
quint16 lastReplyWord(const QByteArray& reply, const RequestFrame& frame);
