#include "value_variable.h"

#include "command_line.h"

#include <algorithm>

namespace {

constexpr int MaxValues = 8000;

struct Suffixes {
    QString address;
    QString format;
    QString count;
    bool hasFormat = false;
    bool hasCount = false;
};

// Cuts "ADDR@FORMAT:COUNT" (either order of the two suffixes) into its parts.
// False with a message when a suffix comes twice ("D0:2:3", "D0@float@int32").
bool splitSuffixes(const QString& text, Suffixes* parts, QString* error)
{
    int cut = text.size();
    for (const QChar mark : {QLatin1Char('@'), QLatin1Char(':')}) {
        const int at = text.indexOf(mark);
        if (at >= 0)
            cut = std::min(cut, at);
    }
    parts->address = text.left(cut);
    while (cut < text.size()) {
        int next = cut + 1;
        while (next < text.size() && text.at(next) != QLatin1Char('@') && text.at(next) != QLatin1Char(':'))
            ++next;
        const bool isFormat = text.at(cut) == QLatin1Char('@');
        bool& seen = isFormat ? parts->hasFormat : parts->hasCount;
        if (seen) {
            *error = QStringLiteral("\"%1\": %2 \"%3\" after \"%4\": expected ADDR[@FORMAT][:COUNT], "
                                    "each suffix once, nothing after them")
                         .arg(text, isFormat ? QStringLiteral("a second format") : QStringLiteral("a second count"),
                              text.mid(cut, next - cut), text.left(cut));
            return false;
        }
        seen = true;
        (isFormat ? parts->format : parts->count) = text.mid(cut + 1, next - cut - 1);
        cut = next;
    }
    return true;
}

} // namespace

int ValueVariable::registersPerValue() const
{
    return ::registersPerValue(format, address.type->element);
}

QString ValueVariable::registerText(int value) const
{
    return address.registerText(value * registersPerValue());
}

QStringList ValueVariable::valueTexts(const QByteArray& bytes) const
{
    const ElementKind element = address.type->element;
    const int size = bytesPerValue(format, element);
    QStringList texts;
    for (int k = 0; k < values; ++k)
        texts << decodeValue(bytes.mid(k * size, size), format, element);
    return texts;
}

bool parseValueVariable(const QString& text, FormatChoice choice, bool allowCount, ValueVariable* variable,
                        QString* error)
{
    Suffixes parts;
    if (!splitSuffixes(text, &parts, error))
        return false;
    const QString& addressText = parts.address;
    const QString& formatText = parts.format;
    const QString& countText = parts.count;
    int values = 1;
    if (parts.hasCount) {
        if (!allowCount) {
            *error = QStringLiteral("\"%1\": a count is not accepted here").arg(text);
            return false;
        }
        if (!parseBoundedInt(countText, 1, MaxValues, &values)) {
            *error = QStringLiteral("\"%1\": count \"%2\": expected a whole number from 1 to %3")
                         .arg(text, countText)
                         .arg(MaxValues);
            return false;
        }
    }
    if (parts.hasFormat) {
        if (!parseValueFormat(formatText, &choice.format)) {
            *error = QStringLiteral("\"%1\": unknown value format \"%2\": accepted are %3")
                         .arg(text, formatText, valueFormatNames());
            return false;
        }
        choice.given = true;
    }
    // The register kind decides the default format and how many registers
    // a value covers: look the address up for one register first.
    VariableAddress first;
    if (!parseVariableAddress(addressText, 1, &first, error))
        return false;
    const ElementKind element = first.type->element;
    const ValueFormat format = choice.given ? choice.format : defaultValueFormat(element);
    const int perValue = registersPerValue(format, element);
    if (perValue == 0) {
        *error = QStringLiteral("\"%1\": format %2 does not suit %3; accepted are %4")
                     .arg(text, valueFormatName(format), addressText, suitingFormatNames(element));
        return false;
    }
    if (!parseVariableAddress(addressText, values * perValue, &variable->address, error)) {
        if (values * perValue > 1)
            *error += values == 1 ? QStringLiteral(" (a %1 takes %2 registers)").arg(valueFormatName(format)).arg(perValue)
                                  : QStringLiteral(" (%1 %2 values take %3 registers)")
                                        .arg(values)
                                        .arg(valueFormatName(format))
                                        .arg(values * perValue);
        return false;
    }
    variable->typed = text;
    variable->format = format;
    variable->values = values;
    return true;
}
