#include "modbus_face.h"

#include "gateway_log.h"

#include <QHostAddress>
#include <QModbusTcpServer>
#include <QTcpSocket>

#include <memory>
#include <optional>

namespace {

using Exception = QModbusExceptionResponse::ExceptionCode;

// The function codes served: reads and writes of the four tables. Mask
// write (16h) and read/write (17h) would write back a tag's other bits or
// registers from the gateway's copy, which may be old: exception 01.
bool isServed(QModbusPdu::FunctionCode code)
{
    switch (code) {
    case QModbusPdu::ReadCoils:
    case QModbusPdu::ReadDiscreteInputs:
    case QModbusPdu::ReadHoldingRegisters:
    case QModbusPdu::ReadInputRegisters:
    case QModbusPdu::WriteSingleCoil:
    case QModbusPdu::WriteSingleRegister:
    case QModbusPdu::WriteMultipleCoils:
    case QModbusPdu::WriteMultipleRegisters:
        return true;
    default:
        return false;
    }
}

bool isWrite(QModbusPdu::FunctionCode code)
{
    return code == QModbusPdu::WriteSingleCoil || code == QModbusPdu::WriteSingleRegister
        || code == QModbusPdu::WriteMultipleCoils || code == QModbusPdu::WriteMultipleRegisters;
}

// Writes the server refuses whole (mask write, read/write) count as writes too.
bool asksToWrite(QModbusPdu::FunctionCode code)
{
    return isWrite(code) || code == QModbusPdu::MaskWriteRegister || code == QModbusPdu::ReadWriteMultipleRegisters;
}

ModbusTable tableOf(QModbusDataUnit::RegisterType type)
{
    switch (type) {
    case QModbusDataUnit::Coils:
        return ModbusTable::Coil;
    case QModbusDataUnit::DiscreteInputs:
        return ModbusTable::DiscreteInput;
    case QModbusDataUnit::InputRegisters:
        return ModbusTable::InputRegister;
    case QModbusDataUnit::HoldingRegisters:
        return ModbusTable::HoldingRegister;
    default:
        return ModbusTable::None;
    }
}

// Modbus TCP's header: transaction, protocol id 0, the length of what
// follows it (unit id and PDU), the unit id.
constexpr int HeaderBytes = 7;
constexpr int LongestPdu = 253;

quint16 bigEndian(const QByteArray& bytes, int at)
{
    return quint16(quint8(bytes.at(at)) << 8 | quint8(bytes.at(at + 1)));
}

// Why the first frame of `bytes` is no Modbus TCP request: another protocol
// id, or a length that disagrees with the request it carries (as its
// function code and byte count have it); empty when it is one, or when more
// of it is to come (`complete` says which).
QString frameFault(const QByteArray& bytes, bool* complete)
{
    *complete = false;
    if (bytes.size() < HeaderBytes)
        return QString();
    const int protocol = bigEndian(bytes, 2);
    const int length = bigEndian(bytes, 4);
    if (protocol != 0)
        return QStringLiteral("protocol id %1, not 0").arg(protocol);
    if (length < 2 || length > LongestPdu + 1)
        return QStringLiteral("a length of %1, outside 2 to %2").arg(length).arg(LongestPdu + 1);
    if (bytes.size() < HeaderBytes - 1 + length)
        return QString();
    *complete = true;
    const auto code = QModbusPdu::FunctionCode(quint8(bytes.at(HeaderBytes)));
    const int pdu = length - 1;
    const int expected = QModbusRequest::calculateDataSize(QModbusRequest(code, bytes.mid(HeaderBytes + 1, pdu - 1)));
    if (expected >= 0 && expected + 1 != pdu)
        return QStringLiteral("a length of %1 for a request of function %2 that takes %3")
            .arg(length)
            .arg(int(code))
            .arg(expected + 2);
    return QString();
}

// Register k of a tag from the module's value bytes: two bytes a word, low
// byte first; a 32-bit value's four bytes are its low word, then its high.
quint16 registerOf(const QByteArray& bytes, int k)
{
    return quint16(quint8(bytes.at(2 * k)) | quint8(bytes.at(2 * k + 1)) << 8);
}

// Qt's server reads a frame as long as its header says and takes its
// request by the function code: a frame whose header disagrees would be
// answered as another request, or run into the next frame. Each
// connection's frames are looked at before Qt's server reads them, and the
// connection of one that is not Modbus TCP is closed.
class FrameGuard : public QModbusTcpConnectionObserver {
public:
    bool acceptNewConnection(QTcpSocket* client) override
    {
        auto seen = std::make_shared<Seen>();
        QObject::connect(client, &QTcpSocket::readyRead, client, [client, seen] { checkFrames(client, seen.get()); });
        return true;
    }

private:
    struct Seen {
        QByteArray bytes; // from the first frame not yet complete on
        bool closing = false;
    };

