#pragma once

// The gateway's model as JSON, as the faces show it:
//
//   tag state    {"value": 42, "quality": "good", "ts": "2026-12-05T10:00:00.123Z"}
//                {"value": null, "quality": "bad", "error": "...", "ts": "..."}
//                {"value": null, "quality": "waiting", "ts": "..."} before its first read
//   line status  {"status": "online", "ts": "..."} or {"status": "offline", "reason": "...", "ts": "..."}
//
// and, for the web face's API and live feed, every line with its counters
// and every tag with its place:
//
//   line  {"line": "press1", "port": "tcp:...", "status": ..., "frames_sent": 1200,
//          "sent_bytes": ..., "received_bytes": ..., "good_replies": ..., "retries": ...,
//          "give_ups": ..., "late_replies": ..., "line_losses": ..., "reconnects": ...,
//          "utilisation": 0.42, "baud": 9600, "turnaround_us": ... (once the runtime measures it)}
//   tag   {"line": "press1", "tag": "speed", "address": "D100", "format": "int16",
//          "writable": false, "modbus": "holding 100" (when mapped), ...its state}
//
// Times are UTC, ISO 8601 with milliseconds.

#include "gateway_config.h"
#include "gateway_model.h"

#include <QJsonArray>
#include <QJsonObject>

QString utcText(const QDateTime& at);
QString qualityName(Quality quality); // "good", "bad", "waiting"

// The share of the time since the line opened that its characters take at
// its configured baud rate (10 bits each), at most 1: a link that carries
// them faster than that rate (a device server) would give more than the
// whole time, and gives 1.
double utilisationShare(const LineStatistics& statistics);

QJsonObject tagStateJson(const TagState& state);
QJsonObject lineStatusJson(const LineStatus& status);

QJsonObject lineJson(const LineConfig& config, const LineSnapshot& line);
QJsonObject tagJson(const LineConfig& line, int tag, const TagState& state);

// Every line, and every tag of every line, in the order of the configuration.
QJsonArray linesJson(const GatewayConfig& config, const QVector<LineSnapshot>& lines);
QJsonArray tagsJson(const GatewayConfig& config, const QVector<LineSnapshot>& lines);
