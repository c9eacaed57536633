#pragma once

// A driver object with its own ComInfo block, set up the way a host sets up
// the module, and the PLC's replies the benchmarks feed back to it.

#include "core/driver_object.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <memory>

class BenchDriver {
public:
    BenchDriver(qint32 blockSize, qint32 writeMode);

    Tavrin& driver() { return *driver_; }
    qint32 comInfo(int word) const { return comInfo_[static_cast<size_t>(word)]; }
    void setRetryLimit(qint32 limit) { comInfo_[ComInfoWord::RetryLimit] = limit; }

    // A fresh driver object with the same ComInfo block: empty lists, as
    // the benchmarks want them before they refill outside the timing.
    void renew();

private:
    std::array<qint32, 32> comInfo_{};
    std::unique_ptr<Tavrin> driver_; // the image is some 20 KB: keep it off the stack
};

VarItem makeItem(const QString& regName, qint32 addr, qint32 count, qint32 opKind,
                 const QByteArray& data = QByteArray());

// The data reply a PLC sends to `frame` (a block read): STX, DataChars hex
// characters, ETX and the sum over the data characters and ETX.
QByteArray dataReplyFor(const RequestFrame& frame);

// The single ACK a PLC sends to a block write or a force.
QByteArray ackReply();

// Takes the next frame, also across the empty turn the cycle makes after
// five writes in a row when no cyclic block is listed; null if none comes.
RequestFrame* nextFrame(Tavrin& driver);
