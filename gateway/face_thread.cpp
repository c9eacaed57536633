#include "face_thread.h"

#include <QEventLoop>

#include <condition_variable>
#include <mutex>

FaceThread::~FaceThread()
{
    stop();
}

bool FaceThread::start(const Open& open, const Close& close, QString* error)
{
    std::mutex mutex;
    std::condition_variable opened;
    bool done = false;
    bool ok = false;
    ended_ = std::make_shared<Ended>();
    thread_.reset(QThread::create([&, open, close, ended = ended_] {
        QString openError;
        const bool good = open(&openError);
        {
            std::lock_guard<std::mutex> lock(mutex);
            ok = good;
            *error = openError;
            done = true;
            opened.notify_all();
        }
        // After the wake the locals above are gone: only copies from here on.
        if (good) {
            QEventLoop loop;
            loop.exec(); // until QThread::quit(); at once if that came first
        }
        close();
        std::lock_guard<std::mutex> lock(ended->mutex);
        ended->closed = true;
        ended->done.notify_all();
    }));
    thread_->start();
    std::unique_lock<std::mutex> lock(mutex);
    opened.wait(lock, [&] { return done; });
    return ok;
}

void FaceThread::stop()
{
    if (!thread_)
        return;
    thread_->quit();
    {
        std::unique_lock<std::mutex> lock(ended_->mutex);
        ended_->done.wait(lock, [this] { return ended_->closed; });
    }
    thread_->wait();
    thread_.reset();
}
