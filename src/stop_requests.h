// Stop requests: SIGINT, SIGTERM and SIGHUP on POSIX; Ctrl-C, Ctrl-Break and
// the console's close on Windows. This module alone holds what was asked;
// the sender, the run and the drivers (toldToStopWaiting, ftd2xx.h) ask it.
//
// A request counts the moment it comes, whatever the program is doing. From
// then on no line is read, and none is begun: a line of which nothing was
// handed to the driver is not sent, the one under way is finished. A second
// request ends that line and the driver's waits at once. The lines end when
// the input's end is read (a last line without a line feed is read with it)
// or a line with ESC is handed over; from then on no request is heeded, so
// that the last lines drain to their end.
#ifndef LINE_TRANSMITTER_STOP_REQUESTS_H
#define LINE_TRANSMITTER_STOP_REQUESTS_H

// Opens any closed standard descriptor on the null device, so that no file
// the program opens later (the converter's) takes its place. False when
// standard input was closed: there is nothing to send.
bool prepareStandardStreams();

// From here on requests are counted, except one ignored when the program
// started (nohup). Input that can make a read wait (a pipe, a terminal) is
// read through a wait that a request ends.
void watchStopRequests();

// Requests counted so far: 0, 1 or 2.
int stopRequests();

// The first request's signal number, which the exit status carries.
int firstStopSignal();

// The name of the first (which 1) or second (2) request: "SIGINT", "Ctrl-C".
const char* stopRequestName(int which);

// The lines have ended: true when a request came first. Otherwise no
// request is heeded from here on.
bool stopRequestEndedTheLines();

// At the end of standard input: the lines have ended, and true, unless a
// request caused that end (a Windows console read that Ctrl-C ends).
bool inputEnded();

// Where lines are read from and how to end them, for a user who types them
// (standard input and standard error a terminal), or nullptr.
const char* terminalHint();

#endif
