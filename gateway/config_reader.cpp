#include "config_reader.h"

#include "modbus_map.h"
#include "poll_period.h"
#include "topic_names.h"

#include <yaml-cpp/yaml.h>

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Larger files are not configurations, and reading them could take long.
constexpr qint64 MaxFileBytes = 1 << 20;
// One runtime and one copy of the module per line.
constexpr int MaxLines = 64;
constexpr int MaxValuesPerTag = 1000;

// The keys a section accepts. A face that joins the gateway adds its own rows.
struct KeyRule {
    const char* key;
    bool required;
};

const KeyRule kTopKeys[] = {{"mqtt", false}, {"sparkplug", false}, {"modbus", false}, {"http", false}, {"history", false}, {"lines", true}};
const KeyRule kMqttKeys[] = {
    {"url", false},      {"prefix", false},   {"client_id", false}, {"username", false},
    {"password", false}, {"ca_file", false},  {"cert_file", false}, {"key_file", false},
    {"qos", false},      {"keepalive_s", false}, {"forward_rate", false}, {"json", false},
};
const KeyRule kSparkplugKeys[] = {
    {"group_id", true}, {"edge_node_id", true}, {"primary_host_id", false}, {"bdseq_file", false},
};
const KeyRule kModbusKeys[] = {{"listen", false}, {"unit", false}};
const KeyRule kHttpKeys[] = {{"listen", false}, {"token", false}};
const KeyRule kHistoryKeys[] = {{"path", true}, {"keep_days", false}, {"max_mb", false}};
const KeyRule kLineKeys[] = {
    {"name", true},       {"port", true},    {"baud", false},  {"timeout_ms", false}, {"retries", false},
    {"block_size", false}, {"station", false}, {"probe", false}, {"tags", true},
};
// The mapping keys follow modbusTableRules(), in its order.
const KeyRule kTagKeys[] = {
    {"name", true},      {"address", true},        {"format", false},         {"count", false},
    {"writable", false}, {"deadband", false},      {"coil", false},           {"discrete_input", false},
    {"input_register", false}, {"holding", false},         {"every", false},
};

// A token travels in a header: visible ASCII, long enough not to be guessed.
constexpr int MinTokenLength = 16;
constexpr int MaxTokenLength = 256;

struct Bounds {
    int low;
    int high;
};

QString fromYaml(const std::string& text)
{
    return QString::fromStdString(text);
}

bool isNumeric(ValueFormat format)
{
    return format != ValueFormat::Bit && format != ValueFormat::Hex;
}

class Reader {
public:
    Reader(const QString& fileName, QStringList* errors) : fileName_(fileName), errors_(errors) {}

    void read(const YAML::Node& root, GatewayConfig* config);

private:
    void report(const YAML::Mark& at, const QString& message);
    template <size_t N>
    void checkKeys(const YAML::Node& map, const KeyRule (&rules)[N], const QString& what);
    bool isMap(const YAML::Node& node, const QString& what);

    // The scalar under `key`: nothing when it is absent, or not a single
    // value (then reported).
    std::optional<QString> scalar(const YAML::Node& map, const char* key);
    void readText(const YAML::Node& map, const char* key, QString* out);
    void readInt(const YAML::Node& map, const char* key, Bounds bounds, int* out);
    void readBool(const YAML::Node& map, const char* key, bool* out);
    void readName(const YAML::Node& map, const QString& what, QString* out);

