// The Windows stop requests under Wine: console control events, sent with
// GenerateConsoleCtrlEvent to this process's console, against
// stop_requests_windows.cpp and the drivers' waits (stop_waiting). Writes
// each failed check to the file its argument names; exit status 1 when any
// failed. Wine delivers no Ctrl-Break and no console close this way.
#include <windows.h>

#include <stdio.h>

#include <chrono>
#include <functional>

#include "ftd2xx.h"
#include "stop_requests.h"
#include "stop_waiting.h"

namespace {

int failures = 0;
FILE* log = stderr;  // the console is the test's input, so its findings go to a file

void check(bool good, const char* row, const char* what)
{
    if (!good) {
        fprintf(log, "FAILED: %s: %s\n", row, what);
        ++failures;
    }
}

struct Sending {
    DWORD event;
    DWORD afterMilliseconds;
    int count;
};

DWORD WINAPI sendLater(LPVOID parameter)
{
    Sending sending = *static_cast<Sending*>(parameter);
    for (int i = 0; i < sending.count; ++i) {
        Sleep(sending.afterMilliseconds);
        GenerateConsoleCtrlEvent(sending.event, 0);
    }
    return 0;
}

// Sends count events, afterMilliseconds apart, from another thread, while
// the main thread does what the row asks.
void sendWhile(Sending sending, const std::function<void()>& meanwhile)
{
    HANDLE sender = CreateThread(nullptr, 0, sendLater, &sending, 0, nullptr);
    meanwhile();
    WaitForSingleObject(sender, INFINITE);
    CloseHandle(sender);
    Sleep(100);  // the handler's thread has counted by now
}

// Busy, as the sender is while a write that has room goes on: no wait at
// all, alertable or not.
void busyFor(DWORD milliseconds)
{
    ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {}
}

double secondsOf(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Standard input on a console, as at a user's prompt: the test runs on a
// pseudo-terminal, which Wine makes the process's console.
bool onAConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (log = fopen(argv[1], "w")) == nullptr) {
        return 2;
    }
    if (!onAConsole()) {
        fprintf(log, "standard input is not a console\n");
        return 2;
    }

    const char* row = "a Ctrl-C just after a console read ended";
    watchStopRequests();
    bool ended = true;
    sendWhile({CTRL_C_EVENT, 20, 1}, [&] { ended = inputEnded(); });
    check(!ended, row, "the end of input waits for the Ctrl-C that caused it");
    check(stopRequests() == 1, row, "one request counted");
    check(firstStopSignal() == 2, row, "counted as SIGINT");
    check(lstrcmpA(stopRequestName(1), "Ctrl-C") == 0, row, "named Ctrl-C");

    row = "an end of console input with no Ctrl-C";
    watchStopRequests();
    check(inputEnded(), row, "it really ended");

    row = "one Ctrl-C while the program does not wait";
    watchStopRequests();
    sendWhile({CTRL_C_EVENT, 50, 1}, [] { busyFor(300); });
    check(stopRequests() == 1, row, "counted at once");
    check(!toldToStopWaiting(), row, "the driver is not told");

    row = "two Ctrl-C while the program does not wait";
    watchStopRequests();
    sendWhile({CTRL_C_EVENT, 50, 2}, [] { busyFor(400); });
    check(stopRequests() == 2, row, "two counted");
    check(toldToStopWaiting(), row, "the driver is told to stop waiting");
    bool waitedOut = true;
    double seconds = secondsOf([&] { waitedOut = pauseUnlessTold(5000); });
    check(!waitedOut && seconds < 1, row, "no wait of the driver's begins");
    SleepEx(0, TRUE);  // the wake-up it queued, so that the next row starts clean

    row = "one Ctrl-C during a driver's wait";
    watchStopRequests();
    sendWhile({CTRL_C_EVENT, 50, 1}, [&] { waitedOut = pauseUnlessTold(400); });
    check(waitedOut, row, "the wait (a drain) runs to its end");

    row = "a second Ctrl-C during a driver's wait";
    seconds = secondsOf([&] {
        sendWhile({CTRL_C_EVENT, 50, 1}, [&] { waitedOut = pauseUnlessTold(5000); });
    });
    check(!waitedOut && seconds < 2, row, "cuts the wait short");
    check(stopRequests() == 2, row, "two requests counted");
    check(lstrcmpA(stopRequestName(2), "Ctrl-C") == 0, row, "the second named Ctrl-C");
    sendWhile({CTRL_C_EVENT, 10, 1}, [] {});
    check(stopRequests() == 2, row, "counted up to two");
    SleepEx(0, TRUE);

    row = "Ctrl-C during the last drain of a run that nothing stopped";
    watchStopRequests();
    check(!stopRequestEndedTheLines(), row, "no request ended the lines");
    sendWhile({CTRL_C_EVENT, 50, 2}, [&] { waitedOut = pauseUnlessTold(400); });
    check(waitedOut && stopRequests() == 0, row, "changes nothing, two or not");
    check(!toldToStopWaiting(), row, "the driver is not told");

    row = "a request before the lines ended";
    watchStopRequests();
    sendWhile({CTRL_C_EVENT, 10, 1}, [] {});
    check(stopRequestEndedTheLines(), row, "ended the lines");
    sendWhile({CTRL_C_EVENT, 10, 1}, [] {});
    check(stopRequests() == 2 && toldToStopWaiting(), row, "a second still cuts the drain short");

    fprintf(log, "%d checks failed\n", failures);
    fclose(log);
    return failures == 0 ? 0 : 1;
}
