// A driver's own pause, as drivers/ftd2xx.h wants every wait of a driver
// to be: a stop request ends it early. On POSIX that is any handled signal,
// even one the caller holds blocked; on Windows it is an asynchronous
// procedure call queued to the waiting thread, which the program's console
// handler queues at a second request.
#ifndef LINE_TRANSMITTER_INTERRUPTIBLE_PAUSE_H
#define LINE_TRANSMITTER_INTERRUPTIBLE_PAUSE_H

#include <stdint.h>

// Pauses for milliseconds; false when a stop request ended the pause early.
bool pauseInterruptibly(uint32_t milliseconds);

#endif
