#pragma once

// The gateway's topic layout under its prefix, and the rules its names keep
// so that every line and tag name is one plain topic level:
//
//   PREFIX/gateway/status          online, or offline (the client's last will)
//   PREFIX/LINE/status             the line: online, or offline with the reason
//   PREFIX/LINE/TAG                the tag's value, quality and time
//   PREFIX/LINE/TAG/set            a write to the tag
//   PREFIX/LINE/TAG/set/result     how the write ended
//   PREFIX/LINE/TAG/history        a change the broker missed, forwarded later
//
// "gateway" is no line name and "status" no tag name: their topics are taken.

#include <QString>

// A line or tag name: letters, digits, '_', '-' and '.', not a reserved
// word of its level. `what` is "line" or "tag". False with a message.
bool checkTopicLevelName(const QString& name, const QString& what, QString* problem);
// The prefix: one or more levels of the same characters, '/' between them.
bool checkTopicPrefix(const QString& prefix, QString* problem);

QString gatewayStatusTopic(const QString& prefix);
QString lineStatusTopic(const QString& prefix, const QString& line);
QString tagTopic(const QString& prefix, const QString& line, const QString& tag);
QString setTopic(const QString& prefix, const QString& line, const QString& tag);
QString setResultTopic(const QString& prefix, const QString& line, const QString& tag);
QString historyTopic(const QString& prefix, const QString& line, const QString& tag);
// What the gateway subscribes to: every tag's set topic.
QString setSubscription(const QString& prefix);

// The line and tag of a set topic under `prefix`; false for any other topic.
bool parseSetTopic(const QString& topic, const QString& prefix, QString* line, QString* tag);
