#include "tag_value.h"

TypedValue tagValue(const TagConfig& tag, const QByteArray& bytes)
{
    return TypedValue{tag.format, tag.address.type->element, tag.count, bytes};
}

bool encodeTagValue(const TagConfig& tag, const QJsonValue& value, QVector<QByteArray>* values, QString* error)
{
    return valuesFromJson(value, tag.format, tag.address.type->element, tag.count, values, error);
}
