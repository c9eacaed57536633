// tavrin check REGISTER ADDRESS: the configuration editor's address check.

#include "command_line.h"
#include "commands.h"
#include "editor_tools.h"
#include "module_instance.h"
#include "port_reach.h"

namespace {

const QString kCommand = QStringLiteral("check");

// The tool's own words around the module's verdict, in its language.
QString validText(Language language, qint32 index)
{
    return language == Language::Chinese ? QStringLiteral("有效, 寄存器索引 %1").arg(index)
                                         : QStringLiteral("valid, register index %1").arg(index);
}

QString reachNote(Language language, const QString& reach, const RegisterKind& kind)
{
    if (language == Language::English)
        return QStringLiteral("but %1; read, watch and write refuse it").arg(reach);
    return QStringLiteral("但编程口只能到达 %1~%2, read、watch 和 write 拒绝此地址")
        .arg(plcRegisterText(kind, 0), plcRegisterText(kind, kind.reachable - 1));
}

} // namespace

int runCheckCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks a register name and address as the configuration editor does, for a variable "
                       "of COUNT registers, and prints the register index or the module's message.\n"
                       "REGISTER is the module's name, in any letter case: X, Y, M, SM, S, T, C, D, D_bit, SD, "
                       "TV, CV, 32CV.\n"
                       "Example: tavrin check X 17 --count 8"));
    parser.addPositionalArgument(QStringLiteral("check"), QStringLiteral("The command."), QStringLiteral("check"));
    parser.addPositionalArgument(QStringLiteral("REGISTER"), QStringLiteral("Register name, e.g. D_bit."));
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("Address as written, e.g. 10.3."));
    parser.addOption({QStringLiteral("count"), QStringLiteral("Registers the variable covers, 1 to 128000. Default: 1."),
                      QStringLiteral("N"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("bit"), QStringLiteral("Check as a bit variable (default for bit registers).")});
    parser.addOption({QStringLiteral("word"), QStringLiteral("Check as a word variable (default for the others).")});
    addLanguageOption(parser);
    const int parsed = parseCommandLine(parser, kCommand, arguments);
    if (parsed >= 0)
        return parsed;

    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != 2)
        return usageError(kCommand, QStringLiteral("expected REGISTER and ADDRESS, got %1 arguments").arg(positional.size()));
    int count = 0;
    Language language = Language::English;
    QString error;
    if (!boundedOption(parser, QStringLiteral("count"), 1, 128000, &count, &error)
        || !languageFromOption(parser, &language, &error))
        return usageError(kCommand, error);
    if (parser.isSet(QStringLiteral("bit")) && parser.isSet(QStringLiteral("word")))
        return usageError(kCommand, QStringLiteral("--bit and --word exclude each other"));
    const RegisterKind* type = registerKindNamed(positional.at(0), &error);
    if (!type)
        return usageError(kCommand, error);
    const QString regName = QLatin1String(type->name);
    const QString& address = positional.at(1);
    qint32 addressType = type->addressType();
    if (parser.isSet(QStringLiteral("bit")))
        addressType = 0;
    if (parser.isSet(QStringLiteral("word")))
        addressType = 1;

    const std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(&error);
    if (!module)
        return failure(kCommand, error);
    qint32 index = -1;
    const QString message =
        module->CheckAddrCorrect(regName, address, &index, count, static_cast<qint32>(language), addressType);
    QTextStream& out = standardOutput();
    if (!message.isEmpty()) {
        out << regName << " " << address << ": " << message << "\n" << Qt::flush;
        return ExitFailed;
    }
    out << regName << " " << address << ": " << validText(language, index) << "\n";
    VariableAddress variable;
    variable.regName = regName;
    variable.shownName = regName;
    variable.index = index;
    variable.registers = count;
    variable.type = type;
    const QString reach = portReachError(variable);
    if (!reach.isEmpty())
        out << "  " << reachNote(language, reach, *type) << "\n";
    out << Qt::flush;
    return ExitOk;
}
