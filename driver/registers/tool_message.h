#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

// Marks a message text as a translation source in the QObject context, the
// context toolMessage() looks it up in.
#define TR_SOURCE(text) QT_TRANSLATE_NOOP("QObject", text)

// The address tools' messages: the Chinese (0) or English (1) source text,
// looked up through QObject::tr so that a translator the host installs can
// replace it. Any other language selector gives an empty text.
inline QString toolMessage(qint32 language, const char* chinese, const char* english)
{
    switch (language) {
    case 0:
        return QObject::tr(chinese);
    case 1:
        return QObject::tr(english);
    default:
        return QString();
    }
}
