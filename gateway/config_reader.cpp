#include "config_reader.h"

#include "topic_names.h"

#include <yaml-cpp/yaml.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>
#include <QUrl>

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

const KeyRule kTopKeys[] = {{"mqtt", true}, {"lines", true}};
const KeyRule kMqttKeys[] = {
    {"url", false},      {"prefix", true},    {"client_id", false}, {"username", false},
    {"password", false}, {"ca_file", false},  {"cert_file", false}, {"key_file", false},
    {"qos", false},      {"keepalive_s", false},
};
const KeyRule kLineKeys[] = {
    {"name", true},       {"port", true},    {"baud", false},  {"timeout_ms", false}, {"retries", false},
    {"block_size", false}, {"station", false}, {"probe", false}, {"tags", true},
};
const KeyRule kTagKeys[] = {
    {"name", true}, {"address", true}, {"format", false}, {"count", false}, {"writable", false}, {"deadband", false},
};

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
    void readUrl(const YAML::Node& map, MqttConfig* mqtt);
    void readFileName(const YAML::Node& map, const char* key, QString* out);
    void readLines(const YAML::Node& node, QVector<LineConfig>* lines);
    void readLine(const YAML::Node& node, LineConfig* line);
    void readTags(const YAML::Node& node, LineConfig* line);
    bool readTag(const YAML::Node& node, int blockSize, TagConfig* tag);
    bool readTagAddress(const YAML::Node& node, TagConfig* tag);
    void readDeadband(const YAML::Node& node, TagConfig* tag);

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
    if (!root.IsDefined() || root.IsNull()) {
        report(YAML::Mark::null_mark(), QStringLiteral("the file holds nothing: expected the sections mqtt: and lines:"));
        return;
    }
    if (!isMap(root, QStringLiteral("the sections mqtt: and lines:")))
        return;
    checkKeys(root, kTopKeys, QStringLiteral("the file"));
    if (root["mqtt"].IsDefined())
        readMqtt(root["mqtt"], &config->mqtt);
    if (root["lines"].IsDefined())
        readLines(root["lines"], &config->lines);
}

void Reader::readMqtt(const YAML::Node& node, MqttConfig* mqtt)
{
    if (!isMap(node, QStringLiteral("the broker's settings under mqtt:")))
        return;
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
}

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
    if (readTagAddress(node, tag)) {
        readDeadband(node, tag);
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
