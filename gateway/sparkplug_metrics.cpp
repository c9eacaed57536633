#include "sparkplug_metrics.h"

#include "sparkplug_b.pb.h"

#include <cstring>

namespace spb = org::eclipse::tahu::protobuf;

namespace {

quint32 littleEndian(const QByteArray& bytes)
{
    quint32 raw = 0;
    for (int k = int(bytes.size()) - 1; k >= 0; --k)
        raw = (raw << 8) | quint8(bytes.at(k));
    return raw;
}

} // namespace

quint32 sparkplugDataType(const TagConfig& tag)
{
    switch (tag.format) {
    case ValueFormat::Bit:
        return spb::Boolean;
    case ValueFormat::Int16:
        return spb::Int16;
    case ValueFormat::Uint16:
        return spb::UInt16;
    case ValueFormat::Int32:
        return spb::Int32;
    case ValueFormat::Uint32:
        return spb::UInt32;
    case ValueFormat::Float:
        return spb::Float;
    case ValueFormat::Hex:
        return tag.bytesPerValue() == 2 ? spb::UInt16 : spb::UInt32;
    }
    return spb::Unknown;
}

QVector<SparkplugMetricDef> lineMetrics(const LineConfig& line, quint64 firstAlias)
{
    QVector<SparkplugMetricDef> metrics;
    quint64 alias = firstAlias;
    for (int t = 0; t < line.tags.size(); ++t) {
        const TagConfig& tag = line.tags.at(t);
        for (int v = 0; v < tag.count; ++v) {
            const QString name = tag.count == 1 ? tag.name : QStringLiteral("%1/%2").arg(tag.name).arg(v);
            metrics.append(SparkplugMetricDef{name, alias++, sparkplugDataType(tag), t, v});
        }
    }
    return metrics;
}

QVector<QVector<SparkplugMetricDef>> nodeMetrics(const QVector<LineConfig>& lines)
{
    QVector<QVector<SparkplugMetricDef>> metrics;
    quint64 alias = 1;
    for (const LineConfig& line : lines) {
        metrics.append(lineMetrics(line, alias));
        alias += quint64(metrics.last().size());
    }
    return metrics;
}

void setMetricValue(SparkplugMetric* metric, quint32 datatype, const QByteArray& bytes)
{
    if (bytes.isEmpty()) {
        metric->set_is_null(true);
        return;
    }
    const quint32 raw = littleEndian(bytes);
    switch (datatype) {
    case spb::Boolean:
        metric->set_boolean_value(raw != 0);
        break;
    case spb::Int16: // sign-extended to 32 bits: -2 is 0xFFFFFFFE
        metric->set_int_value(quint32(qint32(qint16(raw))));
        break;
    case spb::UInt32:
        metric->set_long_value(raw);
        break;
    case spb::Float: {
        float value = 0;
        std::memcpy(&value, &raw, sizeof value);
        metric->set_float_value(value);
        break;
    }
    default: // UInt16, Int32: the 32 bits as they are
        metric->set_int_value(raw);
        break;
    }
}

bool commandValueJson(const SparkplugMetric& metric, quint32 datatype, QJsonValue* value, QString* error)
{
    using Value = spb::Payload_Metric;
    const auto refuse = [&](const char* expected) {
        *error = QStringLiteral("metric %1 is %2: expected a value in %3")
                     .arg(QString::fromStdString(metric.name()), QString::fromStdString(spb::DataType_Name(spb::DataType(datatype))),
                          QLatin1String(expected));
        return false;
    };
    switch (datatype) {
    case spb::Boolean:
        if (metric.value_case() != Value::kBooleanValue)
            return refuse("boolean_value");
        *value = metric.boolean_value();
        return true;
    case spb::Float:
        if (metric.value_case() == Value::kFloatValue)
            *value = double(metric.float_value());
        else if (metric.value_case() == Value::kDoubleValue)
            *value = metric.double_value();
        else
            return refuse("float_value or double_value");
        return true;
    default:
        break;
    }
    // Whole numbers: the signed types carry two's complement in int_value.
    const bool isSigned = datatype == spb::Int16 || datatype == spb::Int32;
    if (metric.value_case() == Value::kIntValue)
        *value = isSigned ? double(qint32(metric.int_value())) : double(metric.int_value());
    else if (metric.value_case() == Value::kLongValue)
        *value = isSigned ? double(qint64(metric.long_value())) : double(metric.long_value());
    else
        return refuse("int_value or long_value");
    return true;
}
