// Stop requests on POSIX: SIGINT, SIGTERM and SIGHUP.
//
// A handler counts each one the moment it comes. It is installed without
// SA_RESTART, so that a call it interrupts returns (a write to a full pipe,
// the wait for input) and the sender looks at the count. The only wait of
// the program's own is the one for input: there the signals are held from
// the look at the count to the wait, whose mask lets them in at once
// (ppoll), so that one that comes between the two ends the wait rather than
// waiting with it. The driver's waits are closed the same way, against the
// flag that the handler sets at the second request.
#include "stop_requests.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ftd2xx.h"

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t requests = 0;
volatile sig_atomic_t firstSignal = 0;
volatile sig_atomic_t secondSignal = 0;
volatile sig_atomic_t heeded = 1;  // 0 while the last lines drain

sigset_t stopSignals;
int requestsSeenByRead = 0;  // the count when the read last looked

void onStopSignal(int signalNumber)
{
    if (heeded == 0 || requests >= 2) {
        return;
    }
    if (requests == 0) {
        firstSignal = signalNumber;
    } else {
        secondSignal = signalNumber;
        converterStopWaiting();
    }
    requests = requests + 1;
}

// Standard input read once it has something, through a wait that a stop
// request ends: -1 and EINTR for a request the reader has not seen yet, so
// that the sender looks at the count before the program waits any longer.
ssize_t readWhenReady(void*, char* buffer, size_t size)
{
    for (;;) {
        sigset_t callersMask;
        pthread_sigmask(SIG_BLOCK, &stopSignals, &callersMask);
        bool unseen = requests != requestsSeenByRead;
        int ready = -1;
        int reason = EINTR;
        if (!unseen) {
            pollfd input = {STDIN_FILENO, POLLIN, 0};
            ready = ppoll(&input, 1, nullptr, &callersMask);
            reason = errno;
        }
        requestsSeenByRead = requests;
        pthread_sigmask(SIG_SETMASK, &callersMask, nullptr);
        if (ready < 0) {
            errno = reason;
            return -1;
        }
        ssize_t got = read(STDIN_FILENO, buffer, size);
        // Another reader of a non-blocking input may have taken what the
        // wait saw: wait again.
        if (got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            return got;
        }
    }
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
    secondSignal = 0;
    heeded = 1;
    requestsSeenByRead = 0;
    sigemptyset(&stopSignals);
    for (int signalNumber : kStopSignals) {
        sigaddset(&stopSignals, signalNumber);
    }
    struct sigaction counting;
    memset(&counting, 0, sizeof counting);
    counting.sa_handler = onStopSignal;
    counting.sa_mask = stopSignals;  // one count at a time; the next waits its turn
    counting.sa_flags = 0;           // no SA_RESTART: what it interrupts returns
    for (int signalNumber : kStopSignals) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            sigaction(signalNumber, &counting, nullptr);
        }
    }
    // Held by whoever started the program, they would never be heard.
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
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

const char* stopRequestName(int which)
{
    switch (which == 1 ? firstSignal : secondSignal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
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

bool stopRequestEndedTheLines()
{
    // Held, so that no request lands between the look and the decision.
    sigset_t callersMask;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &callersMask);
    bool stopped = requests > 0;
    heeded = stopped ? 1 : 0;
    pthread_sigmask(SIG_SETMASK, &callersMask, nullptr);
    return stopped;
}
