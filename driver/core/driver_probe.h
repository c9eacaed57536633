#pragma once

// Read-only looks inside a driver object for the fuzz targets and the
// concurrency stress test, whose invariants (list limits, lock states, the
// image outside the areas a call names) a host cannot see. The module never
// includes this header; the other tests observe the driver as a host does.

#include "core/driver_object.h"

#include <QMutexLocker>

#include <vector>

class TavrinProbe {
public:
    explicit TavrinProbe(Tavrin& driver) : driver_(driver) {}

    int writeListSize() const { return sizeUnderListMutex(driver_.WriteVarList); }
    int onceReadListSize() const { return sizeUnderListMutex(driver_.OnceReadVarList); }
    int readListSize() const { return sizeUnderListMutex(driver_.ReadVarList); }
    // The frames of the item in flight; the communication thread's own.
    int frameQueueSize() const { return driver_.FrameQueue.size(); }
    const RequestFrame* headFrame() const
    {
        return driver_.FrameQueue.isEmpty() ? nullptr : &driver_.FrameQueue.first();
    }

    // Copies of the cyclic read blocks, and the name of the first pending write.
    std::vector<VarItem> readList() const
    {
        QMutexLocker lock(&driver_.ListMutex);
        std::vector<VarItem> items;
        for (int i = 0; i < driver_.ReadVarList.size(); ++i)
            items.push_back(driver_.ReadVarList.at(i));
        return items;
    }
    QString firstWriteName() const
    {
        QMutexLocker lock(&driver_.ListMutex);
        return driver_.WriteVarList.isEmpty() ? QString() : driver_.WriteVarList.first().RegName;
    }

    bool isListMutexFree() const { return isFree(driver_.ListMutex); }
    bool isImageMutexFree() const { return isFree(driver_.ImageMutex); }

    // A copy of the whole image, taken under ImageMutex.
    RegisterImage image() const
    {
        QMutexLocker lock(&driver_.ImageMutex);
        return driver_.Image;
    }

private:
    int sizeUnderListMutex(const VarItemList& list) const
    {
        QMutexLocker lock(&driver_.ListMutex);
        return list.size();
    }
    static bool isFree(QMutex& mutex)
    {
        if (!mutex.tryLock())
            return false;
        mutex.unlock();
        return true;
    }

    Tavrin& driver_;
};
