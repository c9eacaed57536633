// The gateway's configuration file: what a good file gives, and for every
// kind of mistake the message a person reads, with file, line and column.

#include "config_reader.h"
#include "modbus_map.h"

#include "support/qt_printers.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const char* const kFile = "plant.yaml";

QStringList errorsOf(const char* text)
{
    GatewayConfig config;
    QStringList errors;
    parseGatewayConfig(QByteArray(text), QLatin1String(kFile), &config, &errors);
    return errors;
}

// A good file's line as one text: "name port baud allowance retries block
// probe", then each tag: "name register registers format x count", its
// writable flag, deadband, poll period and Modbus range.
QStringList summary(const char* text, GatewayConfig* config)
{
    QStringList errors;
    EXPECT_TRUE(parseGatewayConfig(QByteArray(text), QLatin1String(kFile), config, &errors)) << errors.join(QLatin1Char('\n')).toStdString();
    QStringList lines;
    for (const LineConfig& line : config->lines) {
        const LineSettings& s = line.settings;
        QString text = QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                           .arg(line.name, s.port.kind == LineKind::Tcp ? QStringLiteral("tcp %1 %2").arg(s.port.host).arg(s.port.port)
                                                                        : QString(QStringLiteral("serial ") + s.port.path))
                           .arg(s.baud).arg(s.answerAllowanceMs).arg(s.retries).arg(s.blockSize).arg(s.probe);
        for (const TagConfig& tag : line.tags) {
            text += QStringLiteral("; %1 %2%3 %4 %5x%6").arg(tag.name, tag.address.regName).arg(tag.address.index)
                        .arg(tag.address.registers).arg(valueFormatName(tag.format)).arg(tag.count);
            text += QLatin1String(tag.writable ? " writable" : "");
            text += tag.deadband ? QStringLiteral(" +-%1").arg(tag.deadband) : QString();
            text += tag.everyMs ? QStringLiteral(" every %1").arg(tag.everyMs) : QString();
            if (tag.modbus.table != ModbusTable::None)
                text += QLatin1Char(' ') + modbusRangeText(tag.modbus.table, tag.modbus.address, tag.modbus.address + tag.modbusUnits() - 1);
        }
        lines << text;
    }
    return lines;
}

// A Qt 5 build has no web face, and refuses the section (a row below).
#ifdef TAVRIN_GATEWAY_HTTP
#define HTTP_SECTION "http:\n  listen: 0.0.0.0:8081\n  token: 0123456789abcdef\n"
#else
#define HTTP_SECTION ""
#endif

TEST(ConfigReader, AGoodFileGivesEveryLineTagAndSetting)
{
    const char* text = HTTP_SECTION R"(
mqtt:
  url: mqtt://[::1]:1884
  prefix: site/plant1
  client_id: tavrin-gw1
  username: gw
  password: secret
  qos: 0
modbus:
  listen: "[::1]:1502"
  unit: 7
lines:
  - name: press1
    port: tcp:192.0.2.10:4001
    baud: 19200
    timeout_ms: 50
    retries: 2
    block_size: 8
    probe: false
    tags:
      - { name: speed,    address: D100, holding: 100, every: 200ms }
      - { name: total,    address: D200, format: int32, input_register: 0, every: 10s }
      - { name: running,  address: M0, every: 1.5s }
      - { name: setpoint, address: D300, format: float, writable: true, deadband: 0.5, holding: 101 }
      - { name: lamp,     address: Y7, writable: true, coil: 0 }
      - { name: inputs,   address: X0, count: 8, discrete_input: 65528 }
      - { name: recipe,   address: D500, count: 3, format: int32, holding: 103 }
  - name: oven
    port: /dev/ttyUSB0
    tags:
      - name: counter
        address: 32CV200
)";
    GatewayConfig config;
    EXPECT_EQ(summary(text, &config),
              QStringList({QStringLiteral("press1 tcp 192.0.2.10 4001 19200 50 2 8 0; speed D100 1 int16x1 every 200 "
                                          "holding 100; total D200 2 int32x1 every 10000 input_register 0 to 1; "
                                          "running M0 1 bitx1 every 1500; setpoint D300 2 floatx1 writable +-0.5 "
                                          "holding 101 to 102; lamp Y7 1 bitx1 writable coil 0; inputs X0 8 bitx8 "
                                          "discrete_input 65528 to 65535; recipe D500 6 int32x3 holding 103 to 108"),
                           QStringLiteral("oven serial /dev/ttyUSB0 9600 200 3 16 1; counter 32CV0 1 int32x1")}));
    const MqttConfig& mqtt = config.mqtt;
    EXPECT_EQ(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8").arg(mqtt.host).arg(mqtt.port).arg(mqtt.tls)
                  .arg(mqtt.prefix, mqtt.clientId, mqtt.username, mqtt.password).arg(mqtt.qos),
              QStringLiteral("::1 1884 0 site/plant1 tavrin-gw1 gw secret 0"));
    EXPECT_EQ(QStringLiteral("%1 %2").arg(config.modbus.listen.text()).arg(config.modbus.unit), QStringLiteral("[::1]:1502 7"));
