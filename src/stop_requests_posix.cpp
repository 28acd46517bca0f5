// Stop requests on POSIX: SIGINT, SIGTERM and SIGHUP.
//
// The three are held (blocked) for the whole run and let through only
// inside a wait: the wait for input here, the driver's waits for room and
// for the drain (ppoll with an open mask). So a signal that comes between a
// look at the count and the wait after it is delivered the moment the wait
// begins, and ends it; none is missed, and no system call is added per line.
#include "stop_requests.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t requests = 0;
volatile sig_atomic_t firstSignal = 0;
volatile sig_atomic_t lastSignal = 0;

sigset_t heldSignals;    // the stop signals
sigset_t maskInWaits;    // the mask the program started with: what waits let through
bool watched[3];         // whether each stop signal has our handler

void onStopSignal(int signalNumber)
{
    if (firstSignal == 0) {
        firstSignal = signalNumber;
    }
    lastSignal = signalNumber;
    if (requests < 2) {
        ++requests;
    }
}

// Waits for standard input with the stop signals let through; false when
// one came (errno EINTR).
bool waitForReadableInput()
{
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    return ppoll(&input, 1, nullptr, &maskInWaits) >= 0;
}

// Standard input read through a wait that lets the stop signals in: the
// read itself then never blocks with them held.
ssize_t readWhenReady(void*, char* buffer, size_t size)
{
    if (!waitForReadableInput()) {
        return -1;  // a stop request: the sender looks at it
    }
    return read(STDIN_FILENO, buffer, size);
}

void countStopSignal(int index)
{
    struct sigaction counting;
    memset(&counting, 0, sizeof counting);
    counting.sa_handler = onStopSignal;
    counting.sa_mask = heldSignals;  // one count at a time
    counting.sa_flags = 0;           // no SA_RESTART: a wait must end at once
    sigaction(kStopSignals[index], &counting, nullptr);
}

int closeNothing(void*)
{
    return 0;
}

// A regular file never makes a read wait; anything else (pipe, terminal,
// socket) is read through readWhenReady.
void readStandardInputThroughWaits()
{
    struct stat status;
    if (fileno(stdin) != STDIN_FILENO || fstat(STDIN_FILENO, &status) != 0 ||
        S_ISREG(status.st_mode)) {
        return;
    }
    cookie_io_functions_t calls = {};
    calls.read = readWhenReady;
    calls.close = closeNothing;
    FILE* input = fopencookie(nullptr, "r", calls);
    if (input != nullptr) {
        stdin = input;
    }
}

}  // namespace

bool prepareStandardStreams()
{
    bool inputOpen = fcntl(STDIN_FILENO, F_GETFD) != -1;
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1 &&
            open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY) != descriptor) {
            return false;
        }
    }
    return inputOpen;
}

void watchStopRequests()
{
    requests = 0;
    firstSignal = 0;
    lastSignal = 0;
    sigemptyset(&heldSignals);
    for (int signalNumber : kStopSignals) {
        sigaddset(&heldSignals, signalNumber);
    }
    sigprocmask(SIG_BLOCK, &heldSignals, &maskInWaits);
    for (int signalNumber : kStopSignals) {
        sigdelset(&maskInWaits, signalNumber);
    }
    for (int i = 0; i < 3; ++i) {
        struct sigaction previous;
        watched[i] = sigaction(kStopSignals[i], nullptr, &previous) == 0 &&
                     previous.sa_handler != SIG_IGN;
        if (watched[i]) {
            // Through SIG_IGN: a request left pending by an earlier run in
            // this process is dropped.
            signal(kStopSignals[i], SIG_IGN);
            countStopSignal(i);
        }
    }
    // A standard error that nobody reads must not end the run before the
    // converter is closed.
    signal(SIGPIPE, SIG_IGN);
    readStandardInputThroughWaits();
}

int stopRequests()
{
    return requests;
}

int firstStopSignal()
{
    return firstSignal;
}

int lastStopSignal()
{
    return lastSignal;
}

const char* stopSignalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

void waitForInput()
{
    waitForReadableInput();
}

bool inputReallyEnded()
{
    return true;  // a POSIX read ends input only at its end
}

void printTerminalHint()
{
    if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
        fputs("line-transmitter: reading lines from the terminal; end with Ctrl-D, or with a "
              "line holding ESC (Esc, then Enter)\n",
              stderr);
    }
}

void ignoreStopRequests()
{
    for (int i = 0; i < 3; ++i) {
        if (watched[i]) {
            signal(kStopSignals[i], SIG_IGN);
        }
    }
}

void heedStopRequests()
{
    for (int i = 0; i < 3; ++i) {
        if (watched[i]) {
            countStopSignal(i);
        }
    }
}

void keepStopRequestPendingForClose()
{
    if (lastSignal != 0) {
        raise(lastSignal);  // held: it waits for the close's first wait
    }
}
