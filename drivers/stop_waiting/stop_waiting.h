// How every driver waits: until its time is up, or what it waits for is
// ready, or the program has told it to stop waiting (converterStopWaiting
// in ftd2xx.h, which this library defines for the driver it is linked
// with). A wait never begins once the driver has been told, and one under
// way ends at once: the signal or asynchronous procedure call that told it
// interrupts it.
#ifndef LINE_TRANSMITTER_STOP_WAITING_H
#define LINE_TRANSMITTER_STOP_WAITING_H

#include <stdint.h>

// Whether the driver has been told to stop waiting, since the last
// forgetStopWaiting().
bool toldToStopWaiting();

// At the end of FT_Close: the next handle waits again.
void forgetStopWaiting();

// Pauses for milliseconds; false when told to stop waiting, before or
// during the pause.
bool pauseUnlessTold(uint32_t milliseconds);

#ifndef _WIN32
enum WaitOutcome {
    kReady,      // the descriptor is ready (or in error: the next call tells)
    kLookAgain,  // the time is up, or a signal came that did not tell the driver
    kTold,       // told to stop waiting
    kWaitFailed  // errno says why
};

// Waits up to milliseconds for descriptor to be ready for events (POLLIN,
// POLLOUT). Every signal is held from the look at the flag to the wait,
// whose mask lets in again what the caller lets in, so that a signal that
// comes between the two ends the wait rather than going unseen.
WaitOutcome waitUnlessTold(int descriptor, short events, int milliseconds);
#endif

#endif