    void readMqtt(const YAML::Node& node, MqttConfig* mqtt);
    void readSparkplug(const YAML::Node& root, SparkplugConfig* sparkplug);
    void readSparkplugId(const YAML::Node& map, const char* key, QString* out);
    void readModbus(const YAML::Node& node, ModbusConfig* modbus);
    void readHttp(const YAML::Node& node, HttpConfig* http);
    void readHistory(const YAML::Node& node, HistoryConfig* history);
    void readListen(const YAML::Node& map, ListenAddress* out);
#ifdef TAVRIN_GATEWAY_HTTP
    void readToken(const YAML::Node& map, QString* out);
#endif
    void readModbusMapping(const YAML::Node& node, TagConfig* tag);
    void checkModbusMappings(const YAML::Node& root, const GatewayConfig& config);
    void readUrl(const YAML::Node& map, MqttConfig* mqtt);
    void readFileName(const YAML::Node& map, const char* key, QString* out);
    void readLines(const YAML::Node& node, QVector<LineConfig>* lines);
    void readLine(const YAML::Node& node, LineConfig* line);
    void readTags(const YAML::Node& node, LineConfig* line);
    bool readTag(const YAML::Node& node, int blockSize, TagConfig* tag);
    bool readTagAddress(const YAML::Node& node, TagConfig* tag);
    void readDeadband(const YAML::Node& node, TagConfig* tag);
    void readEvery(const YAML::Node& node, TagConfig* tag);

    QString fileName_;
    QStringList* errors_;
};

void Reader::report(const YAML::Mark& at, const QString& message)
{
    if (at.is_null())
        *errors_ << QStringLiteral("%1: %2").arg(fileName_, message);
    else
        *errors_ << QStringLiteral("%1:%2:%3: %4").arg(fileName_).arg(at.line + 1).arg(at.column + 1).arg(message);
}

template <size_t N>
void Reader::checkKeys(const YAML::Node& map, const KeyRule (&rules)[N], const QString& what)
{
    QStringList accepted;
    for (const KeyRule& rule : rules)
        accepted << QLatin1String(rule.key);
    QHash<QString, int> seenOnLine;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const YAML::Node key = it->first;
        const QString name = key.IsScalar() ? fromYaml(key.Scalar()) : QString();
        if (!accepted.contains(name)) {
            report(key.Mark(), QStringLiteral("unknown key \"%1\" in %2; accepted are %3")
                                   .arg(name, what, accepted.join(QStringLiteral(", "))));
        } else if (seenOnLine.contains(name)) {
            report(key.Mark(), QStringLiteral("\"%1\" is given twice in %2 (first on line %3)")
                                   .arg(name, what)
                                   .arg(seenOnLine.value(name)));
        }
        seenOnLine.insert(name, key.Mark().line + 1);
    }
    for (const KeyRule& rule : rules) {
        if (rule.required && !seenOnLine.contains(QLatin1String(rule.key)))
            report(map.Mark(), QStringLiteral("%1 lacks \"%2\"").arg(what, QLatin1String(rule.key)));
    }
}

bool Reader::isMap(const YAML::Node& node, const QString& what)
{
    if (node.IsMap())
        return true;
    report(node.Mark(), QStringLiteral("expected %1 as keys and values (key: value)").arg(what));
    return false;
}

std::optional<QString> Reader::scalar(const YAML::Node& map, const char* key)
{
    const YAML::Node value = map[key];
    if (!value.IsDefined())
        return std::nullopt;
    if (!value.IsScalar()) {
        report(value.Mark(), QStringLiteral("\"%1\": expected a single value").arg(QLatin1String(key)));
        return std::nullopt;
    }
    return fromYaml(value.Scalar());
}

void Reader::readText(const YAML::Node& map, const char* key, QString* out)
{
    if (const auto text = scalar(map, key)) {
        if (text->isEmpty())
            report(map[key].Mark(), QStringLiteral("\"%1\" is empty").arg(QLatin1String(key)));
        else
            *out = *text;
    }
}

void Reader::readInt(const YAML::Node& map, const char* key, Bounds bounds, int* out)
{
    const auto text = scalar(map, key);
    if (!text)
        return;
    bool ok = false;
    const qlonglong value = text->toLongLong(&ok, 10);
    if (ok && value >= bounds.low && value <= bounds.high) {
        *out = static_cast<int>(value);
        return;
    }
    report(map[key].Mark(), QStringLiteral("%1 \"%2\": expected a whole number from %3 to %4")
                                .arg(QLatin1String(key), *text)
                                .arg(bounds.low)
                                .arg(bounds.high));
}

