#pragma once

// What a gateway configuration file says, once read and checked: the lines
// to poll with their tags, and the broker to publish to. Plain data; the
// reader (config_reader.h) fills it, the model and the faces read it.

#include "line_settings.h"
#include "value_format.h"
#include "variable_address.h"

#include <QString>
#include <QVector>

struct TagConfig {
    QString name;              // the tag's topic level: "speed"
    VariableAddress address;   // all its registers: count values of the format
    ValueFormat format = ValueFormat::Int16;
    int count = 1;             // values from the address on; more than 1 makes an array
    bool writable = false;     // read-only unless the file says otherwise
    double deadband = 0;       // a numeric value is published when it moves by more than this
    int line = 0;              // where the tag stands in the file, for messages

    int registersPerValue() const { return ::registersPerValue(format, address.type->element); }
    int bytesPerValue() const { return ::bytesPerValue(format, address.type->element); }
};

struct LineConfig {
    QString name;              // the line's topic level: "press1"
    QString portText;          // as written: "tcp:192.0.2.10:4001" or "/dev/ttyUSB0"
    LineSettings settings;
    QVector<TagConfig> tags;

    int tagIndex(const QString& tagName) const;
};

struct MqttConfig {
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
};

struct GatewayConfig {
    QString fileName;
    MqttConfig mqtt;
    QVector<LineConfig> lines;

    int lineIndex(const QString& lineName) const;
};
