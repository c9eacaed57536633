#pragma once

// GET /api/history?line=L&tag=T&from=ISO&to=ISO&points=N, answered from the
// history store, apart from HTTP so that it is tested as it is:
//
//   {"line": "press1", "tag": "speed", "from": "...Z", "to": "...Z",
//    "points": [{"ts": "...Z", "min": 1, "max": 7, "last": 4, "good": true}, ...]}
//
// Defaults: to = now, from = to - 1 h, points = 500 (at most 5000). Points
// are in time order. The last change before `from`, if any, comes first
// with its own ts, so a trend starts from a known value. When the interval
// holds at most N changes, each is a point (min = max = last). Otherwise
// the interval is cut into N/2 equal buckets, and each bucket with changes
// is a point at its start with the min and max of its good values (a spike
// is never hidden), its last value, and good false if any change in it was
// bad. A bad change is {"ts", "min": null, "max": null, "last": null,
// "good": false}. Bits are 0 and 1. An array or text (hex) tag has "value",
// the JSON value as published, instead of min, max and last, and gives its
// last N changes.

#include "gateway_config.h"
#include "history_store.h"

#include <QJsonObject>
#include <QUrlQuery>

struct HistoryReply {
    int status = 200;       // 400 a wrong parameter, 404 no such tag, 503 no history store
    QJsonObject body;       // the answer, or {"error": "..."} naming what was wrong
};

// `store` null: the configuration has no history: section.
HistoryReply historyReply(const GatewayConfig& config, const HistoryStore* store, const QUrlQuery& query,
                          qint64 nowMs);
