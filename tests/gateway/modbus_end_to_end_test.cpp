// The gateway's Modbus TCP face as a SCADA system meets it: a virtual PLC
// with known memory on loopback TCP, the built tool's gateway, and Debian's
// mbpoll as the independent Modbus client. Addresses are zero-based PDU
// addresses (mbpoll -0); expected values are written out by hand from the
// PLC memory each test sets, in mbpoll's own words.

#include "http_get.h"
#include "press_gateway.h"

#include "support/qt_printers.h"

#include <QHash>

namespace {

// mbpoll's two outputs, to its end; "exit N" last. `arguments` are its
// options, then after a "=" the values to write: "-t 4 -r 100 = 5 6".
QString runMbpoll(quint16 port, const QString& arguments, const QString& host = QStringLiteral("127.0.0.1"))
{
    const QStringList options = arguments.section(QLatin1Char('='), 0, 0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QStringList values = arguments.section(QLatin1Char('='), 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QProcess process;
    process.start(QStringLiteral("mbpoll"), QStringList{QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"),
                                                        QString::number(port), QStringLiteral("-a"), QStringLiteral("1"),
                                                        QStringLiteral("-0"), QStringLiteral("-1"), QStringLiteral("-o"),
                                                        QStringLiteral("5")}
                      + options + QStringList{QStringLiteral("--"), host} + values);
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
        + QStringLiteral("exit %1").arg(process.exitCode());
}

// "[100]: \t65531 (-5)" lines as address -> "65531 (-5)".
QHash<int, QString> readings(const QString& output)
{
    QHash<int, QString> values;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char('[')))
            continue;
        const int close = line.indexOf(QStringLiteral("]:"));
        values.insert(line.mid(1, close - 1).toInt(), line.mid(close + 2).trimmed());
    }
    return values;
}

class ModbusFaceEndToEnd : public PressGateway {
protected:
    void SetUp() override
    {
        PressGateway::SetUp();
        startGateway(QString());
        ASSERT_TRUE(waitUntil([&] { return readings(mbpoll(QStringLiteral("-t 4 -r 100"))).value(100) == QLatin1String("42"); }, 30000))
            << gateway.log().toStdString();
    }

    // Every test ends with a clean stop, as a service manager's.
    void TearDown() override { EXPECT_EQ(gateway.stop(), 0) << gateway.log().toStdString(); }

    QString mbpoll(const QString& arguments) { return runMbpoll(modbusPort, arguments); }
};

