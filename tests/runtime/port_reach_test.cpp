// The programming port's reach. Past M1535 the classic map puts M on other
// devices and a PLC does not refuse it: the virtual PLC answers such frames
// as a real one does, which is the danger. The host refuses those addresses,
// and every address it accepts, read once, polled or written, sends only
// requests that stay inside the device the user named: checked against the
// port's byte and bit ranges written out below, not taken from the module.

#include "host_runtime.h"
#include "recording_line.h"
#include "request_decoder.h"
#include "tool/tool_process.h"
#include "virtual_plc_line.h"

#include "support/qt_printers.h"
#include "support/wait_until.h"


#include <gtest/gtest.h>

namespace {

// --- What a PLC does with the frames the classic map makes of M1536 up.
const struct {
    const char* name;
    const char* request;
    const char* reply;
    const char* changed; // register name and index that the frame set, or nullptr
} kBeyondM1535[] = {
    // Read 1 byte at 0x01C0 (M1536 to M1543 by the map): the counter contacts C0 to C7, set to A5.
    {"ReadOfM1536GivesTheCounterContacts", "02 30 30 31 43 30 30 31 03 36 38", "02 41 35 03 37 39", nullptr},
    // Force ON bit 0x0E00 (M1536 by the map): counter contact C0.
    {"ForceOfM1536SetsC0", "02 37 30 30 30 45 03 30 46", "06", "C 0"},
    // Force ON bit 0x0F22 (M1826 by the map): M8034, which switches every output off.
    {"ForceOfM1826SetsM8034", "02 37 32 32 30 46 03 31 34", "06", "SM 34"},
    // Read 1 byte at 0x0200 (M2048 up): no device there, NAK.
    {"ReadOfM2048IsRefused", "02 30 30 32 30 30 30 31 03 35 36", "15", nullptr},
};

TEST(PortReach, APlcActsOnOtherDevicesForMPastM1535)
{
    for (const auto& row : kBeyondM1535) {
        VirtualPlc plc;
        plc.setByte(0x01C0, 0xA5); // C0, C2, C5, C7
        EXPECT_EQ(plc.receive(fromHexBytes(row.request)), fromHexBytes(row.reply)) << row.name;
        if (row.changed) {
            const QStringList changed = QString::fromLatin1(row.changed).split(QLatin1Char(' '));
            EXPECT_EQ(plc.value(changed.at(0), changed.at(1).toInt()), 1u) << row.name;
        }
    }
}

TEST(PortReach, TheToolRefusesMPastM1535AndSendsNothing)
{
    ServedPlc served(ServedOn::Tcp, VirtualPlcOptions());
    const QString run = tavrin(QStringLiteral("write M1536=1 M1826=1 --port ") + served.port());
    EXPECT_TRUE(run.contains(QStringLiteral("\"M1536\": out of the programming port's reach (M0 to M1535)")));
    EXPECT_TRUE(run.endsWith(QStringLiteral("exit 2"))) << run.toStdString();
    EXPECT_EQ(served.plc.counters().bytesReceived, 0u);
    EXPECT_EQ(served.plc.readBytes(0x01C0, 0x40), QByteArray(0x40, '\0'));
}

// --- Every accepted address stays inside its device.

// Byte ranges that block reads and writes reach and bit ranges that forces
// reach, per device, from the port's own map.
struct PortArea {
    const char* regName;
    qint64 firstByte;
    qint64 bytes;
    qint64 firstBit; // -1: not forced
    qint64 bits;
};

const PortArea kPortAreas[] = {
    {"S", 0x0000, 125, 0x0000, 1000},   // S0-S999
    {"X", 0x0080, 32, -1, 0},           // X0-X377, driven by the inputs
    {"Y", 0x00A0, 32, 0x0500, 256},
    {"T", 0x00C0, 32, 0x0600, 256},     // timer contacts
    {"M", 0x0100, 192, 0x0800, 1536},   // M0-M1535
    {"C", 0x01C0, 32, 0x0E00, 256},     // counter contacts
    {"SM", 0x01E0, 32, 0x0F00, 256},    // M8000-M8255
    {"TV", 0x0800, 512, -1, 0},
    {"CV", 0x0A00, 400, -1, 0},         // C0-C199, 16 bits
    {"32CV", 0x0C00, 224, -1, 0},       // C200-C255, 32 bits
    {"SD", 0x0E00, 512, -1, 0},         // D8000-D8255
    {"D", 0x1000, 16000, -1, 0},        // D0-D7999, and their bits
};

const PortArea& portArea(const QString& regName)
{
    const QString name = regName == QLatin1String("D_bit") ? QStringLiteral("D") : regName;
    for (const PortArea& area : kPortAreas) {
        if (name == QLatin1String(area.regName))
            return area;
    }
    ADD_FAILURE() << "no port area for " << regName.toStdString();
    return kPortAreas[0];
}

// Where a request frame reaches, or a message when it leaves the area.
QString outside(const QByteArray& frame, const PortArea& area)
{
    const DecodedRequest request = decodeRequest(frame);
    switch (request.kind) {
    case DecodedRequest::Kind::BlockRead:
    case DecodedRequest::Kind::BlockWrite:
        if (request.address >= area.firstByte && request.address + request.byteCount <= area.firstByte + area.bytes)
            return {};
        return QStringLiteral("bytes 0x%1 + %2").arg(request.address, 4, 16, QLatin1Char('0')).arg(request.byteCount);
    case DecodedRequest::Kind::ForceOn:
    case DecodedRequest::Kind::ForceOff:
        if (area.firstBit >= 0 && request.address >= area.firstBit && request.address < area.firstBit + area.bits)
            return {};
        return QStringLiteral("bit 0x%1").arg(request.address, 4, 16, QLatin1Char('0'));
    default:
        break;
    }
    return QStringLiteral("not a request (%1): %2").arg(request.problem, QString::fromLatin1(frame.toHex(' ')));
}

// Each device's first and last addresses, alone and in runs that end on the
// last register: whole bytes and words round outwards, never past the end.
const char* const kEdges[] = {
    "X0",     "X377",    "X370:8",   "Y0",      "Y377",      "Y360:16",   "M0",       "M1535",
    "M1528:8", "M1520:16", "M8000",  "M8255",   "M8248:8",   "S0",        "S999",     "S992:8",
    "T0",     "T255",    "T248:8",   "C0",      "C255",      "C248:8",    "D0",       "D7999",
    "D7984:16", "D0.0",  "D7999.15", "D7999.0:16", "D7998.8:16", "D8000",  "D8255",    "D8240:16",
    "TV0",    "TV255",   "TV240:16", "CV0",     "CV199",     "CV184:16",  "32CV200",  "32CV255",
    "32CV248:8",
};

class PortReachEdges : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings.answerAllowanceMs = 50;
        plc = std::make_shared<VirtualPlc>();
        runtime = std::make_unique<HostRuntime>(
            [this] { return std::make_unique<RecordingLine>(plc, LinePacing(), &sent); }, settings);
        QString error;
        ASSERT_TRUE(runtime->start(&error)) << error.toStdString();
    }

    static VariableAddress variable(const QString& text)
    {
        const QStringList parts = text.split(QLatin1Char(':'));
        VariableAddress address;
        QString error;
        EXPECT_TRUE(parseVariableAddress(parts.at(0), parts.value(1, QStringLiteral("1")).toInt(), &address, &error))
            << error.toStdString();
        return address;
    }

    // Every frame sent since `from` stays in the variable's area.
    void expectInside(const VariableAddress& address, int from)
    {
        const QVector<QByteArray> frames = sent.all();
        ASSERT_GT(frames.size(), from) << address.text.toStdString() << ": nothing sent";
        for (int i = from; i < frames.size(); ++i)
            EXPECT_EQ(outside(frames.at(i), portArea(address.regName)), QString()) << frames.at(i).toStdString()
                << address.text.toStdString() << ":" << address.registers;
    }

    LineSettings settings;
    std::shared_ptr<VirtualPlc> plc;
    SentFrames sent;
    std::unique_ptr<HostRuntime> runtime;
};

