#pragma once

// What the runtime tells its users as it happens: polled values and
// qualities that changed, the line's state, requests that ended, and line
// events for a log. Listeners hear them on the runtime's thread, after the
// step that produced them, and may call back into the runtime.

#include <QDateTime>
#include <QString>
#include <QVector>
#include <QtGlobal>

using RequestId = qint64;

// How a write or a one-shot read ended.
struct RequestOutcome {
    bool finished = false;   // false: no outcome within the wait
    bool good = false;       // a write: its values are in the PLC, as proven
    qint32 failureCode = 0;  // the module's give-up code, 0 when the runtime refused the request itself
    QString error;           // why it failed, in plain words
    // A write whose acknowledgement never came and that could not be read
    // back before the runtime stopped: it may or may not have landed.
    bool unconfirmed = false;
    QString note;            // "confirmed by reading it back", ...
};

enum class LineState {
    Up,           // the PLC answers
    NotAnswering, // probes go unanswered: every polled variable is bad
    Lost,         // the line itself failed; it is being reopened
};

struct LineHealth {
    LineState state = LineState::Up;
    QString reason; // why it is not up
};

// What happened to the line, once, as it happened: for a log or a watch.
struct LineEvent {
    enum class Kind { Lost, Back, NotAnswering, Answering, LateReply, Overbooked };
    Kind kind;
    QDateTime at; // UTC
    QString text; // "line lost: tcp:192.0.2.10:4001: the remote host closed the connection; reconnecting"
};

struct RuntimeEvents {
    struct Notice {
        qint32 hostId;
        qint32 hostSubId;
        qint32 status;
    };
    QVector<int> polledChanged; // polled variables whose value or quality may have changed
    bool lineChanged = false;
    QVector<QPair<RequestId, RequestOutcome>> ended;
    QVector<LineEvent> lineEvents;

    bool isEmpty() const
    {
        return polledChanged.isEmpty() && !lineChanged && ended.isEmpty() && lineEvents.isEmpty();
    }
};

class RuntimeListener {
public:
    virtual ~RuntimeListener() = default;
    // Polled variables (indexes in the set given last) whose values or
    // qualities may have changed.
    virtual void polledChanged(const QVector<int>& /*variables*/) {}
    virtual void lineChanged(const LineHealth& /*health*/) {}
    // A write or one-shot read ended, with its final outcome.
    virtual void requestEnded(RequestId /*id*/, const RequestOutcome& /*outcome*/) {}
    virtual void lineEvent(const LineEvent& /*event*/) {}
};
