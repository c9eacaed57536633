#pragma once

// gtest printers for Qt values, so that failures show readable text.

#include <QByteArray>
#include <QString>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '[' << bytes.toHex(' ').toStdString() << ']';
}

// Frame bytes written as in the protocol notes: "02 30 31 ..."
inline QByteArray fromHexBytes(const char* spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}