// One gateway start for the whole story: reads, refusals, odd requests,
// writes, then a PLC that stops acknowledging.
TEST_F(ModbusFaceEndToEnd, ServesPlcMemoryRefusesWhatItMustAndFailsWithThePlc)
{
    // Reads give PLC memory for every format.
    struct Read {
        const char* what;
        const char* arguments;
        QHash<int, QString> expected; // as mbpoll prints it
    };
    const Read reads[] = {
        {"int16", "-t 4 -r 100", {{100, QStringLiteral("42")}}},
        {"uint16", "-t 4 -r 101", {{101, QStringLiteral("65535 (-1)")}}},
        {"int32 as two registers, low word first", "-t 3 -r 200 -c 2", {{200, QStringLiteral("31072")}, {201, QStringLiteral("65534 (-2)")}}},
        {"int32 as mbpoll's int", "-t 3:int -r 200", {{200, QStringLiteral("-100000")}}},
        {"uint32", "-t 4:int -r 210", {{210, QStringLiteral("-1294967296")}}}, // 3000000000 seen as signed
        {"float", "-t 4:float -r 300", {{300, QStringLiteral("3.25")}}},
        {"hex", "-t 4:hex -r 400", {{400, QStringLiteral("0x00FF")}}},
        {"bit of M", "-t 1 -r 0", {{0, QStringLiteral("1")}}},
        {"bit of Y", "-t 0 -r 7", {{7, QStringLiteral("1")}}},
        {"eight inputs X", "-t 1 -r 10 -c 8",
         {{10, QStringLiteral("0")}, {11, QStringLiteral("1")}, {12, QStringLiteral("0")}, {13, QStringLiteral("1")},
          {14, QStringLiteral("0")}, {15, QStringLiteral("0")}, {16, QStringLiteral("0")}, {17, QStringLiteral("0")}}},
        {"32-bit counter", "-t 3:int -r 220", {{220, QStringLiteral("-5")}}},
        {"bit of a D word", "-t 1 -r 30", {{30, QStringLiteral("1")}}},
        {"array", "-t 4 -r 500 -c 3", {{500, QStringLiteral("1")}, {501, QStringLiteral("2")}, {502, QStringLiteral("3")}}},
        {"two tags in one read", "-t 4 -r 100 -c 2", {{100, QStringLiteral("42")}, {101, QStringLiteral("65535 (-1)")}}},
    };
    for (const Read& row : reads) {
        const QString output = mbpoll(QLatin1String(row.arguments));
        EXPECT_EQ(readings(output), row.expected) << row.what << "\n" << output.toStdString();
    }

    // Refused writes get illegal data address and change nothing.
    const char* const refusals[] = {
        "-t 4 -r 100 = 5",          // a read-only tag
        "-t 4 -r 999 = 5",          // no tag there
        "-t 4 -r 600 = 5",          // a writable tag the file maps nowhere
        "-t 0 -r 8 = 1",            // no coil there
        "-t 4 -r 301 = 5",          // half of a float
        "-t 4 -r 211 = 1",          // the high half of a uint32
        "-t 4 -r 400 = 1 2",        // a writable tag, then a register no tag holds
        "-t 4 -r 101 = 1 2 3",      // a read-only tag, then a writable one
    };
    const quint64 writesBefore = writesReceived();
    for (const char* row : refusals) {
        const QString output = mbpoll(QLatin1String(row));
        EXPECT_TRUE(output.contains(QStringLiteral("Illegal data address"))) << row << "\n" << output.toStdString();
    }
    EXPECT_EQ(writesReceived(), writesBefore);
#ifdef TAVRIN_GATEWAY_HTTP
    // Every refusal is counted as a write refused, none as done or failed.
    EXPECT_EQ(metricValue(httpPort, R"(tavrin_gateway_writes_total{result="refused"})"), double(std::size(refusals)));
    EXPECT_EQ(metricValue(httpPort, R"(tavrin_gateway_writes_total{result="done"})"), 0);
#endif
    EXPECT_EQ(words(100, 2), (QVector<quint32>{42, 65535}));
    EXPECT_EQ(words(210, 2), (QVector<quint32>{0x5E00, 0xB2D0}));
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4050}));
    EXPECT_EQ(words(400, 1), QVector<quint32>{0x00FF});
    EXPECT_EQ(words(600, 1), QVector<quint32>{0});

    // Requests a client could send that are no reads or writes of a tag: the
    // exception the protocol gives each (01 function, 02 address, 03 value),
    // and the server still serves afterwards. A frame whose header is not one
    // of Modbus TCP (another protocol id, a length that disagrees with the
    // request) gets no answer: the connection is closed. Sent as raw bytes, so
    // that malformed ones reach the server as they are.
    struct Odd {
        const char* what;
        QByteArray pdu;
        QByteArray answer;     // empty: the connection is closed, nothing answered
        int protocol = 0;      // the header's protocol id
        int lengthError = 0;   // added to the header's length
    };
    const Odd odds[] = {
        {"mask write register", QByteArray::fromHex("16006400ff0000"), QByteArray::fromHex("9601")},
        {"read/write registers", QByteArray::fromHex("17006400010064000102002a"), QByteArray::fromHex("9701")},
        {"diagnostics, a serial line's function", QByteArray::fromHex("0800000000"), QByteArray::fromHex("8801")},
        {"zero registers", QByteArray::fromHex("0300640000"), QByteArray::fromHex("8303")},
        {"126 registers", QByteArray::fromHex("030064007e"), QByteArray::fromHex("8303")},
        {"a coil value not 0000 or FF00", QByteArray::fromHex("0500070001"), QByteArray::fromHex("8503")},
        {"a byte count that does not match", QByteArray::fromHex("10012c0002020000"), QByteArray::fromHex("9003")},
        {"the last address", QByteArray::fromHex("03ffff0001"), QByteArray::fromHex("8302")},
        {"protocol id 1", QByteArray::fromHex("0300640001"), QByteArray(), 1},
        {"a length a byte short of the read", QByteArray::fromHex("0300640001"), QByteArray(), 0, -1},
        {"a length that counts a byte past the read", QByteArray::fromHex("030064000100"), QByteArray()},
        {"a length of 0", QByteArray::fromHex("0300640001"), QByteArray(), 0, -6},
        {"a write whose length leaves out its values", QByteArray::fromHex("10012c000204"), QByteArray()},
        {"a read of holding registers", QByteArray::fromHex("0300640001"), QByteArray::fromHex("0302002a")},
    };
    quint16 transaction = 0;
    for (const Odd& row : odds) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, modbusPort);
        ASSERT_TRUE(socket.waitForConnected(10000));
        ++transaction;
        const int length = int(row.pdu.size()) + 1 + row.lengthError;
        QByteArray adu;
        adu.append(char(transaction >> 8)).append(char(transaction & 0xFF)); // transaction
        adu.append(char(row.protocol >> 8)).append(char(row.protocol & 0xFF)); // protocol
        adu.append(char(length >> 8)).append(char(length & 0xFF));            // length
        adu.append(char(1));                                                  // unit
        socket.write(adu + row.pdu);
        QByteArray reply;
        waitUntil([&] {
            socket.waitForReadyRead(10);
            reply += socket.readAll();
            return row.answer.isEmpty() ? socket.state() == QAbstractSocket::UnconnectedState
                                        : reply.size() >= 7 + row.answer.size();
        });
        EXPECT_EQ(reply.mid(7).toHex(), row.answer.toHex()) << row.what;
        if (row.answer.isEmpty()) {
            EXPECT_EQ(socket.state(), QAbstractSocket::UnconnectedState) << row.what << ": not closed";
        }
    }
    EXPECT_EQ(writesReceived(), writesBefore);
