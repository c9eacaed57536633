#include "bench_driver.h"

#include "protocol/frame_codec.h"
#include "protocol/fx_protocol.h"

BenchDriver::BenchDriver(qint32 blockSize, qint32 writeMode)
{
    comInfo_[ComInfoWord::BlockSize] = blockSize;
    comInfo_[ComInfoWord::RetryLimit] = 3;
    comInfo_[ComInfoWord::WriteMode] = writeMode;
    renew();
}

void BenchDriver::renew()
{
    driver_ = std::make_unique<Tavrin>();
    driver_->SetComInfo(comInfo_.data());
}

VarItem makeItem(const QString& regName, qint32 addr, qint32 count, qint32 opKind,
                 const QByteArray& data)
{
    VarItem item;
    item.HostSubId = -1;
    item.OpKind = opKind;
    item.RegName = regName;
    item.Addr = addr;
    item.Count = count;
    item.Data = data;
    return item;
}

QByteArray dataReplyFor(const RequestFrame& frame)
{
    const int dataChars = frame.DataChars > 0 ? frame.DataChars : 0;
    QByteArray reply(dataChars + Fx::DataReplyOverhead, '0');
    reply[0] = Fx::STX;
    for (int i = 0; i < dataChars; ++i)
        reply[1 + i] = hexDigit(static_cast<unsigned>(i * 7)); // varied digits
    const int etx = 1 + dataChars;
    reply[etx] = Fx::ETX;
    putHexByte(reply.data() + etx + 1, frameSumCheck(reply, etx));
    return reply;
}

QByteArray ackReply()
{
    return QByteArray(1, Fx::ACK);
}

RequestFrame* nextFrame(Tavrin& driver)
{
    if (RequestFrame* frame = driver.ComCommunication())
        return frame;
    return driver.ComCommunication();
}
