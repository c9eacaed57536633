#include "value_format.h"

#include <QStringList>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

struct FormatName {
    ValueFormat format;
    const char* name;
};

const FormatName kFormatNames[] = {
    {ValueFormat::Bit, "bit"},     {ValueFormat::Int16, "int16"}, {ValueFormat::Uint16, "uint16"},
    {ValueFormat::Int32, "int32"}, {ValueFormat::Uint32, "uint32"}, {ValueFormat::Float, "float"},
    {ValueFormat::Hex, "hex"},
};

QByteArray littleEndian(quint32 value, int bytes)
{
    QByteArray out(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

quint32 fromLittleEndian(const QByteArray& bytes, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count && i < bytes.size(); ++i)
        value |= quint32(static_cast<quint8>(bytes.at(i))) << (8 * i);
    return value;
}

bool parseBit(const QString& text, QByteArray* bytes)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("1") || t == QLatin1String("on") || t == QLatin1String("true"))
        *bytes = QByteArray(1, '\1');
    else if (t == QLatin1String("0") || t == QLatin1String("off") || t == QLatin1String("false"))
        *bytes = QByteArray(1, '\0');
    else
        return false;
    return true;
}

// A whole number: decimal within [low, high], or 0x... / 0b... for the bit
// pattern of a value `bytes` wide (0xFFFF is -1 as an int16).
bool parseInteger(const QString& text, qint64 low, qint64 high, int bytes, qint64* value)
{
    const QString t = text.trimmed();
    const QString prefix = t.left(2).toLower();
    bool ok = false;
    if (prefix == QLatin1String("0x") || prefix == QLatin1String("0b")) {
        const QString digits = t.mid(2);
        const qulonglong pattern = digits.toULongLong(&ok, prefix == QLatin1String("0x") ? 16 : 2);
        if (!ok || digits.isEmpty() || !digits.at(0).isLetterOrNumber() || pattern >> (8 * bytes) != 0)
            return false;
        *value = static_cast<qint64>(pattern);
        return true;
    }
    const qint64 v = t.toLongLong(&ok, 10);
    if (!ok || v < low || v > high)
        return false;
    *value = v;
    return true;
}

bool parseHex(const QString& text, int bytes, quint32* value)
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        t = t.mid(2);
    bool ok = false;
    const qulonglong v = t.toULongLong(&ok, 16);
    const qulonglong limit = bytes == 2 ? 0xFFFFull : 0xFFFFFFFFull;
    if (t.isEmpty() || !ok || v > limit)
        return false;
    *value = static_cast<quint32>(v);
    return true;
}

// The shortest text that reads back as the same float: 0.1f shows as 0.1, not 0.100000001.
QString floatText(float value)
{
    for (int precision = 6; precision < 9; ++precision) {
        const QString text = QString::number(static_cast<double>(value), 'g', precision);
        if (text.toFloat() == value)
            return text;
    }
    return QString::number(static_cast<double>(value), 'g', 9);
}

} // namespace

QString valueFormatNames()
{
    QStringList names;
    for (const FormatName& entry : kFormatNames)
        names << QLatin1String(entry.name);
    return names.join(QStringLiteral(", "));
}

QString suitingFormatNames(ElementKind element)
{
    QStringList names;
    for (const FormatName& entry : kFormatNames) {
        if (registersPerValue(entry.format, element) > 0)
            names << QLatin1String(entry.name);
    }
    return names.join(QStringLiteral(", "));
}

QString valueFormatName(ValueFormat format)
{
    for (const FormatName& entry : kFormatNames) {
        if (entry.format == format)
            return QLatin1String(entry.name);
    }
    return QString();
}

bool parseValueFormat(const QString& name, ValueFormat* format)
{
    for (const FormatName& entry : kFormatNames) {
        if (name == QLatin1String(entry.name)) {
            *format = entry.format;
            return true;
        }
    }
    return false;
}

ValueFormat defaultValueFormat(ElementKind element)
{
    switch (element) {
    case ElementKind::Bit:
        return ValueFormat::Bit;
    case ElementKind::Word:
        return ValueFormat::Int16;
    case ElementKind::DoubleWord:
        break;
    }
    return ValueFormat::Int32;
}

int registersPerValue(ValueFormat format, ElementKind element)
{
    switch (element) {
    case ElementKind::Bit:
        return format == ValueFormat::Bit ? 1 : 0;
    case ElementKind::Word:
        switch (format) {
        case ValueFormat::Int16:
        case ValueFormat::Uint16:
        case ValueFormat::Hex:
            return 1;
        case ValueFormat::Int32:
        case ValueFormat::Uint32:
        case ValueFormat::Float:
            return 2;
        case ValueFormat::Bit:
            return 0;
        }
        return 0;
    case ElementKind::DoubleWord:
        switch (format) {
        case ValueFormat::Int32:
        case ValueFormat::Uint32:
        case ValueFormat::Float:
        case ValueFormat::Hex:
            return 1;
        case ValueFormat::Bit:
        case ValueFormat::Int16:
        case ValueFormat::Uint16:
            return 0;
        }
        return 0;
    }
    return 0;
}

