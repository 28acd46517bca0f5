// How every driver waits: until its time is up, what it waits for is ready,
// or the program tells it to stop waiting (toldToStopWaiting, ftd2xx.h). No
// wait begins once told, and one under way ends at once: the signal or
// asynchronous procedure call that tells it interrupts it.
#ifndef LINE_TRANSMITTER_STOP_WAITING_H
#define LINE_TRANSMITTER_STOP_WAITING_H

#include <stdint.h>

// Pauses for milliseconds; false when told to stop waiting, before or
// during the pause.
bool pauseUnlessTold(uint32_t milliseconds);

#ifndef _WIN32
// kReady: the descriptor is ready (or in error: the next call tells);
// kLookAgain: the time is up, or a signal came that did not tell the
// driver; kTold: told to stop waiting; kWaitFailed: errno says why.
enum WaitOutcome { kReady, kLookAgain, kTold, kWaitFailed };

// Waits up to milliseconds for descriptor (-1: none) to be ready for events
// (POLLIN, POLLOUT). The caller's signals are held from the look at the
// program's answer to the wait, whose mask lets them in again, so that one
// that comes between the two ends the wait rather than going unseen.
WaitOutcome waitUnlessTold(int descriptor, short events, int milliseconds);
#endif

#endif
