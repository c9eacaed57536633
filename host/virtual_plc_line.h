#pragma once

// The built-in virtual PLC as a line, in the same process. Unpaced, a reply
// is there the moment the request is sent (tests). Paced, the line takes as
// long as a real one would at its baud rate and answer delay, so the demo's
// frame rate and line utilisation are those of a real programming port.

#include "line.h"

#include "in_process_line.h"
#include "virtual_plc.h"

#include <QElapsedTimer>

#include <memory>

class VirtualPlcLine : public Line {
public:
    VirtualPlcLine(std::shared_ptr<VirtualPlc> plc, const LinePacing& pacing, bool waitLineTime);

    bool open(QString* error) override;
    void close() override {}
    void discardInput() override { pending_.clear(); }
    bool send(const QByteArray& bytes) override;
    QByteArray collect(int length, int timeoutMs) override;
    QString name() const override { return QStringLiteral("the built-in virtual PLC"); }

private:
    std::shared_ptr<VirtualPlc> plc_;
    InProcessLine line_;
    bool waitLineTime_;
    QByteArray pending_;         // reply bytes not collected yet
    qint64 replyDueNs_ = 0;      // when the last reply byte would have arrived
    QElapsedTimer sentAt_;
};
