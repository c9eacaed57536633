#pragma once

// The host's side of the module's contract, on a line of its own. It owns
// the ComInfo block (block size, station, retry limit, write mode 2), routes
// the module's completion notices to itself, and runs the request cycle on
// its communication thread: ComCommunication, send, collect exactly
// ReplyLength bytes or give up at a timeout that follows the baud rate,
// DataCom. No fixed sleeps: a poll cycle runs at line speed, and the thread
// only waits briefly when the module has nothing to send.
//
// The module is one static instance per process, so there is one running
// runtime per process.

#include "line.h"
#include "tavrin.h"
#include "line_settings.h"
#include "line_statistics.h"
#include "variable_address.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

// How a write or a one-shot read ended.
struct RequestOutcome {
    bool finished = false;   // false: no completion notice within the wait
    bool good = false;
    qint32 failureCode = 0;  // the module's give-up code when not good
    QString message;         // set when the runtime refused the request itself
};

using RequestId = qint64;

class HostRuntime {
public:
    using LineFactory = std::function<std::unique_ptr<Line>()>;

    HostRuntime(LineFactory lineFactory, const LineSettings& settings);
    ~HostRuntime();
    HostRuntime(const HostRuntime&) = delete;
    HostRuntime& operator=(const HostRuntime&) = delete;

    // Hands the module the ComInfo block and the callback, then opens the
    // line on the communication thread, probes it with ENQ when the settings
    // say so, and starts the request cycle. On failure returns false with a
    // message in plain words and leaves nothing running.
    bool start(QString* error);
    // Finishes the exchange in progress and closes the line.
    void stop();

    // Replaces the polled set (ReCreatReadVarList); returns the number of
    // read blocks the module made of it.
    int setPolledVariables(const QList<VariableAddress>& variables);

    // Queues a one-shot read of the variable's registers (AddListOnceReadVar).
    QVector<RequestId> readOnce(const VariableAddress& variable);
    // Queues a write of one value through the module's write list: `values`
    // are the module's value bytes for the variable's registers (one bit, or
    // words up to the block size). Each write gets ids of its own, so its
    // completion notice is its own. A write the runtime refuses itself (an
    // input X, too many words) ends at once with a message.
    RequestId queueWrite(const VariableAddress& variable, const QByteArray& values);
    // Waits for the request's completion notice, at most `timeoutMs`.
    RequestOutcome wait(RequestId id, int timeoutMs);

    // The variable's registers as the module's image holds them (GetRegisterData).
    QByteArray values(const VariableAddress& variable) const;

    LineStatistics statistics() const;
    // ComInfo ScanComplete: a whole pass over the polled set ended well.
    bool scanComplete() const;
    const LineSettings& settings() const { return settings_; }
    // The longest a request can take before it is given up: every try
    // waits for its full timeout (a 64-byte read, the largest request).
    int giveUpBudgetMs() const;

private:
    struct Pending {
        bool finished = false;
        bool good = false;
        qint32 failureCode = 0; // a give-up of any of the request's frames
    };
    struct Notice {
        qint32 hostId;
        qint32 hostSubId;
        qint32 status;
    };

    static void completionNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status);

    void run();
    bool probe(QString* error);
    void exchange(const RequestFrame& frame);
    // Points the module at a block that outlives this runtime.
    void parkComInfo();
    void settle(qint32 hostId, qint32 hostSubId, qint32 result);
    void idle(bool retryAtOnce);
    void wake();
    RequestId track(qint32 hostId, qint32 hostSubId);
    void finishStart(bool ok, const QString& error);

    LineFactory lineFactory_;
    LineSettings settings_;
    std::array<qint32, 32> comInfo_{};
    std::unique_ptr<Line> line_;         // communication thread only
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> stopRequested_{false};
    QVector<Notice> notices_;            // communication thread only

    mutable QMutex stateMutex_;          // guards the members below it
    QWaitCondition stateChanged_;
    QHash<RequestId, Pending> pending_;
    QHash<RequestId, QString> refusals_; // requests the runtime refused itself
    qint32 nextSubId_ = 0;
    LineStatistics statistics_;
    bool startDone_ = false;
    bool startOk_ = false;
    QString startError_;

    QMutex idleMutex_;
    QWaitCondition workArrived_;
    bool workQueued_ = false;
};
