#pragma once

// One PLC line of the gateway: its host runtime, which polls the tags and
// reopens a lost line, and a thread of its own that looks at the runtime's
// image, turns what changed into tag and line states for the faces, and
// carries the faces' writes to the runtime and their outcome back.
//
// A line whose PLC cannot be reached when the gateway starts is started
// again with a capped back-off; meanwhile it is offline and its tags bad,
// with the reason. Once started, the runtime recovers by itself.

#include "gateway_config.h"
#include "gateway_model.h"
#include "host_runtime.h"

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class GatewayLine {
public:
    // `index` is the line's place in the configuration, as the listener hears it.
    GatewayLine(const LineConfig& config, int index, std::shared_ptr<ModuleInstance> module,
                QVector<GatewayListener*> listeners);
    ~GatewayLine();
    GatewayLine(const GatewayLine&) = delete;
    GatewayLine& operator=(const GatewayLine&) = delete;

    void start();
    // Asks the line to stop without waiting for it, so that all lines can
    // finish their writes at the same time.
    void beginStop();
    // Refuses new writes, lets the writes under way end (each within its
    // give-up budget) and reports them, stops the runtime, and leaves every
    // tag bad and the line offline: the gateway no longer vouches for them.
    void stop();

    // Checks and queues a write to the tag; `done` hears how it ended.
    void write(const QString& tagName, const QJsonValue& value, const WriteDone& done);
    // Checks and queues a write of values `firstValue` on of tag `tag`, as
    // the module's value bytes, one entry per value.
    void writeValues(int tag, int firstValue, const QVector<QByteArray>& values, const WriteDone& done);

    const LineConfig& config() const { return config_; }
    LineSnapshot snapshot() const;
    TagState tagState(int tag) const;

private:
    struct PendingWrite {
        int tag = 0;
        int firstValue = 0;
        QVector<QByteArray> values;
        WriteDone done;
        int valuesSent = 0;          // values queued to the runtime so far
        QVector<RequestId> ids;      // a part of the write, then the read-back
        bool readingBack = false;
        QString failure;             // the first of the requests' errors
        QDeadlineTimer deadline;
    };

    void run();
    bool startRuntime();
    void look();
    void noteStatistics();
    void lookAtTags();
    void lookAtTag(int tag);
    void queueWrites();
    void queueNextPart(PendingWrite* write);
    static VariableAddress valuesAddress(const TagConfig& tag, int first, int n);
    void settleWrites();
    bool collect(PendingWrite* write); // true when its requests have ended
    bool settle(PendingWrite* write);  // true when nothing more is to be done for it
    void failAll(const QString& reason);
    void setStatus(bool online, const QString& reason);
    void setTag(int tag, const TagState& state);
    QString readOnlyMessage(int tag) const;
    void waitForWork(int ms);
    qint64 progress() const;
    bool writesPending() const;

    const LineConfig config_;
    const int index_;
    std::shared_ptr<ModuleInstance> module_;
    const QVector<GatewayListener*> listeners_;
    std::unique_ptr<HostRuntime> runtime_; // the line's thread only
    // A standard thread, whose join a thread checker sees; the runtime keeps
    // the Qt thread its line needs.
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    qint64 lastProgress_ = -1;                        // the line's thread only
    QString lastStartError_;                          // the line's thread only
    QVector<PendingWrite> underWay_;                  // the line's thread only

    // Standard ones, which a thread checker sees through their waits.
    mutable std::mutex mutex_; // guards the members below it
    std::condition_variable workArrived_;
    QVector<PendingWrite> queued_;
    LineSnapshot snapshot_;
    bool refusingWrites_ = false;
};
