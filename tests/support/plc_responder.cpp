#include "support/plc_responder.h"

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
const QByteArray kAck(1, 0x06);
const QByteArray kNak(1, 0x15);

// Two upper-case hex digits of a byte, high nibble first.
QByteArray hexByte(quint8 value)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(2, '0');
}

// The sum check: the low 8 bits of the bytes from the command character
// (or first data character) through ETX, as two hex digits.
QByteArray sumOf(const QByteArray& frame, int etxIndex)
{
    unsigned sum = 0;
    for (int i = 1; i <= etxIndex; ++i)
        sum += static_cast<quint8>(frame.at(i));
    return hexByte(static_cast<quint8>(sum));
}

// Value of `digits` upper-case hex characters from `at`, or -1 when one is not a hex digit.
int hexValue(const QByteArray& bytes, int at, int digits)
{
    int value = 0;
    for (int i = at; i < at + digits; ++i) {
        const char c = bytes.at(i);
        int nibble = -1;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        if (nibble < 0)
            return -1;
        value = value * 16 + nibble;
    }
    return value;
}

// STX, `body`, ETX and the sum check over body and ETX.
QByteArray dataFrame(const QByteArray& body)
{
    QByteArray frame;
    frame.append(STX).append(body).append(ETX);
    return frame + sumOf(frame, frame.size() - 1);
}

} // namespace

QByteArray PlcResponder::answer(const QByteArray& request)
{
    requests_.append(request);
    if (faults_.empty())
        return carryOut(request);
    const Fault fault = faults_.front();
    faults_.pop_front();
    if (fault == Fault::Silence)
        return QByteArray();
    if (fault == Fault::Nak)
        return kNak;
    QByteArray reply = carryOut(request);
    if (reply.size() > 1) // a data reply: spoil its last sum character
        reply[reply.size() - 1] = static_cast<char>(reply.at(reply.size() - 1) + 1);
    return reply;
}

QByteArray PlcResponder::carryOut(const QByteArray& request)
{
    // A frame: STX first, ETX third from last, at least a command before it.
    const int etx = request.size() - 3;
    if (etx < 2 || request.at(0) != STX || request.at(etx) != ETX)
        return QByteArray();
    if (request.mid(etx + 1) != sumOf(request, etx))
        return kNak;

    const char command = request.at(1);
    if (command == '0' && etx == 8) {
        const int address = hexValue(request, 2, 4);
        const int count = hexValue(request, 6, 2);
        return address < 0 || count < 0 ? kNak : blockRead(address, count);
    }
    if (command == '1' && etx >= 8) {
        const int address = hexValue(request, 2, 4);
        const int count = hexValue(request, 6, 2);
        if (address < 0 || count < 0 || etx != 8 + 2 * count)
            return kNak;
        return blockWrite(request, address, count) ? kAck : kNak;
    }
    if ((command == '7' || command == '8') && etx == 6) {
        // The bit address travels low byte first.
        const int low = hexValue(request, 2, 2);
        const int high = hexValue(request, 4, 2);
        if (low < 0 || high < 0)
            return kNak;
        const int bit = high * 256 + low;
        const auto mask = static_cast<quint8>(1u << (bit % 8));
        quint8& byte = memory_[static_cast<size_t>(bit / 8)];
        byte = command == '7' ? (byte | mask) : (byte & ~mask);
        return kAck;
    }
    return kNak;
}

QByteArray PlcResponder::blockRead(int address, int count) const
{
    QByteArray body;
    for (int i = 0; i < count; ++i)
        body += hexByte(byteAt(address + i));
    return dataFrame(body);
}

bool PlcResponder::blockWrite(const QByteArray& request, int address, int count)
{
    QByteArray data;
    for (int i = 0; i < count; ++i) {
        const int value = hexValue(request, 8 + 2 * i, 2);
        if (value < 0)
            return false;
        data.append(static_cast<char>(value));
    }
    for (int i = 0; i < count; ++i)
        setByte(address + i, static_cast<quint8>(data.at(i)));
    return true;
}

void PlcResponder::queueFault(Fault fault, int times)
{
    for (int i = 0; i < times; ++i)
        faults_.push_back(fault);
}

// Addresses wrap at 64 KiB, as four hex digits do.
quint8 PlcResponder::byteAt(int byteAddress) const
{
    return memory_[static_cast<size_t>(byteAddress & 0xFFFF)];
}

void PlcResponder::setByte(int byteAddress, quint8 value)
{
    memory_[static_cast<size_t>(byteAddress & 0xFFFF)] = value;
}

quint16 PlcResponder::wordAt(int byteAddress) const
{
    return static_cast<quint16>(byteAt(byteAddress) | (byteAt(byteAddress + 1) << 8));
}

void PlcResponder::setWord(int byteAddress, quint16 value)
{
    setByte(byteAddress, static_cast<quint8>(value & 0xFF));
    setByte(byteAddress + 1, static_cast<quint8>(value >> 8));
}
