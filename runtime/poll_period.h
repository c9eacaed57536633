#pragma once

// A poll class's period as people write it: "200ms", "2s", "1.5s".

#include <QString>

constexpr int MinPollPeriodMs = 10;
constexpr int MaxPollPeriodMs = 3600 * 1000;

// False with a message that quotes the text and says what is accepted.
bool parsePollPeriod(const QString& text, int* ms, QString* error);

// "200ms", "2s", "1.5s": the shortest text parsePollPeriod reads back.
QString pollPeriodText(int ms);
