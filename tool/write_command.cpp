// tavrin write ADDR=VALUE...: queued writes, each reported.

#include "write_command.h"

#include "command_line.h"
#include "commands.h"
#include "port_options.h"
#include "read_command.h"
#include "value_command_line.h"

#include <cmath>
#include <cstring>

namespace {

const QString kCommand = QStringLiteral("write");

bool finiteFloat(const QByteArray& bytes)
{
    float value = 0;
    quint32 raw = 0;
    for (int i = 0; i < 4 && i < bytes.size(); ++i)
        raw |= quint32(static_cast<quint8>(bytes.at(i))) << (8 * i);
    std::memcpy(&value, &raw, sizeof value);
    return std::isfinite(value);
}

QList<ValueVariable> variablesOf(const QList<PlannedWrite>& writes)
{
    QList<ValueVariable> variables;
    for (const PlannedWrite& write : writes)
        variables.append(write.variable);
    return variables;
}

} // namespace

bool planWrite(const QString& text, FormatChoice format, const WriteOptions& options, PlannedWrite* write,
               QString* error)
{
    const int equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0) {
        *error = QStringLiteral("\"%1\": expected ADDR=VALUE, such as D100=42").arg(text);
        return false;
    }
    if (!parseValueVariable(text.left(equals), format, false, &write->variable, error))
        return false;
    const RegisterKind& kind = *write->variable.address.type;
    if (!kind.writable) {
        *error = QStringLiteral("\"%1\": the inputs X are driven by the hardware and cannot be written").arg(text);
        return false;
    }
    write->typedValue = text.mid(equals + 1);
    if (!encodeValue(write->typedValue, write->variable.format, kind.element, &write->bytes, error)) {
        *error = QStringLiteral("\"%1\": %2").arg(text, *error);
        return false;
    }
    if (write->variable.format == ValueFormat::Float && !options.allowNonFinite && !finiteFloat(write->bytes)) {
        *error = QStringLiteral("\"%1\": %2 is not a finite number; --allow-nan writes NaN and infinity")
                     .arg(text, write->typedValue);
        return false;
    }
    write->parsedValue = write->variable.valueTexts(write->bytes).value(0);
    return true;
}

QVector<WriteReport> runWrites(HostRuntime& runtime, const QList<PlannedWrite>& writes, bool verify)
{
    const QVector<VariableReport> before = readOnce(runtime, variablesOf(writes));
    QVector<RequestId> ids;
    for (const PlannedWrite& write : writes)
        ids.append(runtime.queueWrite(write.variable.address, write.bytes));
    const int waitMs = runtime.giveUpBudgetMs() * (static_cast<int>(ids.size()) + 1) + 2000;
    QVector<WriteReport> results;
    for (int i = 0; i < writes.size(); ++i) {
        WriteReport result;
        result.write = writes.at(i);
        result.oldValue = before.at(i).texts().value(0);
        const RequestOutcome outcome = runtime.wait(ids.at(i), waitMs);
        result.written = outcome.finished && outcome.good;
        result.unconfirmed = !outcome.finished || outcome.unconfirmed;
        result.error = outcome.finished ? outcome.error
                                        : QStringLiteral("not confirmed: no outcome within %1 s; read the value back "
                                                         "to know whether it landed")
                                              .arg(waitMs / 1000.0, 0, 'f', 1);
        results.append(result);
    }
    if (!verify)
        return results;
    QList<PlannedWrite> written;
    for (const WriteReport& result : results) {
        if (result.written)
            written.append(result.write);
    }
    const QVector<VariableReport> after = readOnce(runtime, variablesOf(written));
    for (int i = 0, k = 0; i < results.size(); ++i) {
        if (!results.at(i).written)
            continue;
        results[i].verified = true;
        results[i].readBack = after.at(k).texts().value(0);
        if (!after.at(k).good())
            results[i].error = QStringLiteral("cannot read it back: ") + after.at(k).error;
        ++k;
    }
    return results;
}

bool writeSucceeded(const WriteReport& result)
{
    return result.written && (!result.verified || result.readBack == result.write.parsedValue);
}

QString writeLine(const WriteReport& result)
{
    const PlannedWrite& write = result.write;
    QString line = QStringLiteral("%1 = %2").arg(write.variable.address.registerText(0), write.parsedValue);
    if (!result.oldValue.isEmpty())
        line += QStringLiteral(" (was %1)").arg(result.oldValue);
    if (result.unconfirmed)
        return line + QStringLiteral(": ") + result.error; // "not confirmed: ..."
    if (!result.written)
        return line + QStringLiteral(": failed, ") + result.error;
    line += QStringLiteral(": written");
    if (!result.verified)
        return line;
    if (result.readBack.isEmpty())
        return line + QStringLiteral(", but ") + result.error;
    if (result.readBack != write.parsedValue)
        return line + QStringLiteral(", but reads back %1").arg(result.readBack);
    return line + QStringLiteral(", read back %1").arg(result.readBack);
}

int runWriteCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes values to the PLC, waits for each write to be acknowledged and reports it with "
                       "the value as parsed and the value before. Exits with 1 when any write failed.\n"
                       "Bits take 0, 1, on, off, true or false; whole numbers also 0x1F and 0b101. The inputs X "
                       "cannot be written, nor M1536 and up, which the programming port puts on other devices.\n"
                       "D10.3=1 reads D10 and writes the whole word back with bit 3 set: if the PLC program "
                       "changes another bit of D10 in between (one scan and two frames), that bit gets its "
                       "old value back. Keep bits the program writes out of words you write bit by bit.\n"
                       "Example: tavrin write D100=42 Y0=1 D200@float=3.5 --verify"));
    parser.addPositionalArgument(QStringLiteral("write"), QStringLiteral("The command."), QStringLiteral("write"));
    parser.addPositionalArgument(QStringLiteral("ADDR[@FORMAT]=VALUE"), QStringLiteral("Writes, in order."),
                                 QStringLiteral("ADDR[@FORMAT]=VALUE..."));
    parser.addOption({QStringLiteral("verify"),
                      QStringLiteral("Read each value back after its acknowledgement and report a mismatch.")});
    parser.addOption({QStringLiteral("allow-nan"), QStringLiteral("Let float writes carry NaN and infinity.")});
    ValueCommandLine commandLine;
    const int parsed = parseValueCommandLine(parser, kCommand, arguments, ValueOutput::None,
                                             QStringLiteral("no write given: expected ADDR=VALUE..."), &commandLine);
    if (parsed >= 0)
        return parsed;
    WriteOptions options;
    options.allowNonFinite = parser.isSet(QStringLiteral("allow-nan"));
    QString error;
    QList<PlannedWrite> writes;
    for (const QString& text : commandLine.texts) {
        PlannedWrite write;
        if (!planWrite(text, commandLine.format, options, &write, &error))
            return usageError(kCommand, error);
        writes.append(write);
    }

    auto runtime = startRuntime(commandLine.settings, nullptr, false, &error);
    if (!runtime)
        return failure(kCommand, error);
    const QVector<WriteReport> results = runWrites(*runtime, writes, parser.isSet(QStringLiteral("verify")));
    runtime->stop();
    int exitCode = ExitOk;
    QTextStream& out = standardOutput();
    for (const WriteReport& result : results) {
        out << writeLine(result) << "\n";
        if (!writeSucceeded(result))
            exitCode = ExitFailed;
    }
    out << Qt::flush;
    reportLateReplies(*runtime, kCommand);
    return exitCode;
}
