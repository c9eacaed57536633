#pragma once

// What a gateway configuration file says, once read and checked: the lines
// to poll with their tags, and the faces that serve them (an MQTT broker to
// publish to, a Modbus TCP server, a web page with metrics). Plain data; the
// reader (config_reader.h) fills it, the model and the faces read it.

#include "line_settings.h"
#include "value_format.h"
#include "variable_address.h"

#include <QString>
#include <QVector>

// The four tables a Modbus client addresses.
enum class ModbusTable { None, Coil, DiscreteInput, InputRegister, HoldingRegister };

struct ModbusTableRule {
    ModbusTable table;
    const char* key;   // the tag's key in the file: "holding"
    bool bits;         // coils and discrete inputs hold bits, the others 16-bit registers
    bool writable;     // a client may write coils and holding registers
};

// One row per table, in the order the file's messages list them.
const ModbusTableRule* modbusTableRules();
constexpr int ModbusTableCount = 4;
const ModbusTableRule& modbusTableRule(ModbusTable table);

struct ModbusMapping {
    ModbusTable table = ModbusTable::None; // None: the tag is not served over Modbus
    int address = 0;           // zero-based PDU address of its first register or bit
    int line = 0;              // where the mapping stands in the file, for messages
    int column = 0;
};

struct TagConfig {
    QString name;              // the tag's topic level: "speed"
    VariableAddress address;   // all its registers: count values of the format
    ValueFormat format = ValueFormat::Int16;
    int count = 1;             // values from the address on; more than 1 makes an array
    bool writable = false;     // read-only unless the file says otherwise
    double deadband = 0;       // a numeric value is published when it moves by more than this
    int everyMs = 0;           // its poll class's period; 0: as fast as the line allows
    int line = 0;              // where the tag stands in the file, for messages
    ModbusMapping modbus;

    int registersPerValue() const { return ::registersPerValue(format, address.type->element); }
    int bytesPerValue() const { return ::bytesPerValue(format, address.type->element); }
    // Modbus bits or 16-bit registers one value takes: 1 for a bit or a
    // word, 2 for 32-bit values (low word first, as in the PLC).
    int modbusUnitsPerValue() const { return format == ValueFormat::Bit ? 1 : bytesPerValue() / 2; }
    int modbusUnits() const { return count * modbusUnitsPerValue(); }
};

struct LineConfig {
    QString name;              // the line's topic level: "press1"
    QString portText;          // as written: "tcp:192.0.2.10:4001" or "/dev/ttyUSB0"
    LineSettings settings;
    QVector<TagConfig> tags;

    int tagIndex(const QString& tagName) const;
};

// A listening socket's address: an IP address, never a name to resolve.
struct ListenAddress {
    QString host;              // "127.0.0.1", "::1", "0.0.0.0"
    int port = 0;

    QString text() const;      // "127.0.0.1:1502", "[::1]:8080"
};

struct MqttConfig {
    bool enabled = false;      // the file has an mqtt: section
    QString host = QStringLiteral("127.0.0.1");
    int port = 1883;
    bool tls = false;          // mqtts://
    QString prefix;            // every topic starts with it: "plant1"
    QString clientId;
    QString username;
    QString password;
    QString caFile;            // TLS: the broker's CA; empty: the system's CAs
    QString certFile;          // TLS: this client's certificate and key, both or neither
    QString keyFile;
    int qos = 1;
    int keepAliveS = 30;
    int forwardRate = 2000;    // messages a second when sending what the broker missed
    bool json = true;          // the JSON topics; false for a gateway that speaks Sparkplug B only
};

// The gateway as a Sparkplug B edge node (sparkplug_face.h), on the mqtt:
// section's broker with a session of its own.
struct SparkplugConfig {
    bool enabled = false;      // the file has a sparkplug: section
    QString groupId;
    QString edgeNodeId;
    QString primaryHostId;     // empty: births do not wait for a primary host
    QString bdSeqFile;         // where bdSeq is kept across restarts; empty: starts at 0
};

struct ModbusConfig {
    bool enabled = false;      // the file has a modbus: section
    ListenAddress listen{QStringLiteral("127.0.0.1"), 1502};
    int unit = 1;              // the unit identifier it answers to
};

struct HttpConfig {
    bool enabled = false;      // the file has an http: section
    ListenAddress listen{QStringLiteral("127.0.0.1"), 8080};
    QString token;             // when set, the API, the live feed, writes and metrics need it
};

// The history store (history_store.h): every published change, kept for
// the history API and for forwarding what the broker missed.
struct HistoryConfig {
    bool enabled = false;      // the file has a history: section
    QString path;              // the SQLite file
    int keepDays = 7;
    int maxMb = 256;
};

struct GatewayConfig {
    QString fileName;
    MqttConfig mqtt;
    SparkplugConfig sparkplug;
    ModbusConfig modbus;
    HttpConfig http;
    HistoryConfig history;
    QVector<LineConfig> lines;

    int lineIndex(const QString& lineName) const;
};
