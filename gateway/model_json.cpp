#include "model_json.h"

#include "modbus_map.h"

#include <algorithm>

namespace {

// The runtime's counters by their JSON names: one row per counter.
struct Counter {
    const char* name;
    qint64 LineStatistics::*field;
};

const Counter kCounters[] = {
    {"frames_sent", &LineStatistics::framesSent},   {"sent_bytes", &LineStatistics::bytesSent},
    {"received_bytes", &LineStatistics::bytesReceived}, {"good_replies", &LineStatistics::goodReplies},
    {"retries", &LineStatistics::retries},          {"give_ups", &LineStatistics::giveUps},
    {"late_replies", &LineStatistics::lateReplies}, {"line_losses", &LineStatistics::lineLosses},
    {"reconnects", &LineStatistics::reconnects},
};

// Adds the members of `from` to `to`.
void merge(QJsonObject* to, const QJsonObject& from)
{
    for (auto it = from.begin(); it != from.end(); ++it)
        to->insert(it.key(), it.value());
}

} // namespace

QString utcText(const QDateTime& at)
{
    return at.toUTC().toString(Qt::ISODateWithMs);
}

double utilisationShare(const LineStatistics& statistics)
{
    return std::min(statistics.utilisation(), 1.0);
}

QString qualityName(Quality quality)
{
    switch (quality) {
    case Quality::Good:
        return QStringLiteral("good");
    case Quality::Bad:
        return QStringLiteral("bad");
    case Quality::Waiting:
        break;
    }
    return QStringLiteral("waiting");
}

QJsonObject tagStateJson(const TagState& state)
{
    QJsonObject object;
    const bool good = state.quality == Quality::Good;
    object.insert(QStringLiteral("value"), good ? state.value.json() : QJsonValue());
    object.insert(QStringLiteral("quality"), qualityName(state.quality));
    if (state.quality == Quality::Bad)
        object.insert(QStringLiteral("error"), state.error);
    object.insert(QStringLiteral("ts"), utcText(state.at));
    return object;
}

QJsonObject lineStatusJson(const LineStatus& status)
{
    QJsonObject object;
    object.insert(QStringLiteral("status"), status.online ? QStringLiteral("online") : QStringLiteral("offline"));
    if (!status.online)
        object.insert(QStringLiteral("reason"), status.reason);
    object.insert(QStringLiteral("ts"), utcText(status.at));
    return object;
}

QJsonObject lineJson(const LineConfig& config, const LineSnapshot& line)
{
    QJsonObject object = lineStatusJson(line.status);
    object.insert(QStringLiteral("line"), config.name);
    object.insert(QStringLiteral("port"), config.portText);
    for (const Counter& counter : kCounters)
        object.insert(QLatin1String(counter.name), double(line.statistics.*counter.field));
    object.insert(QStringLiteral("utilisation"), utilisationShare(line.statistics));
    object.insert(QStringLiteral("baud"), config.settings.baud);
    if (line.turnaroundUs >= 0)
        object.insert(QStringLiteral("turnaround_us"), double(line.turnaroundUs));
    return object;
}

QJsonObject tagJson(const LineConfig& line, int tag, const TagState& state)
{
    const TagConfig& config = line.tags.at(tag);
    QJsonObject object;
    object.insert(QStringLiteral("line"), line.name);
    object.insert(QStringLiteral("tag"), config.name);
    object.insert(QStringLiteral("address"), config.address.text);
    object.insert(QStringLiteral("format"), valueFormatName(config.format));
    object.insert(QStringLiteral("writable"), config.writable);
    if (config.modbus.table != ModbusTable::None)
        object.insert(QStringLiteral("modbus"), modbusRangeText(config.modbus.table, config.modbus.address,
                                                                 config.modbus.address + config.modbusUnits() - 1));
    merge(&object, tagStateJson(state));
    return object;
}

QJsonArray linesJson(const GatewayConfig& config, const QVector<LineSnapshot>& lines)
{
    QJsonArray array;
    for (int l = 0; l < lines.size() && l < config.lines.size(); ++l)
        array.append(lineJson(config.lines.at(l), lines.at(l)));
    return array;
}

QJsonArray tagsJson(const GatewayConfig& config, const QVector<LineSnapshot>& lines)
{
    QJsonArray array;
    for (int l = 0; l < lines.size() && l < config.lines.size(); ++l) {
        for (int t = 0; t < lines.at(l).tags.size(); ++t)
            array.append(tagJson(config.lines.at(l), t, lines.at(l).tags.at(t)));
    }
    return array;
}
