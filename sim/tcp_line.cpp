#include "tcp_line.h"

#include "reply_schedule.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <climits>
#include <functional>
#include <future>

// Everything that lives in the line's thread: the listening socket, the
// connected host, the reply timer and the scan timer.
class TcpLineServer {
public:
    TcpLineServer(VirtualPlc& plc, const LineOptions& options)
        : plc_(plc), schedule_(options.pacing)
    {
        clock_.start();
        replyTimer_.setSingleShot(true);
        replyTimer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&replyTimer_, &QTimer::timeout, &root_, [this] { sendDue(); });
        QObject::connect(&server_, &QTcpServer::newConnection, &root_, [this] { accept(); });
        if (options.scanIntervalMs > 0) {
            QObject::connect(&scanTimer_, &QTimer::timeout, &root_, [this] { plc_.runScan(); });
            scanTimer_.start(options.scanIntervalMs);
        }
    }

    ~TcpLineServer()
    {
        if (client_) { // no dropClient() from the socket's own destructor
            QObject::disconnect(client_, nullptr, &root_, nullptr);
            delete client_;
        }
    }

    bool listen(quint16 port, QString* error)
    {
        if (server_.listen(QHostAddress::LocalHost, port))
            return true;
        *error = server_.errorString(); // the caller names the port
        return false;
    }

    quint16 port() const { return server_.serverPort(); }

private:
    void accept()
    {
        // One host at a time, the newest: a host that reconnects before the
        // line noticed its old connection close is let in, as a serial
        // device server in its usual mode does, and the old one is closed.
        while (QTcpSocket* next = server_.nextPendingConnection()) {
            if (client_) {
                QObject::disconnect(client_, nullptr, &root_, nullptr);
                client_->abort();
                dropClient();
            }
            client_ = next;
            QObject::connect(client_, &QTcpSocket::readyRead, &root_, [this] { readRequest(); });
            QObject::connect(client_, &QTcpSocket::disconnected, &root_, [this] { dropClient(); });
        }
    }

    void readRequest()
    {
        if (!client_)
            return;
        schedule_.add(plc_.receiveReplies(client_->readAll()), clock_.nsecsElapsed());
        armReplyTimer();
    }

    void sendDue()
    {
        const QByteArray due = schedule_.takeDue(clock_.nsecsElapsed());
        if (client_ && !due.isEmpty())
            client_->write(due);
        armReplyTimer();
    }

    void armReplyTimer()
    {
        if (schedule_.isEmpty()) {
            replyTimer_.stop();
            return;
        }
        const qint64 remainingNs = qMax<qint64>(0, schedule_.nextDueNs(0) - clock_.nsecsElapsed());
        // Rounded up: a reply may leave up to 1 ms late, never early.
        replyTimer_.start(static_cast<int>(qMin<qint64>((remainingNs + 999999) / 1000000, INT_MAX)));
    }

    void dropClient()
    {
        if (!client_)
            return;
        client_->deleteLater();
        client_ = nullptr;
        schedule_.clear();
        replyTimer_.stop();
        plc_.resetLine();
    }

    VirtualPlc& plc_;
    ReplySchedule schedule_;
    QElapsedTimer clock_;
    QObject root_; // context of the connections: they end with this object
    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    QTimer replyTimer_;
    QTimer scanTimer_;
};

namespace {

// Runs `work` in the thread `context` lives in and waits for it. The hand-off
// uses a standard promise rather than a blocking queued call, so that thread
// checkers see the ordering without an instrumented Qt.
void runInThreadOf(QObject* context, const std::function<void()>& work)
{
    std::promise<void> done;
    QMetaObject::invokeMethod(
        context,
        [&] {
            work();
            done.set_value();
        },
        Qt::QueuedConnection);
    done.get_future().wait();
}

} // namespace

TcpLine::TcpLine(VirtualPlc& plc, const LineOptions& options) : plc_(plc), options_(options) {}

TcpLine::~TcpLine()
{
    close();
}

bool TcpLine::open(quint16 port, QString* error)
{
    QString reason;
    if (isOpen()) {
        reason = QStringLiteral("the TCP line is already open on port %1").arg(port_);
    } else {
        context_ = new QObject;
        context_->moveToThread(&thread_);
        thread_.start();
        runInThreadOf(context_, [&] {
            auto* server = new TcpLineServer(plc_, options_);
            if (server->listen(port, &reason)) {
                server_ = server;
                port_ = server->port();
            } else {
                delete server;
            }
        });
        if (server_)
            return true;
        close();
    }
    if (error)
        *error = reason;
    return false;
}

void TcpLine::close()
{
    if (context_) {
        runInThreadOf(context_, [this] {
            delete server_;
            server_ = nullptr;
        });
        thread_.quit();
        thread_.wait();
        delete context_;
        context_ = nullptr;
    }
    port_ = 0;
}
