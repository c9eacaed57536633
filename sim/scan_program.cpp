#include "scan_program.h"

#include <QString>

namespace {

quint32 get(const DeviceMemory& memory, const char* name, qint64 index)
{
    return memory.value(QLatin1String(name), index).value_or(0);
}

void set(DeviceMemory& memory, const char* name, qint64 index, quint32 value)
{
    memory.setValue(QLatin1String(name), index, value);
}

} // namespace

void runScanProgram(DeviceMemory& memory, quint64 scanNumber)
{
    set(memory, "SM", 0, 1);
    set(memory, "D", 0, (get(memory, "D", 0) + 1) & 0xFFFF);

    const quint64 walkingInput = (scanNumber + 7) % 8; // scan 1 gives X0
    for (int x = 0; x < 8; ++x)
        set(memory, "X", x, static_cast<quint64>(x) == walkingInput ? 1 : 0);

    const quint32 timer = (get(memory, "TV", 0) + 1) % DemoTimerWrap;
    set(memory, "TV", 0, timer);
    set(memory, "T", 0, timer >= DemoTimerContactOn ? 1 : 0);

    set(memory, "32CV", 0, get(memory, "32CV", 0) + 1); // unsigned: wraps at 2^32
}
