#pragma once

// A tag's value as the faces carry it: JSON. Bits are true or false, whole
// numbers and floats are numbers, hex is a string such as "0x00FF", and a
// tag of several values is an array of them. A float the PLC holds that JSON
// cannot carry (NaN, infinities) is the string "NaN", "Infinity" or
// "-Infinity". The bytes are the module's value bytes (value_format.h).

#include "gateway_config.h"

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

// True when `now` should be published after `published`: a different value,
// or for numbers one that moved by more than the deadband (in any element of
// an array).
bool differsBeyond(const QJsonValue& published, const QJsonValue& now, double deadband);
