#include "http_face.h"

#include "gateway_log.h"
#include "history_query.h"
#include "metrics_text.h"
#include "model_json.h"
#include "json_payloads.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QHttpServer>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocket>

namespace {

using Status = QHttpServerResponder::StatusCode;

// The feed sends what changed this often, and every line's counters at
// least once a second.
constexpr int FeedIntervalMs = 200;
constexpr int LinesIntervalMs = 1000;
// A page that stops reading is let go rather than buffered for.
constexpr qint64 MaxFeedBacklogBytes = 4 << 20;
constexpr int MaxFeeds = 64;
constexpr int MaxFeedMessageBytes = 4096;

QByteArray header(const QHttpServerRequest& request, const char* name)
{
    for (const auto& field : request.headers()) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second.trimmed();
    }
    return QByteArray();
}

// Compares in the same time whatever the first difference.
bool sameSecret(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (int k = 0; k < a.size(); ++k)
        difference |= static_cast<unsigned char>(a.at(k) ^ b.at(k));
    return difference == 0;
}

// A browser names the page a request comes from; other clients send no Origin.
bool fromThisServer(const QByteArray& origin, const QByteArray& host)
{
    if (origin.isEmpty())
        return true;
    const int scheme = origin.indexOf("://");
    return scheme > 0 && origin.mid(scheme + 3).compare(host, Qt::CaseInsensitive) == 0;
}

// RFC 7235: "Authorization: Bearer TOKEN", the scheme in any letter case,
// one or more spaces before the token.
QByteArray bearerToken(const QByteArray& authorization)
{
    const int space = authorization.indexOf(' ');
    if (space < 0 || authorization.left(space).compare("Bearer", Qt::CaseInsensitive) != 0)
        return QByteArray();
    return authorization.mid(space + 1).trimmed();
}

// The method a path of the API is served for, or none: a request with another
// method is answered 405 with it, one for no such path 404.
QByteArray allowedMethod(const QString& path)
{
    static const char* const gets[] = {"/", "/live", "/api/lines", "/api/tags", "/api/history", "/metrics"};
    for (const char* get : gets) {
        if (path == QLatin1String(get))
            return QByteArrayLiteral("GET");
    }
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() == 5 && parts.at(1) == QLatin1String("api") && parts.at(2) == QLatin1String("tags")
        && !parts.at(3).isEmpty() && !parts.at(4).isEmpty())
        return QByteArrayLiteral("POST");
    return QByteArray();
}

// A path as an answer may quote it: a long one is cut, never echoed whole.
QString shownPath(const QString& path)
{
    constexpr int MaxShown = 64;
    return path.size() > MaxShown ? path.left(MaxShown) + QStringLiteral("...") : path;
}

QByteArray methodName(const QHttpServerRequest& request)
{
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        break;
    }
    return "this method";
}

QHttpServerResponse errorResponse(Status status, const QString& error)
{
    return QHttpServerResponse(QJsonObject{{QStringLiteral("error"), error}}, status);
}

Status writeStatus(WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::Done:
        return Status::Ok;
    case WriteOutcome::Refused:
        return Status::BadRequest;
    case WriteOutcome::Unavailable:
        return Status::ServiceUnavailable;
    case WriteOutcome::Failed:
        break;
    }
    return Status::BadGateway;
}

QByteArray pageHtml()
{
    QFile page(QStringLiteral(":/tavrin/web/index.html"));
    page.open(QIODevice::ReadOnly);
    return page.readAll();
}

} // namespace

class HttpServer : public QObject {
public:
    HttpServer(const HttpConfig& config, Gateway& gateway, HttpFace& face);
    bool listen(QString* error);

private:
    void addRoutes();
    bool authorised(const QHttpServerRequest& request) const;
    QHttpServerResponse guarded(const QHttpServerRequest& request, const std::function<QHttpServerResponse()>& answer);
    QHttpServerResponse writeTag(const QString& line, const QString& tag, const QHttpServerRequest& request);
    void acceptFeeds();
    QString feedRefusal(const QWebSocket& socket) const;
    void feedSpoke(QWebSocket* socket, const QString& text);
    void sendChanges();
    void send(QWebSocket* socket, const QJsonObject& message);

