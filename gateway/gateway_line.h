#pragma once

// One PLC line of the gateway: an adapter between the line's host runtime
// and the gateway's model. It has no thread of its own: it listens to the
// runtime, turns changed values and qualities into tag states (deadband
// applied) and the line's health into its status, and carries the faces'
// writes to the runtime and their outcome back.
//
// The runtime opens the line, probes the PLC and reopens a lost line by
// itself, with its own back-off; meanwhile the line is offline and its tags
// bad, with the reason.

#include "gateway_config.h"
#include "gateway_model.h"
#include "host_runtime.h"

#include <QHash>

#include <memory>
#include <mutex>

class GatewayLine : public RuntimeListener {
public:
    // `index` is the line's place in the configuration, as the listener hears it.
    GatewayLine(const LineConfig& config, int index, std::shared_ptr<ModuleInstance> module,
                QVector<GatewayListener*> listeners);
    ~GatewayLine() override;
    GatewayLine(const GatewayLine&) = delete;
    GatewayLine& operator=(const GatewayLine&) = delete;

    void start();
    // Refuses new writes from now on, so that all lines can finish their
    // writes at the same time.
    void beginStop();
    // Lets the writes under way end (each within its give-up budget) and
    // reports them, stops the runtime, and leaves every tag bad and the line
    // offline: the gateway no longer vouches for them.
    void stop();

    // Checks and queues a write to the tag; `done` hears how it ended.
    void write(const QString& tagName, const QJsonValue& value, const WriteDone& done);
    // Checks and queues a write of values `firstValue` on of tag `tag`, as
    // the module's value bytes, one entry per value.
    void writeValues(int tag, int firstValue, const QVector<QByteArray>& values, const WriteDone& done);

    const LineConfig& config() const { return config_; }
    LineSnapshot snapshot() const;
    TagState tagState(int tag) const;

    // What the runtime tells, on its thread.
    void polledChanged(const QVector<int>& tags) override;
    void lineChanged(const LineHealth& health) override;
    void requestEnded(RequestId id, const RequestOutcome& outcome) override;
    void lineEvent(const LineEvent& event) override;

private:
    struct PendingWrite {
        int tag = 0;
        WriteDone done; // empty: a read-back after a good write
    };

    void lookAtTag(int tag);
    void setTag(int tag, const TagState& state);
    void setStatus(bool online, const QString& reason);
    void failAll(const QString& reason);
    QString readOnlyMessage(int tag) const;
    static VariableAddress valuesAddress(const TagConfig& tag, int first, int n);

    const LineConfig config_;
    const int index_;
    const QVector<GatewayListener*> listeners_;
    std::unique_ptr<HostRuntime> runtime_;
    bool started_ = false;

    mutable std::mutex mutex_; // guards the members below it; taken before the runtime's own
    std::condition_variable writesEnded_;
    QHash<RequestId, PendingWrite> pending_;
    LineSnapshot snapshot_;
    bool refusingWrites_ = false;
};
