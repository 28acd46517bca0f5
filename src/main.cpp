// line-transmitter: sends each line of standard input, followed by a line
// feed, through converter 0 at 19200 baud, 7 data bits, even parity, 1 stop
// bit. A line that holds ESC is the last one sent. Silent unless something
// fails; then one message on standard error, and an exit status that says
// whether anything was sent (see usage below and the manual page).
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "ftd2xx.h"
#include "ftd2xx_status_names.h"
#include "transmit_line.h"

#ifndef LINE_TRANSMITTER_VERSION
#define LINE_TRANSMITTER_VERSION "unreleased"
#endif

namespace {

// The most that a converter and its driver can hold between a write's
// return and the wire, in bytes:
//   4096  the kernel's usb-serial write buffer (one page)
//   1024  the two bulk transfers in flight, up to 512 bytes each
//   4096  the largest transmit FIFO of the vendor's UART chips (FT2232H)
//   9216, rounded up to 10 KiB.
// At a failure, the lines that surely left the converter are those whose
// line feed was handed over at least this many bytes before the failure.
const uint64_t kConverterHoldsAtMost = 10240;

const int kNothingSent = 1;   // exit status: safe to run the same input again
const int kPartlySent = 2;    // exit status: the message says where to resume

const char kUsage[] =
    "Usage: line-transmitter < FILE, or COMMAND | line-transmitter\n"
    "Sends each line of standard input, then a line feed, out of FTDI converter 0 at 19200 "
    "baud, 7 data bits, even parity, 1 stop bit; the run ends after a line holding ESC, or "
    "at the end of input.\n"
    "  -h, --help     show this and exit\n"
    "  -V, --version  show the version and exit\n"
    "See line-transmitter(1) for the exit statuses and messages.\n";
const char kVersion[] =
    "line-transmitter " LINE_TRANSMITTER_VERSION "\n"
    "Copyright (c) 2026 the line-transmitter authors; MIT licence: "
    "there is NO WARRANTY.\n";

const char kCheckTheConverter[] =
    "check that the converter is still plugged in and the cable is sound";

// The line ends of the lines handed over within the last
// kConverterHoldsAtMost bytes: every line takes at least one byte, so that
// many places always suffice. Older lines have surely left the converter.
uint64_t recentLineEnds[kConverterHoldsAtMost];
uint64_t recentLines = 0;  // how many of the ends above are in use
uint64_t oldestRecent = 0; // where the oldest of them is

volatile sig_atomic_t firstSignal = 0;

void onInterruptingSignal(int signalNumber)
{
    if (firstSignal == 0) {
        firstSignal = signalNumber;
    }
    if (interruptingSignals < 2) {
        ++interruptingSignals;
    }
#ifdef _WIN32
    signal(signalNumber, onInterruptingSignal);  // the C runtime resets it
#endif
}

const char* signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
#ifndef _WIN32
    case SIGHUP: return "SIGHUP";
#endif
    default: return "a signal";
    }
}

// SIGINT, SIGTERM and SIGHUP end the run in order: the line going out is
// finished, and the converter drained and closed. A signal that was ignored
// when the program started stays ignored, as a shell's `nohup` or `&` asks.
// A broken standard error must not kill the program before it closes the
// converter, so SIGPIPE is ignored.
void handleSignals()
{
#ifdef _WIN32
    signal(SIGINT, onInterruptingSignal);  // Ctrl-C
    signal(SIGTERM, onInterruptingSignal);
#else
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onInterruptingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked read or write must see it
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            sigaction(signalNumber, &action, nullptr);
        }
    }
    signal(SIGPIPE, SIG_IGN);
#endif
}

// Holds the interrupting signals back, or lets them through again. A drain
// that no signal has asked to cut short runs to its end; a signal that
// comes meanwhile is taken after it.
void holdSignals(bool hold)
{
#ifndef _WIN32
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
#else
    (void)hold;
#endif
}

// True when standard input is open. Closed standard descriptors are opened
// on /dev/null first, so that no descriptor the program opens later (the
// converter's) can take their place and receive its input or its messages.
bool standardStreamsReady()
{
#ifdef _WIN32
    return _fileno(stdin) >= 0 && _get_osfhandle(_fileno(stdin)) >= 0;
#else
    bool inputOpen = fcntl(STDIN_FILENO, F_GETFD) != -1;
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1 &&
            open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY) != descriptor) {
            return false;
        }
    }
    return inputOpen;
