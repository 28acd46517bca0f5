// Stop requests and the standard streams, the platform's business:
// POSIX signals (SIGINT, SIGTERM, SIGHUP) in stop_requests_posix.cpp, the
// console's control events (Ctrl-C, Ctrl-Break, the console's close) in
// stop_requests_windows.cpp. The run and the sender see only this.
//
// Each request is counted the moment it comes, whatever the program is
// doing. After the first, no further line is begun and the line going out
// is finished, then the converter is drained and closed. At the second, the
// driver is told to stop waiting (converterStopWaiting): the line and the
// drain are cut short at once. Once the lines have ended without a request,
// none is heeded: the last lines drain to their end.
#ifndef LINE_TRANSMITTER_STOP_REQUESTS_H
#define LINE_TRANSMITTER_STOP_REQUESTS_H

// Opens any closed standard descriptor on the null device, so that no file
// the program opens later (the converter's) takes its place. False when
// standard input was closed: there is nothing to send.
bool prepareStandardStreams();

// From here on, stop requests are counted. A request that was ignored when
// the program started (nohup) stays ignored; a broken standard error does
// not kill the program. Standard input that can make a read wait (a pipe, a
// terminal, a socket) is read through a wait that a request ends: a request
// that comes before it, or during it, is never left unseen until more input
// comes.
void watchStopRequests();

// Stop requests counted so far: 0, 1, or 2 (at most).
int stopRequests();

// The first request's signal number, which the exit status carries.
int firstStopSignal();

// The name of the first (which 1) or second (2) request, for the message:
// "SIGINT", "Ctrl-Break", ...
const char* stopRequestName(int which);

// At the end of standard input: true when it really ended, false when the
// end came from a stop request (a Windows console read ends at Ctrl-C).
bool inputReallyEnded();

// One line on standard error, when standard input and standard error are
// both a terminal: lines are read from it, and how to end them.
void printTerminalHint();

// Once the lines have ended: true when a stop request ended them. When none
// did, none is heeded from here on, so that the last lines drain to their
// end whatever comes meanwhile.
bool stopRequestEndedTheLines();

#endif