    const HttpConfig& config_;
    Gateway& gateway_;
    HttpFace& face_;
    const QByteArray page_ = pageHtml();
    QHttpServer http_;
    QHash<QWebSocket*, bool> feeds_; // its token given, or none needed
    QTimer feedTimer_;
    QElapsedTimer sinceLines_;
};

HttpServer::HttpServer(const HttpConfig& config, Gateway& gateway, HttpFace& face)
    : config_(config), gateway_(gateway), face_(face)
{
    addRoutes();
    connect(&http_, &QAbstractHttpServer::newWebSocketConnection, this, &HttpServer::acceptFeeds);
    connect(&feedTimer_, &QTimer::timeout, this, &HttpServer::sendChanges);
    feedTimer_.start(FeedIntervalMs);
    sinceLines_.start();
}

bool HttpServer::listen(QString* error)
{
    auto* tcp = new QTcpServer(&http_);
    if (!tcp->listen(QHostAddress(config_.listen.host), quint16(config_.listen.port))) {
        *error = QStringLiteral("web page on %1: %2").arg(config_.listen.text(), tcp->errorString());
        return false;
    }
    http_.bind(tcp);
    return true;
}

void HttpServer::addRoutes()
{
    using Method = QHttpServerRequest::Method;
    http_.route(QStringLiteral("/"), Method::Get, [this] {
        QHttpServerResponse response(QByteArrayLiteral("text/html; charset=utf-8"), page_);
        // Inline script and style only, and connections back to this server.
        response.addHeader(QByteArrayLiteral("Content-Security-Policy"),
                           QByteArrayLiteral("default-src 'none'; script-src 'unsafe-inline'; style-src "
                                             "'unsafe-inline'; connect-src 'self'; frame-ancestors 'none'"));
        return response;
    });
    // Qt HTTP Server turns a request into a WebSocket once a route took it
    // and wrote nothing; a plain request here is told what the feed is.
    http_.route(QStringLiteral("/live"), Method::Get, [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        if (header(request, "Upgrade").compare("websocket", Qt::CaseInsensitive) != 0)
            responder.write(QByteArrayLiteral(R"({"error":"the live feed is a WebSocket"})"),
                            QByteArrayLiteral("application/json"), Status::UpgradeRequired);
    });
    http_.route(QStringLiteral("/api/lines"), Method::Get, [this](const QHttpServerRequest& request) {
        return guarded(request, [this] { return QHttpServerResponse(linesJson(gateway_.config(), gateway_.snapshot())); });
    });
    http_.route(QStringLiteral("/api/tags"), Method::Get, [this](const QHttpServerRequest& request) {
        return guarded(request, [this] { return QHttpServerResponse(tagsJson(gateway_.config(), gateway_.snapshot())); });
    });
    http_.route(QStringLiteral("/api/history"), Method::Get, [this](const QHttpServerRequest& request) {
        return guarded(request, [&] {
            const HistoryReply reply = historyReply(gateway_.config(), face_.history(), QUrlQuery(request.url()),
                                                    QDateTime::currentMSecsSinceEpoch());
            return QHttpServerResponse(reply.body, Status(reply.status));
        });
    });
    http_.route(QStringLiteral("/api/tags/<arg>/<arg>"), Method::Post,
                [this](const QString& line, const QString& tag, const QHttpServerRequest& request) {
                    if (!authorised(request))
                        gateway_.countRefusal();
                    return guarded(request, [&] { return writeTag(line, tag, request); });
                });
    http_.route(QStringLiteral("/metrics"), Method::Get, [this](const QHttpServerRequest& request) {
        return guarded(request, [this] {
            return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                                       metricsText(gateway_.config(), gateway_.snapshot(), gateway_.counters()));
        });
    });
    http_.setMissingHandler([](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        const QString path = request.url().path();
        const QByteArray allowed = allowedMethod(path);
        const auto body = [](const QString& error) {
            return QJsonDocument(QJsonObject{{QStringLiteral("error"), error}}).toJson(QJsonDocument::Compact);
        };
        const QByteArray json = QByteArrayLiteral("application/json");
        if (!allowed.isEmpty()) {
            responder.write(body(QStringLiteral("%1 is not served at %2; it takes %3")
                                     .arg(QLatin1String(methodName(request)), shownPath(path), QLatin1String(allowed))),
                            {{QByteArrayLiteral("Content-Type"), json}, {QByteArrayLiteral("Allow"), allowed}},
                            Status::MethodNotAllowed);
            return;
        }
        responder.write(body(QStringLiteral("no %1 here; the gateway serves GET /, /api/lines, /api/tags, "
                                            "/api/history, /metrics and POST /api/tags/LINE/TAG")
                                 .arg(shownPath(path))),
                        json, Status::NotFound);
    });
    http_.afterRequest([](QHttpServerResponse&& response) {
        response.addHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
        response.addHeader(QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff"));
        return std::move(response);
    });
}

