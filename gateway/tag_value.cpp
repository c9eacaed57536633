#include "tag_value.h"

#include <QJsonArray>
#include <QLocale>

#include <cmath>

namespace {

QJsonValue valueFromText(const QString& text, ValueFormat format)
{
    switch (format) {
    case ValueFormat::Bit:
        return text == QLatin1String("1");
    case ValueFormat::Hex:
        return text;
    case ValueFormat::Float: {
        const double number = text.toDouble();
        if (std::isnan(number))
            return QStringLiteral("NaN");
        if (std::isinf(number))
            return number > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
        return number;
    }
    case ValueFormat::Int16:
    case ValueFormat::Uint16:
    case ValueFormat::Int32:
    case ValueFormat::Uint32:
        break;
    }
    return static_cast<double>(text.toLongLong());
}

// The text the host's encoder takes for one JSON value, or an empty text
// with `error` set when the JSON value is of the wrong kind.
QString textFromValue(const QJsonValue& value, ValueFormat format, QString* error)
{
    const QString name = valueFormatName(format);
    const double number = value.toDouble();
    const bool whole = value.isDouble() && std::isfinite(number) && std::trunc(number) == number
        && std::fabs(number) < 9007199254740992.0; // 2^53: every whole double below it is exact
    switch (format) {
    case ValueFormat::Bit:
        if (value.isBool())
            return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        if (whole && (number == 0 || number == 1))
            return QString::number(static_cast<int>(number));
        *error = QStringLiteral("a bit takes true, false, 0 or 1");
        return QString();
    case ValueFormat::Float:
        if (value.isDouble())
            return QString::number(number, 'g', QLocale::FloatingPointShortest);
        *error = QStringLiteral("a float takes a number");
        return QString();
    case ValueFormat::Hex:
        if (value.isString())
            return value.toString();
        if (whole && number >= 0)
            return QString::number(static_cast<qint64>(number), 16);
        *error = QStringLiteral("a hex value takes a string such as \"0x00FF\" or a whole number of 0 or more");
        return QString();
    case ValueFormat::Int16:
    case ValueFormat::Uint16:
    case ValueFormat::Int32:
    case ValueFormat::Uint32:
        break;
    }
    if (whole)
        return QString::number(static_cast<qint64>(number));
    *error = QStringLiteral("%1 takes a whole number").arg(name);
    return QString();
}

bool encodeOne(const TagConfig& tag, const QJsonValue& value, QByteArray* bytes, QString* error)
{
    const QString text = textFromValue(value, tag.format, error);
    if (text.isEmpty())
        return false;
    return encodeValue(text, tag.format, tag.address.type->element, bytes, error);
}

bool numbersDifferBeyond(const QJsonValue& a, const QJsonValue& b, double deadband)
{
    if (a.isDouble() && b.isDouble())
        return std::fabs(a.toDouble() - b.toDouble()) > deadband;
    return a != b;
}

} // namespace

QJsonValue tagValue(const TagConfig& tag, const QByteArray& bytes)
{
    const ElementKind element = tag.address.type->element;
    const int size = tag.bytesPerValue();
    if (tag.count == 1)
        return valueFromText(decodeValue(bytes.left(size), tag.format, element), tag.format);
    QJsonArray values;
    for (int k = 0; k < tag.count; ++k)
        values.append(valueFromText(decodeValue(bytes.mid(k * size, size), tag.format, element), tag.format));
    return values;
}

bool encodeTagValue(const TagConfig& tag, const QJsonValue& value, QVector<QByteArray>* values, QString* error)
{
    values->clear();
    if (tag.count == 1) {
        QByteArray bytes;
        if (!encodeOne(tag, value, &bytes, error))
            return false;
        values->append(bytes);
        return true;
    }
    const QJsonArray array = value.toArray();
    if (!value.isArray() || array.size() != tag.count) {
        *error = QStringLiteral("this tag takes an array of %1 values").arg(tag.count);
        return false;
    }
    for (int k = 0; k < tag.count; ++k) {
        QByteArray bytes;
        if (!encodeOne(tag, array.at(k), &bytes, error)) {
            *error = QStringLiteral("value %1 of %2: %3").arg(k + 1).arg(tag.count).arg(*error);
            return false;
        }
        values->append(bytes);
    }
    return true;
}

bool differsBeyond(const QJsonValue& published, const QJsonValue& now, double deadband)
{
    if (!published.isArray() || !now.isArray())
        return numbersDifferBeyond(published, now, deadband);
    const QJsonArray a = published.toArray();
    const QJsonArray b = now.toArray();
    if (a.size() != b.size())
        return true;
    for (int k = 0; k < a.size(); ++k) {
        if (numbersDifferBeyond(a.at(k), b.at(k), deadband))
            return true;
    }
    return false;
}
