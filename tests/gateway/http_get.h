#pragma once

// One HTTP/1.1 request over a plain socket, as curl would send it, for the
// tests that talk to the gateway's web face and to chromium's DevTools.

#include "support/wait_until.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>

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
