// tavrin gateway CONFIG: polls the configured PLC lines and serves their
// tags through the faces the file names (MQTT, Modbus TCP, a web page with
// metrics) until SIGINT or SIGTERM.

#include "gateway_command.h"

#include "config_reader.h"
#include "gateway.h"
#include "gateway_log.h"
#include "history_recorder.h"
#include "log_categories.h"
#ifdef TAVRIN_GATEWAY_HTTP
#include "http_face.h"
#endif
#include "modbus_face.h"
#include "module_instance.h"
#include "mqtt_face.h"
#include "sparkplug_face.h"
#include "stored_kept_changes.h"

#include <QCommandLineParser>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

// Exit codes, as the tool's other commands use them.
constexpr int ExitDone = 0;
constexpr int ExitFailed = 1;
constexpr int ExitBadInput = 2;

#ifdef TAVRIN_GATEWAY_HTTP
const char* const kHttpFace = "a live web page with a JSON API and metrics (http:)";
#else
const char* const kHttpFace = "no web page: this build against Qt 5 has no Qt HTTP Server";
#endif

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int)
{
    stopSignal = 1;
}

void printError(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

// "mqtt://127.0.0.1:1883, modbus 127.0.0.1:1502 unit 1, http://127.0.0.1:8080/"
QString faceSummary(const GatewayConfig& config)
{
    QStringList faces;
    if (config.sparkplug.enabled)
        faces << QStringLiteral("Sparkplug B %1/%2").arg(config.sparkplug.groupId, config.sparkplug.edgeNodeId);
    if (config.mqtt.enabled && config.mqtt.json)
        faces << QStringLiteral("%1://%2:%3")
                     .arg(config.mqtt.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), config.mqtt.host)
                     .arg(config.mqtt.port);
    if (config.modbus.enabled)
        faces << QStringLiteral("modbus %1 unit %2").arg(config.modbus.listen.text()).arg(config.modbus.unit);
    if (config.http.enabled)
        faces << QStringLiteral("http://%1/").arg(config.http.listen.text());
    if (config.history.enabled)
        faces << QStringLiteral("history %1").arg(config.history.path);
    return faces.join(QStringLiteral(", "));
}

int tagCount(const GatewayConfig& config)
{
    int tags = 0;
    for (const LineConfig& line : config.lines)
        tags += line.tags.size();
    return tags;
}

// Reads and checks the whole file; prints every mistake.
bool loadConfig(const QString& fileName, GatewayConfig* config)
{
    QStringList errors;
    if (readGatewayConfig(fileName, config, &errors))
        return true;
    for (const QString& error : errors)
        printError(error);
    printError(QStringLiteral("tavrin gateway: %1 %2 in %3; nothing was started")
                   .arg(errors.size())
                   .arg(errors.size() == 1 ? QStringLiteral("mistake") : QStringLiteral("mistakes"), fileName));
    return false;
}

// The faces the file names. Each stops after the lines, so that the writes
// under way are answered through it.
struct Faces {
    std::unique_ptr<HistoryRecorder> history; // what the MQTT face forwards and the web face shows
    std::unique_ptr<MqttFace> mqtt;
    std::unique_ptr<SparkplugFace> sparkplug;
    std::unique_ptr<ModbusFace> modbus;
#ifdef TAVRIN_GATEWAY_HTTP
    std::unique_ptr<HttpFace> http;
#endif

    Faces(const GatewayConfig& config, Gateway& gateway)
    {
        if (config.history.enabled)
            history = std::make_unique<HistoryRecorder>(gateway.config(), gateway.historyCounters());
#ifdef TAVRIN_GATEWAY_HTTP
        if (config.http.enabled) {
            http = std::make_unique<HttpFace>(config.http, gateway);
            http->setHistory(history ? &history->store() : nullptr);
            gateway.addListener(http.get());
        }
#endif
        if (config.mqtt.enabled && config.mqtt.json) {
            mqtt = std::make_unique<MqttFace>(config.mqtt, gateway);
            // The MQTT face records each change itself, in the order it
            // publishes or misses them (mqtt_face.h).
            mqtt->setHistory(history.get());
            gateway.addListener(mqtt.get());
        } else if (history) {
            gateway.addListener(history.get());
        }
        if (config.sparkplug.enabled) {
            // With a history store, what the primary host missed outlives a restart.
            std::unique_ptr<KeptChanges> kept;
            if (history && !config.sparkplug.primaryHostId.isEmpty())
                kept = std::make_unique<StoredKeptChanges>(*history, gateway.config());
            else
                kept = std::make_unique<MemoryKeptChanges>();
            sparkplug = std::make_unique<SparkplugFace>(config.mqtt, config.sparkplug, gateway, std::move(kept));
            gateway.addListener(sparkplug.get());
        }
        if (config.modbus.enabled)
            modbus = std::make_unique<ModbusFace>(config.modbus, gateway);
    }

