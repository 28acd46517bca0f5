// Runs a build of the program as a process: input on standard input,
// standard output and standard error captured, exit status reported. The
// child gets descriptors 0 to 2 only, as a shell would give it.
#ifndef LINE_TRANSMITTER_TESTS_PROGRAM_RUNNER_H
#define LINE_TRANSMITTER_TESTS_PROGRAM_RUNNER_H

#include <functional>
#include <string>
#include <vector>

struct ProgramRun {
    int exitStatus = -1;    // -1 when the process did not exit normally
    int killedBy = 0;       // the signal that ended it, if one did
    std::string output;     // standard output
    std::string errors;     // standard error
    long inputLeftAt = -1;  // standard input's file offset after the run (a file only)
    double seconds = 0;     // how long it ran
    double cpuSeconds = 0;  // the processor time it took, user and system
};

struct ProgramInput {
    std::string bytes;       // standard input's content
    std::string inputPath;   // or a path to open as standard input
    std::string outputPath;  // standard output there, not captured
    std::vector<std::string> arguments;
    std::vector<std::string> environment;  // NAME=VALUE, added to ours
    std::string workingFolder;             // "" for ours
    std::vector<int> closedDescriptors;    // of 0, 1, 2: left closed in the child
    bool errorsToBrokenPipe = false;       // standard error a pipe that nobody reads

    // Standard input as a pipe instead: `bytes` at once, `laterBytes` (if
    // any) after 300 ms, then the pipe is closed, unless it is held open.
    bool inputThroughPipe = false;
    // Or a socket whose other end goes with a byte unread: the program's read
    // after `bytes` fails (ECONNRESET).
    bool inputFailsAfterBytes = false;
    bool pipeNonBlocking = false;  // O_NONBLOCK on the pipe, as another program may leave it
    bool pipeHeldOpen = false;     // the program then waits for more input
    std::string laterBytes;
    std::vector<int> signals;  // sent 300 ms apart, after the input
    // The signals wait until the child runs the program's file (a launcher
    // before it would take a signal for itself), and, where this is set,
    // until it answers true for what standard output holds so far (the
    // simulated converter's wire), at most 10 s each: a signal meant for a
    // moment of the run must not come before it on a loaded machine.
    std::function<bool(const std::string&)> signalWhen;
    std::vector<int> ignoredSignals;  // ignored in the child, as nohup leaves SIGHUP
    std::vector<int> blockedSignals;  // blocked in the child, as a parent may leave them
    double killAfterSeconds = 30;     // a run still going then is killed
};

// command: the launcher words (if any) and the program's path.
ProgramRun runProgram(const std::vector<std::string>& command, const ProgramInput& input);

// A fresh folder for one test's files.
std::string makeScratchFolder();

std::string readFile(const std::string& path);

// A case that cannot run on this machine (it needs root, or a tool that is
// not installed) is skipped and counted, and the test program then exits
// with kCasesSkippedStatus, which CTest reports as skipped (its
// SKIP_RETURN_CODE) rather than passed. With CI set in the environment,
// where every case must run, such a case fails instead.
constexpr int kCasesSkippedStatus = 77;
bool everyCaseMustRun();
void countCaseThatCannotRun(const std::string& why);
// main's status from RUN_ALL_TESTS()'s. When cases were skipped, it first
// prints each reason as a CTest label, "skipped: WHY (N cases)": CTest
// shows no output of a skipped test without -V, but lists its labels in
// its closing summary; and as a line "SKIPPED: WHY (N cases)" for its log.
int statusForCTest(int testsStatus);

#define SKIP_WHERE_IT_CANNOT_RUN(why)                                         \
    do {                                                                      \
        std::string cannotRunBecause = (why);                                 \
        if (everyCaseMustRun()) {                                             \
            FAIL() << "cannot run here, and CI is set: " << cannotRunBecause; \
        }                                                                     \
        countCaseThatCannotRun(cannotRunBecause);                             \
        GTEST_SKIP() << cannotRunBecause;                                     \
    } while (false)

#endif
