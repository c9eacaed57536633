// The tavrin tool: reads, watches and writes FX PLC values through the
// module, serves the virtual PLC, and checks addresses.

#include "command_line.h"
#include "commands.h"
#include "gateway_command.h"
#include "interrupts.h"
#include "tavrin_version.h"

#include <QCoreApplication>

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const QStringList&);
};

const Command kCommands[] = {
    {"demo", "Polls the built-in virtual PLC and shows a live table, then line statistics.", runDemoCommand},
    {"read", "Reads values once and prints them: tavrin read D100 X0:8 --format int32", runReadCommand},
    {"watch", "Polls values and prints every change with a timestamp.", runWatchCommand},
    {"write", "Writes values and reports each write: tavrin write D100=42 Y0=1", runWriteCommand},
    {"sim", "Serves the virtual PLC on a pseudo-terminal or a TCP port.", runSimCommand},
    {"check", "Checks a register and address as the configuration editor does.", runCheckCommand},
    {"copy", "Generates the addresses of copies of a variable.", runCopyCommand},
    {"ports", "Lists the serial ports this machine has.", runPortsCommand},
    {"gateway", "Polls PLC lines and publishes their tags to MQTT: tavrin gateway CONFIG", runGatewayCommand},
};

void printOverview()
{
    QTextStream& out = standardOutput();
    out << "Usage: tavrin COMMAND [options] [arguments]\n\n"
        << "Talks to a Mitsubishi FX-series PLC over its programming port through the Tavrin module.\n\n"
        << "Commands:\n";
    for (const Command& command : kCommands)
        out << "  " << QString::fromLatin1(command.name).leftJustified(8) << command.summary << "\n";
    out << "\nAddresses: D100, X17 (octal), D10.3 (bit 3 of D10), M8000 or SM8000, D8000 or SD8000,\n"
        << "T5, C5, S5, TV5, CV10, 32CV200; D200@float gives a variable its own format. Without\n"
        << "--port every command talks to the built-in virtual PLC.\n\n"
        << "Run 'tavrin COMMAND --help' for the options of a command.\n"
        << Qt::flush;
}

// The exit code once the output is out: a closed pipe or a full disk on
// either stream leaves the output incomplete, and a script must hear so.
int finished(const QString& command, int exitCode)
{
    if (outputFailed()) {
        standardError() << (command.isEmpty() ? QStringLiteral("tavrin") : QStringLiteral("tavrin ") + command)
                        << ": cannot write the output (a closed pipe or a full disk)\n"
                        << Qt::flush;
        exitCode = exitCode == ExitOk ? ExitFailed : exitCode;
    }
    if (errorOutputFailed())
        exitCode = exitCode == ExitOk ? ExitFailed : exitCode;
    return exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION_STRING));
    qSetMessagePattern(QStringLiteral("%{category}: %{message}"));

    const QStringList arguments = QCoreApplication::arguments();
    const QString first = arguments.value(1);
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h")
        || first == QLatin1String("help")) {
        printOverview();
        return finished(QString(), first.isEmpty() ? ExitUsage : ExitOk);
    }
    if (first == QLatin1String("--version")) {
        standardOutput() << "tavrin " << TAVRIN_VERSION_STRING << "\n" << Qt::flush;
        return finished(QString(), ExitOk);
    }
    installInterruptHandler();
    for (const Command& command : kCommands) {
        if (first == QLatin1String(command.name))
            return finished(first, command.run(arguments));
    }
    QStringList names;
    for (const Command& command : kCommands)
        names << QLatin1String(command.name);
    standardError() << "tavrin: unknown command \"" << first << "\": accepted are " << names.join(QStringLiteral(", "))
                    << ".\nRun 'tavrin --help' for an overview.\n"
                    << Qt::flush;
    return finished(QString(), ExitUsage);
}