#endif
}

void rememberLineEnd(uint64_t end)
{
    while (recentLines > 0 && recentLineEnds[oldestRecent] + kConverterHoldsAtMost <= end) {
        oldestRecent = (oldestRecent + 1) % kConverterHoldsAtMost;
        --recentLines;
    }
    recentLineEnds[(oldestRecent + recentLines) % kConverterHoldsAtMost] = end;
    ++recentLines;
}

// Of the lines handed over, how many surely left the converter when it
// failed with failurePoint bytes handed over.
unsigned long linesSurelySent(const TransmitProgress& progress, uint64_t failurePoint)
{
    uint64_t stillHeld = 0;
    for (uint64_t i = 0; i < recentLines; ++i) {
        uint64_t end = recentLineEnds[(oldestRecent + i) % kConverterHoldsAtMost];
        stillHeld += end + kConverterHoldsAtMost > failurePoint;
    }
    return progress.linesHandedOver - static_cast<unsigned long>(stillHeld);
}

const char* lines(unsigned long count)
{
    return count == 1 ? "line" : "lines";
}

// Where the user stands after a failure: what was handed over, what surely
// arrived, and which line to send again from.
void describeResendPoint(char* text, size_t size, const TransmitProgress& progress,
                         bool drained)
{
    unsigned long handedOver = progress.linesHandedOver;
    unsigned long sent = drained ? handedOver : linesSurelySent(progress, progress.bytesHandedOver);
    bool lineCut = progress.bytesHandedOver > 0 &&
                   (recentLines == 0 ||
                    recentLineEnds[(oldestRecent + recentLines - 1) % kConverterHoldsAtMost] !=
                        progress.bytesHandedOver);
    if (progress.bytesHandedOver == 0) {
        snprintf(text, size, "nothing was sent: the same input can be sent again");
        return;
    }
    if (sent == handedOver && !lineCut) {
        snprintf(text, size, "%lu %s sent: send again from line %lu", sent, lines(sent),
                 sent + 1);
        return;
    }
    char cut[80] = "";
    if (lineCut) {
        snprintf(cut, sizeof cut, ", part of line %lu went out", handedOver + 1);
    }
    char twice[80] = "";
    if (handedOver == sent + 1) {
        snprintf(twice, sizeof twice, " (line %lu may arrive twice)", handedOver);
    } else if (handedOver > sent + 1) {
        snprintf(twice, sizeof twice, " (lines %lu to %lu may arrive twice)", sent + 1,
                 handedOver);
    }
    snprintf(text, size, "%lu %s handed over, %lu surely sent%s: send again from line %lu%s",
             handedOver, lines(handedOver), sent, cut, sent + 1, twice);
}

// "(detail)" from the driver, or the status by name.
void describeCause(char* text, size_t size, FT_STATUS status, const ConverterFailure& failure)
{
    const char* name = ftStatusName(status);
    if (failure.detail[0] != '\0') {
        snprintf(text, size, "%s", failure.detail);
    } else if (name != nullptr) {
        snprintf(text, size, "%s", name);
    } else {
        snprintf(text, size, "driver status %lu", static_cast<unsigned long>(status));
    }
}

// One line on standard error: what failed, why, and what to do.
void report(const char* what, const char* cause, const char* where, const char* advice)
{
    fprintf(stderr, "line-transmitter: %s (%s)%s%s%s%s\n", what, cause, where[0] ? "; " : "",
            where, advice[0] ? "; " : "", advice);
}

const char* adviceFor(const ConverterFailure& failure, const char* otherwise)
{
    return failure.advice[0] != '\0' ? failure.advice : otherwise;
}

