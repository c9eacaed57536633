#include "value_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// A number as JSON takes it; text where JSON has no number (hex, NaN).
QJsonValue jsonValue(const QString& text, ValueFormat format)
{
    if (format == ValueFormat::Hex)
        return text;
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return text;
    return number;
}

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + QLatin1Char('"');
}

} // namespace

QString isoTimestamp(const QDateTime& at)
{
    return at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QStringList textLines(const VariableReport& report)
{
    QStringList lines;
    for (int k = 0; k < report.values.size(); ++k)
        lines << QStringLiteral("%1 = %2").arg(report.variable.registerText(k), report.values.at(k));
    return lines;
}

QString jsonLine(const VariableReport& report)
{
    const ValueVariable& variable = report.variable;
    QJsonObject object;
    object.insert(QStringLiteral("name"), variable.typed);
    object.insert(QStringLiteral("register"), variable.address.regName);
    object.insert(QStringLiteral("address"), variable.address.addrText);
    object.insert(QStringLiteral("format"), valueFormatName(variable.format));
    if (report.good()) {
        if (report.values.size() == 1) {
            object.insert(QStringLiteral("value"), jsonValue(report.values.first(), variable.format));
        } else {
            QJsonArray values;
            for (const QString& value : report.values)
                values.append(jsonValue(value, variable.format));
            object.insert(QStringLiteral("value"), values);
        }
        object.insert(QStringLiteral("quality"), QStringLiteral("good"));
    } else {
        object.insert(QStringLiteral("quality"), QStringLiteral("bad"));
        object.insert(QStringLiteral("error"), report.error);
    }
    if (report.at.isValid())
        object.insert(QStringLiteral("ts"), isoTimestamp(report.at));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString csvHeader(bool withTime)
{
    return QStringLiteral("%1name,register,address,format,value,quality,error")
        .arg(withTime ? QStringLiteral("time,") : QString());
}

QString csvRow(const VariableReport& report)
{
    const ValueVariable& variable = report.variable;
    QStringList fields;
    if (report.at.isValid())
        fields << isoTimestamp(report.at);
    fields << variable.typed << variable.address.regName << variable.address.addrText << valueFormatName(variable.format)
           << report.values.join(QLatin1Char(' ')) << (report.good() ? QStringLiteral("good") : QStringLiteral("bad"))
           << report.error;
    for (QString& field : fields)
        field = csvField(field);
    return fields.join(QLatin1Char(','));
}
