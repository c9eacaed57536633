#include "typed_value.h"

QJsonValue TypedValue::json() const
{
    if (isNull())
        return QJsonValue();
    return valuesJson(bytes, format, element, count);
}

std::optional<double> TypedValue::number() const
{
    if (count != 1 || format == ValueFormat::Hex)
        return std::nullopt;
    const QJsonValue value = json();
    if (value.isBool())
        return value.toBool() ? 1.0 : 0.0;
    if (value.isDouble())
        return value.toDouble();
    return std::nullopt;
}
