#include "stop_waiting.h"

#include <windows.h>

#include <atomic>

#include "ftd2xx.h"

namespace {
// Set on the console handler's thread, read on the waiting one.
std::atomic<bool> told{false};
}  // namespace

void converterStopWaiting()
{
    told.store(true);
}

bool toldToStopWaiting()
{
    return told.load();
}

void forgetStopWaiting()
{
    told.store(false);
}

bool pauseUnlessTold(uint32_t milliseconds)
{
    // Alertable: the procedure call that the teller queues after telling
    // ends the pause at once; a call queued for another reason does not.
    ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        if (told.load()) {
            return false;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end) {
            return true;
        }
        SleepEx(static_cast<DWORD>(end - now), TRUE);
    }
}
