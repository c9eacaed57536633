#pragma once

// The gateway on the web, through Qt HTTP Server (a Qt 6 build only):
//
//   GET  /                        the live page: every line and tag, writes for writable tags
//   GET  /live                    the page's live feed, a WebSocket (model_json.h)
//   GET  /api/lines, /api/tags    every line, every tag, as JSON
//   POST /api/tags/LINE/TAG       a write, as on MQTT: 42, or {"value": 42, "id": ...};
//                                 answered once the PLC acknowledged it
//   GET  /api/history?line=L&tag=T&from=&to=&points=
//                                 one tag's history as trend points (history_query.h)
//   GET  /metrics                 Prometheus text (metrics_text.h)
//
// With a token in the file, everything but the page itself needs it:
// "Authorization: Bearer TOKEN", or on the feed a first message
// {"token": "TOKEN"} (a browser's WebSocket cannot send headers). A write
// must be JSON and may not come from another site's page (its Origin must
// be this server), so that a page elsewhere cannot write through a browser.
//
// The server runs on a thread of its own: a write holds up its next
// requests until the PLC answered it (at most the line's give-up budget).

#include "face_thread.h"
#include "gateway.h"
#include "history_store.h"

#include <QMutex>
#include <QPair>
#include <QSet>

class HttpServer;

class HttpFace : public GatewayListener {
public:
    HttpFace(const HttpConfig& config, Gateway& gateway);
    ~HttpFace() override;
    HttpFace(const HttpFace&) = delete;
    HttpFace& operator=(const HttpFace&) = delete;

    // Listens. False with a message when the address cannot be taken.
    bool start(QString* error);
    void stop();
    // Before start(): the history store the API answers from; none, it answers 503.
    void setHistory(const HistoryStore* history) { history_ = history; }
    const HistoryStore* history() const { return history_; }

    void tagChanged(int line, int tag, const TagState& state) override;
    void lineChanged(int line, const LineStatus& status) override;

    // What changed since the last call, for the live feed.
    struct Changes {
        QVector<QPair<int, int>> tags; // line, tag
        bool lines = false;
    };
    Changes takeChanges();

private:
    const HttpConfig config_;
    Gateway& gateway_;
    const HistoryStore* history_ = nullptr;
    HttpServer* server_ = nullptr; // made, used and deleted on thread_
    FaceThread thread_;

    QMutex mutex_; // guards the members below it
    QSet<QPair<int, int>> changedTags_;
    bool linesChanged_ = false;
};
