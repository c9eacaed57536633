#include "command_support.h"

#include "log_categories.h"
#include "module_instance.h"

#include "virtual_plc.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t interruptFlag = 0;

void onInterrupt(int)
{
    interruptFlag = 1;
}

QTextStream& utf8Stream(FILE* file)
{
    static QTextStream out(stdout);
    static QTextStream err(stderr);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    static bool once = [] {
        out.setCodec("UTF-8");
        err.setCodec("UTF-8");
        return true;
    }();
    Q_UNUSED(once);
#endif
    return file == stdout ? out : err;
}

QString optionValue(const QCommandLineParser& parser, const char* name)
{
    return parser.value(QLatin1String(name));
}

} // namespace

QTextStream& standardOutput()
{
    return utf8Stream(stdout);
}

QTextStream& standardError()
{
    return utf8Stream(stderr);
}

int parseCommandLine(QCommandLineParser& parser, const QString& command, const QStringList& arguments)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    if (!parser.parse(arguments))
        return usageError(command, parser.errorText());
    if (parser.isSet(help)) {
        standardOutput() << parser.helpText() << Qt::flush;
        return ExitOk;
    }
    return -1;
}

int usageError(const QString& command, const QString& message)
{
    standardError() << "tavrin " << command << ": " << message << "\n"
                    << "Run 'tavrin " << command << " --help' for the accepted arguments.\n"
                    << Qt::flush;
    return ExitUsage;
}

int failure(const QString& command, const QString& message)
{
    standardError() << "tavrin " << command << ": " << message << "\n" << Qt::flush;
    return ExitFailed;
}

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
                      QStringLiteral("The PLC's answer allowance: added to the line time of each request "
                                     "to make its timeout. Default: 200 (the PLC's scan watchdog)."),
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
    parser.addOption({QStringLiteral("no-probe"),
                      QStringLiteral("Skip the ENQ probe that checks for a PLC before the first request.")});
}

bool parseBoundedInt(const QString& text, int low, int high, int* value)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v < low || v > high)
        return false;
    *value = static_cast<int>(v);
    return true;
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
        const QString text = optionValue(parser, b.option);
        if (!parseBoundedInt(text, b.low, b.high, b.target)) {
            *error = QStringLiteral("--%1 \"%2\": expected a whole number from %3 to %4")
                         .arg(QLatin1String(b.option), text)
                         .arg(b.low)
                         .arg(b.high);
            return false;
        }
    }
    settings->baud = baud;
    settings->probe = !parser.isSet(QStringLiteral("no-probe"));
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

void addFormatOption(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("format"),
                      QStringLiteral("Value format: %1. int32, uint32 and float take two D words, low "
                                     "word first; float is IEEE 754. Default: bit for bit registers, "
                                     "int16 for data words, int32 for 32-bit counters.")
                          .arg(valueFormatNames()),
                      QStringLiteral("FMT")});
}

bool formatFromOption(const QCommandLineParser& parser, ValueFormat* format, bool* given, QString* error)
{
    *given = parser.isSet(QStringLiteral("format"));
    if (!*given)
        return true;
    const QString name = optionValue(parser, "format");
    if (parseValueFormat(name, format))
        return true;
    *error = QStringLiteral("unknown value format \"%1\": accepted are %2").arg(name, valueFormatNames());
    return false;
}

int parseValueCommandLine(QCommandLineParser& parser, const QString& command, const QStringList& arguments,
                          const QString& noTextsMessage, ValueCommandLine* commandLine,
                          const std::function<bool(const QCommandLineParser&, QString*)>& ownOptions)
{
    addFormatOption(parser);
    addLineOptions(parser);
    addDiagnosticOptions(parser);
    const int parsed = parseCommandLine(parser, command, arguments);
    if (parsed >= 0)
        return parsed;
    applyDiagnosticOptions(parser);

    QString error;
    if (!ModuleInstance::shared(&error))
        return failure(command, error);
    if (!formatFromOption(parser, &commandLine->format, &commandLine->formatGiven, &error)
        || !lineSettingsFromOptions(parser, &commandLine->settings, &error))
        return usageError(command, error);
    if (ownOptions && !ownOptions(parser, &error))
        return usageError(command, error);
    commandLine->texts = parser.positionalArguments().mid(1);
    if (commandLine->texts.isEmpty())
        return usageError(command, noTextsMessage);
    return -1;
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

void installInterruptHandler()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted()
{
    return interruptFlag != 0;
}

namespace {

// Formats that suit a register kind, for the message when one does not.
QString formatsFor(ElementKind element)
{
    QStringList names;
    for (ValueFormat format : {ValueFormat::Bit, ValueFormat::Int16, ValueFormat::Uint16, ValueFormat::Int32,
                               ValueFormat::Uint32, ValueFormat::Float, ValueFormat::Hex}) {
        if (registersPerValue(format, element) > 0)
            names << valueFormatName(format);
    }
    return names.join(QStringLiteral(", "));
}

} // namespace

bool parseValueVariable(const QString& text, ValueFormat format, bool formatGiven, bool allowCount,
                        ValueVariable* variable, QString* error)
{
    QString addressText = text;
    int values = 1;
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        const QString countText = text.mid(colon + 1);
        if (!allowCount) {
            *error = QStringLiteral("\"%1\": a count is not accepted here").arg(text);
            return false;
        }
        if (!parseBoundedInt(countText, 1, 8000, &values)) {
            *error = QStringLiteral("\"%1\": count \"%2\" must be a whole number from 1 to 8000").arg(text, countText);
            return false;
        }
        addressText = text.left(colon);
    }
    // The register kind decides the default format and how many registers a
    // value covers, so look the name up with a one-register check first.
    VariableAddress probe;
    if (!parseVariableAddress(addressText, 1, &probe, error))
        return false;
    const ElementKind element = probe.type->element;
    const ValueFormat chosen = formatGiven ? format : defaultValueFormat(element);
    const int perValue = registersPerValue(chosen, element);
    if (perValue == 0) {
        *error = QStringLiteral("\"%1\": format %2 does not suit this register; accepted are %3")
                     .arg(addressText, valueFormatName(chosen), formatsFor(element));
        return false;
    }
    if (!parseVariableAddress(addressText, values * perValue, &variable->address, error))
        return false;
    variable->format = chosen;
    variable->values = values;
    return true;
}

QStringList ValueVariable::valueTexts(const QByteArray& bytes) const
{
    const ElementKind element = address.type->element;
    const int size = bytesPerValue(format, element);
    QStringList texts;
    for (int k = 0; k < values; ++k)
        texts << decodeValue(bytes.mid(k * size, size), format, element);
    return texts;
}

QStringList ValueVariable::valueLines(const QByteArray& bytes) const
{
    const int perValue = registersPerValue(format, address.type->element);
    const QStringList texts = valueTexts(bytes);
    QStringList lines;
    for (int k = 0; k < texts.size(); ++k)
        lines << QStringLiteral("%1 = %2").arg(address.registerText(k * perValue), texts.at(k));
    return lines;
}