    static void checkFrames(QTcpSocket* client, Seen* seen)
    {
        if (!seen->closing) {
            seen->bytes.append(client->peek(client->bytesAvailable()));
            for (;;) {
                bool complete = false;
                const QString fault = frameFault(seen->bytes, &complete);
                if (!fault.isEmpty()) {
                    logWarning(QStringLiteral("Modbus client %1: a frame with %2 is no Modbus TCP request; closing "
                                              "its connection")
                                   .arg(client->peerAddress().toString(), fault));
                    seen->closing = true;
                    // Closed once Qt's server is done with this signal, which runs after this.
                    QMetaObject::invokeMethod(client, &QTcpSocket::abort, Qt::QueuedConnection);
                    break;
                }
                if (!complete)
                    return;
                seen->bytes.remove(0, HeaderBytes - 1 + bigEndian(seen->bytes, 4));
            }
        }
        // Taken here, so that Qt's server reads none of it.
        client->read(client->bytesAvailable());
    }
};

} // namespace

// Qt's server checks every request's length, counts and byte counts, and
// calls readData() and writeData() with a well-formed range; a write's
// range is read first, as the check of its addresses. The hooks note the
// exception that fits, and processRequest() answers with it.
class ModbusServer : public QModbusTcpServer {
public:
    ModbusServer(Gateway& gateway, const ModbusMap& map) : gateway_(gateway), map_(map)
    {
        installConnectionObserver(new FrameGuard); // the server owns it
    }

protected:
    QModbusResponse processRequest(const QModbusPdu& request) override;
    bool readData(QModbusDataUnit* unit) const override;
    bool writeData(const QModbusDataUnit& unit) override;

private:
    bool refuse(Exception code) const
    {
        exception_ = code;
        return false;
    }
    bool fillFromTags(const QVector<ModbusSpan>& spans, QModbusDataUnit* unit) const;
    bool checkWritable(const QVector<ModbusSpan>& spans) const;
    bool writeSpan(const ModbusSpan& span, const QModbusDataUnit& unit, int offset);
    const TagConfig& tagConfig(const ModbusSpan& span) const
    {
        return gateway_.config().lines.at(span.line).tags.at(span.tag);
    }

    Gateway& gateway_;
    const ModbusMap& map_;
    bool writing_ = false;                         // the request in hand is a write
    bool reachedLine_ = false;                     // a part of it went to a line, which counts it
    mutable std::optional<Exception> exception_;   // what the hooks found wrong with it
};

QModbusResponse ModbusServer::processRequest(const QModbusPdu& request)
{
    const QModbusPdu::FunctionCode code = request.functionCode();
    writing_ = isWrite(code);
    reachedLine_ = false;
    exception_.reset();
    QModbusResponse response = isServed(code)
        ? QModbusTcpServer::processRequest(request)
        : QModbusExceptionResponse(code, QModbusExceptionResponse::IllegalFunction);
    if (exception_)
        response = QModbusExceptionResponse(code, *exception_);
    // A write refused before any of it reached a line is the face's own refusal.
    if (asksToWrite(code) && response.isException() && !reachedLine_)
        gateway_.countRefusal();
    return response;
}

bool ModbusServer::readData(QModbusDataUnit* unit) const
{
    QVector<ModbusSpan> spans;
    if (!map_.find(tableOf(unit->registerType()), unit->startAddress(), int(unit->valueCount()), &spans))
        return refuse(QModbusExceptionResponse::IllegalDataAddress);
    if (writing_)
        return checkWritable(spans);
    return fillFromTags(spans, unit);
}

