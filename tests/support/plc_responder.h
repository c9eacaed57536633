#pragma once

// A small stand-in PLC for tests: it answers programming-port request frames
// from a 64 KiB device memory indexed by byte address, reading the request's
// own bytes (it never asks the module what a request means). Block read "0"
// gets a data reply, block write "1" stores its data and gets ACK, force ON
// "7" / OFF "8" of bit address b sets or clears bit b % 8 of byte b / 8 and
// gets ACK. A frame with a bad sum or an unknown command gets NAK; bytes that
// do not form a frame get no answer. Faults can be queued for coming replies.

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>
#include <deque>

class PlcResponder {
public:
    enum class Fault {
        Silence, // empty reply, the request is not carried out
        Nak,     // NAK, the request is not carried out
        BadSum,  // a data reply whose sum check is off by one; an ACK reply is sent as is
    };

    // The reply to one request frame, from STX to the last sum character.
    QByteArray answer(const QByteArray& request);

    // The next `times` requests get `fault` instead of their normal reply.
    void queueFault(Fault fault, int times = 1);

    quint8 byteAt(int byteAddress) const;
    void setByte(int byteAddress, quint8 value);
    // A 16-bit word at `byteAddress`, low byte first as the PLC stores it.
    quint16 wordAt(int byteAddress) const;
    void setWord(int byteAddress, quint16 value);

    // Every request received, in order.
    const QList<QByteArray>& requests() const { return requests_; }

private:
    QByteArray carryOut(const QByteArray& request);
    QByteArray blockRead(int address, int count) const;
    bool blockWrite(const QByteArray& request, int address, int count);

    std::array<quint8, 0x10000> memory_{};
    std::deque<Fault> faults_;
    QList<QByteArray> requests_;
};