#ifdef TAVRIN_GATEWAY_HTTP
    EXPECT_EQ(config.http.listen.text() + QLatin1Char(' ') + config.http.token, QStringLiteral("0.0.0.0:8081 0123456789abcdef"));
#endif
}

TEST(ConfigReader, ModbusAndHttpSectionsAloneTakeTheirDefaults)
{
    GatewayConfig config;
    summary("modbus:\nlines: [{name: a, port: /dev/ttyS0, tags: [{name: t, address: D0, holding: 0}]}]\n", &config);
    EXPECT_FALSE(config.mqtt.enabled);
    EXPECT_TRUE(config.modbus.enabled);
    EXPECT_EQ(QStringLiteral("%1 %2 %3 [%4]").arg(config.modbus.listen.text()).arg(config.modbus.unit)
                  .arg(config.http.listen.text(), config.http.token),
              QStringLiteral("127.0.0.1:1502 1 127.0.0.1:8080 []"));
}

// The good file's parts that most mistakes leave alone.
#define LINE_A "lines: [{name: a, port: /dev/ttyS0, tags: [{name: t, address: D0}]}]\n"
#define ONE_TAG(keys) "mqtt: {prefix: p}\nlines:\n  - {name: a, port: /dev/ttyS0, tags: [{name: t, " keys "}]}\n"
#define MODBUS_TAG(keys) "modbus:\nlines: [{name: a, port: /dev/ttyS0, tags: [{name: t, " keys "}]}]\n"

struct MistakeRow {
    const char* name;
    const char* text;
    const char* message; // the one message expected
};

