#pragma once

// A tag's value as the faces carry it: the module's bytes typed by the
// tag's format and count (typed_value.h), and back from the one JSON form
// of values (value_json.h) for writes.

#include "gateway_config.h"
#include "typed_value.h"

#include <QByteArray>
#include <QJsonValue>
#include <QVector>

// The tag's value from its registers' bytes (count x bytesPerValue of them).
TypedValue tagValue(const TagConfig& tag, const QByteArray& bytes);

// The bytes to write, one entry per value of the tag, from a JSON value: a
// single value, or an array of count values. False with a message that says
// what the tag's format accepts.
bool encodeTagValue(const TagConfig& tag, const QJsonValue& value, QVector<QByteArray>* values,
                    QString* error);
