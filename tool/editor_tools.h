#pragma once

// What check and copy, the configuration editor's tools, share: the
// module's register names in any letter case, and the language of the
// module's messages.

#include "register_kinds.h"

#include <QCommandLineParser>
#include <QString>

// The module's language selector for --lang.
enum class Language : qint32 { Chinese = 0, English = 1 };

void addLanguageOption(QCommandLineParser& parser);
bool languageFromOption(const QCommandLineParser& parser, Language* language, QString* error);

// The register kind whose name matches `name` in any letter case ("d_bit"
// is D_bit), or null with a message that lists the names.
const RegisterKind* registerKindNamed(const QString& name, QString* error);
