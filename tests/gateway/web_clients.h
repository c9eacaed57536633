#pragma once

// The web face's independent clients: HTTP/1.1 requests over a plain socket,
// as curl sends them, and Debian's headless chromium with an empty profile,
// asked what the page shows (Runtime.evaluate over its DevTools WebSocket).

#include "gateway_process.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

#include <sys/socket.h>

struct HttpReply {
    int status = 0; // 0: no answer
    QByteArray headers;
    QByteArray body;
};

// What the server answers to `bytes` as they are: a status of 0 when it
// closed the connection without an answer. `thenClose`: the client says
// it has no more to send, as one that gives up halfway does.
inline HttpReply httpExchange(quint16 port, const QByteArray& bytes, bool thenClose = false)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(10000))
        return HttpReply();
    socket.write(bytes);
    if (thenClose) {
        socket.waitForBytesWritten(10000);
        ::shutdown(int(socket.socketDescriptor()), SHUT_WR);
    }
    // Until the connection closes, or the body is as long as its header says.
    QByteArray response;
    const auto complete = [&] {
        const int end = response.indexOf("\r\n\r\n");
        const QByteArray head = response.left(end).toLower();
        const int length = head.indexOf("content-length:");
        return end >= 0 && length >= 0 && response.size() - end - 4 >= head.mid(length + 15, head.indexOf('\r', length) - length - 15).trimmed().toInt();
    };
    waitUntil([&] {
        const bool more = socket.waitForReadyRead(50);
        response += socket.readAll();
        return complete() || (!more && socket.state() != QAbstractSocket::ConnectedState);
    }, 60000);
    const int end = response.indexOf("\r\n\r\n");
    return {response.startsWith("HTTP/1.") ? response.mid(9, 3).toInt() : 0, response.left(end), response.mid(end + 4)};
}

inline HttpReply httpRequest(quint16 port, const QByteArray& method, const QByteArray& path,
                             const QList<QByteArray>& headers = {}, const QByteArray& body = QByteArray())
{
    QByteArray text = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nConnection: close\r\n";
    for (const QByteArray& header : headers)
        text += header + "\r\n";
    if (!body.isEmpty())
        text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return httpExchange(port, text + "\r\n" + body);
}

// The value of one sample of the gateway's metrics ("name{labels}"), or -1.
inline double metricValue(quint16 port, const QByteArray& sample, const QList<QByteArray>& headers = {})
{
    for (const QByteArray& line : httpRequest(port, "GET", "/metrics", headers).body.split('\n')) {
        if (line.startsWith(sample + ' '))
            return line.mid(sample.size() + 1).toDouble();
    }
    return -1;
}

// waitUntil() for conditions that need this thread's events (sockets).
template <typename Condition>
bool waitWithEvents(Condition condition, int boundMs = 20000)
{
    return waitUntil([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return condition();
    }, boundMs);
}

class HeadlessBrowser {
public:
    ~HeadlessBrowser() { devtools_.abort(); }

    // Starts chromium on `url` and connects to the page. False with what went wrong.
    bool open(const QString& url, QString* error)
    {
        // As root chromium runs only without its sandbox.
        const QString options = QStringLiteral("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                                               "--disable-background-networking --disable-component-update --disable-sync "
                                               "--remote-debugging-address=127.0.0.1 --remote-debugging-port=0");
        process_.start(QStringLiteral("chromium"), options.split(QLatin1Char(' ')) + QStringList{QStringLiteral("--user-data-dir=") + profile_.path(), url});
        // Chromium writes the port it took into the profile, then lists the page there.
        int port = 0;
        QString pageUrl;
        if (!waitUntil([&] {
                QFile file(profile_.filePath(QStringLiteral("DevToolsActivePort")));
                return file.open(QIODevice::ReadOnly) && (port = file.readLine().trimmed().toInt()) > 0;
            }, 60000) || !waitUntil([&] { return !(pageUrl = pageDevtoolsUrl(quint16(port))).isEmpty(); }, 30000)) {
            *error = QStringLiteral("chromium lists no DevTools page: ") + QString::fromUtf8(process_.readAllStandardError().right(2000));
            return false;
        }
        QObject::connect(&devtools_, &QWebSocket::textMessageReceived,
                         [this](const QString& text) { replies_.append(QJsonDocument::fromJson(text.toUtf8()).object()); });
        devtools_.open(QUrl(pageUrl));
        if (!waitWithEvents([&] { return devtools_.state() == QAbstractSocket::ConnectedState; })) {
            *error = QStringLiteral("no DevTools connection to the page: ") + devtools_.errorString();
            return false;
        }
        return true;
    }

    // The value of a JavaScript expression on the page; undefined when it
    // threw or the page did not answer.
    QJsonValue evaluate(const QString& expression)
    {
        const int id = nextId_++;
        const QJsonObject params{{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}, {QStringLiteral("awaitPromise"), true}};
        const QJsonObject call{{QStringLiteral("id"), id}, {QStringLiteral("method"), QStringLiteral("Runtime.evaluate")}, {QStringLiteral("params"), params}};
        devtools_.sendTextMessage(QString::fromUtf8(QJsonDocument(call).toJson(QJsonDocument::Compact)));
        QJsonObject reply;
        waitWithEvents([&] {
            for (int k = 0; k < replies_.size() && reply.isEmpty(); ++k) {
                if (replies_.at(k).value(QStringLiteral("id")).toInt() == id)
                    reply = replies_.takeAt(k);
            }
            return !reply.isEmpty();
        });
        return reply.value(QStringLiteral("result")).toObject().value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
    }

    // Waits until `expression` gives `expected`; the last value it gave.
    QJsonValue waitFor(const QString& expression, const QJsonValue& expected, int boundMs = 20000)
    {
        QJsonValue last;
        waitWithEvents([&] { return (last = evaluate(expression)) == expected; }, boundMs);
        return last;
    }

private:
    // The first page's DevTools WebSocket, from GET /json/list.
    static QString pageDevtoolsUrl(quint16 port)
    {
        for (const QJsonValue& target : QJsonDocument::fromJson(httpRequest(port, "GET", "/json/list").body).array()) {
            if (target.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                return target.toObject().value(QStringLiteral("webSocketDebuggerUrl")).toString();
        }
        return QString();
    }

    QTemporaryDir profile_;
    ChildProcess process_;
    QWebSocket devtools_;
    QList<QJsonObject> replies_;
    int nextId_ = 1;
};
