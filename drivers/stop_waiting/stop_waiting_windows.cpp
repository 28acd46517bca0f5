#include "stop_waiting.h"

#include <windows.h>

#include "ftd2xx.h"

bool pauseUnlessTold(uint32_t milliseconds)
{
    // Alertable: the procedure call that the teller queues after telling
    // ends the pause at once; a call queued for another reason does not.
    ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        if (toldToStopWaiting()) {
            return false;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end) {
            return true;
        }
        SleepEx(static_cast<DWORD>(end - now), TRUE);
    }
}
