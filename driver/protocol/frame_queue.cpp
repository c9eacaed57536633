#include "core/driver_object.h"

void Tavrin::AppendFrame(RequestFrame&& frame)
{
    FrameQueue.append(std::move(frame));
}