int bytesPerValue(ValueFormat format, ElementKind element)
{
    const int registers = registersPerValue(format, element);
    switch (element) {
    case ElementKind::Bit:
        return registers;
    case ElementKind::Word:
        return 2 * registers;
    case ElementKind::DoubleWord:
        break;
    }
    return 4 * registers;
}

int moduleCount(ElementKind element, int registers)
{
    return element == ElementKind::DoubleWord ? 2 * registers : registers;
}

bool encodeValue(const QString& text, ValueFormat format, ElementKind element, QByteArray* bytes,
                 QString* error)
{
    const int size = bytesPerValue(format, element);
    bool ok = false;
    qint64 integer = 0;
    quint32 raw = 0;
    switch (format) {
    case ValueFormat::Bit:
        ok = parseBit(text, bytes);
        if (!ok)
            *error = QStringLiteral("bit value \"%1\": expected 0, 1, on, off, true or false").arg(text);
        return ok;
    case ValueFormat::Int16:
        ok = parseInteger(text, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max(), size, &integer);
        break;
    case ValueFormat::Uint16:
        ok = parseInteger(text, 0, std::numeric_limits<quint16>::max(), size, &integer);
        break;
    case ValueFormat::Int32:
        ok = parseInteger(text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(), size, &integer);
        break;
    case ValueFormat::Uint32:
        ok = parseInteger(text, 0, std::numeric_limits<quint32>::max(), size, &integer);
        break;
    case ValueFormat::Float: {
        const float f = text.trimmed().toFloat(&ok);
        std::memcpy(&raw, &f, sizeof raw);
        break;
    }
    case ValueFormat::Hex:
        ok = parseHex(text, size, &raw);
        break;
    }
    if (!ok && format == ValueFormat::Float) {
        // A number in range that no float but 0 holds: say so, not that it is out of range.
        bool number = false;
        const double d = text.trimmed().toDouble(&number);
        if (number && d != 0 && std::fabs(d) < std::numeric_limits<float>::denorm_min()) {
            *error = QStringLiteral("float value \"%1\": too small for a 32-bit float, whose smallest is about "
                                    "1.4e-45; write 0 for zero")
                         .arg(text);
            return false;
        }
    }
    if (!ok) {
        static const char* const ranges[] = {
            "", "a whole number from -32768 to 32767, or 0x0000 to 0xFFFF",
            "a whole number from 0 to 65535, or 0x0000 to 0xFFFF",
            "a whole number from -2147483648 to 2147483647, or 0x00000000 to 0xFFFFFFFF",
            "a whole number from 0 to 4294967295, or 0x00000000 to 0xFFFFFFFF",
            "a number from -3.4e38 to 3.4e38, such as 3.25 or -1e-3", nullptr};
        const QString expected = format == ValueFormat::Hex
            ? QStringLiteral("up to %1 hex digits, 0x optional").arg(2 * size)
            : QLatin1String(ranges[static_cast<int>(format)]);
        *error = QStringLiteral("%1 value \"%2\": expected %3")
                     .arg(valueFormatName(format), text, expected);
        return false;
    }
    if (format != ValueFormat::Float && format != ValueFormat::Hex)
        raw = static_cast<quint32>(integer); // two's complement for the negative values
    *bytes = littleEndian(raw, size);
    return true;
}

QString decodeValue(const QByteArray& bytes, ValueFormat format, ElementKind element)
{
    const int size = bytesPerValue(format, element);
    const quint32 raw = fromLittleEndian(bytes, size);
    switch (format) {
    case ValueFormat::Bit:
        return raw ? QStringLiteral("1") : QStringLiteral("0");
    case ValueFormat::Int16:
        return QString::number(static_cast<qint16>(raw));
    case ValueFormat::Uint16:
    case ValueFormat::Uint32:
        return QString::number(raw);
    case ValueFormat::Int32:
        return QString::number(static_cast<qint32>(raw));
    case ValueFormat::Float: {
        float f = 0;
        std::memcpy(&f, &raw, sizeof f);
        return floatText(f);
    }
    case ValueFormat::Hex:
        return QStringLiteral("0x")
            + QString::number(raw, 16).toUpper().rightJustified(2 * size, QLatin1Char('0'));
    }
    return QString();
}
