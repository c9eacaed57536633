#pragma once

// Waits for something another thread or process brings about, with a
// generous bound so that a broken build fails instead of hanging. Tests
// assert on the outcome, never on how long it took.

#include <QElapsedTimer>
#include <QThread>

template <typename Condition>
bool waitUntil(Condition condition, int boundMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > boundMs)
            return false;
        QThread::msleep(2);
    }
    return true;
}
