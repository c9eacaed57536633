#include "port_options.h"
#include "virtual_plc_line.h"

#include "command_line.h"
#include "log_categories.h"

#include "virtual_plc.h"

namespace {

QString optionValue(const QCommandLineParser& parser, const char* name)
{
    return parser.value(QLatin1String(name));
}

} // namespace

void addLineOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("The line to the PLC's programming port: a serial device such as "
                                     "/dev/ttyUSB0 (or a pseudo-terminal), or tcp:HOST:PORT for a serial "
                                     "device server on the network carrying the port's bytes (not the "
                                     "PLC's own Ethernet port, which speaks another protocol). "
                                     "Default: the built-in virtual PLC."),
                      QStringLiteral("PATH|tcp:HOST:PORT")});
    parser.addOption({QStringLiteral("baud"),
                      QStringLiteral("Baud rate of the serial line (7 data bits, even parity, 1 stop bit). "
                                     "Timeouts follow it. Default: 9600."),
                      QStringLiteral("RATE"), QStringLiteral("9600")});
    parser.addOption({QStringLiteral("timeout-ms"),
                      QStringLiteral("The PLC's answer allowance, fixed: added to the line time of each request "
                                     "to make its timeout. Default: 200 (the PLC's scan watchdog), then "
                                     "following the PLC's pace as measured."),
                      QStringLiteral("MS"), QStringLiteral("200")});
    parser.addOption({QStringLiteral("retries"),
                      QStringLiteral("Failed replies tolerated before a request is given up. Default: 3."),
                      QStringLiteral("N"), QStringLiteral("3")});
    parser.addOption({QStringLiteral("block-size"),
                      QStringLiteral("Largest request block: bytes of bits, or 16-bit words (%1 to %2). "
                                     "Default: %3, which keeps every request within the PLC's 64-byte limit.")
                          .arg(MinBlockSize)
                          .arg(MaxBlockSize)
                          .arg(DefaultBlockSize),
                      QStringLiteral("N"), QString::number(DefaultBlockSize)});
    parser.addOption({QStringLiteral("station"),
                      QStringLiteral("Station number given to the module's items. Default: 0."),
                      QStringLiteral("N"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("planner"),
                      QStringLiteral("How variables become read blocks: cost (the fewest characters and waits "
                                     "for the line) or module (the module's own merge, blocks of --block-size). "
                                     "Default: cost."),
                      QStringLiteral("cost|module"), QStringLiteral("cost")});
    parser.addOption({QStringLiteral("turnaround-ms"),
                      QStringLiteral("The PLC's answer delay plus the line's latency per frame, as the cost "
                                     "planner prices it. Default: measured on the line."),
                      QStringLiteral("MS")});
    parser.addOption({QStringLiteral("no-probe"),
                      QStringLiteral("Skip the ENQ probe that checks for a PLC before the first request.")});
}

bool lineSettingsFromOptions(const QCommandLineParser& parser, LineSettings* settings, QString* error)
{
    settings->port = PortAddress();
    if (parser.isSet(QStringLiteral("port")) && !parsePortOption(optionValue(parser, "port"), &settings->port, error)) {
        *error = QStringLiteral("--port: ") + *error;
        return false;
    }
    struct Bounded {
        const char* option;
        int low;
        int high;
        int* target;
    };
    int baud = 0;
    const Bounded bounded[] = {
        {"baud", 300, 4000000, &baud},
        {"timeout-ms", 0, 60000, &settings->answerAllowanceMs},
        {"retries", 0, 100, &settings->retries},
        {"block-size", MinBlockSize, MaxBlockSize, &settings->blockSize},
        {"station", 0, 255, &settings->station},
    };
    for (const Bounded& b : bounded) {
        if (!boundedOption(parser, QLatin1String(b.option), b.low, b.high, b.target, error))
            return false;
    }
    settings->baud = baud;
    settings->learnPace = !parser.isSet(QStringLiteral("timeout-ms"));
    settings->probe = !parser.isSet(QStringLiteral("no-probe"));
    const QString planner = optionValue(parser, "planner");
    if (planner != QLatin1String("cost") && planner != QLatin1String("module")) {
        *error = QStringLiteral("--planner \"%1\": accepted are cost and module").arg(planner);
        return false;
    }
    settings->planning = planner == QLatin1String("module") ? ReadPlanning::Module : ReadPlanning::Cost;
    settings->turnaroundMs = -1;
    if (parser.isSet(QStringLiteral("turnaround-ms"))
        && !boundedOption(parser, QStringLiteral("turnaround-ms"), 0, 10000, &settings->turnaroundMs, error))
        return false;
    return true;
}

void addDiagnosticOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("trace"),
                      QStringLiteral("Prints every frame each way in hex and as text, with its meaning "
                                     "(command, address, register, count, result).")});
    parser.addOption({QStringLiteral("verbose"),
                      QStringLiteral("Prints what the host does with the line (open, probe, give-ups).")});
}

void applyDiagnosticOptions(const QCommandLineParser& parser)
{
    enableHostDiagnostics(parser.isSet(QStringLiteral("verbose")), parser.isSet(QStringLiteral("trace")));
}

std::unique_ptr<HostRuntime> startRuntime(const LineSettings& settings, std::shared_ptr<VirtualPlc> plc,
                                          bool paced, QString* error)
{
    if (!plc)
        plc = std::make_shared<VirtualPlc>();
    auto runtime = std::make_unique<HostRuntime>(
        [settings, plc, paced] { return makeLine(settings, plc, paced); }, settings);
    if (!runtime->start(error))
        return nullptr;
    return runtime;
}


void reportLateReplies(HostRuntime& runtime, const QString& command)
{
    for (const LineEvent& event : runtime.takeLineEvents()) {
        if (event.kind == LineEvent::Kind::LateReply)
            standardError() << "tavrin " << command << ": " << event.text << "\n" << Qt::flush;
    }
}
