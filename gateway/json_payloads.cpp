#include "json_payloads.h"

#include "model_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <cctype>

namespace {

// A command is a value, not a document: anything larger is no command.
constexpr int MaxSetPayloadBytes = 64 * 1024;

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const char* const kSetForms = "expected a JSON value such as 42, true, 3.5, \"0x00FF\" or [1, 2], "
                              "or {\"value\": ..., \"id\": ...}";

// QJsonDocument keeps one of two equal keys and says nothing: the first key
// of the outer object of a valid JSON text that comes twice (an escaped
// spelling counts as the key it spells), or a null text.
QString repeatedKey(const QByteArray& json)
{
    QSet<QString> keys;
    int depth = 0;
    for (int k = 0; k < json.size(); ++k) {
        const char c = json.at(k);
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == '"') {
            int end = k + 1;
            while (end < json.size() && json.at(end) != '"')
                end += json.at(end) == '\\' ? 2 : 1;
            int next = end + 1;
            while (next < json.size() && std::isspace(static_cast<unsigned char>(json.at(next))))
                ++next;
            if (depth == 1 && next < json.size() && json.at(next) == ':') {
                const QString key =
                    QJsonDocument::fromJson('[' + json.mid(k, end + 1 - k) + ']').array().at(0).toString();
                if (keys.contains(key))
                    return key;
                keys.insert(key);
            }
            k = end;
        }
    }
    return QString();
}

} // namespace

QByteArray tagPayload(const TagState& state)
{
    return compact(tagStateJson(state));
}

QByteArray lineStatusPayload(const LineStatus& status)
{
    return compact(lineStatusJson(status));
}

QByteArray writeResultPayload(const TagWriteResult& result, const QJsonValue& id)
{
    QJsonObject object;
    object.insert(QStringLiteral("ok"), result.ok());
    if (!result.ok())
        object.insert(QStringLiteral("error"), result.error);
    if (!id.isUndefined())
        object.insert(QStringLiteral("id"), id);
    return compact(object);
}

bool parseSetPayload(const QByteArray& payload, SetRequest* request, QString* error)
{
    if (payload.size() > MaxSetPayloadBytes) {
        *error = QStringLiteral("the payload has %1 bytes; a write takes at most %2").arg(payload.size()).arg(MaxSetPayloadBytes);
        return false;
    }
    // Qt reads objects and arrays only: a bare value is read as the one
    // element of an array around it.
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson('[' + payload + ']', &parseError);
    if (parseError.error != QJsonParseError::NoError || document.array().size() != 1) {
        *error = QStringLiteral("the payload is not one JSON value; %1").arg(QLatin1String(kSetForms));
        return false;
    }
    const QJsonValue value = document.array().at(0);
    *request = SetRequest();
    if (!value.isObject()) {
        request->value = value;
        return true;
    }
    const QString twice = repeatedKey(payload);
    if (!twice.isNull()) {
        *error = QStringLiteral("the payload gives \"%1\" twice; %2").arg(twice, QLatin1String(kSetForms));
        return false;
    }
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() != QLatin1String("value") && it.key() != QLatin1String("id")) {
            *error = QStringLiteral("unknown key \"%1\" in the payload; %2").arg(it.key(), QLatin1String(kSetForms));
            return false;
        }
    }
    if (!object.contains(QStringLiteral("value"))) {
        *error = QStringLiteral("the payload lacks \"value\"; %1").arg(QLatin1String(kSetForms));
        return false;
    }
    request->value = object.value(QStringLiteral("value"));
    request->id = object.value(QStringLiteral("id"));
    return true;
}
