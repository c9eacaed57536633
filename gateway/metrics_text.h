#pragma once

// The gateway's metrics in the Prometheus text format (version 0.0.4), for
// /metrics: snake_case names with their unit, counters ending in _total,
// the line and the tag as labels.
//
//   tavrin_line_online{line}                  1 while the line's PLC answers, else 0
//   tavrin_line_frames_sent_total{line}       requests put on the line, resends included
//   tavrin_line_sent_bytes_total{line}        characters to the PLC
//   tavrin_line_received_bytes_total{line}    characters from the PLC
//   tavrin_line_good_replies_total{line}
//   tavrin_line_retries_total{line}           failed replies the module resent
//   tavrin_line_give_ups_total{line}          requests given up after their retries
//   tavrin_line_late_replies_total{line}      replies after their timeout, dropped
//   tavrin_line_losses_total{line}            times the line itself failed
//   tavrin_line_reconnects_total{line}
//   tavrin_line_utilisation_ratio{line}       share of the time its characters take at its baud, at most 1
//   tavrin_line_turnaround_seconds{line}      smoothed turnaround, once the runtime measures it
//   tavrin_gateway_tags{quality}              tags good, bad and waiting
//   tavrin_tag_good{line,tag}                 1 while the tag's value is good, else 0
//   tavrin_gateway_mqtt_publishes_total       messages handed to the broker's client
//   tavrin_gateway_sparkplug_dropped_total    changes kept for an offline primary host, dropped
//   tavrin_gateway_writes_total{result}       writes from every face: done, refused, unavailable, failed
//   tavrin_gateway_history_rows_total         with history: changes written to the store
//   tavrin_gateway_history_removed_rows_total{reason}  oldest rows removed: keep_days, max_mb
//   tavrin_gateway_history_lost_total         changes never written (full queue, refused batch)
//   tavrin_gateway_mqtt_backlog_messages      with mqtt: changes the broker has not had yet
//   tavrin_gateway_mqtt_backlog_age_seconds   age of the oldest of them
//   tavrin_gateway_mqtt_forwarded_total       of them, forwarded on .../history and acknowledged
//   tavrin_gateway_mqtt_backlog_dropped_total without history: changes the full memory queue let go

#include "gateway.h"

#include <QByteArray>

QByteArray metricsText(const GatewayConfig& config, const QVector<LineSnapshot>& lines,
                       const GatewayCounters& counters);

// A label value with backslash, double quote and line feed escaped.
QString metricLabelValue(const QString& value);
