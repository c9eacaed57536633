#include "value_report.h"

#include "value_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

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
    const QStringList texts = report.texts();
    for (int k = 0; k < texts.size(); ++k)
        lines << QStringLiteral("%1 = %2").arg(report.variable.registerText(k), texts.at(k));
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
        object.insert(QStringLiteral("value"), valuesJson(report.bytes, variable.format,
                                                          variable.address.type->element, variable.values));
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
           << report.texts().join(QLatin1Char(' ')) << (report.good() ? QStringLiteral("good") : QStringLiteral("bad"))
           << report.error;
    for (QString& field : fields)
        field = csvField(field);
    return fields.join(QLatin1Char(','));
}
