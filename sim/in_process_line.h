#pragma once

// The virtual PLC as a function call, for tests and the tool's demo: a
// request goes in, the reply comes straight back together with the time the
// exchange would have taken on a paced line, so a demo can report line
// utilisation without waiting for it.

#include "line_pacing.h"
#include "virtual_plc.h"

#include <QByteArray>
#include <QtGlobal>

struct InProcessExchange {
    QByteArray reply;      // empty: the PLC stayed silent
    qint64 lineTimeNs = 0; // request characters + answer delays + fault delays + reply characters
};

class InProcessLine {
public:
    explicit InProcessLine(VirtualPlc& plc, const LinePacing& pacing = LinePacing());

    InProcessExchange exchange(const QByteArray& request);

    // Sum of lineTimeNs over every exchange so far.
    qint64 totalLineTimeNs() const { return totalLineTimeNs_; }

private:
    VirtualPlc& plc_;
    LinePacing pacing_;
    qint64 totalLineTimeNs_ = 0;
};
