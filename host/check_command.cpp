// tavrin check REGISTER ADDRESS: the configuration editor's address check.

#include "command_support.h"
#include "commands.h"
#include "port_reach.h"

#include "module_instance.h"

namespace {

const QString kCommand = QStringLiteral("check");

bool languageFromOption(const QString& text, qint32* language)
{
    if (text == QLatin1String("en"))
        *language = 1;
    else if (text == QLatin1String("zh"))
        *language = 0;
    else
        return false;
    return true;
}

} // namespace

int runCheckCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks a register name and address as the configuration editor does, for a variable "
                       "of COUNT registers, and prints the register index or the module's message.\n"
                       "REGISTER is the module's name: X, Y, M, SM, S, T, C, D, D_bit, SD, TV, CV, 32CV.\n"
                       "Example: tavrin check X 17 --count 8"));
    parser.addPositionalArgument(QStringLiteral("check"), QStringLiteral("The command."), QStringLiteral("check"));
    parser.addPositionalArgument(QStringLiteral("REGISTER"), QStringLiteral("Register name, e.g. D_bit."));
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("Address as written, e.g. 10.3."));
    parser.addOption({QStringLiteral("count"), QStringLiteral("Registers the variable covers. Default: 1."),
                      QStringLiteral("N"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("bit"), QStringLiteral("Check as a bit variable (default for bit registers).")});
    parser.addOption({QStringLiteral("word"), QStringLiteral("Check as a word variable (default for the others).")});
    parser.addOption({QStringLiteral("lang"), QStringLiteral("Language of the message: en or zh. Default: en."),
                      QStringLiteral("en|zh"), QStringLiteral("en")});
    const int parsed = parseCommandLine(parser, kCommand, arguments);
    if (parsed >= 0)
        return parsed;

    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != 2)
        return usageError(kCommand, QStringLiteral("expected REGISTER and ADDRESS, got %1 arguments").arg(positional.size()));
    int count = 0;
    if (!parseBoundedInt(parser.value(QStringLiteral("count")), -1000000, 1000000, &count))
        return usageError(kCommand, QStringLiteral("--count \"%1\": expected a whole number").arg(parser.value(QStringLiteral("count"))));
    qint32 language = 1;
    if (!languageFromOption(parser.value(QStringLiteral("lang")), &language))
        return usageError(kCommand, QStringLiteral("--lang \"%1\": accepted are en and zh").arg(parser.value(QStringLiteral("lang"))));
    if (parser.isSet(QStringLiteral("bit")) && parser.isSet(QStringLiteral("word")))
        return usageError(kCommand, QStringLiteral("--bit and --word exclude each other"));

    const QString& regName = positional.at(0);
    const QString& address = positional.at(1);
    const RegisterKind* type = findRegisterKind(regName);
    qint32 addressType = type ? type->addressType() : 1;
    if (parser.isSet(QStringLiteral("bit")))
        addressType = 0;
    if (parser.isSet(QStringLiteral("word")))
        addressType = 1;

    QString error;
    const std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(&error);
    if (!module)
        return failure(kCommand, error);
    qint32 index = -1;
    const QString message = module->CheckAddrCorrect(regName, address, &index, count, language, addressType);
    if (!message.isEmpty()) {
        standardOutput() << regName << " " << address << ": " << message << "\n" << Qt::flush;
        return ExitFailed;
    }
    standardOutput() << regName << " " << address << ": valid, register index " << index << "\n";
    VariableAddress variable;
    variable.regName = regName;
    variable.index = index;
    variable.registers = count;
    variable.type = type;
    const QString reach = portReachError(variable);
    if (!reach.isEmpty())
        standardOutput() << "  but " << reach << "; read, watch and write refuse it\n";
    standardOutput() << Qt::flush;
    return ExitOk;
}
