#include "tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

TcpServer::TcpServer(VirtualPlc& plc, const ServerOptions& options) : PortServer(plc, options) {}

TcpServer::~TcpServer()
{
    close();
}

bool TcpServer::open(quint16 port, QString* error)
{
    QString reason;
    if (isOpen()) {
        reason = QStringLiteral("the TCP server is already open on port %1").arg(port_);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const int reuse = 1;
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0)
            reason = systemError("socket");
        else if (setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0)
            reason = systemError("reuse address");
        else if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            reason = systemError("bind");
        else if (::listen(listener_, 4) != 0)
            reason = systemError("listen");
        else if (getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            reason = systemError("getsockname");
        if (reason.isEmpty()) {
            port_ = ntohs(address.sin_port);
            listenOnIpv6Loopback();
            if (startLoop(&reason))
                return true;
        }
        closeDescriptors();
    }
    if (error)
        *error = reason;
    return false;
}

void TcpServer::listenOnIpv6Loopback()
{
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port_);
    address.sin6_addr = in6addr_loopback;
    const int reuse = 1;
    listener6_ = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener6_ >= 0 && setsockopt(listener6_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) == 0
        && setsockopt(listener6_, IPPROTO_IPV6, IPV6_V6ONLY, &reuse, sizeof reuse) == 0
        && ::bind(listener6_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && ::listen(listener6_, 4) == 0)
        return;
    if (listener6_ >= 0)
        ::close(listener6_);
    listener6_ = -1; // no IPv6 here: 127.0.0.1 alone
}

void TcpServer::close()
{
    stopLoop();
    closeDescriptors();
}

void TcpServer::closeDescriptors()
{
    for (int* fd : {&client_, &listener_, &listener6_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    port_ = 0;
}

void TcpServer::acceptHost(int listener)
{
    const int next = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (next < 0)
        return;
    hostGone();
    // Requests and replies are a few bytes each: send them at once.
    const int noDelay = 1;
    setsockopt(next, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    client_ = next;
}

void TcpServer::hostGone()
{
    if (client_ >= 0)
        ::close(client_);
    client_ = -1;
}
