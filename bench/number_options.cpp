#include "number_options.h"

#include <QCommandLineParser>

bool parseNumberOptions(const QStringList& arguments, std::initializer_list<NumberOption> options)
{
    QCommandLineParser parser;
    for (const NumberOption& option : options)
        parser.addOption({QLatin1String(option.name), QLatin1String(option.name), QStringLiteral("N")});
    if (!parser.parse(arguments))
        return false;
    for (const NumberOption& option : options) {
        if (parser.isSet(QLatin1String(option.name)))
            *option.target = parser.value(QLatin1String(option.name)).toInt();
    }
    return true;
}