bool ModbusServer::fillFromTags(const QVector<ModbusSpan>& spans, QModbusDataUnit* unit) const
{
    int offset = 0;
    for (const ModbusSpan& span : spans) {
        const TagConfig& tag = tagConfig(span);
        const TagState state = gateway_.tagState(span.line, span.tag);
        const bool bits = tag.format == ValueFormat::Bit;
        const int bytesNeeded = bits ? span.first + span.count : 2 * (span.first + span.count);
        // No quality in Modbus: a value the gateway does not vouch for is no answer.
        if (state.quality != Quality::Good || state.value.bytes.size() < bytesNeeded)
            return refuse(QModbusExceptionResponse::ServerDeviceFailure);
        for (int k = span.first; k < span.first + span.count; ++k)
            unit->setValue(offset++, bits ? quint16(state.value.bytes.at(k) != 0) : registerOf(state.value.bytes, k));
    }
    return true;
}

bool ModbusServer::checkWritable(const QVector<ModbusSpan>& spans) const
{
    for (const ModbusSpan& span : spans) {
        const TagConfig& tag = tagConfig(span);
        const int perValue = tag.modbusUnitsPerValue();
        // Half of a 32-bit value cannot be written alone without writing
        // the other half from the gateway's copy, which may be old.
        if (!tag.writable || span.first % perValue != 0 || span.count % perValue != 0)
            return refuse(QModbusExceptionResponse::IllegalDataAddress);
    }
    return true;
}

bool ModbusServer::writeData(const QModbusDataUnit& unit)
{
    QVector<ModbusSpan> spans;
    if (!map_.find(tableOf(unit.registerType()), unit.startAddress(), int(unit.valueCount()), &spans)
        || !checkWritable(spans))
        return refuse(QModbusExceptionResponse::IllegalDataAddress);
    int offset = 0;
    for (const ModbusSpan& span : spans) {
        if (!writeSpan(span, unit, offset))
            return refuse(QModbusExceptionResponse::ServerDeviceFailure);
        offset += span.count;
    }
    return true;
}

// The span's values as the module's value bytes, written through the line.
bool ModbusServer::writeSpan(const ModbusSpan& span, const QModbusDataUnit& unit, int offset)
{
    const TagConfig& tag = tagConfig(span);
    const int perValue = tag.modbusUnitsPerValue();
    QVector<QByteArray> values;
    for (int v = 0; v < span.count / perValue; ++v) {
        QByteArray bytes;
        for (int k = 0; k < perValue; ++k) {
            const quint16 word = unit.value(offset + v * perValue + k);
            if (tag.format == ValueFormat::Bit) {
                bytes.append(char(word != 0)); // a single coil's "on" arrives as FF00h
            } else {
                bytes.append(char(word & 0xFF));
                bytes.append(char(word >> 8));
            }
        }
        values.append(bytes);
    }
    reachedLine_ = true;
    const TagWriteResult result = awaitWrite([&](const WriteDone& done) {
        gateway_.writeValues(span.line, span.tag, span.first / perValue, values, done);
    });
    if (!result.ok())
        logWarning(QStringLiteral("Modbus write to %1/%2 refused or failed: %3")
                       .arg(gateway_.config().lines.at(span.line).name, tag.name, result.error));
    return result.ok();
}

ModbusFace::ModbusFace(const ModbusConfig& config, Gateway& gateway)
    : config_(config), gateway_(gateway), map_(gateway.config().lines)
{
}

ModbusFace::~ModbusFace()
{
    stop();
}

bool ModbusFace::start(QString* error)
{
    const auto open = [this](QString* openError) {
        server_ = new ModbusServer(gateway_, map_);
        // Qt reads the address and port as one URL: an IPv6 address goes in brackets.
        const QString host = config_.listen.host;
        server_->setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host);
        server_->setConnectionParameter(QModbusDevice::NetworkPortParameter, config_.listen.port);
        server_->setServerAddress(config_.unit);
        if (server_->connectDevice())
            return true;
        *openError = QStringLiteral("Modbus server on %1: %2").arg(config_.listen.text(), server_->errorString());
        return false;
    };
    const auto close = [this] {
        server_->disconnectDevice();
        delete server_;
        server_ = nullptr;
    };
    if (!thread_.start(open, close, error))
        return false;
    logInfo(QStringLiteral("Modbus TCP: listening on %1, unit %2").arg(config_.listen.text()).arg(config_.unit));
    return true;
}

void ModbusFace::stop()
{
    thread_.stop();
}
