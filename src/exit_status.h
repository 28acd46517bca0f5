// The program's exit statuses, as the manual page lists them.
#ifndef LINE_TRANSMITTER_EXIT_STATUS_H
#define LINE_TRANSMITTER_EXIT_STATUS_H

const int kAllSent = 0;      // every line was sent (or help or version shown)
const int kNothingSent = 1;  // failed before any byte was handed over: run it again
const int kPartlySent = 2;   // failed after bytes were handed over: see the message

// Ended by a stop request, after the line going out: this plus its signal
// number, as a shell reports a program that a signal ended.
const int kStoppedBySignal = 128;

#endif
