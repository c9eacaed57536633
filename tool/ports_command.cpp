// tavrin ports: the serial ports this machine has, for --port.

#include "command_line.h"
#include "commands.h"

#include <QSerialPortInfo>

int runPortsCommand(const QStringList& arguments)
{
    const QString command = QStringLiteral("ports");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the serial ports present, with what the system knows of each (USB adapter, "
                       "maker, serial number), for --port. A serial device server on the network is not "
                       "listed: name it as tcp:HOST:PORT."));
    parser.addPositionalArgument(QStringLiteral("ports"), QStringLiteral("The command."), QStringLiteral("ports"));
    const int parsed = parseCommandLine(parser, command, arguments);
    if (parsed >= 0)
        return parsed;
    if (parser.positionalArguments().size() > 1)
        return usageError(command, QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().at(1)));
    QTextStream& out = standardOutput();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        out << "no serial ports found\n";
    for (const QSerialPortInfo& port : ports) {
        QStringList about;
        for (const QString& part : {port.description(), port.manufacturer(), port.serialNumber()}) {
            if (!part.isEmpty())
                about << part;
        }
        out << port.systemLocation() << (about.isEmpty() ? QString() : QStringLiteral("  ") + about.join(QStringLiteral(", ")))
            << "\n";
    }
    out << Qt::flush;
    return ExitOk;
}
