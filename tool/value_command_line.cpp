#include "value_command_line.h"

#include "command_line.h"
#include "module_instance.h"
#include "port_options.h"

namespace {

void addFormatOption(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("format"),
                      QStringLiteral("Value format of the variables that name none (ADDR@FORMAT names one): %1. "
                                     "int32, uint32 and float take two D words, low word first; float is IEEE "
                                     "754. Default: bit for bit registers, int16 for data words, int32 for "
                                     "32-bit counters.")
                          .arg(valueFormatNames()),
                      QStringLiteral("FMT")});
}

bool formatFromOption(const QCommandLineParser& parser, FormatChoice* choice, QString* error)
{
    choice->given = parser.isSet(QStringLiteral("format"));
    if (!choice->given)
        return true;
    const QString name = parser.value(QStringLiteral("format"));
    if (parseValueFormat(name, &choice->format))
        return true;
    *error = QStringLiteral("--format \"%1\": accepted are %2").arg(name, valueFormatNames());
    return false;
}

void addOutputOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("One JSON object per variable and line: name as typed, register, address, "
                                     "format, value, quality or error (and ts in watch).")});
    parser.addOption({QStringLiteral("csv"), QStringLiteral("CSV with a header line, one row per variable.")});
    parser.addOption({QStringLiteral("stats"),
                      QStringLiteral("At the end, the line's figures on standard error: frames, bytes each way, "
                                     "retries, give-ups, line utilisation.")});
}

bool outputFromOptions(const QCommandLineParser& parser, ValueCommandLine* commandLine, QString* error)
{
    const bool json = parser.isSet(QStringLiteral("json"));
    const bool csv = parser.isSet(QStringLiteral("csv"));
    if (json && csv) {
        *error = QStringLiteral("--json and --csv exclude each other");
        return false;
    }
    commandLine->style = json ? OutputStyle::Json : csv ? OutputStyle::Csv : OutputStyle::Text;
    commandLine->stats = parser.isSet(QStringLiteral("stats"));
    return true;
}

} // namespace

int parseValueCommandLine(QCommandLineParser& parser, const QString& command, const QStringList& arguments,
                          ValueOutput output, const QString& noTextsMessage, ValueCommandLine* commandLine,
                          const std::function<bool(const QCommandLineParser&, QString*)>& ownOptions)
{
    addFormatOption(parser);
    if (output == ValueOutput::Styles)
        addOutputOptions(parser);
    addLineOptions(parser);
    addDiagnosticOptions(parser);
    const int parsed = parseCommandLine(parser, command, arguments);
    if (parsed >= 0)
        return parsed;
    applyDiagnosticOptions(parser);

    QString error;
    if (!ModuleInstance::shared(&error))
        return failure(command, error);
    if (!formatFromOption(parser, &commandLine->format, &error)
        || (output == ValueOutput::Styles && !outputFromOptions(parser, commandLine, &error))
        || !lineSettingsFromOptions(parser, &commandLine->settings, &error)
        || (ownOptions && !ownOptions(parser, &error)))
        return usageError(command, error);
    commandLine->texts = parser.positionalArguments().mid(1);
    if (commandLine->texts.isEmpty())
        return usageError(command, noTextsMessage);
    return -1;
}

bool planVariables(const QStringList& texts, FormatChoice format, QList<ValueVariable>* variables, QString* error)
{
    for (const QString& text : texts) {
        ValueVariable variable;
        if (!parseValueVariable(text, format, true, &variable, error))
            return false;
        variables->append(variable);
    }
    return true;
}
