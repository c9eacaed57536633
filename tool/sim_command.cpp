// tavrin sim: the virtual PLC on a pseudo-terminal or a TCP port.

#include "command_line.h"
#include "commands.h"
#include "interrupts.h"

#include "pty_server.h"
#include "tcp_server.h"
#include "virtual_plc.h"

#include <QElapsedTimer>
#include <QThread>

#include <memory>

namespace {

const QString kCommand = QStringLiteral("sim");

struct FaultOption {
    FaultKind kind;
    const char* name;
    const char* what;
};

const FaultOption kFaults[] = {
    {FaultKind::Drop, "drop", "drops the reply (silence)"},
    {FaultKind::Nak, "nak", "answers NAK instead"},
    {FaultKind::Truncate, "truncate", "sends only the first half of the reply"},
    {FaultKind::Corrupt, "corrupt", "changes one character of the reply"},
    {FaultKind::Delay, "delay", "holds the reply back by --delay-ms"},
};

void addSimOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("pty"), QStringLiteral("Serve on a new pseudo-terminal (the default).")});
    parser.addOption({QStringLiteral("tcp"),
                      QStringLiteral("Serve on 127.0.0.1:PORT as a serial device server does; 0 picks a free port."),
                      QStringLiteral("PORT")});
    parser.addOption({QStringLiteral("baud"),
                      QStringLiteral("Answer no faster than a line at this baud rate (10 bits a character); "
                                     "0 answers at once. Default: 9600."),
                      QStringLiteral("RATE"), QStringLiteral("9600")});
    parser.addOption({QStringLiteral("answer-delay-ms"),
                      QStringLiteral("The PLC's answer delay (its scan time) per request. Default: 2."),
                      QStringLiteral("MS"), QStringLiteral("2")});
    parser.addOption({QStringLiteral("scan-ms"),
                      QStringLiteral("Run the demo scan program this often (D0, X0..X7, TV0/T0, C200 move); "
                                     "0 keeps memory still. Default: 0."),
                      QStringLiteral("MS"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("byte-limit"),
                      QStringLiteral("Largest byte count of a block read or write; larger ones get NAK. Default: 64."),
                      QStringLiteral("N"), QStringLiteral("64")});
    parser.addOption({QStringLiteral("seed"), QStringLiteral("Seed of the fault generator. Default: 1."),
                      QStringLiteral("N"), QStringLiteral("1")});
    for (const FaultOption& fault : kFaults) {
        const QString name = QLatin1String(fault.name);
        parser.addOption({name, QStringLiteral("Probability (0 to 1) that a reply is hit: %1.").arg(QLatin1String(fault.what)),
                          QStringLiteral("P"), QStringLiteral("0")});
        parser.addOption({name + QStringLiteral("-every"),
                          QStringLiteral("Hit every Nth reply this way (0: never)."), QStringLiteral("N"),
                          QStringLiteral("0")});
    }
    parser.addOption({QStringLiteral("delay-ms"),
                      QStringLiteral("How long a delay fault holds a reply back. Default: 200."),
                      QStringLiteral("MS"), QStringLiteral("200")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Stop after this many seconds. Default: 0, until Ctrl-C."),
                      QStringLiteral("S"), QStringLiteral("0")});
}

