#pragma once

// The gateway's shared model, as every face sees it: what is known of each
// tag and line, what a face hears when that changes, and how a write ends.
// A face (MQTT, Modbus, HTTP) translates between this and its protocol,
// nothing more.

#include "line_statistics.h"
#include "poll_schedule.h"
#include "polled_quality.h"
#include "typed_value.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QVector>

#include <functional>

struct TagState {
    Quality quality = Quality::Waiting; // Waiting until the tag's registers were first read
    TypedValue value;                   // tag_value.h; null unless good
    QString error;                      // why it is bad
    QDateTime at;                       // UTC: when the value was read, or when the tag turned bad
};

struct LineStatus {
    bool online = false;
    QString reason;                     // why it is offline
    QDateTime at;                       // UTC: when it turned so
};

struct LineSnapshot {
    LineStatus status;
    LineStatistics statistics;          // the runtime's counters at the line's last look
    qint64 turnaroundUs = -1;           // the runtime's smoothed turnaround; -1 while it has none
    QVector<TagState> tags;             // in the order of the configuration
    QVector<PollClassFigures> pollClasses; // the runtime's poll classes, fastest first
};

// How a write ended. Only Failed may have reached the PLC without its
// acknowledgement; Refused and Unavailable sent nothing.
enum class WriteOutcome {
    Done,        // the PLC acknowledged every frame of it
    Refused,     // no such tag, a read-only tag, or a value that does not fit
    Unavailable, // the line is offline or the gateway stopping
    Failed,      // given up after its retries, or the line failed meanwhile
};
constexpr int WriteOutcomeCount = 4;

// Named apart from the tool's own write result (write_command.h): both are
// linked into the tool, and one name for two types breaks the program.
struct TagWriteResult {
    WriteOutcome outcome = WriteOutcome::Refused;
    QString error;                      // why it was refused or failed

    bool ok() const { return outcome == WriteOutcome::Done; }
};

// Called once per write, from a line's thread, or at once from the caller's
// when the write is refused before it reaches the line.
using WriteDone = std::function<void(const TagWriteResult&)>;

// What a face hears. Calls come from the lines' threads, one line's calls in
// the order its changes happened.
class GatewayListener {
public:
    virtual ~GatewayListener() = default;
    // A tag read a value that differs beyond its deadband, was read back
    // after a write, or changed quality.
    virtual void tagChanged(int line, int tag, const TagState& state) = 0;
    virtual void lineChanged(int line, const LineStatus& status) = 0;
};
