// tavrin write ADDR=VALUE...: queued writes, each reported.

#include "command_support.h"
#include "commands.h"

namespace {

const QString kCommand = QStringLiteral("write");

struct PlannedWrite {
    ValueVariable variable;
    QString valueText;
    QByteArray bytes;
};

bool planWrite(const QString& text, ValueFormat format, bool formatGiven, PlannedWrite* write, QString* error)
{
    const int equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0) {
        *error = QStringLiteral("\"%1\": expected ADDR=VALUE, such as D100=42").arg(text);
        return false;
    }
    if (!parseValueVariable(text.left(equals), format, formatGiven, false, &write->variable, error))
        return false;
    write->valueText = text.mid(equals + 1);
    if (!encodeValue(write->valueText, write->variable.format, write->variable.address.type->element,
                     &write->bytes, error)) {
        *error = QStringLiteral("\"%1\": %2").arg(text, *error);
        return false;
    }
    return true;
}

} // namespace

int runWriteCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes values to the PLC, waits for each write to be acknowledged and reports it. "
                       "Exits with 1 when any write failed.\n"
                       "Bits take 0, 1, on, off, true or false; the inputs X cannot be written, nor M1536 "
                       "and up, which the programming port puts on other devices.\n"
                       "D10.3=1 reads D10 and writes the whole word back with bit 3 set: if the PLC program "
                       "changes another bit of D10 in between (one scan and two frames), that bit gets its "
                       "old value back. Keep bits the program writes out of words you write bit by bit.\n"
                       "Example: tavrin write D100=42 Y0=1 D200=3.5 --format float"));
    parser.addPositionalArgument(QStringLiteral("write"), QStringLiteral("The command."), QStringLiteral("write"));
    parser.addPositionalArgument(QStringLiteral("ADDR=VALUE"), QStringLiteral("Writes, in order."),
                                 QStringLiteral("ADDR=VALUE..."));
    ValueCommandLine commandLine;
    const int parsed = parseValueCommandLine(parser, kCommand, arguments,
                                             QStringLiteral("no write given: expected ADDR=VALUE..."),
                                             &commandLine);
    if (parsed >= 0)
        return parsed;

    QString error;
    QList<PlannedWrite> writes;
    for (const QString& text : commandLine.texts) {
        PlannedWrite write;
        if (!planWrite(text, commandLine.format, commandLine.formatGiven, &write, &error))
            return usageError(kCommand, error);
        if (!write.variable.address.type->writable)
            return usageError(kCommand, QStringLiteral("\"%1\": the inputs X are driven by the hardware and cannot be written").arg(text));
        writes.append(write);
    }

    auto runtime = startRuntime(commandLine.settings, nullptr, false, &error);
    if (!runtime)
        return failure(kCommand, error);
    QVector<RequestId> ids;
    for (const PlannedWrite& write : writes)
        ids.append(runtime->queueWrite(write.variable.address, write.bytes));

    int exitCode = ExitOk;
    QTextStream& out = standardOutput();
    for (int i = 0; i < writes.size(); ++i) {
        const RequestOutcome outcome = runtime->wait(ids.at(i), runtime->giveUpBudgetMs() * (ids.size() + 1) + 2000);
        const PlannedWrite& write = writes.at(i);
        out << write.variable.address.text << " = " << write.valueText << ": ";
        if (outcome.finished && outcome.good) {
            out << "written\n";
            continue;
        }
        exitCode = ExitFailed;
        out << "failed, " << (outcome.finished ? outcome.error : QStringLiteral("no completion notice in time")) << "\n";
    }
    out << Qt::flush;
    runtime->stop();
    reportLateReplies(*runtime, kCommand);
    return exitCode;
}
