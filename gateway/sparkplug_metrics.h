#pragma once

// The gateway's tags as Sparkplug B metrics: one metric per tag, named as the
// tag, and one per value of an array tag, named TAG/INDEX ("inputs/0"): '/'
// is Sparkplug's folder separator, and a per-value metric keeps each value
// in a plain datatype every host reads. Aliases number every metric of the
// edge node, line after line in the file's order, from 1.
//
//   format          datatype (number)       value field
//   bit             Boolean (11)            boolean_value
//   int16           Int16 (2)               int_value, two's complement in 32 bits
//   uint16          UInt16 (6)              int_value
//   int32           Int32 (3)               int_value, two's complement
//   uint32          UInt32 (7)              long_value
//   float           Float (9)               float_value
//   hex             UInt16 (6) on a word, UInt32 (7) on a 32-bit counter

#include "gateway_config.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVector>

namespace org::eclipse::tahu::protobuf {
class Payload_Metric;
}
using SparkplugMetric = org::eclipse::tahu::protobuf::Payload_Metric;

struct SparkplugMetricDef {
    QString name;
    quint64 alias = 0;
    quint32 datatype = 0;
    int tag = 0;                // the tag's place in its line
    int value = 0;              // which of the tag's values
};

// The metrics of a line, aliases from `firstAlias` on.
QVector<SparkplugMetricDef> lineMetrics(const LineConfig& line, quint64 firstAlias);
// Every line's metrics, aliases numbered across them all from 1.
QVector<QVector<SparkplugMetricDef>> nodeMetrics(const QVector<LineConfig>& lines);

// The datatype of one value of the tag.
quint32 sparkplugDataType(const TagConfig& tag);

// Sets the value of `metric` from one value's module bytes (bytesPerValue
// of them), or is_null when `bytes` is empty.
void setMetricValue(SparkplugMetric* metric, quint32 datatype, const QByteArray& bytes);

// The JSON form (value_json.h) of a command's value for a metric of
// `datatype`, for the write path every face shares. False with a message
// when the command carries no value of a field that datatype uses.
bool commandValueJson(const SparkplugMetric& metric, quint32 datatype, QJsonValue* value, QString* error);