bool HttpServer::authorised(const QHttpServerRequest& request) const
{
    if (config_.token.isEmpty())
        return true;
    return sameSecret(bearerToken(header(request, "Authorization")), config_.token.toUtf8());
}

QHttpServerResponse HttpServer::guarded(const QHttpServerRequest& request,
                                        const std::function<QHttpServerResponse()>& answer)
{
    if (authorised(request))
        return answer();
    QHttpServerResponse response = errorResponse(
        Status::Unauthorized, QStringLiteral("this gateway needs its access token: send Authorization: Bearer TOKEN"));
    response.addHeader(QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Bearer"));
    return response;
}

QHttpServerResponse HttpServer::writeTag(const QString& line, const QString& tag, const QHttpServerRequest& request)
{
    // Each refusal here is a write refused before it reached a line.
    const auto refused = [this](Status status, const QString& error) {
        gateway_.countRefusal();
        return errorResponse(status, error);
    };
    if (!fromThisServer(header(request, "Origin"), header(request, "Host")))
        return refused(Status::Forbidden, QStringLiteral("a write from another site's page is refused"));
    if (!header(request, "Content-Type").startsWith("application/json"))
        return refused(Status::UnsupportedMediaType,
                       QStringLiteral("a write is JSON: send it with Content-Type: application/json"));
    const int l = gateway_.config().lineIndex(line);
    if (l < 0 || gateway_.config().lines.at(l).tagIndex(tag) < 0)
        return refused(Status::NotFound, QStringLiteral("no tag %1/%2 in this gateway").arg(line, tag));
    SetRequest set;
    QString error;
    if (!parseSetPayload(request.body(), &set, &error)) {
        gateway_.countRefusal();
        return QHttpServerResponse(QByteArrayLiteral("application/json"),
                                   writeResultPayload(TagWriteResult{WriteOutcome::Refused, error}, set.id),
                                   Status::BadRequest);
    }
    const TagWriteResult result =
        awaitWrite([&](const WriteDone& done) { gateway_.write(line, tag, set.value, done); });
    if (!result.ok())
        logWarning(QStringLiteral("web write to %1/%2 refused or failed: %3").arg(line, tag, result.error));
    return QHttpServerResponse(QByteArrayLiteral("application/json"), writeResultPayload(result, set.id),
                               writeStatus(result.outcome));
}

void HttpServer::acceptFeeds()
{
    while (http_.hasPendingWebSocketConnections()) {
        QWebSocket* socket = http_.nextPendingWebSocketConnection().release();
        socket->setParent(this);
        const QString refusal = feedRefusal(*socket);
        if (!refusal.isEmpty()) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, refusal);
            socket->deleteLater();
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(MaxFeedMessageBytes);
        feeds_.insert(socket, false);
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString& text) { feedSpoke(socket, text); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            feeds_.remove(socket);
            socket->deleteLater();
        });
    }
}

