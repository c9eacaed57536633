#include "core/driver_object.h"

void Tavrin::AppendFrame(RequestFrame&& frame)
{
    FrameQueue.append(std::move(frame));
}

void Tavrin::OpenTransaction(qint32 frames)
{
    ComInfo.set(ComInfoWord::FramesAnswered, 0);
    ComInfo.set(ComInfoWord::FramesQueued, frames);
}
