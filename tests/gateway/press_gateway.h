#pragma once

// The press line as the gateway's end-to-end tests start it: a virtual PLC
// with one value of every format on loopback TCP, paced at the line's baud
// rate (so that the line's utilisation is a share of its time), and the
// built tool's gateway with every face the test asks for. The words are
// worked out by hand beside each value.

#include "gateway_process.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QVector>

#include <gtest/gtest.h>

inline void presetPressMemory(VirtualPlc& plc)
{
    const struct {
        const char* name;
        int index;
        quint32 value;
    } rows[] = {
        {"D", 100, 42},       {"D", 101, 65535},
        {"D", 200, 0x7960},   {"D", 201, 0xFFFE}, // -100000 = 0xFFFE7960, low word first
        {"D", 210, 0x5E00},   {"D", 211, 0xB2D0}, // 3000000000 = 0xB2D05E00
        {"D", 300, 0x0000},   {"D", 301, 0x4050}, // 3.25 = 0x40500000
        {"D", 400, 0x00FF},   {"M", 0, 1},       {"Y", 7, 1}, {"X", 1, 1}, {"X", 3, 1},
        {"32CV", 0, 0xFFFFFFFB},                  // C200 = -5
        {"D", 10, 0x0008},                        // bit 3
        {"D", 500, 1},        {"D", 501, 2},     {"D", 502, 3},
    };
    for (const auto& row : rows)
        plc.setValue(QLatin1String(row.name), row.index, row.value);
}

// The press line's tags, their Modbus addresses, and the JSON value each has
// in the memory above.
const char* const kPressTags = R"(    tags:
      - { name: speed,    address: D100, holding: 100 }
      - { name: flow,     address: D101, format: uint16, holding: 101 }
      - { name: total,    address: D200, format: int32, input_register: 200 }
      - { name: energy,   address: D210, format: uint32, writable: true, holding: 210 }
      - { name: setpoint, address: D300, format: float, writable: true, holding: 300 }
      - { name: mask,     address: D400, format: hex, writable: true, holding: 400 }
      - { name: running,  address: M0, discrete_input: 0 }
      - { name: lamp,     address: Y7, writable: true, coil: 7 }
      - { name: inputs,   address: X0, count: 8, discrete_input: 10 }
      - { name: batch,    address: 32CV200, input_register: 220 }
      - { name: ready,    address: D10.3, discrete_input: 30 }
      - { name: recipe,   address: D500, count: 3, writable: true, holding: 500 }
      - { name: unmapped, address: D600, writable: true }
)";

struct PressTag {
    const char* tag;
    const char* address;
    const char* format;
    bool writable;
    QJsonValue value;
};

inline const QVector<PressTag>& pressTags()
{
    static const QVector<PressTag> tags = {
        {"speed", "D100", "int16", false, 42},
        {"flow", "D101", "uint16", false, 65535},
        {"total", "D200", "int32", false, -100000},
        {"energy", "D210", "uint32", true, 3000000000.0},
        {"setpoint", "D300", "float", true, 3.25},
        {"mask", "D400", "hex", true, QStringLiteral("0x00FF")},
        {"running", "M0", "bit", false, true},
        {"lamp", "Y7", "bit", true, true},
        {"inputs", "X0", "bit", false, QJsonArray{false, true, false, true, false, false, false, false}},
        {"batch", "32CV200", "int32", false, -5},
        {"ready", "D10.3", "bit", false, true},
        {"recipe", "D500", "int16", true, QJsonArray{1, 2, 3}},
        {"unmapped", "D600", "int16", true, 0},
    };
    return tags;
}

// The PLC's D registers from `first` on, as 16-bit words.
inline QVector<quint32> plcWords(const VirtualPlc& plc, int first, int count)
{
    QVector<quint32> out;
    for (int k = first; k < first + count; ++k)
        out.append(plc.value(QStringLiteral("D"), k).value_or(0xFFFFFFFF));
    return out;
}

class PressGateway : public ::testing::Test {
protected:
    // Two ports free at once, so that the faces never get the same one.
    PressGateway()
    {
        QTcpServer modbus, http;
        modbus.listen(QHostAddress::LocalHost, 0);
        http.listen(QHostAddress::LocalHost, 0);
        modbusPort = modbus.serverPort();
        httpPort = http.serverPort();
    }

    void SetUp() override { presetPressMemory(press.plc); }

    // The gateway on a file of `sections`, the Modbus and (in a build with
    // it) the web face, the press line and `moreLines`.
    void startGateway(const QString& sections, const QString& moreLines = QString(), const QString& token = QString())
    {
        QString text = sections + QStringLiteral("modbus: {listen: 127.0.0.1:%1, unit: 1}\n").arg(modbusPort);
#ifdef TAVRIN_GATEWAY_HTTP
        text += QStringLiteral("http: {listen: 127.0.0.1:%1%2}\n").arg(httpPort).arg(token.isEmpty() ? token : QStringLiteral(", token: ") + token);
#else
        Q_UNUSED(token)
#endif
        text += QStringLiteral("lines:\n  - name: press1\n    port: %1\n    baud: 115200\n    timeout_ms: 20\n").arg(press.port());
        configFile = writeConfig(dir, text + QLatin1String(kPressTags) + moreLines);
        gateway.start(configFile);
    }

    QVector<quint32> words(int first, int count) { return plcWords(press.plc, first, count); }

    // Writes the PLC took or refused: none, when a refused write reached nothing.
    quint64 writesReceived()
    {
        const VirtualPlcCounters counters = press.plc.counters();
        return counters.writes + counters.forces + counters.refused;
    }

    static ServerOptions pacedAt115200()
    {
        ServerOptions options;
        options.pacing.baudRate = 115200;
        return options;
    }

    QTemporaryDir dir;
    QString configFile;
    ServedPlc press{ServedOn::Tcp, VirtualPlcOptions(), pacedAt115200()};
    quint16 modbusPort = 0;
    quint16 httpPort = 0;
    GatewayProcess gateway;
};
