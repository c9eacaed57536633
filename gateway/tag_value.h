#pragma once

// A tag's value as the faces carry it: the one JSON form of values
// (value_json.h), for the tag's format and count.

#include "gateway_config.h"
#include "value_json.h"

#include <QByteArray>
#include <QJsonValue>
#include <QVector>

// The tag's value from its registers' bytes (count x bytesPerValue of them).
QJsonValue tagValue(const TagConfig& tag, const QByteArray& bytes);

// The bytes to write, one entry per value of the tag, from a JSON value: a
// single value, or an array of count values. False with a message that says
// what the tag's format accepts.
bool encodeTagValue(const TagConfig& tag, const QJsonValue& value, QVector<QByteArray>* values,
                    QString* error);
