#pragma once

// A virtual FX-series PLC behind its programming port. Sans-IO and
// deterministic: feed it the bytes a host sends, get back the bytes the PLC
// answers. It never sleeps and never reads a clock; the line adapters
// (pty_server.h, tcp_server.h, and the host's in-process line) own threads and timing.
//
// Answers: a block read "0" gets a data frame (STX, 2n hex characters, ETX,
// sum), a block write "1" and a force "7"/"8" get ACK, ENQ gets ACK. NAK
// answers a bad sum, an unknown command or malformed frame, and a refused
// request: a byte outside the device areas, a count of 0 or above the byte
// limit, a write touching the inputs X, a force outside the forced bit
// ranges. Bytes that form no frame get no answer.
//
// Thread-safe: every public member takes the PLC's lock, so a line adapter's
// thread and a test or demo thread may use one PLC at the same time.

#include "device_memory.h"
#include "fault_injector.h"
#include "request_parser.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <optional>

struct VirtualPlcOptions {
    int byteLimit = 64;         // largest byte count of a block read or write (real ports: 64)
    bool scanProgram = false;   // runScan() runs the demo program (scan_program.h)
    FaultOptions faults;        // no faults by default
};

struct VirtualPlcCounters {
    quint64 bytesReceived = 0;
    quint64 bytesSent = 0;      // after faults
    quint64 bytesIgnored = 0;   // received bytes that formed no frame
    quint64 framesReceived = 0; // complete frames, whatever their fate
    quint64 enquiries = 0;
    quint64 reads = 0;          // block reads answered with data
    quint64 writes = 0;         // block writes acknowledged
    quint64 forces = 0;         // forces acknowledged
    quint64 badSums = 0;        // NAK: the sum check did not match
    quint64 malformed = 0;      // NAK: unknown command or layout
    quint64 refused = 0;        // NAK: address, count or write protection
    quint64 replies = 0;        // replies made (before faults)
    quint64 faultsInjected = 0;
    std::array<quint64, FaultKindCount> faultsByKind{}; // indexed by FaultKind
    quint64 scans = 0;
};

// One reply as a line adapter schedules it.
struct PlcReply {
    QByteArray bytes;         // empty: the PLC stays silent (a dropped reply)
    int requestCharacters = 0; // characters of the request it answers
    qint64 extraDelayUs = 0;  // a delay fault's hold-back, on top of pacing
};

class VirtualPlc {
public:
    explicit VirtualPlc(const VirtualPlcOptions& options = VirtualPlcOptions());

    // Feeds bytes as they arrive; returns all reply bytes they provoke, in order.
    QByteArray receive(const QByteArray& bytes);
    // As receive(), one element per request answered (dropped replies included).
    QVector<PlcReply> receiveReplies(const QByteArray& bytes);
    // Forgets a partial request frame (a host reconnected).
    void resetLine();
    // The next `replies` replies get the fault `kind` (see FaultInjector::queue).
    void queueFault(FaultKind kind, int replies = 1);
    // A PLC that falls silent behind a line that stays open. Swallow: it
    // hears nothing (powered off behind a device server). Hold: what it is
    // sent waits, and is answered in full with the next bytes after it
    // thaws (a device server that keeps what it could not deliver).
    enum class Freeze { None, Swallow, Hold };
    void freeze(Freeze mode);

    // One program scan; changes nothing unless the scan program is enabled.
    void runScan();

    // Direct device memory access (see device_memory.h); inputs X included.
    quint8 byte(qint64 address) const;
    bool setByte(qint64 address, quint8 value);
    quint16 word(qint64 address) const;
    bool setWord(qint64 address, quint16 value);
    quint32 doubleWord(qint64 address) const;
    bool setDoubleWord(qint64 address, quint32 value);
    bool bit(qint64 bitAddress) const;
    bool setBit(qint64 bitAddress, bool on);
    std::optional<quint32> value(const QString& regName, qint64 index) const;
    bool setValue(const QString& regName, qint64 index, quint32 value);
    QByteArray readBytes(qint64 address, int count) const;
    void clearMemory();

    VirtualPlcOptions options() const;
    VirtualPlcCounters counters() const;

private:
    QByteArray answer(const ParsedRequest& request);
    QByteArray answerRead(const ParsedRequest& request);
    QByteArray answerWrite(const ParsedRequest& request);
    QByteArray answerForce(const ParsedRequest& request);
    QByteArray refuse();
    bool countAllowed(qint64 byteCount) const;

    mutable QMutex mutex_;
    VirtualPlcOptions options_;
    DeviceMemory memory_;
    RequestParser parser_;
    FaultInjector faults_;
    Freeze freeze_ = Freeze::None;
    QByteArray held_; // sent while frozen in Hold
    VirtualPlcCounters counters_;
};

// The data reply to a read of `data`: STX, two upper-case hex characters per
// byte, ETX, the sum of the data characters and ETX as two hex characters.
QByteArray encodeDataReply(const QByteArray& data);
