#pragma once

// The Sparkplug B topic namespace (Sparkplug 3.0):
//
//   spBv1.0/GROUP/NBIRTH/EDGE          the node's birth: bdSeq, Node Control/Rebirth
//   spBv1.0/GROUP/NDEATH/EDGE          its death: the MQTT will, bdSeq only
//   spBv1.0/GROUP/NCMD/EDGE            commands to the node (rebirth)
//   spBv1.0/GROUP/DBIRTH/EDGE/LINE     a line's birth: every metric with alias, datatype, value
//   spBv1.0/GROUP/DDATA/EDGE/LINE      changed metrics, by alias
//   spBv1.0/GROUP/DDEATH/EDGE/LINE     the line's PLC stopped answering
//   spBv1.0/GROUP/DCMD/EDGE/LINE       writes to the line's tags
//   spBv1.0/STATE/HOST                 a primary host's state: {"online":BOOL,"timestamp":MS}

#include <QString>

inline QString sparkplugNodeTopic(const QString& group, const QString& type, const QString& edge)
{
    return QStringLiteral("spBv1.0/%1/%2/%3").arg(group, type, edge);
}

inline QString sparkplugDeviceTopic(const QString& group, const QString& type, const QString& edge,
                                    const QString& device)
{
    return QStringLiteral("spBv1.0/%1/%2/%3/%4").arg(group, type, edge, device);
}

inline QString sparkplugStateTopic(const QString& host)
{
    return QStringLiteral("spBv1.0/STATE/%1").arg(host);
}
