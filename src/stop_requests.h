// Stop requests: SIGINT, SIGTERM and SIGHUP on POSIX; Ctrl-C, Ctrl-Break and
// the console's close on Windows. This module alone holds what was asked;
// the sender, the run and the drivers (toldToStopWaiting) ask it. A request
// counts the moment it comes. After it no line is read or begun; the line
// under way is finished. A second ends that line and the driver's waits.
// Once the lines have ended (the input's end read, a line with ESC handed
// over), no request is heeded: the last lines drain to their end.
#ifndef LINE_TRANSMITTER_STOP_REQUESTS_H
#define LINE_TRANSMITTER_STOP_REQUESTS_H

// The null device in each closed standard descriptor's place, before the
// converter's file can take it; false when standard input was closed.
bool prepareStandardStreams();

// Requests are counted from here, but one ignored at the start (nohup);
// input that can make a read wait is read through a wait that one ends.
void watchStopRequests();

int stopRequests();                      // 0, 1 or 2
int firstStopSignal();                   // the exit status carries its number
const char* stopRequestName(int which);  // of the first or second: "SIGINT"

// The lines have ended: true when a request came first.
bool stopRequestEndedTheLines();

// The input's end was read: the lines have ended; false when a request
// caused that end (Ctrl-C ends a Windows console read).
bool inputEnded();

// How to end typed lines, where standard input and error are a terminal.
const char* terminalHint();

#endif
