#pragma once

// The gateway's model of all its lines: one GatewayLine each, every one with
// its own copy of the module, its own runtime and thread. Faces listen to it
// and send it writes by line and tag name; none of them polls or writes a
// PLC itself.

#include "gateway_config.h"
#include "gateway_line.h"
#include "gateway_model.h"
#include "history_counters.h"

#include <array>
#include <atomic>
#include <memory>
#include <vector>

// What the gateway counted since it started, for its metrics.
struct GatewayCounters {
    qint64 published = 0;                          // MQTT messages handed to the broker's client
    std::array<qint64, WriteOutcomeCount> writes{}; // by WriteOutcome, from every face
    HistoryFigures history;                        // the history store and forwarding
    qint64 sparkplugDropped = 0;                   // changes kept for a primary host and dropped for want of room
};

// Starts a write with `start` and waits for its end, for a face that answers
// a write only once the PLC acknowledged it (Modbus, HTTP). A write always
// ends: the line gives up within its budget, and a stopping gateway answers
// what is under way.
TagWriteResult awaitWrite(const std::function<void(const WriteDone&)>& start);

class Gateway {
public:
    explicit Gateway(const GatewayConfig& config);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Before start(): a face that hears every change.
    void addListener(GatewayListener* listener);
    // Loads a copy of the module per line and makes the lines, without
    // starting them: faces can listen then, and see every line offline,
    // "not started yet", and refuse writes. False with a message when the
    // module cannot be loaded.
    bool load(QString* error);
    // Loads (unless done) and starts the lines. False with a message when the
    // module cannot be loaded; lines whose PLC does not answer yet do not
    // fail it (they keep trying, offline meanwhile).
    bool start(QString* error);
    // Stops every line (their writes under way are reported first).
    void stop();

    // A write by names, as a face received it; `done` hears how it ended.
    void write(const QString& lineName, const QString& tagName, const QJsonValue& value, const WriteDone& done);
    // A write of values `firstValue` on of a tag, as the module's value
    // bytes (one entry per value), for a face that holds raw registers.
    void writeValues(int line, int tag, int firstValue, const QVector<QByteArray>& values, const WriteDone& done);

    const GatewayConfig& config() const { return config_; }
    // What is known of every line and tag now, for a face that (re)connects.
    QVector<LineSnapshot> snapshot() const;
    // One tag's state now; Waiting before start().
    TagState tagState(int line, int tag) const;

    // A face's MQTT message was handed to the broker's client.
    void countPublished() { ++published_; }
    // A face refused a write before it reached a line (a payload it cannot
    // read, a retained set, a Modbus request for no writable tag): counted
    // with the refusals the lines give.
    void countRefusal() { ++writes_.at(size_t(WriteOutcome::Refused)); }
    // The Sparkplug face dropped kept changes.
    void countSparkplugDropped(qint64 n) { sparkplugDropped_ += n; }
    GatewayCounters counters() const;
    // The history store's and the forwarding's counts, kept by them.
    HistoryCounters& historyCounters() { return history_; }

private:
    WriteDone counted(const WriteDone& done);

    const GatewayConfig config_;
    QVector<GatewayListener*> listeners_;
    std::vector<std::unique_ptr<GatewayLine>> lines_;
    std::atomic<bool> started_{false}; // the lines run: writes go to them
    std::atomic<qint64> published_{0};
    std::atomic<qint64> sparkplugDropped_{0};
    std::array<std::atomic<qint64>, WriteOutcomeCount> writes_{};
    HistoryCounters history_;
};
