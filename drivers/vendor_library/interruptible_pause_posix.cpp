#include <errno.h>
#include <signal.h>
#include <sys/select.h>

#include "interruptible_pause.h"

bool pauseInterruptibly(uint32_t milliseconds)
{
    // The empty mask lets through the signals that the program holds back
    // outside the waits; an ignored signal does not end the pause.
    sigset_t nothingHeld;
    sigemptyset(&nothingHeld);
    timespec pause = {static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
    return pselect(0, nullptr, nullptr, nullptr, &pause, &nothingHeld) == 0 || errno != EINTR;
}
