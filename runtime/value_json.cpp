#include "value_json.h"

#include <QJsonArray>
#include <QLocale>

#include <cmath>
#include <cstring>

namespace {

quint32 littleEndian(const QByteArray& bytes, int size)
{
    quint32 raw = 0;
    for (int i = std::min<int>(size, static_cast<int>(bytes.size())) - 1; i >= 0; --i)
        raw = (raw << 8) | static_cast<quint8>(bytes.at(i));
    return raw;
}

// The text the value encoder takes for one JSON value, or an empty text
// with `error` set when the JSON value is of the wrong kind: the encoder
// keeps the ranges and their messages in one place.
QString textFromJson(const QJsonValue& value, ValueFormat format, QString* error)
{
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
    *error = QStringLiteral("%1 takes a whole number").arg(valueFormatName(format));
    return QString();
}

bool numbersDifferBeyond(const QJsonValue& a, const QJsonValue& b, double deadband)
{
    if (a.isDouble() && b.isDouble())
        return std::fabs(a.toDouble() - b.toDouble()) > deadband;
    return a != b;
}

} // namespace

QJsonValue valueJson(const QByteArray& bytes, ValueFormat format, ElementKind element)
{
    const quint32 raw = littleEndian(bytes, bytesPerValue(format, element));
    switch (format) {
    case ValueFormat::Bit:
        return raw != 0;
    case ValueFormat::Int16:
        return static_cast<qint16>(raw);
    case ValueFormat::Uint16:
    case ValueFormat::Uint32:
        return static_cast<double>(raw);
    case ValueFormat::Int32:
        return static_cast<qint32>(raw);
    case ValueFormat::Float: {
        float f = 0;
        std::memcpy(&f, &raw, sizeof f);
        if (std::isnan(f))
            return QStringLiteral("NaN");
        if (std::isinf(f))
            return f > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
        // The float's shortest decimal, so that 3.1 stays 3.1 and not 3.0999999046325684.
        return QString::number(f, 'g', QLocale::FloatingPointShortest).toDouble();
    }
    case ValueFormat::Hex:
        return decodeValue(bytes, format, element);
    }
    return QJsonValue();
}

QJsonValue valuesJson(const QByteArray& bytes, ValueFormat format, ElementKind element, int count)
{
    const int size = bytesPerValue(format, element);
    if (count == 1)
        return valueJson(bytes.left(size), format, element);
    QJsonArray values;
    for (int k = 0; k < count; ++k)
        values.append(valueJson(bytes.mid(qsizetype(k) * size, size), format, element));
    return values;
}

bool valuesFromJson(const QJsonValue& value, ValueFormat format, ElementKind element, int count,
                    QVector<QByteArray>* values, QString* error)
{
    values->clear();
    const auto encodeOne = [&](const QJsonValue& one, QString* why) {
        const QString text = textFromJson(one, format, why);
        QByteArray bytes;
        if (text.isEmpty() || !encodeValue(text, format, element, &bytes, why))
            return false;
        values->append(bytes);
        return true;
    };
    if (count == 1)
        return encodeOne(value, error);
    const QJsonArray array = value.toArray();
    if (!value.isArray() || array.size() != count) {
        *error = QStringLiteral("this tag takes an array of %1 values").arg(count);
        return false;
    }
    for (int k = 0; k < count; ++k) {
        QString why;
        if (!encodeOne(array.at(k), &why)) {
            *error = QStringLiteral("value %1 of %2: %3").arg(k + 1).arg(count).arg(why);
            return false;
        }
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
