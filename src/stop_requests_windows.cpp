// Stop requests on Windows: the console's control events, which the system
// delivers on a thread of its own. Ctrl-C and Ctrl-Break count as SIGINT
// does on Linux (exit 130); the console's close counts as SIGHUP, the
// hang-up of a terminal (exit 129). The count is atomic: the handler's
// thread writes it, the sender's reads it.
#include "stop_requests.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>

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

std::atomic<int> requests{0};
std::atomic<int> firstNumber{0};
std::atomic<int> lastNumber{0};
std::atomic<DWORD> firstEvent{0};
std::atomic<DWORD> lastEvent{0};
std::atomic<bool> ignoring{false};

HANDLE mainThread = nullptr;       // the sender's, whose driver waits are alertable
HANDLE requestArrived = nullptr;   // set at every counted request

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
    while (before < 2 && !requests.compare_exchange_weak(before, before + 1)) {
    }
    if (before == 0) {
        firstNumber.store(number);
        firstEvent.store(event);
    }
    lastNumber.store(number);
    lastEvent.store(event);
    if (before >= 1) {
        wakeMainThread();  // a second request cuts the driver's wait short
    }
    SetEvent(requestArrived);
}

BOOL WINAPI onConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (!ignoring.load()) {
            countRequest(kInterruptNumber, event);
        }
        return TRUE;  // handled: the system's default would end the process mid-line
    case CTRL_CLOSE_EVENT:
        // The process ends when this returns, so it does not return: the
        // main thread's exit ends this thread with the process.
        if (!ignoring.load()) {
            countRequest(kHangUpNumber, event);
        }
        Sleep(kCloseGraceMilliseconds);
        if (!ignoring.load()) {
            countRequest(kHangUpNumber, event);
        }
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;  // logoff and shutdown reach services only
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
    firstNumber.store(0);
    lastNumber.store(0);
    ignoring.store(false);
    if (requestArrived == nullptr) {
        requestArrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ResetEvent(requestArrived);
    if (mainThread == nullptr) {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                        &mainThread, THREAD_SET_CONTEXT, FALSE, 0);
    }
    // A process started with Ctrl-C disabled (a new process group, `start
    // /b`) is sent no Ctrl-C at all, so it stays ignored, as under nohup.
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

int stopRequests()
{
    return requests.load();
}

int firstStopSignal()
{
    return firstNumber.load();
}

int lastStopSignal()
{
    return lastNumber.load();
}

const char* stopSignalName(int signalNumber)
{
    if (signalNumber == kHangUpNumber) {
        return "the console's close";
    }
    if (signalNumber == kInterruptNumber) {
        DWORD event = signalNumber == firstNumber.load() ? firstEvent.load() : lastEvent.load();
        return event == CTRL_BREAK_EVENT ? "Ctrl-Break" : "Ctrl-C";
    }
    return "a stop request";
}

void waitForInput()
{
    // Windows has no non-blocking standard input to wait on; a short
    // alertable pause keeps a caller's retry from spinning.
    SleepEx(10, TRUE);
}

bool inputReallyEnded()
{
    if (requests.load() > 0) {
        return false;
    }
    if (isConsole(STD_INPUT_HANDLE) && requestArrived != nullptr) {
        WaitForSingleObject(requestArrived, kCtrlCSettlesMilliseconds);
    }
    return requests.load() == 0;
}

void printTerminalHint()
{
    // _isatty is true for the NUL device too; only a console asks for this.
    if (isConsole(STD_INPUT_HANDLE) && isConsole(STD_ERROR_HANDLE)) {
        fprintf(stderr, "line-transmitter: reading lines from the console; end with Ctrl-Z then "
                        "Enter, or with a line holding ESC (Esc, then Enter)\n");
    }
}

void ignoreStopRequests()
{
    ignoring.store(true);
}

void heedStopRequests()
{
    ignoring.store(false);
}

void keepStopRequestPendingForClose()
{
    // Delivered at the close's first alertable wait, which then ends at once.
    wakeMainThread();
}
