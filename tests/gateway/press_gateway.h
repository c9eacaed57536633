#pragma once

// The press line as the gateway's end-to-end tests start it: a virtual PLC
// with one value of every format (its words worked out by hand), paced at the
// line's baud rate so that utilisation is a share of its time, and the
// gateway with the Modbus and (in a build with it) the web face.

#include "gateway_process.h"

#include <QJsonArray>
#include <QVector>

#include <gtest/gtest.h>

// The press line's tags, their Modbus addresses, and the JSON value each has
// in the memory PressGateway sets.
struct PressTag {
    const char* tag;
    const char* address; // with its count, if any
    const char* format;
    bool writable;
    const char* modbus;
    QJsonValue value;
};

inline const QVector<PressTag>& pressTags()
{
    static const QVector<PressTag> tags = {
        {"speed", "D100", "int16", false, "holding: 100", 42},
        {"flow", "D101", "uint16", false, "holding: 101", 65535},
        {"total", "D200", "int32", false, "input_register: 200", -100000},
        {"energy", "D210", "uint32", true, "holding: 210", 3000000000.0},
        {"setpoint", "D300", "float", true, "holding: 300", 3.25},
        {"mask", "D400", "hex", true, "holding: 400", QStringLiteral("0x00FF")},
        {"running", "M0", "bit", false, "discrete_input: 0", true},
        {"lamp", "Y7", "bit", true, "coil: 7", true},
        {"inputs", "X0, count: 8", "bit", false, "discrete_input: 10", QJsonArray{false, true, false, true, false, false, false, false}},
        {"batch", "32CV200", "int32", false, "input_register: 220", -5},
        {"ready", "D10.3", "bit", false, "discrete_input: 30", true},
        {"recipe", "D500, count: 3", "int16", true, "holding: 500", QJsonArray{1, 2, 3}},
        {"unmapped", "D600", "int16", true, "", 0},
    };
    return tags;
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
        const struct {
            const char* name;
            int index;
            quint32 value;
        } memory[] = {
            {"D", 100, 42},       {"D", 101, 65535},
            {"D", 200, 0x7960},   {"D", 201, 0xFFFE}, // -100000 = 0xFFFE7960, low word first
            {"D", 210, 0x5E00},   {"D", 211, 0xB2D0}, // 3000000000 = 0xB2D05E00
            {"D", 300, 0x0000},   {"D", 301, 0x4050}, // 3.25 = 0x40500000
            {"D", 400, 0x00FF},   {"M", 0, 1},       {"Y", 7, 1}, {"X", 1, 1}, {"X", 3, 1},
            {"32CV", 0, 0xFFFFFFFB},                  // C200 = -5
            {"D", 10, 0x0008},                        // bit 3
            {"D", 500, 1},        {"D", 501, 2},     {"D", 502, 3},
        };
        for (const auto& cell : memory)
            press.plc.setValue(QLatin1String(cell.name), cell.index, cell.value);
    }

    // The gateway on a file of `sections`, its faces, the press line and `moreLines`.
    void startGateway(const QString& sections, const QString& moreLines = QString(), const QString& httpMore = QString())
    {
        QString text = sections + QStringLiteral("modbus: {listen: 127.0.0.1:%1, unit: 1}\n").arg(modbusPort);
#ifdef TAVRIN_GATEWAY_HTTP
        text += QStringLiteral("http: {listen: 127.0.0.1:%1%2}\n").arg(httpPort).arg(httpMore);
#else
        Q_UNUSED(httpMore)
#endif
        text += QStringLiteral("lines:\n  - name: press1\n    port: %1\n    baud: 115200\n    timeout_ms: 20\n    tags:\n").arg(press.port());
        for (const PressTag& row : pressTags()) {
            text += QStringLiteral("      - { name: %1, address: %2, format: %3, writable: %4%5 }\n")
                        .arg(QLatin1String(row.tag), QLatin1String(row.address), QLatin1String(row.format),
                             QLatin1String(row.writable ? "true" : "false"), *row.modbus ? QStringLiteral(", ") + QLatin1String(row.modbus) : QString());
        }
        configFile = writeConfig(dir, text + moreLines);
        gateway.start(configFile);
    }

    // The PLC's D registers from `first` on, as 16-bit words.
    QVector<quint32> words(int first, int count)
    {
        QVector<quint32> out;
        for (int k = first; k < first + count; ++k)
            out.append(press.plc.value(QStringLiteral("D"), k).value_or(0xFFFFFFFF));
        return out;
    }

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
