#pragma once

// The built-in virtual PLC as a line, in the same process. Each reply
// arrives when a real line would deliver it: at once when unpaced (tests),
// after the line time at its baud rate and the PLC's answer delay when paced
// (the demo), and always late by a delay fault's hold-back. A reply due after
// the host stopped collecting stays on its way, as it would on the wire, and
// arrives during whatever the host does next.

#include "line.h"
#include "line_settings.h"

#include "line_pacing.h"
#include "reply_schedule.h"
#include "virtual_plc.h"

#include <QElapsedTimer>

#include <memory>

class VirtualPlcLine : public Line {
public:
    VirtualPlcLine(std::shared_ptr<VirtualPlc> plc, const LinePacing& pacing);

    bool open(QString* error) override;
    void close() override {}
    bool send(const QByteArray& bytes) override;
    QByteArray receive(int timeoutMs) override;
    QString name() const override { return QStringLiteral("the built-in virtual PLC"); }

private:
    qint64 nowNs() const { return clock_.nsecsElapsed(); }
    void sleepUntil(qint64 ns) const;
    // Moves the reply bytes due by now to the input.
    void arrive();

    std::shared_ptr<VirtualPlc> plc_;
    ReplySchedule schedule_;
    QByteArray input_; // arrived, not received yet
    QElapsedTimer clock_;
};

// Makes the line the settings name: a serial or TCP line, or for the
// built-in virtual PLC a line to `plc`, paced in real line time or not.
std::unique_ptr<Line> makeLine(const LineSettings& settings, std::shared_ptr<VirtualPlc> plc,
                               bool paced);
