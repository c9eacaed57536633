// The tool's plans and renderings, without a line: variables as typed,
// writes checked and encoded, and what read, write and watch print.

#include "watch_command.h"
#include "write_command.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

ValueVariable planned(const QString& text)
{
    ValueVariable variable;
    QString error;
    EXPECT_TRUE(parseValueVariable(text, FormatChoice(), true, &variable, &error)) << error.toStdString();
    return variable;
}

const struct {
    const char* typed;
    const char* planned; // "first .. last register, format, values", or the refusal
} kVariables[] = {
    {"d200@float:2", "D200 .. D202, float, 2"},
    {"D200:2@float", "D200 .. D202, float, 2"},
    {"m8000:3", "M8000 .. M8002, bit, 3"},
    {"SM8000", "SM8000 .. SM8000, bit, 1"},
    {"D8000@hex", "D8000 .. D8000, hex, 1"},
    {"D10.14:3", "D10.14 .. D11.0, bit, 3"},
    {"X7:2", "X7 .. X10, bit, 2"},
    {"32cv201@float", "32CV201 .. 32CV201, float, 1"},
    {"D0:0", "\"D0:0\": count \"0\": expected a whole number from 1 to 8000"},
    {"M0@int16", "\"M0@int16\": format int16 does not suit M0; accepted are bit"},
};

TEST(CommandLayers, VariablesAreTakenAsTypedWithTheirOwnFormats)
{
    for (const auto& row : kVariables) {
        ValueVariable variable;
        QString error;
        const QString text = parseValueVariable(QLatin1String(row.typed), FormatChoice(), true, &variable, &error)
            ? QStringLiteral("%1 .. %2, %3, %4")
                  .arg(variable.registerText(0), variable.registerText(variable.values - 1),
                       valueFormatName(variable.format))
                  .arg(variable.values)
            : error;
        EXPECT_EQ(text, QString::fromUtf8(row.planned)) << row.typed;
    }
}

const struct {
    const char* text;
    bool allowNonFinite;
    const char* planned; // the value as it will be written, or the refusal
} kWrites[] = {
    {"D100=0x10", false, "16"},
    {"D100=0xFFFF", false, "-1"},
    {"D100@uint16=0b1010", false, "10"},
    {"D200@float=1e-3", false, "0.001"},
    {"D200@float=-inf", true, "-inf"},
    {"D200@float=1e-40", false, "9.99995e-41"}, // the nearest denormal float
    {"D200@float=1e39", false, "\"D200@float=1e39\": float value \"1e39\": expected a number from -3.4e38 to 3.4e38, "
                               "such as 3.25 or -1e-3"},
    {"Y7=on", false, "1"},
    {"D100", false, "\"D100\": expected ADDR=VALUE, such as D100=42"},
    {"D100:2=1", false, "\"D100:2\": a count is not accepted here"},
};

TEST(CommandLayers, WritesAreCheckedAndEncodedBeforeAnythingIsSent)
{
    for (const auto& row : kWrites) {
        PlannedWrite write;
        QString error;
        WriteOptions options;
        options.allowNonFinite = row.allowNonFinite;
        const bool ok = planWrite(QLatin1String(row.text), FormatChoice(), options, &write, &error);
        EXPECT_EQ(ok ? write.parsedValue : error, QString::fromUtf8(row.planned)) << row.text;
    }
}

