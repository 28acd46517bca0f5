// Stop requests on POSIX. The handler is installed without SA_RESTART, so
// that what it interrupts returns and the sender looks. The one wait of the
// program's own, for input, holds the signals from its look to ppoll, whose
// mask lets them in at once: a request between the two ends the wait.
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

// The requests counted, and their signal numbers.
volatile sig_atomic_t requests = 0;
volatile sig_atomic_t requested[2] = {0, 0};
volatile sig_atomic_t heeded = 1;  // 0 once the lines have ended without one
int requestsSeenByRead = 0;        // each request ends the wait for input once

void onStopSignal(int signalNumber)
{
    if (heeded != 0 && requests < 2) {
        requested[requests] = signalNumber;
        requests = requests + 1;
    }
}

sigset_t stopSignalSet()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signalNumber : kStopSignals) {
        sigaddset(&signals, signalNumber);
    }
    return signals;
}

// Standard input read once it has something, through a wait that a request
// ends: -1 and EINTR for a request the reader has not reported yet.
ssize_t readWhenReady(void*, char* buffer, size_t size)
{
    for (;;) {
        sigset_t stopSignals = stopSignalSet();
        sigset_t callersMask;
        pthread_sigmask(SIG_BLOCK, &stopSignals, &callersMask);
        int ready = -1;
        int reason = EINTR;
        if (stopRequests() == requestsSeenByRead) {
            pollfd input = {STDIN_FILENO, POLLIN, 0};
            ready = ppoll(&input, 1, nullptr, &callersMask);
            reason = errno;
        }
        requestsSeenByRead = stopRequests();
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
    requests = requested[0] = requested[1] = 0;
    heeded = 1;
    requestsSeenByRead = 0;
    sigset_t stopSignals = stopSignalSet();
    struct sigaction counting;
    memset(&counting, 0, sizeof counting);
    counting.sa_handler = onStopSignal;
    counting.sa_mask = stopSignals;  // one count at a time
    for (int signalNumber : kStopSignals) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            sigaction(signalNumber, &counting, nullptr);
        }
    }
    // Held by whoever started the program, they would never be heard.
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    // A standard error that nobody reads must not end the run unclosed.
    signal(SIGPIPE, SIG_IGN);
    // A regular file never makes a read wait: it is read directly.
    struct stat status;
    if (fileno(stdin) == STDIN_FILENO && fstat(STDIN_FILENO, &status) == 0 &&
        !S_ISREG(status.st_mode)) {
        cookie_io_functions_t calls = {};
        calls.read = readWhenReady;  // and no close: the descriptor stays standard input
        FILE* input = fopencookie(nullptr, "r", calls);
        stdin = input != nullptr ? input : stdin;
    }
}

int stopRequests()
{
    return requests;
}

bool toldToStopWaiting()
{
    return requests >= 2;
}

int firstStopSignal()
{
    return requested[0];
}

const char* stopRequestName(int which)
{
    switch (requested[which - 1]) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "SIGHUP";  // the last of kStopSignals
    }
}

bool stopRequestEndedTheLines()
{
    // Held, so that no request lands between the look and the decision.
    sigset_t stopSignals = stopSignalSet();
    sigset_t callersMask;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &callersMask);
    bool stopped = stopRequests() > 0;
    heeded = stopped ? 1 : 0;
    pthread_sigmask(SIG_SETMASK, &callersMask, nullptr);
    return stopped;
}

bool inputEnded()
{
    stopRequestEndedTheLines();
    return true;  // a POSIX read ends the input only at its end
}

const char* terminalHint()
{
    return isatty(STDIN_FILENO) && isatty(STDERR_FILENO)
               ? "reading lines from the terminal; end with Ctrl-D, or with a line holding ESC "
                 "(Esc, then Enter)"
               : nullptr;
}
