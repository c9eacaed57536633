#include "topic_names.h"

#include <QStringList>

namespace {

const QString kSet = QStringLiteral("set");
const QString kStatus = QStringLiteral("status");
const QString kGateway = QStringLiteral("gateway");

bool isNameCharacter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_') || c == QLatin1Char('-')
        || c == QLatin1Char('.');
}

bool isPlainLevel(const QString& level)
{
    if (level.isEmpty() || level.size() > 64)
        return false;
    for (const QChar c : level) {
        if (!isNameCharacter(c))
            return false;
    }
    return true;
}

const char* const kNameRule = "letters, digits, '_', '-' and '.', at most 64";

} // namespace

bool checkTopicLevelName(const QString& name, const QString& what, QString* problem)
{
    if (!isPlainLevel(name)) {
        *problem = QStringLiteral("%1 name \"%2\": expected %3").arg(what, name, QLatin1String(kNameRule));
        return false;
    }
    const QString reserved = what == QLatin1String("line") ? kGateway : kStatus;
    if (name == reserved) {
        *problem = QStringLiteral("%1 name \"%2\" is taken by the gateway's own topics").arg(what, name);
        return false;
    }
    return true;
}

bool checkTopicPrefix(const QString& prefix, QString* problem)
{
    for (const QString& level : prefix.split(QLatin1Char('/'))) {
        if (!isPlainLevel(level)) {
            *problem = QStringLiteral("prefix \"%1\": expected one or more levels of %2, '/' between them")
                           .arg(prefix, QLatin1String(kNameRule));
            return false;
        }
    }
    return true;
}

QString gatewayStatusTopic(const QString& prefix)
{
    return prefix + QLatin1Char('/') + kGateway + QLatin1Char('/') + kStatus;
}

QString lineStatusTopic(const QString& prefix, const QString& line)
{
    return prefix + QLatin1Char('/') + line + QLatin1Char('/') + kStatus;
}

QString tagTopic(const QString& prefix, const QString& line, const QString& tag)
{
    return prefix + QLatin1Char('/') + line + QLatin1Char('/') + tag;
}

QString setTopic(const QString& prefix, const QString& line, const QString& tag)
{
    return tagTopic(prefix, line, tag) + QLatin1Char('/') + kSet;
}

QString setResultTopic(const QString& prefix, const QString& line, const QString& tag)
{
    return setTopic(prefix, line, tag) + QStringLiteral("/result");
}

QString historyTopic(const QString& prefix, const QString& line, const QString& tag)
{
    return tagTopic(prefix, line, tag) + QStringLiteral("/history");
}

QString setSubscription(const QString& prefix)
{
    return setTopic(prefix, QStringLiteral("+"), QStringLiteral("+"));
}

bool parseSetTopic(const QString& topic, const QString& prefix, QString* line, QString* tag)
{
    const QString head = prefix + QLatin1Char('/');
    if (!topic.startsWith(head))
        return false;
    const QStringList levels = topic.mid(head.size()).split(QLatin1Char('/'));
    if (levels.size() != 3 || levels.at(2) != kSet || levels.at(0).isEmpty() || levels.at(1).isEmpty())
        return false;
    *line = levels.at(0);
    *tag = levels.at(1);
    return true;
}
