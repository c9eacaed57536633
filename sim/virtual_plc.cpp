#include "virtual_plc.h"

#include "port_codec.h"
#include "scan_program.h"

#include <QMutexLocker>

namespace {
const QByteArray Ack(1, PortCodec::ACK);
const QByteArray Nak(1, PortCodec::NAK);
} // namespace

QByteArray encodeDataReply(const QByteArray& data)
{
    QByteArray body;
    body.reserve(2 * data.size() + 1);
    for (char byte : data)
        body += PortCodec::hexText(static_cast<quint8>(byte), 2);
    body += PortCodec::ETX;
    return PortCodec::STX + body + PortCodec::sumText(body);
}

VirtualPlc::VirtualPlc(const VirtualPlcOptions& options)
    : options_(options), faults_(options.faults)
{
}

QByteArray VirtualPlc::receive(const QByteArray& bytes)
{
    QByteArray all;
    for (const PlcReply& reply : receiveReplies(bytes))
        all += reply.bytes;
    return all;
}

QVector<PlcReply> VirtualPlc::receiveReplies(const QByteArray& bytes)
{
    QMutexLocker lock(&mutex_);
    counters_.bytesReceived += static_cast<quint64>(bytes.size());
    QVector<PlcReply> replies;
    if (freeze_ != Freeze::None) {
        if (freeze_ == Freeze::Hold)
            held_ += bytes;
        return replies;
    }
    const QByteArray heard = held_ + bytes;
    held_.clear();
    for (const ParsedRequest& request : parser_.feed(heard)) {
        const FaultedReply faulted = faults_.apply(answer(request));
        ++counters_.replies;
        if (faulted.faulted) {
            ++counters_.faultsInjected;
            ++counters_.faultsByKind[static_cast<size_t>(faulted.fault)];
        }
        counters_.bytesSent += static_cast<quint64>(faulted.bytes.size());
        replies.append(PlcReply{faulted.bytes, request.frameLength, faulted.extraDelayUs});
    }
    counters_.bytesIgnored = parser_.ignoredBytes();
    return replies;
}

void VirtualPlc::queueFault(FaultKind kind, int replies)
{
    QMutexLocker lock(&mutex_);
    faults_.queue(kind, replies);
}

void VirtualPlc::freeze(Freeze mode)
{
    QMutexLocker lock(&mutex_);
    freeze_ = mode;
}

void VirtualPlc::resetLine()
{
    QMutexLocker lock(&mutex_);
    parser_.reset();
    held_.clear(); // a new connection: what the old one carried is gone
}

QByteArray VirtualPlc::answer(const ParsedRequest& request)
{
    using Kind = ParsedRequest::Kind;
    if (request.kind == Kind::Enquiry) {
        ++counters_.enquiries;
        return Ack;
    }
    ++counters_.framesReceived;
    switch (request.kind) {
    case Kind::BlockRead:
        return answerRead(request);
    case Kind::BlockWrite:
        return answerWrite(request);
    case Kind::ForceOn:
    case Kind::ForceOff:
        return answerForce(request);
    case Kind::BadSum:
        ++counters_.badSums;
        return Nak;
    case Kind::Enquiry:
    case Kind::Malformed:
        break;
    }
    ++counters_.malformed;
    return Nak;
}

bool VirtualPlc::countAllowed(qint64 byteCount) const
{
    return byteCount >= 1 && byteCount <= options_.byteLimit;
}

QByteArray VirtualPlc::refuse()
{
    ++counters_.refused;
    return Nak;
}

QByteArray VirtualPlc::answerRead(const ParsedRequest& request)
{
    if (!countAllowed(request.byteCount) || !memory_.isReadable(request.address, request.byteCount))
        return refuse();
    ++counters_.reads;
    return encodeDataReply(memory_.read(request.address, static_cast<int>(request.byteCount)));
}

QByteArray VirtualPlc::answerWrite(const ParsedRequest& request)
{
    if (!countAllowed(request.byteCount) || !memory_.isWritable(request.address, request.byteCount))
        return refuse();
    memory_.write(request.address, request.data);
    ++counters_.writes;
    return Ack;
}

QByteArray VirtualPlc::answerForce(const ParsedRequest& request)
{
    if (!memory_.isForceable(request.address))
        return refuse();
    memory_.setBit(request.address, request.kind == ParsedRequest::Kind::ForceOn);
    ++counters_.forces;
    return Ack;
}

void VirtualPlc::runScan()
{
    QMutexLocker lock(&mutex_);
    if (!options_.scanProgram)
        return;
    ++counters_.scans;
    runScanProgram(memory_, counters_.scans);
}

quint8 VirtualPlc::byte(qint64 address) const
{
    QMutexLocker lock(&mutex_);
    return memory_.byte(address);
}

bool VirtualPlc::setByte(qint64 address, quint8 value)
{
    QMutexLocker lock(&mutex_);
    return memory_.setByte(address, value);
}

quint16 VirtualPlc::word(qint64 address) const
{
    QMutexLocker lock(&mutex_);
    return memory_.word(address);
}

bool VirtualPlc::setWord(qint64 address, quint16 value)
{
    QMutexLocker lock(&mutex_);
    return memory_.setWord(address, value);
}

quint32 VirtualPlc::doubleWord(qint64 address) const
{
    QMutexLocker lock(&mutex_);
    return memory_.doubleWord(address);
}

bool VirtualPlc::setDoubleWord(qint64 address, quint32 value)
{
    QMutexLocker lock(&mutex_);
    return memory_.setDoubleWord(address, value);
}

bool VirtualPlc::bit(qint64 bitAddress) const
{
    QMutexLocker lock(&mutex_);
    return memory_.bit(bitAddress);
}

bool VirtualPlc::setBit(qint64 bitAddress, bool on)
{
    QMutexLocker lock(&mutex_);
    return memory_.setBit(bitAddress, on);
}

std::optional<quint32> VirtualPlc::value(const QString& regName, qint64 index) const
{
    QMutexLocker lock(&mutex_);
    return memory_.value(regName, index);
}

bool VirtualPlc::setValue(const QString& regName, qint64 index, quint32 value)
{
    QMutexLocker lock(&mutex_);
    return memory_.setValue(regName, index, value);
}

QByteArray VirtualPlc::readBytes(qint64 address, int count) const
{
    QMutexLocker lock(&mutex_);
    return memory_.read(address, count);
}

void VirtualPlc::clearMemory()
{
    QMutexLocker lock(&mutex_);
    memory_.clear();
}

VirtualPlcOptions VirtualPlc::options() const
{
    QMutexLocker lock(&mutex_);
    return options_;
}

VirtualPlcCounters VirtualPlc::counters() const
{
    QMutexLocker lock(&mutex_);
    return counters_;
}
