#pragma once

// What the user chose for the line and the module: the --port, --baud,
// --timeout-ms, --retries, --block-size and --station options.

#include "line.h"

#include <QString>
#include <QtGlobal>

#include <memory>

// Largest request block, in bytes for bit types and 16-bit words for the
// others. 16 keeps every request within the PLC's 64-byte limit: a word
// block asks for 2 x 16 = 32 bytes, a merged bit block for at most 16 + 1 =
// 17 bytes, and a 32-bit counter block for 4 x 16 - 4 = 60 bytes (17 would
// still fit at 64; 18 would not).
constexpr int DefaultBlockSize = 16;
// Largest block size whose requests all stay within 64 bytes (see above).
constexpr int MaxBlockSize = 17;
// A 32-bit counter write is one item of two words: smaller blocks cannot carry it.
constexpr int MinBlockSize = 2;

enum class LineKind { VirtualPlc, Serial, Tcp };

struct PortAddress {
    LineKind kind = LineKind::VirtualPlc;
    QString path;     // serial device path
    QString host;     // TCP host
    quint16 port = 0; // TCP port
};

// "tcp:HOST:PORT" -> a serial device server; anything else -> a serial
// device path. False with a message for an empty text or a bad tcp: form
// (the built-in virtual PLC is what a caller chooses by giving no port).
bool parsePortOption(const QString& text, PortAddress* address, QString* error);

// How the polled variables become read blocks: priced by the read planner
// (read_planner.h), or by the module's own rule (ReCreatReadVarList).
enum class ReadPlanning { Cost, Module };

struct LineSettings {
    PortAddress port;
    qint32 baud = 9600;
    int answerAllowanceMs = 200;  // the PLC's scan (the watchdog caps it at 200 ms) and adapter latency
    bool learnPace = true;        // the allowance follows the answers measured; false: fixed by the user
    int retries = 3;              // failed replies tolerated before a request is given up
    int blockSize = DefaultBlockSize;
    int station = 0;
    bool probe = true;            // ENQ before polling
    ReadPlanning planning = ReadPlanning::Cost;
    int turnaroundMs = -1;        // the planner's turnaround per frame; < 0: measured
};

// Makes the serial or TCP line the settings name; null for the built-in
// virtual PLC, which the program that offers it makes itself.
std::unique_ptr<Line> makeDeviceLine(const LineSettings& settings);
