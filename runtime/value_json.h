#pragma once

// The one JSON form of values, for every face that speaks JSON (MQTT, the
// web API, the tool's --json): bits are true or false, whole numbers and
// floats are numbers, hex is a string such as "0x00FF", and several values
// are an array. A float JSON cannot carry (NaN, infinities) is the string
// "NaN", "Infinity" or "-Infinity". The bytes are the module's value bytes
// (value_format.h), read straight into numbers.

#include "value_format.h"

#include <QByteArray>
#include <QJsonValue>
#include <QVector>

// One value from its bytes (bytesPerValue of them).
QJsonValue valueJson(const QByteArray& bytes, ValueFormat format, ElementKind element);
// `count` values: the value itself for one, an array for more.
QJsonValue valuesJson(const QByteArray& bytes, ValueFormat format, ElementKind element, int count);

// The bytes of `count` values, one entry per value, from a single value or
// an array of `count`. False with a message that says what the format takes.
bool valuesFromJson(const QJsonValue& value, ValueFormat format, ElementKind element, int count,
                    QVector<QByteArray>* values, QString* error);

// True when `now` should be published after `published`: a different value,
// or for numbers one that moved by more than the deadband (in any element of
// an array).
bool differsBeyond(const QJsonValue& published, const QJsonValue& now, double deadband);
