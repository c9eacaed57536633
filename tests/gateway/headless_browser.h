#pragma once

// Debian's chromium, headless, as the independent client of the gateway's
// page: started by the test with an empty profile, driven over its DevTools
// protocol (a WebSocket on a loopback port it picks itself), and killed
// when the test ends. The test asks the page what it shows with
// Runtime.evaluate, as a person would read it, without reloading it.

#include "http_get.h"

#include "support/wait_until.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebSocket>

// waitUntil() for conditions that need this thread's events (sockets).
template <typename Condition>
bool waitWithEvents(Condition condition, int boundMs = 20000)
{
    return waitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return condition();
        },
        boundMs);
}

class HeadlessBrowser {
public:
    ~HeadlessBrowser()
    {
        devtools_.abort();
        process_.kill();
        process_.waitForFinished();
    }

    // Starts chromium on `url` and connects to the page. False with what went wrong.
    bool open(const QString& url, QString* error)
    {
        // As root chromium runs only without its sandbox.
        process_.start(QStringLiteral("chromium"),
                       {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                        QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
                        QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                        QStringLiteral("--disable-sync"), QStringLiteral("--user-data-dir=") + profile_.path(),
                        QStringLiteral("--remote-debugging-address=127.0.0.1"),
                        QStringLiteral("--remote-debugging-port=0"), url});
        if (!process_.waitForStarted()) {
            *error = QStringLiteral("chromium did not start: ") + process_.errorString();
            return false;
        }
        // Chromium writes the port it took, and the browser's path, into the profile.
        const QString portFile = profile_.filePath(QStringLiteral("DevToolsActivePort"));
        QByteArray port;
        if (!waitUntil([&] { return (port = firstLine(portFile)).toInt() > 0; }, 60000)) {
            *error = QStringLiteral("chromium told no DevTools port: ") + QString::fromUtf8(process_.readAllStandardError().right(2000));
            return false;
        }
        QString pageUrl;
        if (!waitUntil([&] { return !(pageUrl = pageDevtoolsUrl(port.toInt())).isEmpty(); }, 30000)) {
            *error = QStringLiteral("chromium lists no page");
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
        const QJsonObject call{{QStringLiteral("id"), id},
                               {QStringLiteral("method"), QStringLiteral("Runtime.evaluate")},
                               {QStringLiteral("params"), QJsonObject{{QStringLiteral("expression"), expression},
                                                                      {QStringLiteral("returnByValue"), true},
                                                                      {QStringLiteral("awaitPromise"), true}}}};
        devtools_.sendTextMessage(QString::fromUtf8(QJsonDocument(call).toJson(QJsonDocument::Compact)));
        QJsonObject reply;
        waitWithEvents([&] {
            for (int k = 0; k < replies_.size(); ++k) {
                if (replies_.at(k).value(QStringLiteral("id")).toInt() == id) {
                    reply = replies_.takeAt(k);
                    return true;
                }
            }
            return false;
        });
        return reply.value(QStringLiteral("result")).toObject().value(QStringLiteral("result")).toObject().value(
            QStringLiteral("value"));
    }

    // Waits until `expression` gives `expected`; the last value it gave.
    QJsonValue waitFor(const QString& expression, const QJsonValue& expected, int boundMs = 20000)
    {
        QJsonValue last;
        waitWithEvents([&] { return (last = evaluate(expression)) == expected; }, boundMs);
        return last;
    }

private:
    static QByteArray firstLine(const QString& fileName)
    {
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray();
    }

    // The first page's DevTools WebSocket, from GET /json/list.
    static QString pageDevtoolsUrl(int port)
    {
        const QJsonArray targets = QJsonDocument::fromJson(httpRequest(quint16(port), "GET", "/json/list").body).array();
        for (const QJsonValue& target : targets) {
            if (target.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                return target.toObject().value(QStringLiteral("webSocketDebuggerUrl")).toString();
        }
        return QString();
    }

    QTemporaryDir profile_;
    QProcess process_;
    QWebSocket devtools_;
    QList<QJsonObject> replies_;
    int nextId_ = 1;
};
