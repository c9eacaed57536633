// Write requests: a force per bit (Y M SM S T C), a block write "1" of whole
// words (D SD TV CV 32CV), and for a bit of a data register a pair: a read of
// the D word, then a write of the word that reply decoding completes with the
// changed bit. Inputs (X) are not writable: nothing goes on the line.

#include "core/driver_object.h"
#include "protocol/device_address_map.h"
#include "protocol/frame_codec.h"
#include "protocol/request_record.h"

namespace {

// The largest word count a block write's count field can carry: 127 words
// are 254 bytes; 128 words would be 256 bytes, written as "00".
constexpr qint64 MaxWordsPerWrite = 127;

// Write half of a D_bit pair: "0000" holds the place of the word's data and
// "00" the place of the sum check until the read's reply completes it.
constexpr int PairWriteLength = 15;

bool forcesOn(const VarItem& item)
{
    return !item.Data.isEmpty() && item.Data.at(0) == 1; // only the value 1 switches ON
}

} // namespace

void Tavrin::BuildWriteRequest(const VarItem& item)
{
    const RegisterTypeInfo* info = findRegisterType(item.RegName);
    if (info) {
        switch (deviceAddressInfo(info->type).write) {
        case WriteCommand::Force:
            BuildForce(item);
            break;
        case WriteCommand::BlockWrite:
            BuildWordWrite(item);
            break;
        case WriteCommand::BitOfWordPair:
            BuildBitOfWordWrite(item);
            break;
        case WriteCommand::None:
            break; // X: no request, the image still takes the value below
        }
    }
    // The image shows the written value at once, before the ACK. A D_bit
    // write shows at the next read of its word instead; while the PLC is not
    // answering, SetRegisterData stores its items itself.
    if (CommFailed.load() == 0 && !(info && info->type == RegisterType::DBit))
        UpdateImage(item);
}

void Tavrin::BuildForce(const VarItem& item)
{
    const RegisterTypeInfo* info = findRegisterType(item.RegName);
    if (!info || deviceAddressInfo(info->type).write != WriteCommand::Force)
        return;
    const QByteArray frame = encodeForce(forcesOn(item), bitAddressOf(info->type, item.Addr));
    AppendFrame(ackRequestRecord(frame, item));
    OpenTransaction(1);
}

void Tavrin::BuildWordWrite(const VarItem& item)
{
    const RegisterTypeInfo* info = findRegisterType(item.RegName);
    if (!info || deviceAddressInfo(info->type).write != WriteCommand::BlockWrite)
        return;
    const qint64 byteAddress = byteAddressOf(info->type, item.Addr);
    // n = 2 x Count bytes, each byte of Data as two characters (zero bytes
    // where Data is shorter). A Count outside 0..127 cannot be told in the
    // count field: the block write goes out with count "00" and no data,
    // which the PLC refuses (NAK), so the write is given up after its
    // retries and nothing wrong reaches the PLC's memory.
    QByteArray frame;
    if (item.Count >= 0 && item.Count <= MaxWordsPerWrite) {
        const int byteCount = 2 * item.Count;
        frame = encodeBlockWrite(byteAddress, byteCount, item.Data, byteCount);
    } else {
        frame = encodeBlockWrite(byteAddress, 0, QByteArray(), 0);
    }
    AppendFrame(ackRequestRecord(frame, item));
    OpenTransaction(1);
}

void Tavrin::BuildBitOfWordWrite(const VarItem& item)
{
    const RegisterTypeInfo* info = findRegisterType(item.RegName);
    if (!info || info->type != RegisterType::DBit)
        return;
    // D_bit index 163 is bit 3 of D10: the pair reads and writes D10.
    const qint32 word = item.Addr / 16;
    const qint64 byteAddress = byteAddressOf(RegisterType::DBit, word);

    VarItem readHalf = item;
    readHalf.OpKind = OpKindReadBeforeWrite;
    readHalf.Addr = word;
    AppendFrame(
        dataRequestRecord(encodeBlockRead(byteAddress, 2), 2 * qint64(item.Count), readHalf));

    VarItem writeHalf = item;
    writeHalf.OpKind = OpKindWrite;
    QByteArray placeholder = encodeBlockWrite(byteAddress, 2 * qint64(item.Count), QByteArray(), 2);
    placeholder[PairWriteLength - 2] = '0';
    placeholder[PairWriteLength - 1] = '0';
    AppendFrame(ackRequestRecord(placeholder, writeHalf));
    OpenTransaction(2);
}
