#include "value_variable.h"

#include "command_line.h"

namespace {

constexpr int MaxValues = 8000;

// Cuts "ADDR@FORMAT:COUNT" (either order of the two suffixes) into its parts.
void splitSuffixes(const QString& text, QString* address, QString* format, QString* count)
{
    *address = text;
    for (int pass = 0; pass < 2; ++pass) {
        const int at = address->lastIndexOf(QLatin1Char('@'));
        const int colon = address->lastIndexOf(QLatin1Char(':'));
        const int cut = std::max(at, colon);
        if (cut < 0)
            return;
        (cut == at ? *format : *count) = address->mid(cut + 1);
        address->truncate(cut);
    }
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
    QString addressText;
    QString formatText;
    QString countText;
    splitSuffixes(text, &addressText, &formatText, &countText);
    int values = 1;
    if (!countText.isNull()) {
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
    if (!formatText.isNull()) {
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
