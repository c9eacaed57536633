#pragma once

// The built-in virtual PLC as a line, with every request the runtime sends
// on it kept for the test to look at.

#include "virtual_plc_line.h"

#include <QMutex>
#include <QVector>

#include <memory>

// Requests as the runtime's thread sends them, for the test's thread.
class SentFrames {
public:
    void append(const QByteArray& frame)
    {
        QMutexLocker lock(&mutex_);
        frames_.append(frame);
    }
    QVector<QByteArray> all() const
    {
        QMutexLocker lock(&mutex_);
        return frames_;
    }
    int size() const { return static_cast<int>(all().size()); }

private:
    mutable QMutex mutex_;
    QVector<QByteArray> frames_;
};

// The built-in virtual PLC, paced as given, with every request it is sent kept.
class RecordingLine : public Line {
public:
    RecordingLine(std::shared_ptr<VirtualPlc> plc, const LinePacing& pacing, SentFrames* sent)
        : inner_(std::move(plc), pacing), sent_(sent) {}
    bool open(QString* error) override { return inner_.open(error); }
    void close() override { inner_.close(); }
    QByteArray discardInput() override { return inner_.discardInput(); }
    QByteArray drainUntilQuiet(int quietMs, int limitMs) override { return inner_.drainUntilQuiet(quietMs, limitMs); }
    bool send(const QByteArray& bytes) override
    {
        sent_->append(bytes);
        return inner_.send(bytes);
    }
    QByteArray collect(int length, int timeoutMs) override { return inner_.collect(length, timeoutMs); }
    QString name() const override { return inner_.name(); }

private:
    VirtualPlcLine inner_;
    SentFrames* sent_;
};

