#include <windows.h>

#include "interruptible_pause.h"

bool pauseInterruptibly(uint32_t milliseconds)
{
    // Alertable: an APC queued to this thread ends the pause at once.
    return SleepEx(milliseconds, TRUE) != WAIT_IO_COMPLETION;
}
