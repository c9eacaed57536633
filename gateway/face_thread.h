#pragma once

// A face's own thread with an event loop. Qt's Modbus and HTTP servers
// answer from an event loop, and a face that waits for a PLC to acknowledge
// a write must hold up its own clients only, never the other faces or the
// lines.

#include <QString>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class FaceThread {
public:
    using Open = std::function<bool(QString* error)>;
    using Close = std::function<void()>;

    ~FaceThread();

    // Runs `open` on the new thread (the objects it makes live there), then
    // the thread's event loop until stop(), then `close` on the same thread.
    // False with open's message when it failed; the thread has ended then.
    bool start(const Open& open, const Close& close, QString* error);
    void stop();

private:
    // The thread's end, told through a standard lock that a thread checker
    // sees, as it does not see QThread::wait(): what `close` did happens
    // before stop() returns.
    struct Ended {
        std::mutex mutex;
        std::condition_variable done;
        bool closed = false;
    };

    std::unique_ptr<QThread> thread_;
    std::shared_ptr<Ended> ended_;
};
