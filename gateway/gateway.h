#pragma once

// The gateway's model of all its lines: one GatewayLine each, every one with
// its own copy of the module, its own runtime and thread. Faces listen to it
// and send it writes by line and tag name; none of them polls or writes a
// PLC itself.

#include "gateway_config.h"
#include "gateway_line.h"
#include "gateway_model.h"

#include <memory>
#include <vector>

class Gateway {
public:
    explicit Gateway(const GatewayConfig& config);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Before start(): a face that hears every change.
    void addListener(GatewayListener* listener);
    // Loads a copy of the module per line and starts the lines. False with
    // a message when the module cannot be loaded; lines whose PLC does not
    // answer yet do not fail it (they keep trying, offline meanwhile).
    bool start(QString* error);
    // Stops every line (their writes under way are reported first).
    void stop();

    // A write by names, as a face received it; `done` hears how it ended.
    void write(const QString& lineName, const QString& tagName, const QJsonValue& value, const WriteDone& done);

    const GatewayConfig& config() const { return config_; }
    // What is known of every line and tag now, for a face that (re)connects.
    QVector<LineSnapshot> snapshot() const;

private:
    const GatewayConfig config_;
    QVector<GatewayListener*> listeners_;
    std::vector<std::unique_ptr<GatewayLine>> lines_;
};