void Reader::readBool(const YAML::Node& map, const char* key, bool* out)
{
    const auto text = scalar(map, key);
    if (!text)
        return;
    const QString t = text->toLower();
    if (t == QLatin1String("true") || t == QLatin1String("yes"))
        *out = true;
    else if (t == QLatin1String("false") || t == QLatin1String("no"))
        *out = false;
    else
        report(map[key].Mark(), QStringLiteral("%1 \"%2\": expected true or false").arg(QLatin1String(key), *text));
}

void Reader::readName(const YAML::Node& map, const QString& what, QString* out)
{
    const auto text = scalar(map, "name");
    if (!text)
        return;
    QString problem;
    if (!checkTopicLevelName(*text, what, &problem))
        report(map["name"].Mark(), problem);
    else
        *out = *text;
}

void Reader::read(const YAML::Node& root, GatewayConfig* config)
{
    const QString sections = QStringLiteral("the section lines: and at least one of mqtt:, modbus:, http:");
    if (!root.IsDefined() || root.IsNull()) {
        report(YAML::Mark::null_mark(), QStringLiteral("the file holds nothing: expected %1").arg(sections));
        return;
    }
    if (!isMap(root, sections))
        return;
    checkKeys(root, kTopKeys, QStringLiteral("the file"));
    if (!root["mqtt"].IsDefined() && !root["modbus"].IsDefined() && !root["http"].IsDefined())
        report(root.Mark(), QStringLiteral("the file serves the lines nowhere: expected at least one of mqtt:, modbus:, http:"));
    if (root["mqtt"].IsDefined())
        readMqtt(root["mqtt"], &config->mqtt);
    if (root["sparkplug"].IsDefined())
        readSparkplug(root, &config->sparkplug);
    if (config->mqtt.enabled && !config->mqtt.json && !config->sparkplug.enabled)
        report(root["mqtt"].Mark(), QStringLiteral("mqtt: json: false and no sparkplug: section: nothing would be "
                                                   "published to the broker"));
    if (root["modbus"].IsDefined())
        readModbus(root["modbus"], &config->modbus);
    if (root["http"].IsDefined())
        readHttp(root["http"], &config->http);
    if (root["history"].IsDefined())
        readHistory(root["history"], &config->history);
    if (root["lines"].IsDefined())
        readLines(root["lines"], &config->lines);
    checkModbusMappings(root, *config);
}

void Reader::readMqtt(const YAML::Node& node, MqttConfig* mqtt)
{
    if (!isMap(node, QStringLiteral("the broker's settings under mqtt:")))
        return;
    mqtt->enabled = true;
    checkKeys(node, kMqttKeys, QStringLiteral("mqtt:"));
    readUrl(node, mqtt);
    if (const auto prefix = scalar(node, "prefix")) {
        QString problem;
        if (checkTopicPrefix(*prefix, &problem))
            mqtt->prefix = *prefix;
        else
            report(node["prefix"].Mark(), problem);
    }
    mqtt->clientId = QStringLiteral("tavrin-%1").arg(QSysInfo::machineHostName());
    readText(node, "client_id", &mqtt->clientId);
    readText(node, "username", &mqtt->username);
    readText(node, "password", &mqtt->password);
    if (!mqtt->password.isEmpty() && mqtt->username.isEmpty())
        report(node["password"].Mark(), QStringLiteral("a password needs a username"));
    readFileName(node, "ca_file", &mqtt->caFile);
    readFileName(node, "cert_file", &mqtt->certFile);
    readFileName(node, "key_file", &mqtt->keyFile);
    if (mqtt->certFile.isEmpty() != mqtt->keyFile.isEmpty())
        report(node.Mark(), QStringLiteral("cert_file and key_file go together: give both or neither"));
    const bool tlsKeys = !mqtt->caFile.isEmpty() || !mqtt->certFile.isEmpty();
    if (tlsKeys && !mqtt->tls)
        report(node.Mark(), QStringLiteral("ca_file, cert_file and key_file need an mqtts:// url"));
    readInt(node, "qos", {0, 2}, &mqtt->qos);
    readInt(node, "keepalive_s", {5, 3600}, &mqtt->keepAliveS);
    readInt(node, "forward_rate", {1, 100000}, &mqtt->forwardRate);
    readBool(node, "json", &mqtt->json);
    if (mqtt->json && !node["prefix"].IsDefined())
        report(node.Mark(), QStringLiteral("mqtt: lacks \"prefix\" (the JSON topics need it; json: false turns them off)"));
}