QString HttpServer::feedRefusal(const QWebSocket& socket) const
{
    if (socket.requestUrl().path() != QLatin1String("/live"))
        return QStringLiteral("the live feed is at /live");
    if (!fromThisServer(socket.origin().toUtf8(), socket.request().rawHeader("Host")))
        return QStringLiteral("another site's page may not follow this gateway");
    if (feeds_.size() >= MaxFeeds)
        return QStringLiteral("too many pages follow this gateway");
    return QString();
}

// A feed's first message carries the token; then it gets everything.
void HttpServer::feedSpoke(QWebSocket* socket, const QString& text)
{
    if (feeds_.value(socket))
        return;
    const QJsonObject hello = QJsonDocument::fromJson(text.toUtf8()).object();
    const QByteArray token = hello.value(QStringLiteral("token")).toString().toUtf8();
    if (!config_.token.isEmpty() && !sameSecret(token, config_.token.toUtf8())) {
        send(socket, QJsonObject{{QStringLiteral("error"), QStringLiteral("this gateway needs its access token")}});
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    feeds_.insert(socket, true);
    const QVector<LineSnapshot> lines = gateway_.snapshot();
    send(socket, QJsonObject{{QStringLiteral("lines"), linesJson(gateway_.config(), lines)},
                             {QStringLiteral("tags"), tagsJson(gateway_.config(), lines)}});
}

void HttpServer::sendChanges()
{
    const HttpFace::Changes changes = face_.takeChanges();
    QJsonObject message;
    if (!changes.tags.isEmpty()) {
        QJsonArray tags;
        for (const auto& changed : changes.tags)
            tags.append(tagJson(gateway_.config().lines.at(changed.first), changed.second,
                                gateway_.tagState(changed.first, changed.second)));
        message.insert(QStringLiteral("tags"), tags);
    }
    if (changes.lines || sinceLines_.elapsed() >= LinesIntervalMs) {
        message.insert(QStringLiteral("lines"), linesJson(gateway_.config(), gateway_.snapshot()));
        sinceLines_.restart();
    }
    if (message.isEmpty())
        return;
    for (auto it = feeds_.begin(); it != feeds_.end(); ++it) {
        if (it.value())
            send(it.key(), message);
    }
}

void HttpServer::send(QWebSocket* socket, const QJsonObject& message)
{
    if (socket->bytesToWrite() > MaxFeedBacklogBytes) {
        socket->abort();
        return;
    }
    socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

HttpFace::HttpFace(const HttpConfig& config, Gateway& gateway) : config_(config), gateway_(gateway) {}

HttpFace::~HttpFace()
{
    stop();
}

bool HttpFace::start(QString* error)
{
    const auto open = [this](QString* openError) {
        server_ = new HttpServer(config_, gateway_, *this);
        return server_->listen(openError);
    };
    const auto close = [this] {
        delete server_;
        server_ = nullptr;
    };
    if (!thread_.start(open, close, error))
        return false;
    logInfo(QStringLiteral("web page, API and metrics: http://%1/%2")
                .arg(config_.listen.text(), config_.token.isEmpty() ? QString() : QStringLiteral(" (with a token)")));
    return true;
}

void HttpFace::stop()
{
    thread_.stop();
}

void HttpFace::tagChanged(int line, int tag, const TagState&)
{
    QMutexLocker lock(&mutex_);
    changedTags_.insert(qMakePair(line, tag));
}

void HttpFace::lineChanged(int, const LineStatus&)
{
    QMutexLocker lock(&mutex_);
    linesChanged_ = true;
}

HttpFace::Changes HttpFace::takeChanges()
{
    QMutexLocker lock(&mutex_);
    Changes changes;
    changes.tags = QVector<QPair<int, int>>(changedTags_.begin(), changedTags_.end());
    changes.lines = linesChanged_;
    changedTags_.clear();
    linesChanged_ = false;
    return changes;
}
