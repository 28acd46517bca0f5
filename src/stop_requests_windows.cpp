// Stop requests on Windows: the console's control events, which the system
// delivers on a thread of its own. Ctrl-C and Ctrl-Break count as SIGINT
// (exit 130), the console's close as SIGHUP (exit 129). The count is atomic;
// at the second request an asynchronous procedure call queued to the
// sender's thread ends an alertable wait of the driver's.
#include "stop_requests.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>

#include "ftd2xx.h"

namespace {

const int kInterruptNumber = 2;  // SIGINT's number: Ctrl-C and Ctrl-Break
const int kHangUpNumber = 1;     // SIGHUP's number: the console's close

// A console read that Ctrl-C ends returns end of input, often before the
// handler's thread has counted the request: this long is waited for it.
const DWORD kCtrlCSettlesMilliseconds = 50;

// The system ends a process this long after its console closed; the run
// gets most of it to finish its line and drain, then stops at once so
// that the close still ends in order.
const DWORD kCloseGraceMilliseconds = 3500;

// The count, or kShutOut once the lines have ended without a request; and
// each request's signal number and event.
const int kShutOut = -1;
std::atomic<int> requests{0};
std::atomic<int> numbers[2];
std::atomic<DWORD> events[2];

HANDLE mainThread = nullptr;      // the sender's, whose driver waits are alertable
HANDLE requestArrived = nullptr;  // set at every counted request

void CALLBACK endAlertableWait(ULONG_PTR)
{
    // Running is all it has to do: the alertable wait returns early.
}

void wakeMainThread()
{
    if (mainThread != nullptr) {
        QueueUserAPC(endAlertableWait, mainThread, 0);
    }
}

void countRequest(int number, DWORD event)
{
    int before = requests.load();
    while (before != kShutOut && before < 2 &&
           !requests.compare_exchange_weak(before, before + 1)) {}
    if (before == kShutOut || before == 2) {
        return;  // the last lines drain to their end, or two came already
    }
    numbers[before].store(number);
    events[before].store(event);
    if (before == 1) {
        wakeMainThread();  // after counting: the wait it ends sees the second
    }
    SetEvent(requestArrived);
}

BOOL WINAPI onConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        countRequest(kInterruptNumber, event);
        return TRUE;  // handled: the system's default would end the process mid-line
    case CTRL_CLOSE_EVENT:
        // The process ends when this returns, so it does not return: the
        // main thread's exit ends this thread with the process.
        countRequest(kHangUpNumber, event);
        Sleep(kCloseGraceMilliseconds);
        countRequest(kHangUpNumber, event);
        Sleep(INFINITE);
        return TRUE;
    default: return FALSE;  // logoff and shutdown reach services only
    }
}

bool isConsole(DWORD standardHandle)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

}  // namespace

bool prepareStandardStreams()
{
    // A closed standard handle takes no later handle's place on Windows;
    // only standard input's absence matters.
    return _fileno(stdin) >= 0 && _get_osfhandle(_fileno(stdin)) >= 0;
}

void watchStopRequests()
{
    requests.store(0);
    numbers[0].store(0);
    numbers[1].store(0);
    if (requestArrived == nullptr) {
        requestArrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ResetEvent(requestArrived);
    if (mainThread == nullptr) {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread,
                        THREAD_SET_CONTEXT, FALSE, 0);
    }
    // A process started with Ctrl-C disabled (a new process group, `start
    // /b`) is sent no Ctrl-C at all, so it stays ignored, as under nohup.
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

int stopRequests()
{
    int count = requests.load();
    return count == kShutOut ? 0 : count;
}

int firstStopSignal()
{
    return numbers[0].load();
}

const char* stopRequestName(int which)
{
    int number = numbers[which - 1].load();
    DWORD event = events[which - 1].load();
    if (number == kHangUpNumber) {
        return "the console's close";
    }
    if (number == kInterruptNumber) {
        return event == CTRL_BREAK_EVENT ? "Ctrl-Break" : "Ctrl-C";
    }
    return "a stop request";
}

bool toldToStopWaiting()
{
    return requests.load() >= 2;
}

bool stopRequestEndedTheLines()
{
    int count = 0;  // the count, where it is not 0
    return !requests.compare_exchange_strong(count, kShutOut) && count > 0;
}

bool inputEnded()
{
    bool console = isConsole(STD_INPUT_HANDLE);
    if (console && requestArrived != nullptr) {
        WaitForSingleObject(requestArrived, kCtrlCSettlesMilliseconds);
    }
    // Ctrl-C ends a console read as if the input had ended; it had not.
    return !stopRequestEndedTheLines() || !console;
}

const char* terminalHint()
{
    // _isatty is true for the NUL device too; only a console asks for this.
    return isConsole(STD_INPUT_HANDLE) && isConsole(STD_ERROR_HANDLE)
               ? "reading lines from the console; end with Ctrl-Z then Enter, or with a line "
                 "holding ESC (Esc, then Enter)"
               : nullptr;
}