TEST(CommandLayers, AWriteLineTellsTheValueWrittenTheOldOneAndWhatCameBack)
{
    PlannedWrite write;
    QString error;
    ASSERT_TRUE(planWrite(QStringLiteral("d100=0x10"), FormatChoice(), WriteOptions(), &write, &error));
    const struct {
        WriteReport report;
        const char* line;
        bool succeeded;
    } rows[] = {
        {{write, QStringLiteral("7"), true, {}, false, {}}, "D100 = 16 (was 7): written", true},
        {{write, {}, true, {}, true, QStringLiteral("16")}, "D100 = 16: written, read back 16", true},
        {{write, QStringLiteral("7"), true, {}, true, QStringLiteral("15")}, "D100 = 16 (was 7): written, but reads back 15", false},
        {{write, {}, true, QStringLiteral("cannot read it back: no reply within 20 ms"), true, {}},
         "D100 = 16: written, but cannot read it back: no reply within 20 ms", false},
        {{write, QStringLiteral("7"), false, QStringLiteral("the PLC refused the request (NAK)"), false, {}},
         "D100 = 16 (was 7): failed, the PLC refused the request (NAK)", false},
        {{write, QStringLiteral("7"), false, QStringLiteral("not confirmed: no outcome within 9.0 s; read the value back to know whether it landed"), false, {}, true},
         "D100 = 16 (was 7): not confirmed: no outcome within 9.0 s; read the value back to know whether it landed", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(writeLine(row.report), QString::fromUtf8(row.line));
        EXPECT_EQ(writeSucceeded(row.report), row.succeeded) << row.line;
    }
}

TEST(CommandLayers, JsonAndCsvCarryEachVariableWithItsQuality)
{
    const QDateTime at = QDateTime(QDate(2026, 12, 5), QTime(10, 0, 0, 123), Qt::UTC);
    const VariableReport two{planned(QStringLiteral("D0@hex:2")), QByteArray("\xFF\x00\x00\x00", 4), {}, {}};
    const VariableReport nan{planned(QStringLiteral("D10@float")), QByteArray("\x00\x00\xC0\x7F", 4), {}, at}; // 0x7FC00000
    const VariableReport bad{planned(QStringLiteral("M5")), {}, QStringLiteral("no reply within 20 ms, \"4\" tries"), {}};
    EXPECT_EQ(jsonLine(two), QStringLiteral(R"({"address":"0","format":"hex","name":"D0@hex:2","quality":"good",)"
                                            R"("register":"D","value":["0x00FF","0x0000"]})"));
    EXPECT_EQ(jsonLine(nan), QStringLiteral(R"({"address":"10","format":"float","name":"D10@float","quality":"good",)"
                                            R"("register":"D","ts":"2026-12-05T10:00:00.123Z","value":"NaN"})"));
    EXPECT_EQ(jsonLine(bad), QStringLiteral(R"({"address":"5","error":"no reply within 20 ms, \"4\" tries","format":"bit",)"
                                            R"("name":"M5","quality":"bad","register":"M"})"));
    EXPECT_EQ(csvRow(two), QStringLiteral("D0@hex:2,D,0,hex,0x00FF 0x0000,good,"));
    EXPECT_EQ(csvRow(nan), QStringLiteral("2026-12-05T10:00:00.123Z,D10@float,D,10,float,nan,good,"));
    EXPECT_EQ(csvRow(bad), QStringLiteral("M5,M,5,bit,,bad,\"no reply within 20 ms, \"\"4\"\" tries\""));
    const VariableReport quoted{planned(QStringLiteral("M5")), {}, QStringLiteral("\"4\" tries"), {}}; // no comma, still quoted
    EXPECT_EQ(csvRow(quoted), QStringLiteral("M5,M,5,bit,,bad,\"\"\"4\"\" tries\""));
    EXPECT_EQ(textLines(two), QStringList({QStringLiteral("D0 = 0x00FF"), QStringLiteral("D1 = 0x0000")}));
}

// One variable through a watch: read, unchanged, one value changes, refused
// while the line is up, lost with the line (said by the line's own event),
// read again.
TEST(CommandLayers, WatchPrintsAVariableWhenItsValuesOrQualityChange)
{
    const ValueVariable d0 = planned(QStringLiteral("D0:2"));
    const auto good = [&](char a, char b) {
        QByteArray words(4, '\0'); // two words, low byte first
        words[0] = a;
        words[2] = b;
        return VariableReport{d0, words, {}, {}};
    };
    const auto bad = [&](const char* error) { return VariableReport{d0, {}, QLatin1String(error), {}}; };
    const struct {
        VariableReport now;
        Quality quality;
        bool lineUp;
        const char* text; // the lines printed, joined by " | "
        const char* json; // the quality of the record printed, "" for none
    } steps[] = {
        {good(1, 2), Quality::Good, true, "D0 = 1 | D1 = 2", "good"},
        {good(1, 2), Quality::Good, true, "", ""},
        {good(1, 3), Quality::Good, true, "D1 = 3", "good"},
        {bad("the PLC refused the request (NAK)"), Quality::Bad, true, "D0: the PLC refused the request (NAK)", "bad"},
        {bad("the PLC refused the request (NAK)"), Quality::Bad, true, "", ""},
        {bad("line lost: tcp:192.0.2.10:4001: connection refused"), Quality::Bad, false, "", ""},
        {good(1, 3), Quality::Good, true, "D0 = 1 | D1 = 3", "good"},
    };
    WatchShown text;
    WatchShown json;
    for (const auto& step : steps) {
        EXPECT_EQ(watchLines(step.now, step.quality, step.lineUp, OutputStyle::Text, &text).join(QStringLiteral(" | ")),
                  QString::fromUtf8(step.text));
        const QStringList records = watchLines(step.now, step.quality, step.lineUp, OutputStyle::Json, &json);
        EXPECT_EQ(records.size(), qstrlen(step.json) ? 1 : 0) << step.text;
        if (!records.isEmpty()) {
            EXPECT_TRUE(records.first().contains(QStringLiteral("\"quality\":\"%1\"").arg(QLatin1String(step.json))));
        }
    }
}

} // namespace
