#pragma once

// Plans the cyclic reads of a set of polled variables: the read blocks that
// take the least time per scan on a given line. For a host that fills the
// module's cyclic read list itself: ReCreatReadVarList with an empty list
// clears it, then AddListReadVar appends each planned block unchanged, while
// the request cycle is paused.
//
// What a block costs: a block read of n bytes puts 11 request and 2n + 4
// reply characters on the line, 10 bits each, and waits once for the PLC's
// answer and the line's latency (the turnaround). Reading the gap between
// two variables costs 2 characters a byte; a frame of its own costs 15
// characters and one turnaround. The planner weighs both and finds the
// cheapest blocks exactly: per device area, a dynamic program over the
// sorted registers the variables need.
//
// Hard limits: a block stays inside one device area and inside the registers
// the programming port reaches there, asks for at most the byte limit, and
// in the bit areas starts and ends on a byte.

#include "polled_quality.h"
#include "tavrin.h"

#include <QSet>
#include <QString>
#include <QVector>
#include <QtGlobal>

// The line and the PLC the reads are planned for. Values outside the ranges
// below are taken as the nearest one inside.
struct ReadCostModel {
    qint32 baud = 9600;      // 1 to 10,000,000
    qint32 turnaroundUs = 0; // per frame: the PLC's answer delay plus the line's latency; 0 to 10 s
    int byteLimit = 64;      // largest block the PLC answers, in bytes; 1 to 255
};

// One block read in the module's own terms, ready for AddListReadVar.
struct ReadBlock {
    QString regName;        // "X", "Y", "M", "SM", "S", "T", "C", "D", "SD", "TV", "CV", "32CV";
                            // bits of D words (D_bit) are read in "D" blocks
    qint32 addr = 0;        // first bit (a multiple of 8), first word, or first 32-bit counter
    qint32 count = 0;       // bytes in the bit areas, words in the word areas; for 32CV the
                            // counters plus one (the module reads 4 x Count - 4 bytes)
    QVector<int> variables; // the variables it reads, wholly or in part: indexes, ascending
};

// A variable no block reads, and why, in plain words.
struct UnplannedVariable {
    int variable = 0;
    QString reason;
};

struct ReadPlan {
    // Area by area (X, Y, M, SM, S, T, C, D, SD, TV, CV, 32CV), then by ascending addr.
    QVector<ReadBlock> blocks;
    QVector<UnplannedVariable> unplanned; // ascending by variable

    int frames() const { return static_cast<int>(blocks.size()); }
    // Request and reply characters of one scan.
    qint64 characters() const;
    // Time of one scan on the line of `model`: characters and turnarounds.
    double scanSeconds(const ReadCostModel& model) const;
};

// The cheapest blocks that read every variable in `variables` (a span in
// the unit its area counts, as variableSpan() gives it). No other set of
// blocks within the hard limits takes less time per scan under `model`; of
// equally fast ones, the one with the fewest frames.
//
// A variable is left out, with its reason, when its area is not one of the
// twelve above, when it spans no register, when part of it lies outside the
// port's reach (X, Y, SM, T, C, SD, TV 256 registers; M 1536; S 1000; D
// 8000; CV 200; 32CV 56), when one register of its area is larger than the
// byte limit, or when it is in `atFault`: a variable the PLC refused (see
// splitRefusedBlock). No block reads a register of a variable at fault
// unless another variable needs that register too.
//
// Time: linear in the variables, plus the needed registers of each area
// times the registers a block can hold.
ReadPlan planReads(const QVector<PolledSpan>& variables, const ReadCostModel& model = {},
                   const QSet<int>& atFault = {});

// What replaces a block the PLC refused (NAK): its variables in two halves
// by address, each read by the smallest block inside the refused one that
// holds its registers. Put the halves in the refused block's place and read
// on; when a half is refused too, split it again. A refused block of one
// variable cannot be split (the result is empty): that variable is at fault.
// Give it its own error, leave its block out, and pass it in `atFault` when
// planning again. Its neighbours keep being read. When both halves are
// answered, the fault lay in the gap between them: keep the halves while
// the variables stay the same, since a new plan may join them again.
QVector<ReadBlock> splitRefusedBlock(const ReadBlock& refused,
                                     const QVector<PolledSpan>& variables);

// Bytes the block asks the PLC for (0 for a register name the planner does not know).
qint64 readBlockBytes(const ReadBlock& block);

// Request and reply characters of a block read of `bytes` bytes: 11 + 2 x bytes + 4.
qint64 blockReadCharacters(qint64 bytes);

// The block as an item for AddListReadVar: HostId 0, HostSubId -1, OpKind
// read, the block's RegName, Addr and Count, and the line's station.
VarItem readItem(const ReadBlock& block, qint32 station = 0);
