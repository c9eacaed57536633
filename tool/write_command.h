#pragma once

// tavrin write, in its layers: each ADDR=VALUE is checked and encoded before
// anything is sent (plan), the writes are queued and waited for, the old
// values read before and, with --verify, the new ones read back (run), and
// each write is reported on a line of its own (render).

#include "host_runtime.h"
#include "value_variable.h"

#include <QByteArray>
#include <QString>

struct PlannedWrite {
    ValueVariable variable;
    QString typedValue;   // "0x10"
    QByteArray bytes;     // the module's value bytes
    QString parsedValue;  // the value as it will be written: "16"
};

struct WriteOptions {
    bool allowNonFinite = false; // NaN and infinity for float writes
};

// "D100=0x10" -> D100, 16 and its bytes. False with a message.
bool planWrite(const QString& text, FormatChoice format, const WriteOptions& options, PlannedWrite* write,
               QString* error);

struct WriteReport {
    PlannedWrite write;
    QString oldValue;      // empty when it could not be read
    bool written = false;
    QString error;         // why the write failed
    bool verified = false; // read back after the acknowledgement
    QString readBack;      // the value read back, when verified
    bool unconfirmed = false; // its acknowledgement never came, and it could not be read back
};

// Reads the old values, queues every write in order, waits for each and,
// when `verify`, reads each written value back.
QVector<WriteReport> runWrites(HostRuntime& runtime, const QList<PlannedWrite>& writes, bool verify);

// "D100 = 16 (was 7): written", "... written, read back 16",
// "... written, but reads back 15", "D100 = 16 (was 7): failed, no reply within 220 ms".
QString writeLine(const WriteReport& result);
// True when the write was acknowledged and, when verified, reads back as written.
bool writeSucceeded(const WriteReport& result);