int openAndSetUp(FT_HANDLE* ftHandle)
{
    char cause[300];
    FT_STATUS status = FT_Open(0, ftHandle);
    if (status != FT_OK) {
        ConverterFailure failure = lastConverterFailure();
        describeCause(cause, sizeof cause, status, failure);
        report("cannot open converter 0", cause, "nothing was sent",
               adviceFor(failure, status == FT_DEVICE_NOT_OPENED
                                      ? "is another program using it, or may this user not "
                                        "open it?"
                                      : "is the converter plugged in, and its driver installed?"));
        return kNothingSent;
    }
    // A line at the wrong framing reaches the receiver as garbage, so
    // nothing is sent unless both settings took.
    const char* failed = nullptr;
    status = FT_SetBaudRate(*ftHandle, 19200);
    if (status != FT_OK) {
        failed = "cannot set converter 0 to 19200 baud";
    } else {
        status = FT_SetDataCharacteristics(*ftHandle, FT_BITS_7, FT_STOP_BITS_1, FT_PARITY_EVEN);
        failed = "cannot set converter 0 to 7 data bits, even parity, 1 stop bit";
    }
    if (status != FT_OK) {
        ConverterFailure failure = lastConverterFailure();
        describeCause(cause, sizeof cause, status, failure);
        FT_Close(*ftHandle);
        report(failed, cause, "nothing was sent", adviceFor(failure, kCheckTheConverter));
        return kNothingSent;
    }
    return 0;
}

// Sends every line, then drains and closes the converter; then, and only
// then, at most one message. The exit status.
int sendAll(FT_HANDLE ftHandle)
{
    if (isatty(0) && isatty(2)) {
        fprintf(stderr, "line-transmitter: reading lines from the terminal; end with %s, or "
                        "with a line holding ESC (Esc, then Enter)\n",
#ifdef _WIN32
                "Ctrl-Z then Enter"
#else
                "Ctrl-D"
#endif
        );
    }
    TransmitProgress progress = {0, 0, FT_OK, false, 0};
    bool goOn = true;
    while (goOn) {
        unsigned long before = progress.linesHandedOver;
        goOn = transmitLine(ftHandle, &progress);
        if (progress.linesHandedOver != before) {
            rememberLineEnd(progress.bytesHandedOver);
        }
    }

    // The write's own cause, before the close's can take its place.
    char writeCause[300];
    if (progress.stalled) {
        snprintf(writeCause, sizeof writeCause, "the converter stopped taking bytes");
    } else {
        describeCause(writeCause, sizeof writeCause, progress.writeStatus,
                      lastConverterFailure());
    }

    bool interrupted = interruptingSignals > 0;
    holdSignals(!interrupted);
    FT_STATUS closeStatus = FT_Close(ftHandle);
    ConverterFailure closeFailure = lastConverterFailure();
    char cause[300];
    describeCause(cause, sizeof cause, closeStatus, closeFailure);
    holdSignals(false);

    char where[300];
    describeResendPoint(where, sizeof where, progress, closeStatus == FT_OK);
    int failedStatus = progress.bytesHandedOver == 0 ? kNothingSent : kPartlySent;
    // The first failure is the one reported: after a failed write, the
    // failing drain or close that follows adds nothing.
    if (progress.writeStatus != FT_OK || progress.stalled) {
        report("sending to converter 0 failed", writeCause, where, kCheckTheConverter);
        return failedStatus;
    }
    if (interrupted) {
        char what[100];
        snprintf(what, sizeof what, "interrupted by %s", signalName(firstSignal));
        report(what, closeStatus == FT_OK ? "the converter was drained and closed" : cause, where,
               "");
        return 128 + firstSignal;
    }
    if (progress.readError != 0) {
        report("reading standard input failed", strerror(progress.readError), where,
               "check what feeds the program");
        return failedStatus;
    }
    if (closeStatus != FT_OK) {
        report("closing converter 0 failed", cause, where,
               adviceFor(closeFailure, kCheckTheConverter));
        return failedStatus;
    }
    return 0;
}

bool asked(int argc, char** argv, const char* shortForm, const char* longForm)
{
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], shortForm) == 0 || strcmp(argv[i], longForm) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    // Only these two are read; every other argument is ignored.
    if (asked(argc, argv, "-h", "--help")) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (asked(argc, argv, "-V", "--version")) {
        fputs(kVersion, stdout);
        return 0;
    }
    // A clean slate, also where main runs more than once in one process.
    recentLines = 0;
    oldestRecent = 0;
    firstSignal = 0;
    interruptingSignals = 0;
    handleSignals();
    if (!standardStreamsReady()) {
        fprintf(stderr, "line-transmitter: standard input is closed (there is nothing to "
                        "send); nothing was sent; give the program its lines on standard "
                        "input\n");
        return kNothingSent;
    }
    FT_HANDLE ftHandle = nullptr;
    int setUpStatus = openAndSetUp(&ftHandle);
    if (setUpStatus != 0) {
        return setUpStatus;
    }
    return sendAll(ftHandle);
}
