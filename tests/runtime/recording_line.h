#pragma once

// The built-in virtual PLC as a line, with every request the runtime sends
// on it kept for the test to look at.

#include "virtual_plc_line.h"

#include <QVector>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Requests as the runtime's thread sends them, for the test's thread. Kept
// as plain strings: Qt's shared arrays hand their buffers between threads in
// ways a thread checker cannot see.
class SentFrames {
public:
    void append(const QByteArray& frame)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.emplace_back(frame.constData(), static_cast<size_t>(frame.size()));
    }
    QVector<QByteArray> all() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        QVector<QByteArray> frames;
        for (const std::string& frame : frames_)
            frames.append(QByteArray(frame.data(), static_cast<int>(frame.size())));
        return frames;
    }
    int size() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(frames_.size());
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> frames_;
};

// The built-in virtual PLC, paced as given, with every request it is sent kept.
class RecordingLine : public Line {
public:
    RecordingLine(std::shared_ptr<VirtualPlc> plc, const LinePacing& pacing, SentFrames* sent)
        : inner_(std::move(plc), pacing), sent_(sent) {}
    bool open(QString* error) override { return inner_.open(error); }
    void close() override { inner_.close(); }
    bool send(const QByteArray& bytes) override
    {
        sent_->append(bytes);
        return inner_.send(bytes);
    }
    QByteArray receive(int timeoutMs) override { return inner_.receive(timeoutMs); }
    QString name() const override { return inner_.name(); }

private:
    VirtualPlcLine inner_;
    SentFrames* sent_;
};

