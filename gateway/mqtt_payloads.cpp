#include "mqtt_payloads.h"

#include "model_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

// A command is a value, not a document: anything larger is no command.
constexpr int MaxSetPayloadBytes = 64 * 1024;

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const char* const kSetForms = "expected a JSON value such as 42, true, 3.5, \"0x00FF\" or [1, 2], "
                              "or {\"value\": ..., \"id\": ...}";

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
