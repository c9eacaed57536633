#include "protocol/write_requests.h"

#include "protocol/device_address_map.h"
#include "protocol/frame_codec.h"

namespace {

// The largest word count a block write's count field can carry: 127 words
// are 254 bytes; 128 words would be 256 bytes, written as "00".
constexpr qint64 MaxWordsPerWrite = 127;

// Write half of a D_bit pair: STX "1" address count, four data characters
// from index 8, ETX at 12, the sum at 13 and 14.
constexpr int PairWriteLength = 15;
constexpr int PairDataIndex = 8;
constexpr int PairEtxIndex = 12;

bool forcesOn(const VarItem& item)
{
    return !item.Data.isEmpty() && item.Data.at(0) == 1; // only the value 1 switches ON
}

} // namespace

RequestFrames BuildWriteRequest(const VarItem& item)
{
    const RegisterTypeInfo* type = findRegisterType(item.RegName);
    if (!type)
        return {};
    switch (type->write) {
    case WriteCommand::Force:
        return {BuildForce(*type, item)};
    case WriteCommand::BlockWrite:
        return {BuildWordWrite(*type, item)};
    case WriteCommand::BitOfWordPair:
        return BuildBitOfWordWrite(*type, item);
    case WriteCommand::None:
        break;
    }
    return {};
}

RequestFrame BuildForce(const RegisterTypeInfo& type, const VarItem& item)
{
    return ackRequestRecord(encodeForce(forcesOn(item), bitAddressOf(type, item.Addr)), item);
}

RequestFrame BuildWordWrite(const RegisterTypeInfo& type, const VarItem& item)
{
    const qint64 byteAddress = byteAddressOf(type, item.Addr);
    // n = 2 x Count bytes, each byte of Data as two characters. A Count
    // outside 0..127 cannot be told in the count field: the block write goes
    // out with count "00" and no data, which the PLC refuses (NAK), so the
    // write is given up after its retries and nothing wrong reaches the PLC.
    if (item.Count < 0 || item.Count > MaxWordsPerWrite)
        return ackRequestRecord(encodeBlockWrite(byteAddress, 0, QByteArray(), 0), item);
    const int byteCount = 2 * item.Count;
    return ackRequestRecord(encodeBlockWrite(byteAddress, byteCount, item.Data, byteCount), item);
}

RequestFrames BuildBitOfWordWrite(const RegisterTypeInfo& type, const VarItem& item)
{
    // D_bit index 163 is bit 3 of D10: the pair reads and writes D10.
    const qint32 word = item.Addr / 16;
    const qint64 byteAddress = byteAddressOf(type, word);

    VarItem readHalf = item;
    readHalf.OpKind = OpKindReadBeforeWrite;
    readHalf.Addr = word;
    VarItem writeHalf = item;
    writeHalf.OpKind = OpKindWrite;
    QByteArray placeholder = encodeBlockWrite(byteAddress, 2 * qint64(item.Count), QByteArray(), 2);
    placeholder[PairWriteLength - 2] = '0';
    placeholder[PairWriteLength - 1] = '0';
    return {dataRequestRecord(encodeBlockRead(byteAddress, 2), 2 * qint64(item.Count), readHalf),
            ackRequestRecord(placeholder, writeHalf)};
}

quint16 applyWriteBit(quint16 readWord, const VarItem& writeItem)
{
    const int bit = writeItem.Addr % 16;
    // Write items carry non-negative indexes; for a negative one (whose
    // remainder would be negative) the word goes back as it was read.
    if (writeItem.Data.isEmpty() || bit < 0)
        return readWord;
    const auto mask = static_cast<quint16>(1u << bit);
    if (writeItem.Data.at(0) == 1)
        return static_cast<quint16>(readWord | mask);
    if (writeItem.Data.at(0) == 0)
        return static_cast<quint16>(readWord & ~mask);
    return readWord;
}

QByteArray completeBitOfWordWrite(const QByteArray& placeholder, quint16 word)
{
    if (placeholder.size() < PairWriteLength)
        return placeholder; // not a frame this driver built: left as it is
    QByteArray frame = placeholder.left(PairWriteLength);
    char* bytes = frame.data();
    putHexByte(bytes + PairDataIndex, static_cast<quint8>(word & 0xFF));
    putHexByte(bytes + PairDataIndex + 2, static_cast<quint8>(word >> 8));
    putHexByte(bytes + PairEtxIndex + 1, frameSumCheck(frame, PairEtxIndex));
    return frame;
}
