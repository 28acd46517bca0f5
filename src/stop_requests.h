// Stop requests and the standard streams, the platform's business:
// POSIX signals (SIGINT, SIGTERM, SIGHUP) in stop_requests_posix.cpp, the
// console's control events (Ctrl-C, Ctrl-Break, the console's close) in
// stop_requests_windows.cpp. The run and the sender see only this.
//
// A stop request ends the run in order: no new line is begun, the line
// going out is finished, the converter is drained and closed. A second one
// stops at once, within a line, and cuts the drain short.
#ifndef LINE_TRANSMITTER_STOP_REQUESTS_H
#define LINE_TRANSMITTER_STOP_REQUESTS_H

// Opens any closed standard descriptor on the null device, so that no file
// the program opens later (the converter's) takes its place. False when
// standard input was closed: there is nothing to send.
bool prepareStandardStreams();

// From here on, stop requests are counted. A request that was ignored when
// the program started (nohup) stays ignored; a broken standard error does
// not kill the program. On POSIX the stop signals are then held outside
// the waits for input and for the converter, so that none can land
// between a look at the count and the wait that follows it.
void watchStopRequests();

// Stop requests received so far: 0, 1, or 2 (at most).
int stopRequests();

// The first request's signal number (128 + it is the exit status), and
// its name for the message: "SIGINT", ...
int firstStopSignal();
int lastStopSignal();
const char* stopSignalName(int signalNumber);

// Waits until standard input has something to read, or a stop request
// comes; for an input that another program left non-blocking.
void waitForInput();

// At the end of standard input: true when it really ended, false when the
// end came from a stop request (a Windows console read ends at Ctrl-C).
bool inputReallyEnded();

// One line on standard error, when standard input and standard error are
// both a terminal: lines are read from it, and how to end them.
void printTerminalHint();

// For the last drain of a run that no request has stopped: requests that
// come meanwhile change nothing, and do not cut it short.
void ignoreStopRequests();
void heedStopRequests();

// After the second request, before the close: the request is made pending
// again, so that the close's wait for the converter ends at once, as any
// wait that a request meets does.
void keepStopRequestPendingForClose();

#endif