// Reads the options into the PLC's and the line's settings; false with a message.
bool simSettings(const QCommandLineParser& parser, VirtualPlcOptions* plc, ServerOptions* line, int* seconds,
                 QString* error)
{
    auto bounded = [&](const char* option, int low, int high, int* value) {
        return boundedOption(parser, QLatin1String(option), low, high, value, error);
    };
    int baud = 0, delayMs = 0, scanMs = 0, seed = 0, faultDelayMs = 0;
    if (!bounded("baud", 0, 4000000, &baud) || !bounded("answer-delay-ms", 0, 60000, &delayMs)
        || !bounded("scan-ms", 0, 60000, &scanMs) || !bounded("byte-limit", 1, 255, &plc->byteLimit)
        || !bounded("seed", 0, 2147483647, &seed) || !bounded("delay-ms", 0, 60000, &faultDelayMs)
        || !bounded("seconds", 0, 1000000, seconds))
        return false;
    line->pacing.baudRate = baud;
    line->pacing.responseDelayUs = qint64(delayMs) * 1000;
    line->scanIntervalMs = scanMs;
    plc->scanProgram = scanMs > 0;
    plc->faults.seed = static_cast<quint32>(seed);
    plc->faults.delayUs = qint64(faultDelayMs) * 1000;
    for (const FaultOption& fault : kFaults) {
        const QString name = QLatin1String(fault.name);
        bool ok = false;
        const double probability = parser.value(name).toDouble(&ok);
        if (!ok || probability < 0.0 || probability > 1.0) {
            *error = QStringLiteral("--%1 \"%2\": expected a probability from 0 to 1").arg(name, parser.value(name));
            return false;
        }
        FaultRule& rule = plc->faults.rule(fault.kind);
        rule.probability = probability;
        const QByteArray every = (name + QStringLiteral("-every")).toLatin1();
        if (!bounded(every.constData(), 0, 1000000, &rule.every))
            return false;
    }
    return true;
}

} // namespace

int runSimCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves the virtual FX PLC on a pseudo-terminal (a host opens the printed /dev/pts/N "
                       "as a serial port) or on a TCP port on 127.0.0.1 (as a serial device server), and "
                       "prints where it listens. Faults are reproducible from --seed.\n"
                       "Example: tavrin sim --tcp 5020 --drop 0.1 --scan-ms 20"));
    parser.addPositionalArgument(QStringLiteral("sim"), QStringLiteral("The command."), QStringLiteral("sim"));
    addSimOptions(parser);
    const int parsed = parseCommandLine(parser, kCommand, arguments);
    if (parsed >= 0)
        return parsed;
    if (parser.positionalArguments().size() > 1)
        return usageError(kCommand, QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().at(1)));
    if (parser.isSet(QStringLiteral("pty")) && parser.isSet(QStringLiteral("tcp")))
        return usageError(kCommand, QStringLiteral("--pty and --tcp exclude each other"));

    VirtualPlcOptions plcOptions;
    ServerOptions lineOptions;
    int seconds = 0;
    int tcpPort = 0;
    QString error;
    if (!simSettings(parser, &plcOptions, &lineOptions, &seconds, &error))
        return usageError(kCommand, error);
    const bool tcp = parser.isSet(QStringLiteral("tcp"));
    if (tcp && !parseBoundedInt(parser.value(QStringLiteral("tcp")), 0, 65535, &tcpPort))
        return usageError(kCommand, QStringLiteral("--tcp \"%1\": expected a port from 0 to 65535").arg(parser.value(QStringLiteral("tcp"))));

    VirtualPlc plc(plcOptions);
    std::unique_ptr<PtyServer> pty;
    std::unique_ptr<TcpServer> server;
    QString where;
    if (tcp) {
        server = std::make_unique<TcpServer>(plc, lineOptions);
        if (!server->open(static_cast<quint16>(tcpPort), &error))
            return failure(kCommand, QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(tcpPort).arg(error));
        where = QStringLiteral("tcp:127.0.0.1:%1").arg(server->port());
    } else {
        pty = std::make_unique<PtyServer>(plc, lineOptions);
        if (!pty->open(&error))
            return failure(kCommand, QStringLiteral("cannot open a pseudo-terminal: %1").arg(error));
        where = pty->devicePath();
    }
    standardOutput() << "listening on " << where << "\n" << Qt::flush;
    if (outputFailed())
        return ExitFailed; // no one can learn where it listens: serving would be for nobody

    QElapsedTimer clock;
    clock.start();
    while (!interrupted() && (seconds == 0 || clock.elapsed() < qint64(seconds) * 1000))
        QThread::msleep(20);
    if (server)
        server->close();
    if (pty)
        pty->close();

    const VirtualPlcCounters counters = plc.counters();
    standardOutput() << "served " << counters.framesReceived << " frames (" << counters.reads << " reads, "
                     << counters.writes << " writes, " << counters.forces << " forces, " << counters.enquiries
                     << " ENQ), NAK for " << counters.badSums + counters.malformed + counters.refused
                     << ", faults injected " << counters.faultsInjected << "\n"
                     << Qt::flush;
    return ExitOk;
}
