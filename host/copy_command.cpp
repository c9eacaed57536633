// tavrin copy REGISTER START COUNT STEP: the addresses of copies of a variable.

#include "command_support.h"
#include "commands.h"

#include "module_instance.h"
#include "register_kinds.h"
#include "tavrin.h"

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
    parser.addOption({QStringLiteral("lang"), QStringLiteral("Language of the question: en or zh. Default: en."),
                      QStringLiteral("en|zh"), QStringLiteral("en")});
    const int parsed = parseCommandLine(parser, kCommand, arguments);
    if (parsed >= 0)
        return parsed;

    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != 4)
        return usageError(kCommand, QStringLiteral("expected REGISTER START COUNT STEP, got %1 arguments").arg(positional.size()));
    const QString lang = parser.value(QStringLiteral("lang"));
    if (lang != QLatin1String("en") && lang != QLatin1String("zh"))
        return usageError(kCommand, QStringLiteral("--lang \"%1\": accepted are en and zh").arg(lang));
    const qint32 language = lang == QLatin1String("en") ? 1 : 0;
    int count = 0;
    int step = 0;
    if (!parseBoundedInt(positional.at(2), 0, 100000, &count))
        return usageError(kCommand, QStringLiteral("COUNT \"%1\": expected a whole number from 0 to 100000").arg(positional.at(2)));
    if (!parseBoundedInt(positional.at(3), -1000000, 1000000, &step))
        return usageError(kCommand, QStringLiteral("STEP \"%1\": expected a whole number").arg(positional.at(3)));

    const QString& regName = positional.at(0);
    const RegisterKind* type = findRegisterKind(regName);
    QString error;
    const std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(&error);
    if (!module)
        return failure(kCommand, error);
    qint32 index = -1;
    const QString message = module->CheckAddrCorrect(regName, positional.at(1), &index, 1, language,
                                                     type ? type->addressType() : 1);
    if (!message.isEmpty() || !type)
        return usageError(kCommand, QStringLiteral("%1 %2: %3").arg(regName, positional.at(1), message));

    QStringList texts;
    QVector<qint32> numbers;
    const QString question =
        module->AddrMutilCopy(regName, index + type->numberOffset, count, step, texts, numbers, language);
    QTextStream& out = standardOutput();
    for (int i = 0; i < texts.size(); ++i)
        out << texts.at(i) << "\t" << numbers.value(i) << "\n";
    if (!question.isEmpty())
        out << question << "\n";
    out << Qt::flush;
    return ExitOk;
}