// The good file above with one mistake each.
const MistakeRow kMistakes[] = {
    {"NotYaml", "mqtt: [1, 2\n", "plant.yaml:2:1: not YAML: end of sequence flow not found"},
    {"Empty", "",
      "plant.yaml: the file holds nothing: expected the section lines: and at least one of mqtt:, modbus:, http:"},
    {"NotAMapping", "- 1\n",
      "plant.yaml:1:1: expected the section lines: and at least one of mqtt:, modbus:, http: as keys and values (key: value)"},
    {"HistoryWithoutPath", "mqtt: {prefix: p}\nhistory: {keep_days: 0}\n" LINE_A,
      "plant.yaml:2:10: history: lacks \"path\"\nplant.yaml:2:22: keep_days \"0\": expected a whole number from 1 to 3650"},
    {"HistoryInNoFolder", "mqtt: {prefix: p}\nhistory: {path: /no/such/h.db}\n" LINE_A,
      "plant.yaml:2:17: path \"/no/such/h.db\": no folder /no/such for the history file"},
    {"MissingPrefix", "mqtt: {url: mqtt://127.0.0.1}\n" LINE_A, "plant.yaml:1:7: mqtt: lacks \"prefix\" (the JSON topics need it; json: false turns them off)"},
    {"SparkplugIdWithSlash", "mqtt: {json: false}\nsparkplug: {group_id: a/b, edge_node_id: gw1}\n" LINE_A,
      "plant.yaml:2:23: group_id \"a/b\": expected a Sparkplug id: one topic level, not empty, without '/', '+' or '#'"},
    {"SparkplugWithoutBroker", "sparkplug: {group_id: g, edge_node_id: e}\n" LINE_A,
      "plant.yaml:1:1: the file serves the lines nowhere: expected at least one of mqtt:, modbus:, http:\n"
      "plant.yaml:1:12: sparkplug: needs an mqtt: section for its broker (url, credentials, TLS)"},
    {"JsonOffWithoutSparkplug", "mqtt: {json: false}\n" LINE_A,
      "plant.yaml:1:7: mqtt: json: false and no sparkplug: section: nothing would be published to the broker"},
    {"UnknownMqttKey", "mqtt:\n  prefix: p\n  passwd: x\n" LINE_A,
      "plant.yaml:3:3: unknown key \"passwd\" in mqtt:; accepted are url, prefix, client_id, username, password, ca_file, cert_file, key_file, qos, keepalive_s, forward_rate, json"},
    {"WrongScheme", "mqtt: {url: http://127.0.0.1, prefix: p}\n" LINE_A,
      "plant.yaml:1:13: url \"http://127.0.0.1\": expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"},
    {"UserInUrl", "mqtt: {url: mqtt://u:p@127.0.0.1, prefix: p}\n" LINE_A,
      "plant.yaml:1:13: url \"mqtt://u:p@127.0.0.1\": expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; give the user and password as username: and password:"},
    {"WildcardInPrefix", "mqtt: {prefix: plant/#}\n" LINE_A,
      "plant.yaml:1:16: prefix \"plant/#\": expected one or more levels of letters, digits, '_', '-' and '.', at most 64, '/' between them"},
    {"PasswordAlone", "mqtt: {prefix: p, password: x}\n" LINE_A, "plant.yaml:1:29: a password needs a username"},
    {"CaFileWithoutTls", "mqtt: {prefix: p, ca_file: /dev/null}\n" LINE_A,
      "plant.yaml:1:28: ca_file \"/dev/null\": no readable file there"},
    {"BadTcpPort", "mqtt: {prefix: p}\nlines:\n  - {name: a, port: \"tcp:host\", tags: [{name: t, address: D0}]}\n",
      "plant.yaml:3:21: bad port \"tcp:host\": expected tcp:HOST:PORT with a port of 1 to 65535, an IPv6 host in brackets (tcp:[::1]:5020)"},
    {"ProbeNotABool", "mqtt: {prefix: p}\nlines:\n  - {name: a, port: /dev/ttyS0, probe: maybe, tags: [{name: t, address: D0}]}\n",
      "plant.yaml:3:40: probe \"maybe\": expected true or false"},
    {"LineNameWithSlash", "mqtt: {prefix: p}\nlines:\n  - {name: a/b, port: /dev/ttyS0, tags: [{name: t, address: D0}]}\n",
      "plant.yaml:3:12: line name \"a/b\": expected letters, digits, '_', '-' and '.', at most 64"},
    {"TwoLinesOnePort", ONE_TAG("address: D0") "  - {name: b, port: /dev/ttyS0, tags: [{name: t, address: D0}]}\n",
      "plant.yaml:4:21: port \"/dev/ttyS0\" is polled by the line on line 3 already: one PLC per port, one host per PLC"},
    {"NoTags", "mqtt: {prefix: p}\nlines:\n  - {name: a, port: /dev/ttyS0, tags: []}\n",
      "plant.yaml:3:39: tags: expected a list of tags, each \"- { name: ..., address: ... }\""},
    {"TagKeyTwice", "mqtt: {prefix: p}\nlines:\n  - name: a\n    port: /dev/ttyS0\n    tags:\n      - name: t\n        address: D0\n        address: D1\n",
      "plant.yaml:8:9: \"address\" is given twice in a tag (first on line 7)"},
    {"ReservedTagName", "mqtt: {prefix: p}\nlines:\n  - {name: a, port: /dev/ttyS0, tags: [{name: status, address: D0}]}\n",
      "plant.yaml:3:47: tag name \"status\" is taken by the gateway's own topics"},
    {"TwoTagsOneName", "mqtt: {prefix: p}\nlines:\n  - name: a\n    port: /dev/ttyS0\n    tags:\n      - {name: t, address: D0}\n      - {name: t, address: D1}\n",
      "plant.yaml:7:16: tag name \"t\" is taken by the tag on line 6"},
    {"UnknownFormat", ONE_TAG("address: D0, format: int64"),
      "plant.yaml:3:71: format \"int64\": accepted are bit, int16, uint16, int32, uint32, float, hex"},
    {"FloatOnABit", ONE_TAG("address: M0, format: float"),
      "plant.yaml:3:71: format float does not suit M0; accepted are bit"},
    {"WritableInput", ONE_TAG("address: X0, writable: true"),
      "plant.yaml:3:73: \"X0\": the inputs X are driven by the hardware and cannot be written"},
    {"DeadbandOnABit", ONE_TAG("address: M0, deadband: 1"),
      "plant.yaml:3:73: deadband: a bit tag has none; it applies to numbers"},
    {"NegativeDeadband", ONE_TAG("address: D0, deadband: -1"),
      "plant.yaml:3:73: deadband \"-1\": expected a number of 0 or more"},
    {"EveryTooShort", ONE_TAG("address: D0, every: 5ms"),
      "plant.yaml:3:70: every \"5ms\": expected a period such as 200ms or 10s: a whole number of milliseconds from "
      "10ms to 3600s, with ms or s; leave every: out to poll the tag as fast as the line allows"},
    {"ModbusListenAName", "modbus: {listen: localhost:1502}\n" LINE_A,
      "plant.yaml:1:18: listen \"localhost:1502\": expected ADDRESS:PORT with an IP address and a port of 1 to 65535, such as 127.0.0.1:1502 or [::1]:1502"},
    {"ModbusServesNothing", "modbus: {unit: 1}\n" LINE_A,
      "plant.yaml:1:9: modbus: serves no tag; map tags with coil:, discrete_input:, input_register: or holding:"},
    {"MappingWithoutModbus", "mqtt: {prefix: p}\nlines: [{name: a, port: /dev/ttyS0, tags: [{name: t, address: D0, holding: 4}]}]\n",
      "plant.yaml:2:76: tag a/t is mapped to Modbus, and the file has no modbus: section to serve it"},
    {"TwoMappings", MODBUS_TAG("address: D0, holding: 4, input_register: 4"),
      "plant.yaml:2:95: input_register: this tag is mapped by holding: already; a tag takes one of coil:, discrete_input:, input_register:, holding:"},
    {"BitsInRegisters", MODBUS_TAG("address: M0, holding: 4"),
      "plant.yaml:2:76: holding: holds 16-bit registers, and this tag is bit: map it with discrete_input: or coil:"},
    {"WritableInAReadOnlyTable", MODBUS_TAG("address: D0, writable: true, input_register: 4"),
      "plant.yaml:2:99: input_register: is read-only for a Modbus client, and this tag is writable: map it with holding:"},
    {"PastTheLastAddress", MODBUS_TAG("address: D0, format: int32, count: 2, holding: 65533"),
      "plant.yaml:2:101: holding: 65533: the tag's 4 registers run past 65535, the last address"},
    {"OverlapPastAShortTagAndAcrossLines", "modbus:\nlines:\n  - name: a\n    port: /dev/ttyS0\n    tags:\n      - {name: long, address: D0, count: 10, holding: 0}\n      - {name: short, address: D20, holding: 2}\n  - {name: b, port: /dev/ttyS1, tags: [{name: late, address: D30, holding: 5}]}\n",
      "plant.yaml:7:46: holding 2 of tag a/short overlaps holding 0 to 9 of tag a/long (line 6)\nplant.yaml:8:76: holding 5 of tag b/late overlaps holding 0 to 9 of tag a/long (line 6)"},
#ifdef TAVRIN_GATEWAY_HTTP
    {"HttpTokenTooShort", "http: {token: secret}\n" LINE_A,
      "plant.yaml:1:15: token: expected 16 to 256 visible ASCII characters, no spaces (openssl rand -hex 16 makes one)"},
#else
    {"HttpOnQt5", "http: {listen: 127.0.0.1:8080}\n" LINE_A,
      "plant.yaml:1:7: http: this tavrin was built against Qt 5, which has no Qt HTTP Server: the web page and metrics need a build against Qt 6; leave http: out here"},
#endif
    {"ListWhereAValueGoes", "mqtt: {prefix: p}\nlines:\n  - {name: a, port: [1, 2], tags: [{name: t, address: D0}]}\n",
      "plant.yaml:3:21: \"port\": expected a single value"},
};

