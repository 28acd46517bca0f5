#include "stop_waiting.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <time.h>

#include "ftd2xx.h"

WaitOutcome waitUnlessTold(int descriptor, short events, int milliseconds)
{
    sigset_t every;
    sigset_t callersMask;
    sigfillset(&every);
    pthread_sigmask(SIG_BLOCK, &every, &callersMask);
    WaitOutcome outcome = kTold;
    int reason = 0;
    if (!toldToStopWaiting()) {
        pollfd ready = {descriptor, events, 0};
        timespec pause = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000L};
        int count = ppoll(descriptor >= 0 ? &ready : nullptr, descriptor >= 0 ? 1 : 0, &pause,
                          &callersMask);
        reason = errno;
        // A handler that ran inside the wait may have told the driver.
        outcome = toldToStopWaiting()             ? kTold
                  : count > 0                     ? kReady
                  : count == 0 || reason == EINTR ? kLookAgain
                                                  : kWaitFailed;
    }
    pthread_sigmask(SIG_SETMASK, &callersMask, nullptr);
    errno = reason;
    return outcome;
}

bool pauseUnlessTold(uint32_t milliseconds)
{
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long passed =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (passed >= milliseconds) {
            return true;
        }
        if (waitUnlessTold(-1, 0, static_cast<int>(milliseconds - passed)) == kTold) {
            return false;
        }
    }
}
