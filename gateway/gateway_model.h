#pragma once

// The gateway's shared model, as every face sees it: what is known of each
// tag and line, what a face hears when that changes, and how a write ends.
// A face (MQTT today) translates between this and its protocol, nothing more.

#include "polled_quality.h"

#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QVector>

#include <functional>

struct TagState {
    Quality quality = Quality::Waiting; // Waiting until the tag's registers were first read
    QJsonValue value;                   // tag_value.h; null unless good
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
    QVector<TagState> tags;             // in the order of the configuration
};

struct WriteResult {
    bool ok = false;
    QString error;                      // why it was refused or failed
};

// Called once per write, from a line's thread, or at once from the caller's
// when the write is refused before it reaches the line.
using WriteDone = std::function<void(const WriteResult&)>;

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