class ConfigMistakes : public ::testing::TestWithParam<MistakeRow> {};

TEST_P(ConfigMistakes, AreReportedWithFileLineAndWhatIsExpected)
{
    const MistakeRow& row = GetParam();
    EXPECT_EQ(errorsOf(row.text), QString::fromUtf8(row.message).split(QLatin1Char('\n')));
}

INSTANTIATE_TEST_SUITE_P(Rows, ConfigMistakes, ::testing::ValuesIn(kMistakes),
                         [](const ::testing::TestParamInfo<MistakeRow>& info) { return std::string(info.param.name); });

TEST(ConfigReader, AFileThatCannotBeReadIsNamed)
{
    GatewayConfig config;
    QStringList errors;
    EXPECT_FALSE(readGatewayConfig(QStringLiteral("/nonexistent/plant.yaml"), &config, &errors));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().startsWith(QStringLiteral("/nonexistent/plant.yaml: cannot read the configuration: ")))
        << errors.first().toStdString();
}

// Every configuration file docs/gateway.md shows is one the gateway takes,
// as a reader copies it.
TEST(ConfigReader, EveryFileTheGatewayPageShowsIsGood)
{
    QFile page(QStringLiteral(TAVRIN_SOURCE_DIR "/docs/gateway.md"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(page.readAll()).split(QLatin1Char('\n'));
    int files = 0;
    for (int at = 0; at < lines.size(); ++at) {
        if (lines.at(at) != QLatin1String("```yaml"))
            continue;
        const int firstLine = at + 2;
        QStringList text;
        while (++at < lines.size() && lines.at(at) != QLatin1String("```"))
            text << lines.at(at);
        ++files;
        GatewayConfig config;
        QStringList errors;
        const QString name = QStringLiteral("docs/gateway.md:%1").arg(firstLine);
#ifndef TAVRIN_GATEWAY_HTTP
        if (text.contains(QStringLiteral("http:")))
            continue; // a row above: refused by a build without the web face
#endif
        EXPECT_TRUE(parseGatewayConfig(text.join(QLatin1Char('\n')).toUtf8(), name, &config, &errors))
            << errors.join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_GE(files, 2);
}

// Any bytes at all: a message or a configuration, never a crash.
TEST(ConfigReader, SurvivesDeepNestingAndBinaryJunk)
{
    const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
    const QByteArray junk("\x00\xff\xfe{{:\x01::\n\t- - -\"", 18);
    for (const QByteArray& text : {deep, junk, QByteArray("lines: *unknown\n"), QByteArray("&a [*a]")}) {
        GatewayConfig config;
        QStringList errors;
        EXPECT_FALSE(parseGatewayConfig(text, QLatin1String(kFile), &config, &errors));
        EXPECT_FALSE(errors.isEmpty());
    }
}

} // namespace
