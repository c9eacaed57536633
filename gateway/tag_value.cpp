#include "tag_value.h"

QJsonValue tagValue(const TagConfig& tag, const QByteArray& bytes)
{
    return valuesJson(bytes, tag.format, tag.address.type->element, tag.count);
}

bool encodeTagValue(const TagConfig& tag, const QJsonValue& value, QVector<QByteArray>* values, QString* error)
{
    return valuesFromJson(value, tag.format, tag.address.type->element, tag.count, values, error);
}