// Needs the mqtt: section: the edge node uses its broker, credentials and TLS.
void Reader::readSparkplug(const YAML::Node& root, SparkplugConfig* sparkplug)
{
    const YAML::Node node = root["sparkplug"];
    if (!isMap(node, QStringLiteral("the edge node's settings under sparkplug:")))
        return;
    sparkplug->enabled = true;
    checkKeys(node, kSparkplugKeys, QStringLiteral("sparkplug:"));
    if (!root["mqtt"].IsDefined())
        report(node.Mark(), QStringLiteral("sparkplug: needs an mqtt: section for its broker (url, credentials, TLS)"));
    readSparkplugId(node, "group_id", &sparkplug->groupId);
    readSparkplugId(node, "edge_node_id", &sparkplug->edgeNodeId);
    readSparkplugId(node, "primary_host_id", &sparkplug->primaryHostId);
    readText(node, "bdseq_file", &sparkplug->bdSeqFile);
    const QFileInfo bdSeqFile(sparkplug->bdSeqFile);
    if (!sparkplug->bdSeqFile.isEmpty() && !bdSeqFile.absoluteDir().exists())
        report(node["bdseq_file"].Mark(), QStringLiteral("bdseq_file \"%1\": no folder %2 to keep it in")
                                              .arg(sparkplug->bdSeqFile, bdSeqFile.absolutePath()));
}

// A Sparkplug id is one topic level: any UTF-8 text but '/', '+' and '#'.
void Reader::readSparkplugId(const YAML::Node& map, const char* key, QString* out)
{
    const auto text = scalar(map, key);
    if (!text)
        return;
    const bool reserved = text->contains(QLatin1Char('/')) || text->contains(QLatin1Char('+'))
        || text->contains(QLatin1Char('#')) || text->contains(QChar(0));
    if (text->isEmpty() || reserved) {
        report(map[key].Mark(), QStringLiteral("%1 \"%2\": expected a Sparkplug id: one topic level, not empty, "
                                               "without '/', '+' or '#'")
                                    .arg(QLatin1String(key), *text));
        return;
    }
    *out = *text;
}

void Reader::readHistory(const YAML::Node& node, HistoryConfig* history)
{
    if (!isMap(node, QStringLiteral("the history store's settings under history:")))
        return;
    history->enabled = true;
    checkKeys(node, kHistoryKeys, QStringLiteral("history:"));
    readText(node, "path", &history->path);
    const QFileInfo file(history->path);
    if (!history->path.isEmpty() && !QFileInfo(file.absolutePath()).isDir())
        report(node["path"].Mark(), QStringLiteral("path \"%1\": no folder %2 for the history file")
                                        .arg(history->path, file.absolutePath()));
    readInt(node, "keep_days", {1, 3650}, &history->keepDays);
    readInt(node, "max_mb", {1, 1000000}, &history->maxMb);
}

void Reader::readModbus(const YAML::Node& node, ModbusConfig* modbus)
{
    // "modbus:" alone, with nothing under it, takes the defaults.
    if (!node.IsNull() && !isMap(node, QStringLiteral("the Modbus server's settings under modbus:")))
        return;
    modbus->enabled = true;
    if (node.IsNull())
        return;
    checkKeys(node, kModbusKeys, QStringLiteral("modbus:"));
    readListen(node, &modbus->listen);
    readInt(node, "unit", {1, 255}, &modbus->unit);
}

void Reader::readHttp(const YAML::Node& node, HttpConfig* http)
{
#ifndef TAVRIN_GATEWAY_HTTP
    report(node.Mark(), QStringLiteral("http: this tavrin was built against Qt 5, which has no Qt HTTP Server: the "
                                       "web page and metrics need a build against Qt 6; leave http: out here"));
    (void)http;
#else
    if (!node.IsNull() && !isMap(node, QStringLiteral("the web page's settings under http:")))
        return;
    http->enabled = true;
    if (node.IsNull())
        return;
    checkKeys(node, kHttpKeys, QStringLiteral("http:"));
    readListen(node, &http->listen);
    readToken(node, &http->token);
#endif
}

