#include "line_settings.h"

#include "device_line.h"

#include <algorithm>

bool parsePortOption(const QString& text, PortAddress* address, QString* error)
{
    *address = PortAddress();
    if (text.trimmed().isEmpty()) {
        // An unset variable in a script must not silently mean the built-in PLC.
        *error = QStringLiteral("empty port \"%1\": expected a serial device such as /dev/ttyUSB0 or "
                                "tcp:HOST:PORT; leave the port out to use the built-in virtual PLC")
                     .arg(text);
        return false;
    }
    const QString tcpPrefix = QStringLiteral("tcp:");
    if (!text.startsWith(tcpPrefix)) {
        address->kind = LineKind::Serial;
        address->path = text;
        return true;
    }
    const QString rest = text.mid(tcpPrefix.size());
    const int colon = rest.lastIndexOf(QLatin1Char(':'));
    QString host = rest.left(std::max(colon, 0));
    // An IPv6 address goes in brackets: tcp:[::1]:5020.
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = colon > 0 ? rest.mid(colon + 1).toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535 || host.isEmpty() || host.contains(QLatin1Char('[')) || host.contains(QLatin1Char(']'))) {
        *error = QStringLiteral("bad port \"%1\": expected tcp:HOST:PORT with a port of 1 to 65535, an IPv6 "
                                "host in brackets (tcp:[::1]:5020)")
                     .arg(text);
        return false;
    }
    address->kind = LineKind::Tcp;
    address->host = host;
    address->port = static_cast<quint16>(port);
    return true;
}

std::unique_ptr<Line> makeDeviceLine(const LineSettings& settings)
{
    switch (settings.port.kind) {
    case LineKind::Serial:
        return std::make_unique<SerialPortLine>(settings.port.path, settings.baud);
    case LineKind::Tcp:
        return std::make_unique<DeviceServerLine>(settings.port.host, settings.port.port,
                                                  settings.answerAllowanceMs + 2000);
    case LineKind::VirtualPlc:
        break;
    }
    return nullptr;
}
