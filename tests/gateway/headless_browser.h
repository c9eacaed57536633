#pragma once

// Debian's chromium, headless, on the gateway's page with an empty profile,
// asked what the page shows (Runtime.evaluate over its DevTools WebSocket).

#include "gateway_process.h"
#include "http_get.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

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