void Reader::readListen(const YAML::Node& map, ListenAddress* out)
{
    const auto text = scalar(map, "listen");
    if (!text)
        return;
    // HOST:PORT, the host an IP address, an IPv6 one in brackets.
    const int colon = text->lastIndexOf(QLatin1Char(':'));
    QString host = text->left(colon);
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    bool portOk = false;
    const int port = text->mid(colon + 1).toInt(&portOk, 10);
    const QHostAddress address(host);
    const bool good = colon > 0 && portOk && port >= 1 && port <= 65535 && !address.isNull()
        && bracketed == (address.protocol() == QAbstractSocket::IPv6Protocol);
    if (!good) {
        report(map["listen"].Mark(), QStringLiteral("listen \"%1\": expected ADDRESS:PORT with an IP address and a port "
                                                    "of 1 to 65535, such as 127.0.0.1:%2 or [::1]:%2")
                                         .arg(*text)
                                         .arg(out->port));
        return;
    }
    *out = ListenAddress{address.toString(), port};
}

#ifdef TAVRIN_GATEWAY_HTTP
void Reader::readToken(const YAML::Node& map, QString* out)
{
    const auto text = scalar(map, "token");
    if (!text)
        return;
    const bool visibleAscii = std::all_of(text->begin(), text->end(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
    if (!visibleAscii || text->size() < MinTokenLength || text->size() > MaxTokenLength) {
        report(map["token"].Mark(), QStringLiteral("token: expected %1 to %2 visible ASCII characters, no spaces "
                                                   "(openssl rand -hex 16 makes one)")
                                        .arg(MinTokenLength)
                                        .arg(MaxTokenLength));
        return;
    }
    *out = *text;
}
#endif

void Reader::readUrl(const YAML::Node& map, MqttConfig* mqtt)
{
    const auto text = scalar(map, "url");
    if (!text)
        return;
    const QUrl url(*text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    const bool knownScheme = scheme == QLatin1String("mqtt") || scheme == QLatin1String("mqtts");
    const bool plain = url.isValid() && knownScheme && !url.host().isEmpty() && url.userInfo().isEmpty()
        && (url.path().isEmpty() || url.path() == QLatin1String("/")) && !url.hasQuery() && !url.hasFragment();
    if (!plain) {
        QString hint;
        if (!url.userInfo().isEmpty())
            hint = QStringLiteral("; give the user and password as username: and password:");
        report(map["url"].Mark(), QStringLiteral("url \"%1\": expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]%2")
                                      .arg(*text, hint));
        return;
    }
    mqtt->tls = scheme == QLatin1String("mqtts");
    mqtt->host = url.host();
    mqtt->port = url.port(mqtt->tls ? 8883 : 1883);
}

void Reader::readFileName(const YAML::Node& map, const char* key, QString* out)
{
    const auto text = scalar(map, key);
    if (!text)
        return;
    const QFileInfo file(*text);
    if (!file.isFile() || !file.isReadable()) {
        report(map[key].Mark(), QStringLiteral("%1 \"%2\": no readable file there").arg(QLatin1String(key), *text));
        return;
    }
    *out = *text;
}

void Reader::readLines(const YAML::Node& node, QVector<LineConfig>* lines)
{
    if (!node.IsSequence() || node.size() == 0) {
        report(node.Mark(), QStringLiteral("lines: expected a list of PLC lines, each \"- name: ...\""));
        return;
    }
    if (node.size() > MaxLines) {
        report(node.Mark(), QStringLiteral("lines: %1 lines; one gateway polls at most %2").arg(node.size()).arg(MaxLines));
        return;
    }
    QHash<QString, int> nameLines;
    QHash<QString, int> portLines;
    for (const YAML::Node& entry : node) {
        LineConfig line;
        readLine(entry, &line);
        const int at = entry.Mark().line + 1;
        if (!line.name.isEmpty() && nameLines.contains(line.name))
            report(entry["name"].Mark(), QStringLiteral("line name \"%1\" is taken by the line on line %2")
                                             .arg(line.name)
                                             .arg(nameLines.value(line.name)));
        if (!line.portText.isEmpty() && portLines.contains(line.portText))
            report(entry["port"].Mark(), QStringLiteral("port \"%1\" is polled by the line on line %2 already: "
                                                        "one PLC per port, one host per PLC")
                                             .arg(line.portText)
                                             .arg(portLines.value(line.portText)));
        nameLines.insert(line.name, at);
        portLines.insert(line.portText, at);
        lines->append(line);
    }
}

void Reader::readLine(const YAML::Node& node, LineConfig* line)
{
    if (!isMap(node, QStringLiteral("a line")))
        return;
    checkKeys(node, kLineKeys, QStringLiteral("a line"));
    readName(node, QStringLiteral("line"), &line->name);
    if (const auto port = scalar(node, "port")) {
        QString error;
        if (parsePortOption(*port, &line->settings.port, &error))
            line->portText = *port;
        else
            report(node["port"].Mark(), error);
    }
    LineSettings& settings = line->settings;
    readInt(node, "baud", {300, 4000000}, &settings.baud);
    readInt(node, "timeout_ms", {0, 60000}, &settings.answerAllowanceMs);
    settings.learnPace = !node["timeout_ms"].IsDefined(); // given: fixed; else it follows the PLC
    readInt(node, "retries", {0, 100}, &settings.retries);
    readInt(node, "block_size", {MinBlockSize, MaxBlockSize}, &settings.blockSize);
    readInt(node, "station", {0, 255}, &settings.station);
    readBool(node, "probe", &settings.probe);
    if (node["tags"].IsDefined())
        readTags(node["tags"], line);
}

void Reader::readTags(const YAML::Node& node, LineConfig* line)
{
    if (!node.IsSequence() || node.size() == 0) {
        report(node.Mark(), QStringLiteral("tags: expected a list of tags, each \"- { name: ..., address: ... }\""));
        return;
    }
    QHash<QString, int> nameLines;
    for (const YAML::Node& entry : node) {
        TagConfig tag;
        if (!readTag(entry, line->settings.blockSize, &tag))
            continue;
        if (nameLines.contains(tag.name)) {
            report(entry["name"].Mark(), QStringLiteral("tag name \"%1\" is taken by the tag on line %2")
                                             .arg(tag.name)
                                             .arg(nameLines.value(tag.name)));
            continue;
        }
        nameLines.insert(tag.name, tag.line);
        line->tags.append(tag);
    }
}

bool Reader::readTag(const YAML::Node& node, int blockSize, TagConfig* tag)
{
    if (!isMap(node, QStringLiteral("a tag")))
        return false;
    const int errorsBefore = errors_->size();
    tag->line = node.Mark().line + 1;
    checkKeys(node, kTagKeys, QStringLiteral("a tag"));
    readName(node, QStringLiteral("tag"), &tag->name);
    readInt(node, "count", {1, MaxValuesPerTag}, &tag->count);
    readBool(node, "writable", &tag->writable);
    readEvery(node, tag);
    if (readTagAddress(node, tag)) {
        readDeadband(node, tag);
        readModbusMapping(node, tag);
        if (tag->writable && !tag->address.type->writable)
            report(node["writable"].Mark(), QStringLiteral("\"%1\": the inputs X are driven by the hardware and "
                                                           "cannot be written")
                                                .arg(tag->address.text));
        // A write of one value is one item of the module's write list.
        if (tag->writable && tag->registersPerValue() > blockSize)
            report(node["writable"].Mark(), QStringLiteral("a value of this tag does not fit block_size %1").arg(blockSize));
    }
    return errors_->size() == errorsBefore;
}

bool Reader::readTagAddress(const YAML::Node& node, TagConfig* tag)
{
    const auto text = scalar(node, "address");
    if (!text)
        return false;
    const YAML::Mark at = node["address"].Mark();
    // The register kind decides the default format and how many registers
    // a value covers, so the address is first checked for one register.
    VariableAddress first;
    QString error;
    if (!parseVariableAddress(*text, 1, &first, &error)) {
        report(at, QStringLiteral("address %1").arg(error));
        return false;
    }
    const ElementKind element = first.type->element;
    tag->format = defaultValueFormat(element);
    if (const auto formatText = scalar(node, "format")) {
        if (!parseValueFormat(*formatText, &tag->format)) {
            report(node["format"].Mark(), QStringLiteral("format \"%1\": accepted are %2").arg(*formatText, valueFormatNames()));
            return false;
        }
        if (registersPerValue(tag->format, element) == 0) {
            report(node["format"].Mark(), QStringLiteral("format %1 does not suit %2; accepted are %3")
                                              .arg(*formatText, *text, suitingFormatNames(element)));
            return false;
        }
    }
    const int registers = tag->count * registersPerValue(tag->format, element);
    if (!parseVariableAddress(*text, registers, &tag->address, &error)) {
        report(at, QStringLiteral("address with %1 registers: %2").arg(registers).arg(error));
        return false;
    }
    return true;
}

void Reader::readModbusMapping(const YAML::Node& node, TagConfig* tag)
{
    // The mapping keys the tag has, in the order of the file.
    QVector<const ModbusTableRule*> given;
    for (int k = 0; k < ModbusTableCount; ++k) {
        if (node[modbusTableRules()[k].key].IsDefined())
            given.append(&modbusTableRules()[k]);
    }
    const auto position = [&](const ModbusTableRule* rule) {
        const YAML::Mark mark = node[rule->key].Mark();
        return std::make_pair(mark.line, mark.column);
    };
    std::sort(given.begin(), given.end(), [&](auto* a, auto* b) { return position(a) < position(b); });
    if (given.isEmpty())
        return;
    if (given.size() > 1) {
        report(node[given.at(1)->key].Mark(), QStringLiteral("%1: this tag is mapped by %2: already; a tag takes one of "
                                                             "coil:, discrete_input:, input_register:, holding:")
                                                  .arg(QLatin1String(given.at(1)->key), QLatin1String(given.at(0)->key)));
        return;
    }
    const ModbusTableRule* rule = given.first();
    const YAML::Mark at = node[rule->key].Mark();
    const QString key = QLatin1String(rule->key);
    int address = -1;
    readInt(node, rule->key, {0, 65535}, &address);
    if (address < 0)
        return;
    const bool bitFormat = tag->format == ValueFormat::Bit;
    if (rule->bits != bitFormat) {
        report(at, rule->bits ? QStringLiteral("%1: holds bits, and this tag is %2: map it with input_register: or "
                                               "holding:").arg(key, valueFormatName(tag->format))
                              : QStringLiteral("%1: holds 16-bit registers, and this tag is bit: map it with "
                                               "discrete_input: or coil:").arg(key));
        return;
    }
    if (tag->writable && !rule->writable) {
        report(at, QStringLiteral("%1: is read-only for a Modbus client, and this tag is writable: map it with %2:")
                       .arg(key, QLatin1String(rule->bits ? "coil" : "holding")));
        return;
    }
    const int last = address + tag->modbusUnits() - 1;
    if (last > 65535) {
        report(at, QStringLiteral("%1: %2: the tag's %3 %4 run past 65535, the last address")
                       .arg(key)
                       .arg(address)
                       .arg(tag->modbusUnits())
                       .arg(QLatin1String(rule->bits ? "bits" : "registers")));
        return;
    }
    tag->modbus = ModbusMapping{rule->table, address, at.line + 1, at.column + 1};
}

// Checks across every line: no two tags share a Modbus address, and
// mappings and the modbus: section come together.
void Reader::checkModbusMappings(const YAML::Node& root, const GatewayConfig& config)
{
    const QVector<ModbusEntry> entries = modbusEntries(config.lines);
    const auto markOf = [&](const ModbusEntry& entry) {
        const ModbusMapping& mapping = config.lines.at(entry.line).tags.at(entry.tag).modbus;
        YAML::Mark mark;
        mark.line = mapping.line - 1;
        mark.column = mapping.column - 1;
        return mark;
    };
    const auto tagName = [&](const ModbusEntry& entry) {
        const LineConfig& line = config.lines.at(entry.line);
        return QStringLiteral("%1/%2").arg(line.name, line.tags.at(entry.tag).name);
    };
    // Unless a mistake above left out the tags that were meant.
    if (config.modbus.enabled && entries.isEmpty() && errors_->isEmpty())
        report(root["modbus"].Mark(), QStringLiteral("modbus: serves no tag; map tags with coil:, discrete_input:, "
                                                     "input_register: or holding:"));
    if (!config.modbus.enabled && !entries.isEmpty())
        report(markOf(entries.first()), QStringLiteral("tag %1 is mapped to Modbus, and the file has no modbus: section "
                                                       "to serve it")
                                            .arg(tagName(entries.first())));
    // In address order, each entry against the one before it that reaches furthest.
    for (int k = 1, widest = 0; k < entries.size(); ++k) {
        const ModbusEntry& a = entries.at(widest);
        const ModbusEntry& b = entries.at(k);
        if (a.table == b.table && b.first <= a.last)
            report(markOf(b), QStringLiteral("%1 of tag %2 overlaps %3 of tag %4 (line %5)")
                                  .arg(modbusRangeText(b.table, b.first, b.last), tagName(b),
                                       modbusRangeText(a.table, a.first, a.last), tagName(a))
                                  .arg(config.lines.at(a.line).tags.at(a.tag).modbus.line));
        if (a.table != b.table || b.last > a.last)
            widest = k;
    }
}

void Reader::readDeadband(const YAML::Node& node, TagConfig* tag)
{
    const auto text = scalar(node, "deadband");
    if (!text)
        return;
    const YAML::Mark at = node["deadband"].Mark();
    if (!isNumeric(tag->format)) {
        report(at, QStringLiteral("deadband: a %1 tag has none; it applies to numbers").arg(valueFormatName(tag->format)));
        return;
    }
    bool ok = false;
    const double deadband = text->toDouble(&ok);
    if (!ok || !std::isfinite(deadband) || deadband < 0) {
        report(at, QStringLiteral("deadband \"%1\": expected a number of 0 or more").arg(*text));
        return;
    }
    tag->deadband = deadband;
}

void Reader::readEvery(const YAML::Node& node, TagConfig* tag)
{
    const auto text = scalar(node, "every");
    QString error;
    if (text && !parsePollPeriod(*text, &tag->everyMs, &error))
        report(node["every"].Mark(), QStringLiteral("every %1; leave every: out to poll the tag as fast as the "
                                                    "line allows").arg(error));
}

} // namespace

bool parseGatewayConfig(const QByteArray& text, const QString& fileName, GatewayConfig* config,
                        QStringList* errors)
{
    *config = GatewayConfig();
    config->fileName = fileName;
    errors->clear();
    YAML::Node root;
    try {
        root = YAML::Load(text.toStdString());
    } catch (const YAML::Exception& e) {
        const QString what = fromYaml(e.msg);
        if (e.mark.is_null())
            *errors << QStringLiteral("%1: not YAML: %2").arg(fileName, what);
        else
            *errors << QStringLiteral("%1:%2:%3: not YAML: %4").arg(fileName).arg(e.mark.line + 1).arg(e.mark.column + 1).arg(what);
        return false;
    }
    Reader(fileName, errors).read(root, config);
    return errors->isEmpty();
}

bool readGatewayConfig(const QString& fileName, GatewayConfig* config, QStringList* errors)
{
    errors->clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *errors << QStringLiteral("%1: cannot read the configuration: %2").arg(fileName, file.errorString());
        return false;
    }
    if (file.size() > MaxFileBytes) {
        *errors << QStringLiteral("%1: %2 bytes; a configuration file takes at most %3").arg(fileName).arg(file.size()).arg(MaxFileBytes);
        return false;
    }
    return parseGatewayConfig(file.readAll(), fileName, config, errors);
}