#ifdef TAVRIN_GATEWAY_HTTP
    // And mask write, read/write, the coil value and the byte count that does not match.
    EXPECT_EQ(metricValue(httpPort, R"(tavrin_gateway_writes_total{result="refused"})"), double(std::size(refusals)) + 4);
#endif

    // Writes change PLC memory once acknowledged.
    struct Write {
        const char* what;
        const char* arguments;
        int firstWord;
        QVector<quint32> words; // expected in the PLC, by hand
    };
    const Write writes[] = {
        {"float, low word first", "-t 4:float -r 300 = 12.5", 300, {0x0000, 0x4148}},          // 0x41480000
        {"uint32 as two registers", "-t 4 -r 210 = 10240 61035", 210, {0x2800, 0xEE6B}},       // 4000000000
        {"hex", "-t 4 -r 400 = 48879", 400, {0xBEEF}},
        {"one value of an array", "-t 4 -r 501 = 65535", 500, {1, 0xFFFF, 3}},
        {"a whole array", "-t 4 -r 500 = 7 8 9", 500, {7, 8, 9}},
    };
    for (const Write& row : writes) {
        const quint64 blockWritesBefore = press.plc.counters().writes;
        const QString output = mbpoll(QLatin1String(row.arguments));
        EXPECT_TRUE(output.contains(QStringLiteral("Written"))) << row.what << "\n" << output.toStdString();
        // Answered only once the PLC acknowledged: the memory holds it already.
        EXPECT_EQ(words(row.firstWord, row.words.size()), row.words) << row.what;
        // The values of one request land together, in one scan of the PLC's program.
        EXPECT_EQ(press.plc.counters().writes - blockWritesBefore, 1u) << row.what;
    }
    EXPECT_TRUE(mbpoll(QStringLiteral("-t 0 -r 7 = 0")).contains(QStringLiteral("Written")));
    EXPECT_EQ(press.plc.value(QStringLiteral("Y"), 7), 0u);
    // The gateway reads a written tag back: the next read gives the PLC's value.
    EXPECT_TRUE(waitUntil([&] { return readings(mbpoll(QStringLiteral("-t 4:float -r 300"))).value(300) == QLatin1String("12.5"); }));

    // Modbus has no quality: a tag the gateway does not vouch for is no answer,
    // and a write the PLC did not acknowledge is a failure, never a success.
    // Every reply of the PLC turns NAK here (the PLC still carries out a write;
    // its acknowledgement is what is lost).
    press.plc.queueFault(FaultKind::Nak, 1000000);
    EXPECT_TRUE(waitUntil([&] { return mbpoll(QStringLiteral("-t 4 -r 100")).contains(QStringLiteral("Slave device or server failure")); }))
        << "an old value was served for a tag the PLC no longer answers";
    const QString write = mbpoll(QStringLiteral("-t 4:float -r 300 = 9.5"));
    EXPECT_TRUE(write.contains(QStringLiteral("Slave device or server failure"))) << write.toStdString();
}

// Qt's server takes its address and port as one text: an IPv6 address
// must reach it whole, or it listens elsewhere.
TEST(ModbusFace, ListensOnAnIpv6Address)
{
    ServedPlc plc(ServedOn::Tcp, VirtualPlcOptions());
    plc.plc.setValue(QStringLiteral("D"), 0, 7);
    QTemporaryDir dir;
    const quint16 port = freeLoopbackPort();
    const QString file = writeConfig(dir, QStringLiteral("modbus: {listen: \"[::1]:%1\"}\nlines:\n  - {name: a, port: \"%2\", tags: [{name: t, address: D0, holding: 0}]}\n")
                                              .arg(port)
                                              .arg(plc.port()));
    GatewayProcess gateway;
    gateway.start(file);
    EXPECT_TRUE(waitUntil([&] { return readings(runMbpoll(port, QStringLiteral("-t 4 -r 0"), QStringLiteral("::1"))).value(0) == QLatin1String("7"); }, 30000))
        << gateway.log().toStdString();
}

} // namespace
