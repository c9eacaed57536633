#pragma once

// The JSON payloads every JSON face sends and takes, built from the gateway's
// model: MQTT's topics, the web API's writes, the history kept of each change:
//
//   tag     {"value": 42, "quality": "good", "ts": "2026-12-05T10:00:00.123Z"}
//           {"value": null, "quality": "bad", "error": "...", "ts": "..."}
//   line    {"status": "online", "ts": "..."}
//           {"status": "offline", "reason": "...", "ts": "..."}
//   set     42, true, [1, 2], "0x00FF", or {"value": 42} with an optional
//           "id" that the result carries back
//   result  {"ok": true} or {"ok": false, "error": "..."}, with the "id" if given
//
// Times are UTC, ISO 8601 with milliseconds.

#include "gateway_model.h"

#include <QByteArray>
#include <QJsonValue>

QByteArray tagPayload(const TagState& state);
QByteArray lineStatusPayload(const LineStatus& status);
QByteArray writeResultPayload(const TagWriteResult& result, const QJsonValue& id);

struct SetRequest {
    QJsonValue value;
    QJsonValue id = QJsonValue(QJsonValue::Undefined); // when not given
};

// Reads a set payload. False with a message that says what is accepted.
bool parseSetPayload(const QByteArray& payload, SetRequest* request, QString* error);
