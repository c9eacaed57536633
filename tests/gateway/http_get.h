#pragma once

// One HTTP/1.1 request over a plain socket, as curl would send it, for the
// tests that talk to the gateway's web face and to chromium's DevTools.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>

#include "support/wait_until.h"

struct HttpReply {
    int status = 0;          // 0: no answer
    QByteArray headers;
    QByteArray body;
};

inline HttpReply httpRequest(quint16 port, const QByteArray& method, const QByteArray& path,
                             const QList<QByteArray>& headers = {}, const QByteArray& body = QByteArray())
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(10000))
        return HttpReply();
    QByteArray text = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nConnection: close\r\n";
    for (const QByteArray& header : headers)
        text += header + "\r\n";
    if (!body.isEmpty())
        text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    socket.write(text + "\r\n" + body);
    // Until the connection closes, or the body is as long as its header says.
    QByteArray response;
    const auto complete = [&] {
        const int end = response.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const QByteArray head = response.left(end).toLower();
        const int length = head.indexOf("content-length:");
        return length >= 0 && response.size() - end - 4 >= head.mid(length + 15, head.indexOf('\r', length) - length - 15).trimmed().toInt();
    };
    waitUntil([&] {
        const bool more = socket.waitForReadyRead(50);
        response += socket.readAll();
        return complete() || (!more && socket.state() != QAbstractSocket::ConnectedState);
    }, 60000);
    const int end = response.indexOf("\r\n\r\n");
    HttpReply reply;
    reply.status = response.mid(9, 3).toInt();
    reply.headers = response.left(end);
    reply.body = response.mid(end + 4);
    return reply;
}