    // The faces that listen take their addresses; false with the message
    // that names the one that cannot be taken.
    bool listen(QString* error)
    {
        if (history && !history->start(error))
            return false;
        if (modbus && !modbus->start(error))
            return false;
#ifdef TAVRIN_GATEWAY_HTTP
        if (http && !http->start(error))
            return false;
#endif
        return true;
    }

    // The faces that connect out: the broker, for JSON and for Sparkplug B.
    bool connect(QString* error)
    {
        return (!mqtt || mqtt->start(error)) && (!sparkplug || sparkplug->start(error));
    }

    void stop()
    {
#ifdef TAVRIN_GATEWAY_HTTP
        if (http)
            http->stop();
#endif
        if (modbus)
            modbus->stop();
        if (mqtt)
            mqtt->stop();
        if (sparkplug)
            sparkplug->stop();
        if (history)
            history->stop();
    }
};

int serve(const GatewayConfig& config)
{
    Gateway gateway(config);
    Faces faces(config, gateway);
    QString error;
    // Every listening address is taken first, so that one in use stops the
    // gateway before it polls a PLC or connects to the broker; the faces
    // see the lines offline until they start. Then the lines, then the broker.
    if (!gateway.load(&error) || !faces.listen(&error) || !gateway.start(&error) || !faces.connect(&error)) {
        gateway.stop(); // before the faces go: the lines tell them of every change
        faces.stop();
        printError(QStringLiteral("tavrin gateway: %1").arg(error));
        return ExitFailed;
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    while (!stopSignal)
        QThread::msleep(50);
    logInfo(QStringLiteral("stopping: finishing the writes under way"));
    gateway.stop();
    faces.stop();
    logInfo(QStringLiteral("stopped"));
    return ExitDone;
}

} // namespace

int runGatewayCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Polls the PLC lines of a configuration file and serves their tags through the faces the file "
                       "names: an MQTT broker (mqtt:; retained values with quality and time, writes through "
                       "PREFIX/LINE/TAG/set), a Sparkplug B edge node (sparkplug:; each line a device, each tag a metric), a Modbus TCP server (modbus:; tags mapped to coils, discrete inputs, "
                       "input and holding registers) and %1. Runs until SIGINT or SIGTERM. The whole file is checked "
                       "before anything connects. See docs/gateway.md.\n")
            .arg(QLatin1String(kHttpFace))
            + QStringLiteral(
                       "Example: tavrin gateway /etc/tavrin/gateway.yaml"));
    parser.addPositionalArgument(QStringLiteral("gateway"), QStringLiteral("The command."), QStringLiteral("gateway"));
    parser.addPositionalArgument(QStringLiteral("CONFIG"), QStringLiteral("The configuration file (YAML)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Checks the configuration file and exits: 0 when it is good."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Adds what the host does with each line (open, probe, give-ups)."));
    const QCommandLineOption trace(QStringLiteral("trace"), QStringLiteral("Adds every frame each way on every line."));
    parser.addOptions({help, check, verbose, trace});
    if (!parser.parse(arguments)) {
        printError(QStringLiteral("tavrin gateway: %1\nRun 'tavrin gateway --help' for the accepted arguments.")
                       .arg(parser.errorText()));
        return ExitBadInput;
    }
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return ExitDone;
    }
    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != 1) {
        printError(QStringLiteral("tavrin gateway: expected one configuration file, such as tavrin gateway "
                                  "gateway.yaml\nRun 'tavrin gateway --help' for the accepted arguments."));
        return ExitBadInput;
    }
    enableHostDiagnostics(parser.isSet(verbose), parser.isSet(trace));

    QString error;
    if (!ModuleInstance::shared(&error)) {
        printError(QStringLiteral("tavrin gateway: %1").arg(error));
        return ExitFailed;
    }
    GatewayConfig config;
    if (!loadConfig(positional.first(), &config))
        return ExitBadInput;
    if (parser.isSet(check)) {
        std::printf("%s: good: %d line(s), %d tag(s); serves %s\n", positional.first().toUtf8().constData(),
                    static_cast<int>(config.lines.size()), tagCount(config), faceSummary(config).toUtf8().constData());
        return ExitDone;
    }
    return serve(config);
}
