#include "editor_tools.h"

#include <QStringList>

void addLanguageOption(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("lang"), QStringLiteral("Language of the messages: en or zh. Default: en."),
                      QStringLiteral("en|zh"), QStringLiteral("en")});
}

bool languageFromOption(const QCommandLineParser& parser, Language* language, QString* error)
{
    const QString text = parser.value(QStringLiteral("lang"));
    if (text == QLatin1String("en"))
        *language = Language::English;
    else if (text == QLatin1String("zh"))
        *language = Language::Chinese;
    else {
        *error = QStringLiteral("--lang \"%1\": accepted are en and zh").arg(text);
        return false;
    }
    return true;
}

const RegisterKind* registerKindNamed(const QString& name, QString* error)
{
    QStringList names;
    for (int i = 0; i < RegisterKindCount; ++i) {
        const RegisterKind& kind = registerKinds()[i];
        if (name.compare(QLatin1String(kind.name), Qt::CaseInsensitive) == 0)
            return &kind;
        names << QLatin1String(kind.name);
    }
    *error = QStringLiteral("no register named \"%1\": the module's names are %2")
                 .arg(name, names.join(QStringLiteral(", ")));
    return nullptr;
}