TEST_F(PortReachEdges, ReadsWritesAndPollsOfEveryDevicesEdgesStayInside)
{
    for (const char* text : kEdges) {
        const VariableAddress address = variable(QLatin1String(text));
        const int from = sent.size();
        ASSERT_GT(runtime->setPolledVariables({address}), 0) << text;
        EXPECT_TRUE(waitUntil([&] { return runtime->quality(0).quality == Quality::Good; })) << text;
        runtime->setPolledVariables({});
        // A block in flight is still sent; the one-shot read goes after it,
        // so once it is done no frame of this variable can follow.
        for (const RequestId id : runtime->readOnce(address)) {
            const RequestOutcome outcome = runtime->wait(id, 10000);
            EXPECT_TRUE(outcome.good) << text << ": " << outcome.error.toStdString();
        }
        if (address.regName != QLatin1String("X")) {
            const int unit = address.type->element == ElementKind::Bit ? 1 : address.type->element == ElementKind::Word ? 2 : 4;
            const RequestOutcome written = runtime->wait(runtime->queueWrite(address, QByteArray(unit * address.registers, '\0')), 10000);
            EXPECT_TRUE(written.good) << text << ": " << written.error.toStdString();
        }
        expectInside(address, from);
    }
}

TEST_F(PortReachEdges, TheRuntimeRefusesMPastM1535ItselfAndSendsNothing)
{
    VariableAddress m1536 = variable(QStringLiteral("M1535"));
    m1536.text = QStringLiteral("M1536");
    m1536.index = 1536;
    const int from = sent.size();
    const RequestOutcome written = runtime->wait(runtime->queueWrite(m1536, QByteArray(1, '\1')), 1000);
    const RequestOutcome read = runtime->wait(runtime->readOnce(m1536).value(0), 1000);
    runtime->setPolledVariables({m1536});
    QThread::msleep(50);
    EXPECT_TRUE(written.error.startsWith(QStringLiteral("out of the programming port's reach"))) << written.error.toStdString();
    EXPECT_TRUE(read.error.startsWith(QStringLiteral("out of the programming port's reach"))) << read.error.toStdString();
    EXPECT_EQ(runtime->quality(0).quality, Quality::Bad);
    EXPECT_EQ(sent.size(), from);
}

} // namespace
