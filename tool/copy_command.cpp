// tavrin copy REGISTER START COUNT STEP: the addresses of copies of a variable.

#include "command_line.h"
#include "commands.h"
#include "editor_tools.h"
#include "module_instance.h"

#include <QVector>

namespace {
const QString kCommand = QStringLiteral("copy");
} // namespace

int runCopyCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Generates the addresses of COUNT copies of a variable, each STEP registers after the "
                       "last, as the configuration editor does when a variable is copied. Copies past the end "
                       "of the register's range are clamped to its highest address and the module asks "
                       "whether to continue.\n"
                       "START is an address in the register's notation (octal for X and Y, 8000 up for SM "
                       "and SD, 200 up for 32CV, word.bit for D_bit); STEP counts registers (bits for D_bit).\n"
                       "Example: tavrin copy X 17 3 1"));
    parser.addPositionalArgument(QStringLiteral("copy"), QStringLiteral("The command."), QStringLiteral("copy"));
    parser.addPositionalArgument(QStringLiteral("REGISTER"), QStringLiteral("Register name, e.g. X or D_bit."));
    parser.addPositionalArgument(QStringLiteral("START"), QStringLiteral("The source variable's address."));
    parser.addPositionalArgument(QStringLiteral("COUNT"), QStringLiteral("Number of copies."));
    parser.addPositionalArgument(QStringLiteral("STEP"), QStringLiteral("Registers between copies."));
    addLanguageOption(parser);
    const int parsed = parseCommandLine(parser, kCommand, arguments);
    if (parsed >= 0)
        return parsed;

    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != 4)
        return usageError(kCommand, QStringLiteral("expected REGISTER START COUNT STEP, got %1 arguments").arg(positional.size()));
    QString error;
    Language language = Language::English;
    if (!languageFromOption(parser, &language, &error))
        return usageError(kCommand, error);
    int count = 0;
    int step = 0;
    if (!parseBoundedInt(positional.at(2), 1, 100000, &count))
        return usageError(kCommand, QStringLiteral("COUNT \"%1\": expected a whole number from 1 to 100000").arg(positional.at(2)));
    if (!parseBoundedInt(positional.at(3), -128000, 128000, &step))
        return usageError(kCommand, QStringLiteral("STEP \"%1\": expected a whole number from -128000 to 128000").arg(positional.at(3)));
    const RegisterKind* type = registerKindNamed(positional.at(0), &error);
    if (!type)
        return usageError(kCommand, error);
    const QString regName = QLatin1String(type->name);
    const std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(&error);
    if (!module)
        return failure(kCommand, error);
    qint32 index = -1;
    const QString message = module->CheckAddrCorrect(regName, positional.at(1), &index, 1,
                                                     static_cast<qint32>(language), type->addressType());
    if (!message.isEmpty())
        return usageError(kCommand, QStringLiteral("%1 %2: %3").arg(regName, positional.at(1), message));

    QStringList texts;
    QVector<qint32> numbers;
    const QString question =
        module->AddrMutilCopy(regName, index + type->numberOffset, count, step, texts, numbers,
                              static_cast<qint32>(language));
    QTextStream& out = standardOutput();
    for (int i = 0; i < texts.size(); ++i)
        out << texts.at(i) << "\t" << numbers.value(i) << "\n";
    if (!question.isEmpty())
        out << question << "\n";
    out << Qt::flush;
    return ExitOk;
}
