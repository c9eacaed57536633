#include "face_thread.h"

#include <QEventLoop>
#include <QMutex>
#include <QWaitCondition>

FaceThread::~FaceThread()
{
    stop();
}

bool FaceThread::start(const Open& open, const Close& close, QString* error)
{
    QMutex mutex;
    QWaitCondition opened;
    bool done = false;
    bool ok = false;
    thread_.reset(QThread::create([&, open, close] {
        QString openError;
        const bool good = open(&openError);
        {
            QMutexLocker lock(&mutex);
            ok = good;
            *error = openError;
            done = true;
            opened.wakeAll();
        }
        // After the wake the locals above are gone: only copies from here on.
        if (good) {
            QEventLoop loop;
            loop.exec(); // until QThread::quit(); at once if that came first
        }
        close();
    }));
    thread_->start();
    QMutexLocker lock(&mutex);
    while (!done)
        opened.wait(&mutex);
    return ok;
}

void FaceThread::stop()
{
    if (!thread_)
        return;
    thread_->quit();
    thread_->wait();
    thread_.reset();
}
