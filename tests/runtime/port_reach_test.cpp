// The programming port's reach. Past M1535 a PLC acts on other devices
// (C0, M8034) without refusing: the host refuses those addresses, and every
// address it accepts, read once, polled or written, sends only requests
// inside the device named, by the port's ranges written out below.

#include "fake_line.h"
#include "request_decoder.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr qint64 S = 1000000;

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

// Empty when a request frame stays inside the variable's device; else where it reaches.
QString outside(const QByteArray& frame, const QString& regName)
{
    const QString name = regName == QLatin1String("D_bit") ? QStringLiteral("D") : regName;
    const PortArea* area = std::find_if(std::begin(kPortAreas), std::end(kPortAreas),
                                        [&](const PortArea& a) { return name == QLatin1String(a.regName); });
    const DecodedRequest request = decodeRequest(frame);
    if (area == std::end(kPortAreas))
        return QStringLiteral("no port area for ") + regName;
    switch (request.kind) {
    case DecodedRequest::Kind::BlockRead:
    case DecodedRequest::Kind::BlockWrite:
        if (request.address >= area->firstByte && request.address + request.byteCount <= area->firstByte + area->bytes)
            return {};
        return QStringLiteral("bytes 0x%1 + %2").arg(request.address, 4, 16, QLatin1Char('0')).arg(request.byteCount);
    case DecodedRequest::Kind::ForceOn:
    case DecodedRequest::Kind::ForceOff:
        if (area->firstBit >= 0 && request.address >= area->firstBit && request.address < area->firstBit + area->bits)
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

TEST(PortReach, ReadsWritesAndPollsOfEveryDevicesEdgesStayInside)
{
    FakeLine line(LineSettings{});
    for (const char* text : kEdges) {
        const QStringList parts = QString::fromLatin1(text).split(QLatin1Char(':'));
        const VariableAddress address = variable(parts.at(0), parts.value(1, QStringLiteral("1")).toInt());
        const int from = line.sent.size();
        ASSERT_GT(line.core.setPolled({address}, false, line.now), 0) << text;
        line.runFor(10 * S, [&] { return line.core.quality(0).quality == Quality::Good; });
        EXPECT_EQ(line.core.quality(0).quality, Quality::Good) << text;
        line.core.setPolled({}, false, line.now);
        for (const RequestId id : line.core.readOnce(address))
            EXPECT_TRUE(line.outcome(id).good) << text;
        if (address.regName != QLatin1String("X")) {
            const int unit = address.type->element == ElementKind::Bit ? 1 : address.type->element == ElementKind::Word ? 2 : 4;
            const RequestOutcome written = line.outcome(line.core.queueWrite(address, QByteArray(unit * address.registers, '\0')));
            EXPECT_TRUE(written.good) << text << ": " << written.error.toStdString();
        }
        ASSERT_GT(line.sent.size(), from) << text << ": nothing sent";
        for (int i = from; i < line.sent.size(); ++i)
            EXPECT_EQ(outside(line.sent.at(i), address.regName), QString()) << text;
    }
}

TEST(PortReach, TheRuntimeRefusesMPastM1535ItselfAndSendsNothing)
{
    FakeLine line(LineSettings{});
    VariableAddress m1536 = variable(QStringLiteral("M1535"));
    m1536.text = QStringLiteral("M1536");
    m1536.index = 1536;
    const int from = line.sent.size();
    const RequestOutcome written = line.outcome(line.core.queueWrite(m1536, QByteArray(1, '\1')));
    const RequestOutcome read = line.outcome(line.core.readOnce(m1536).value(0));
    line.core.setPolled({m1536}, false, line.now);
    line.runFor(1 * S);
    EXPECT_TRUE(written.error.startsWith(QStringLiteral("out of the programming port's reach"))) << written.error.toStdString();
    EXPECT_TRUE(read.error.startsWith(QStringLiteral("out of the programming port's reach"))) << read.error.toStdString();
    EXPECT_EQ(line.core.quality(0).quality, Quality::Bad);
    EXPECT_EQ(line.sent.size(), from);
}

} // namespace
