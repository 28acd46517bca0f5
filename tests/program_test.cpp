// The whole program on the simulated converter, run as a process: bytes in,
// bytes on the simulated wire (its standard output), the driver calls it
// made, its messages and its exit status.
//
//   program_tests --program=PATH [--launcher=WORD] [--windows] [--loads-library]
//
// --windows: the program is a Windows build, run under the launcher (Wine).
// --loads-library: the program loads the simulated converter as the vendor's
// library at run time (FTD2XX.dll beside it, or libftd2xx.so on the library
// path), so it can be run without it too.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"
#include "row_name.h"
#include "stop_request_sweep.h"

namespace {

using namespace std::string_literals;

std::vector<std::string> programCommand;  // launcher words, then the program
bool programIsWindows = false;
bool programLoadsLibrary = false;

// A Windows program's messages end in CR LF, as its text mode has it.
ProgramRun withUnixLineEnds(ProgramRun run)
{
    if (programIsWindows) {
        std::string& errors = run.errors;
        for (std::size_t at = errors.find("\r\n"); at != std::string::npos;
             at = errors.find("\r\n", at)) {
            errors.erase(at, 1);
        }
    }
    return run;
}

const char kExample[] = "AB\nQ\x1b\nZZ\n";
const char kExampleWire[] = "AB\nQ\x1b\n";

const std::string kFullTrace = "FT_Open 0\nFT_SetBaudRate 19200\nFT_SetDataCharacteristics 7 0 2\n";

// One run of the program: its input, arguments and fault switch; what the
// wire, the exit status, the message and the driver calls must be.
struct ProgramCase {
    const char* name;
    std::string input;
    std::string fail;  // LINE_TRANSMITTER_SIM_FAIL
    std::vector<std::string> arguments;
    std::string holds;  // LINE_TRANSMITTER_SIM_HOLDS, "" for the default
    std::string wire;
    int exitStatus;
    std::string errors;                // the whole of standard error
    std::optional<std::string> trace;  // the driver calls, where checked
};

std::string longLines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += std::string(999, 'x') + "\n";
    }
    return lines;
}

const std::string kLongLine = [] {
    std::string line;
    for (int i = 0; i < 2500; ++i) {
        line += static_cast<char>('a' + i % 26);
    }
    return line;
}();

const std::string kWriteFailed = "line-transmitter: sending to converter 0 failed (FT_IO_ERROR); ";
const std::string kCheck =
    "; check that the converter is still plugged in and the cable is sound\n";
const std::string kConvert =
    "; convert the text to 7-bit ASCII first, as in iconv -f UTF-8 -t ASCII//TRANSLIT\n";
// The one line said for an argument, shown as it must be.
std::string ignoring(const std::string& shown)
{
    return "line-transmitter: ignoring '" + shown +
           "': lines are read from standard input, as in line-transmitter < commands.txt\n";
}

// The rows as written, a case in a few lines.
// clang-format off
const ProgramCase kRuns[] = {
    {"the example: lines up to the first ESC line, silently", kExample, "", {}, "",
     kExampleWire, 0, "", kFullTrace + "FT_Write 3\nFT_Write 3\nFT_Close\n"},
    {"arguments are ignored, each said once", kExample, "", {"-v", "/dev/ttyUSB1", "commands.txt"},
     "", kExampleWire, 0, ignoring("-v") + ignoring("/dev/ttyUSB1") + ignoring("commands.txt"), {}},
    // Shown escaped: neither a line split in two nor a control sequence
    // for the terminal (a carriage return, a clear-screen, a window title).
    {"an argument's line feed, carriage return and ESC shown escaped", kExample, "",
     {"a\nb", "x\ry", "\x1b[2J", "\x1b]0;title\x07", "tab\there"}, "", kExampleWire, 0,
     ignoring("a\\nb") + ignoring("x\\ry") + ignoring("\\x1b[2J") +
         ignoring("\\x1b]0;title\\x07") + ignoring("tab\\there"), {}},
    {"a byte that 7 bits turn into a line feed: nothing goes out", "A\x8A" "B\n", "", {}, "", "",
     1, "line-transmitter: line 1 holds a byte that 7 data bits cannot carry (column 2: 0x8A would "
     "arrive as a line feed); nothing was sent: the same input can be sent again" + kConvert,
     kFullTrace + "FT_Close\n"},
    {"a byte above 0x7F in line 2: line 1 went out", "OK\nA\xE9\n", "", {}, "", "OK\n", 2,
     "line-transmitter: line 2 holds a byte that 7 data bits cannot carry (column 2: 0xE9 would "
     "arrive as 'i'); 1 line sent: send again from line 2" + kConvert, {}},
    {"empty input: nothing sent, exit 0", "", "", {}, "", "", 0, "", kFullTrace + "FT_Close\n"},
    {"a last line without its line feed", "one\ntwo", "", {}, "", "one\ntwo\n", 0, "", {}},
    {"long lines whole", kLongLine + "\n" + kLongLine + "\x1b\nnever\n", "", {}, "",
     kLongLine + "\n" + kLongLine + "\x1b\n", 0, "", {}},
    {"a short write is continued with the rest", kExample, "FT_Write:1:short", {}, "",
     kExampleWire, 0, "", kFullTrace + "FT_Write 3\nFT_Write 1\nFT_Write 3\nFT_Close\n"},
    {"no converter: reported, input untouched", kExample, "FT_Open", {}, "", "", 1,
     "line-transmitter: cannot open converter 0 (FT_DEVICE_NOT_FOUND); nothing was sent; is the "
     "converter plugged in, and its driver installed?\n", "FT_Open 0\n"},
    {"a failed speed setting closes the converter", kExample, "FT_SetBaudRate", {}, "", "", 1,
     "line-transmitter: cannot set converter 0 to 19200 baud (FT_IO_ERROR); nothing was sent" +
         kCheck, "FT_Open 0\nFT_SetBaudRate 19200\nFT_Close\n"},
    {"a failed framing closes the converter", kExample, "FT_SetDataCharacteristics", {}, "", "",
     1, "line-transmitter: cannot set converter 0 to 7 data bits, even parity, 1 stop bit "
     "(FT_IO_ERROR); nothing was sent" + kCheck, kFullTrace + "FT_Close\n"},
    {"the first write fails: nothing sent", "one\ntwo\n", "FT_Write:1", {}, "", "", 1,
     kWriteFailed + "nothing was sent: the same input can be sent again" + kCheck,
     kFullTrace + "FT_Write 4\nFT_Close\n"},
    {"the second write fails", "one\ntwo\n", "FT_Write:2", {}, "", "one\n", 2,
     kWriteFailed + "1 line handed over, 0 surely sent: send again from line 1 (line 1 may "
     "arrive twice)" + kCheck, {}},
    {"the third write fails", "one\ntwo\nthree\n", "FT_Write:3", {}, "", "one\ntwo\n", 2,
     kWriteFailed + "2 lines handed over, 0 surely sent: send again from line 1 (lines 1 to 2 "
     "may arrive twice)" + kCheck, {}},
    // Lines whose line feed went the converter's bound or more before the
    // failure surely left it: 10 KiB, and 20992 bytes as on 16 KiB pages.
    {"a failure inside the first line", kLongLine + "\n", "FT_Write:2", {}, "",
     kLongLine.substr(0, 999), 2, kWriteFailed + "0 lines handed over, 0 surely sent, part of "
     "line 1 went out: send again from line 1" + kCheck, {}},
    {"a failed close", kExample, "FT_Close", {}, "", kExampleWire, 2,
     "line-transmitter: closing converter 0 failed (FT_IO_ERROR); 2 lines handed over, 0 surely "
     "sent: send again from line 1 (lines 1 to 2 may arrive twice)" + kCheck, {}},
    {"a failed close with nothing handed over", "", "FT_Close", {}, "", "", 1,
     "line-transmitter: closing converter 0 failed (FT_IO_ERROR); nothing was sent: the same "
     "input can be sent again" + kCheck, {}},
};

// Rows for the simulated converter only: the bound it holds is 10 KiB or
// as its switch says; the vendor library's driver has its own, 8 KiB.
const ProgramCase kSimulatedConverterRuns[] = {
    {"a failure after 30 KB, 10 KiB held", longLines(31), "FT_Write:31", {}, "",
     longLines(30), 2, kWriteFailed + "30 lines handed over, 19 surely sent: send again from "
     "line 20 (lines 20 to 30 may arrive twice)" + kCheck, {}},
    {"a failure after 30 KB, as much held as on 16 KiB pages", longLines(31), "FT_Write:31", {},
     "20992", longLines(30), 2, kWriteFailed + "30 lines handed over, 9 surely sent: send again "
     "from line 10 (lines 10 to 30 may arrive twice)" + kCheck, {}},
};

// Rows for POSIX only: a Windows program gets its arguments in the ANSI
// code page, whatever bytes were given, and reads its input in text mode.
const ProgramCase kPosixRuns[] = {
    {"bytes above 0x7E in an argument shown escaped", kExample, "", {"caf\xc3\xa9\x9b\x7f"}, "",
     kExampleWire, 0, ignoring("caf\\xc3\\xa9\\x9b\\x7f"), {}},
    {"a carriage return is a byte like any other", "AB\r\nQ\x1b\r\n", "", {}, "",
     "AB\r\nQ\x1b\r\n", 0, "", {}},
};

// Text mode: CR LF is read as a line feed, and Ctrl-Z ends the input.
const ProgramCase kWindowsRuns[] = {
    {"CR LF read as a line feed", "AB\r\nQ\x1b\r\n", "", {}, "", "AB\nQ\x1b\n", 0, "", {}},
    {"Ctrl-Z ends the input", "AB\r\nCD\x1a" "EF\r\nGH\r\n", "", {}, "", "AB\nCD\n", 0, "", {}},
};

const ProgramCase kVendorLibraryRuns[] = {
    {"a failure after 30 KB, 8 KiB held", longLines(31), "FT_Write:31", {}, "", longLines(30), 2,
     kWriteFailed + "30 lines handed over, 21 surely sent: send again from line 22 (lines 22 to "
     "30 may arrive twice)" + kCheck, {}},
};
// clang-format on

class Program : public ::testing::TestWithParam<ProgramCase> {
protected:
    void SetUp() override
    {
        folder_ = makeScratchFolder();
    }
    void TearDown() override
    {
        std::filesystem::remove_all(folder_);
    }

    ProgramRun run(const ProgramCase& r)
    {
        ProgramInput input;
        input.bytes = r.input;
        input.arguments = r.arguments;
        input.environment.push_back("LINE_TRANSMITTER_SIM_TRACE=" + tracePathForProgram());
        input.environment.push_back("LINE_TRANSMITTER_SIM_FAIL=" + r.fail);
        input.environment.push_back("LINE_TRANSMITTER_SIM_HOLDS=" + r.holds);
        return withUnixLineEnds(runProgram(programCommand, input));
    }

    // The program's five driver calls, one per line, as the simulated
    // converter traced them; the vendor-library driver's further calls are
    // its own business, and fullTrace's.
    std::string trace() const
    {
        std::string fiveCalls;
        std::istringstream lines(fullTrace());
        for (std::string line; std::getline(lines, line);) {
            std::string name = line.substr(0, line.find(' '));
            if (name == "FT_Open" || name == "FT_SetBaudRate" ||
                name == "FT_SetDataCharacteristics" || name == "FT_Write" || name == "FT_Close") {
                fiveCalls += line + "\n";
            }
        }
        return fiveCalls;
    }
    std::string fullTrace() const
    {
        return readFile(tracePath());
    }

    std::string tracePath() const
    {
        return folder_ + "/trace";
    }
    std::string tracePathForProgram() const
    {
        return programIsWindows ? "Z:" + tracePath() : tracePath();
    }
    std::string folder_;
};

TEST_P(Program, RunsAsTheRowSays)
{
    const ProgramCase& r = GetParam();
    ProgramRun result = run(r);
    EXPECT_EQ(result.output, r.wire);
    EXPECT_EQ(result.exitStatus, r.exitStatus);
    EXPECT_EQ(result.errors, r.errors);
    if (r.trace) {
        EXPECT_EQ(trace(), *r.trace);
    } else {
        EXPECT_EQ(trace().substr(trace().size() - 9), "FT_Close\n") << "closed all the same";
    }
    if (r.fail == "FT_Open" || r.fail.rfind("FT_Set", 0) == 0) {
        EXPECT_EQ(result.inputLeftAt, 0) << "input is read only once the converter is set up";
    }
}

void PrintTo(const ProgramCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string nameOfRow(const ::testing::TestParamInfo<ProgramCase>& info)
{
    return rowName(info.index, info.param.name);
}

INSTANTIATE_TEST_SUITE_P(Rows, Program, ::testing::ValuesIn(kRuns), nameOfRow);
INSTANTIATE_TEST_SUITE_P(SimulatedConverterOnly, Program,
                         ::testing::ValuesIn(kSimulatedConverterRuns), nameOfRow);
INSTANTIATE_TEST_SUITE_P(VendorLibraryOnly, Program, ::testing::ValuesIn(kVendorLibraryRuns),
                         nameOfRow);
INSTANTIATE_TEST_SUITE_P(PosixOnlyRows, Program, ::testing::ValuesIn(kPosixRuns), nameOfRow);
INSTANTIATE_TEST_SUITE_P(WindowsOnlyRows, Program, ::testing::ValuesIn(kWindowsRuns), nameOfRow);

// Cases of one kind of build each; main leaves out those that do not apply.
using ProgramAlone = Program;
using PosixOnly = Program;
using SimulatedConverterOnPosix = Program;
using VendorLibraryOnly = Program;

TEST_F(ProgramAlone, AnswersHelpAndVersionWithoutAConverter)
{
    for (const char* option : {"-h", "--help", "-V", "--version"}) {
        std::filesystem::remove(tracePath());
        ProgramRun asked = run(ProgramCase{"", kExample, "FT_Open", {option}, "", "", 0, "", {}});
        EXPECT_EQ(asked.exitStatus, 0) << option;
        EXPECT_EQ(asked.errors, "") << option;
        std::string first = option[1] == 'h' || option[2] == 'h' ? "Usage: line-transmitter"
                                                                 : "line-transmitter 1.";
        EXPECT_EQ(asked.output.rfind(first, 0), 0u) << option << ": " << asked.output;
        EXPECT_EQ(trace(), "") << option << ": no converter is touched";
        EXPECT_EQ(asked.inputLeftAt, 0) << option;
    }
    if (!programIsWindows) {
        ProgramInput input;
        input.arguments = {"--help"};
        input.outputPath = "/dev/full";
        ProgramRun full = runProgram(programCommand, input);
        EXPECT_EQ(full.exitStatus, 1);
        EXPECT_EQ(full.errors,
                  "line-transmitter: cannot write the help to standard output (No "
                  "space left on device)\n");
    }
}

TEST_F(ProgramAlone, AReadErrorIsReported)
{
    ProgramInput input;
    input.inputPath = "/";  // reading a folder fails
    ProgramRun result = withUnixLineEnds(runProgram(programCommand, input));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "");
    // The system's reason: "Is a directory" on Linux, "Invalid argument" on Windows.
    EXPECT_EQ(result.errors.rfind("line-transmitter: reading standard input failed (", 0), 0u)
        << result.errors;
    EXPECT_NE(result.errors.find("); nothing was sent: the same input can be sent again; check "
                                 "what feeds the program\n"),
              std::string::npos)
        << result.errors;
    if (!programIsWindows) {
        input.inputFailsAfterBytes = true;
        input.bytes = "AB\n";
        ProgramRun late = runProgram(programCommand, input);
        EXPECT_EQ(late.exitStatus, 2) << "a line went out before";
        EXPECT_EQ(late.errors,
                  "line-transmitter: reading standard input failed (Connection reset by "
                  "peer); 1 line sent: send again from line 2; check what feeds the "
                  "program\n");
    }
}

TEST_F(PosixOnly, NoDescriptorOfItsOwnTakesAClosedStandardOnesPlace)
{
    // The simulated converter's trace file is what would take the place.
    ProgramInput input;
    input.bytes = kExample;
    input.environment = {"LINE_TRANSMITTER_SIM_TRACE=" + tracePath(), "LINE_TRANSMITTER_SIM_FAIL="};
    input.closedDescriptors = {0};
    ProgramRun closedInput = runProgram(programCommand, input);
    EXPECT_EQ(closedInput.exitStatus, 1);
    EXPECT_NE(closedInput.errors.find("standard input is closed"), std::string::npos);
    EXPECT_EQ(trace(), "") << "the converter is not touched";

    // The simulated converter's wire is standard output: the null device in
    // its place would swallow every line. The stand-in library, loaded
    // later, writes to that null device.
    input.closedDescriptors = {1};
    ProgramRun closedOutput = runProgram(programCommand, input);
    if (programLoadsLibrary) {
        EXPECT_EQ(closedOutput.exitStatus, 0);
        EXPECT_EQ(trace(), kFullTrace + "FT_Write 3\nFT_Write 3\nFT_Close\n");
    } else {
        EXPECT_EQ(closedOutput.exitStatus, 1);
        EXPECT_EQ(closedOutput.errors,
                  "line-transmitter: cannot open converter 0 (the simulated "
                  "converter's wire, standard output, is closed); nothing "
                  "was sent; give it a standard output, as in "
                  "line-transmitter-sim < lines.txt > wire.bin\n");
        EXPECT_EQ(closedOutput.inputLeftAt, 0);
        EXPECT_EQ(trace(), "");
    }
    std::filesystem::remove(tracePath());
    input.closedDescriptors = {2};
    input.environment.back() = "LINE_TRANSMITTER_SIM_FAIL=FT_Write:1";
    ProgramRun closedErrors = runProgram(programCommand, input);
    EXPECT_EQ(closedErrors.exitStatus, 1);
    EXPECT_EQ(trace(), kFullTrace + "FT_Write 3\nFT_Close\n")
        << "the message must not land in the converter's file";

    // A standard error that nobody reads must not kill the program.
    input.closedDescriptors = {};
    input.errorsToBrokenPipe = true;
    ProgramRun brokenErrors = runProgram(programCommand, input);
    EXPECT_EQ(brokenErrors.killedBy, 0);
    EXPECT_EQ(brokenErrors.exitStatus, 1);
}

TEST_F(PosixOnly, ASignalEndsTheRunInOrderWithTheCount)
{
    const std::string drainedOneSent =
        " (the converter was drained and closed); 1 line sent: send again from line 2";
    struct Case {
        std::vector<int> signals;  // sent 300 ms apart
        std::vector<int> ignored;  // ignored when the program starts, as nohup leaves SIGHUP
        bool inputIsTerminal;      // standard input a terminal, standard error not
        std::string input, message;
        std::string wire = "AB\n";
        std::string fail = "";          // the fault switch
        std::vector<int> blocked = {};  // blocked when the program starts
        std::string trace = kFullTrace + "FT_Write 3\nFT_Close\n";
        // clang-format off
    } cases[] = {
        {{SIGINT}, {}, false, "AB\n", "interrupted by SIGINT" + drainedOneSent},
        {{SIGTERM}, {}, false, "AB\n", "interrupted by SIGTERM" + drainedOneSent},
        {{SIGHUP}, {}, false, "AB\n", "interrupted by SIGHUP" + drainedOneSent},
        {{SIGINT}, {}, false, "", "interrupted by SIGINT (the converter was drained and closed); "
         "nothing was sent: the same input can be sent again", "", "", {}, kFullTrace + "FT_Close\n"},
        {{SIGHUP, SIGTERM}, {SIGHUP}, false, "AB\n", "interrupted by SIGTERM" + drainedOneSent},
        // The part of a line read so far is no line: it does not go out.
        {{SIGINT}, {}, false, "AB\nCD", "interrupted by SIGINT" + drainedOneSent},
        // The hint on how to end typed input goes only to a terminal.
        {{SIGTERM}, {}, true, "AB\n", "interrupted by SIGTERM" + drainedOneSent},
        {{SIGHUP}, {}, false, "AB\n", "interrupted by SIGHUP" + drainedOneSent, "AB\n", "",
         {SIGINT, SIGTERM, SIGHUP}},
        // A second request ends a write's wait at once, not at its deadline.
        {{SIGINT, SIGINT}, {}, false, "AB\n", "interrupted by SIGINT, then SIGINT (stopped at once; "
         "the converter was closed); nothing was sent: the same input can be sent again", "",
         "FT_Write:1:stall"},
    };
    // clang-format on
    for (const Case& c : cases) {
        if (programLoadsLibrary && !c.fail.empty()) {
            continue;  // the vendor's library waits out a stalled write: nothing ends it
        }
        std::filesystem::remove(tracePath());
        ProgramInput input;
        input.environment = {"LINE_TRANSMITTER_SIM_TRACE=" + tracePath(),
                             "LINE_TRANSMITTER_SIM_FAIL=" + c.fail};
        input.blockedSignals = c.blocked;
        input.killAfterSeconds = 5;  // well within the deadline of a stalled write
        int keyboard = -1;
        if (c.inputIsTerminal) {
            keyboard = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(keyboard, 0);
            ASSERT_EQ(grantpt(keyboard), 0);
            ASSERT_EQ(unlockpt(keyboard), 0);
            input.inputPath = ptsname(keyboard);
            ASSERT_EQ(::write(keyboard, c.input.data(), c.input.size()),
                      static_cast<ssize_t>(c.input.size()));
        } else {
            input.inputThroughPipe = true;
            input.pipeHeldOpen = true;  // it waits for input when the signal comes
            input.bytes = c.input;
        }
        input.signals = c.signals;
        input.signalWhen = [&c](const std::string& wire) { return wire == c.wire; };
        input.ignoredSignals = c.ignored;
        ProgramRun result = runProgram(programCommand, input);
        if (keyboard >= 0) {
            close(keyboard);
        }
        EXPECT_EQ(result.exitStatus, 128 + c.signals.back()) << c.message;
        EXPECT_EQ(result.output, c.wire) << c.message;
        EXPECT_EQ(result.errors, "line-transmitter: " + c.message + "\n");
        EXPECT_EQ(trace(), c.trace) << c.message << ": the converter is closed";
    }
}

TEST_F(SimulatedConverterOnPosix, AStopRequestAtAnyCallEndsTheRunThere)
{
    if (!straceIsInstalled()) {
        SKIP_WHERE_IT_CANNOT_RUN("strace is not installed (Debian: strace)");
    }
    for (bool throughPipe : {false, true}) {
        sweepStopRequests(
            throughPipe ? "from a pipe" : "from a file", folder_ + "/calls", false,
            [&](std::vector<std::string> words, const std::string& bytes) {
                ProgramInput input;
                input.bytes = bytes;
                input.inputThroughPipe = throughPipe;  // closed once it holds them
                input.killAfterSeconds = 10;
                // A sanitizer build's leak check cannot work under strace.
                input.environment = {"LINE_TRANSMITTER_SIM_FAIL=", "ASAN_OPTIONS=detect_leaks=0"};
                words.insert(words.end(), programCommand.begin(), programCommand.end());
                return runProgram(words, input);
            });
    }
}

// The one message comes after the close, so that it can say whether the
// last lines left: the driver calls and the message share standard error.
TEST_F(PosixOnly, TheMessageComesOnlyAfterTheConverterIsClosed)
{
    for (const char* fail : {"FT_SetBaudRate", "FT_SetDataCharacteristics", "FT_Write:2"}) {
        ProgramInput input;
        input.bytes = "one\ntwo\n";
        input.environment = {"LINE_TRANSMITTER_SIM_TRACE=/dev/stderr",
                             std::string("LINE_TRANSMITTER_SIM_FAIL=") + fail};
        ProgramRun result = runProgram(programCommand, input);
        EXPECT_NE(result.errors.find("FT_Close\nline-transmitter: "), std::string::npos)
            << fail << ":\n"
            << result.errors;
        EXPECT_EQ(result.errors.find("line-transmitter: "),
                  result.errors.find("FT_Close\nline-transmitter: ") + 9)
            << fail << ": nothing of the message before the close";
    }
}

TEST_F(PosixOnly, WaitsOnANonBlockingStandardInput)
{
    ProgramInput input;
    input.inputThroughPipe = true;
    input.pipeNonBlocking = true;
    input.bytes = "AB\n";
    input.laterBytes = "CD\n";  // comes when a read would have failed with EAGAIN
    ProgramRun result = runProgram(programCommand, input);
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.output, "AB\nCD\n");
    // A spin through the 300 ms before the later bytes costs about 0.3 s;
    // under qemu-user (a launcher on POSIX), translating the program costs
    // about 0.1 s of its own.
    EXPECT_LT(result.cpuSeconds, programCommand.size() > 1 ? 0.2 : 0.1) << "the wait must not spin";
}

// The vendor's library does less than our header promises; its driver adds
// the rest through the library's further calls, which the stand-in library
// traces, and whose queue drains at the line's rate (1920 bytes a second).
TEST_F(VendorLibraryOnly, TheVendorLibraryDriverKeepsTheHeadersPromises)
{
    struct Case {
        const char* what;
        std::string input, fail;
        std::vector<int> signals;  // POSIX only: skipped under Windows
        bool inputEndsFirst;       // the signals come once the input has ended
        int exitStatus;
        double atLeastSeconds, atMostSeconds;
        std::string errorsStart;  // of its one message; "" for none
        bool purged;              // what the converter held was discarded
        // clang-format off
    } cases[] = {
        {"the close waits for the queue", std::string(1999, 'd') + "\n", "", {}, false, 0, 0.9, 6,
         "", false},
        // Not only SIGINT: no request is heeded once the lines have ended.
        {"two requests while the last lines drain change nothing", std::string(3999, 'd') + "\n",
         "", {SIGTERM, SIGHUP}, true, 0, 1.9, 8, "", false},
        {"a stalled converter", "one\ntwo\n", "FT_Write:2:stall", {}, false, 2, 9, 15,
         "line-transmitter: sending to converter 0 failed (the converter stopped taking bytes); "
         "1 line handed over, 0 surely sent: send again from line 1 (line 1 may arrive twice); ",
         true},
        {"a second signal cuts the drain short", std::string(19999, 's') + "\n", "",
         {SIGINT, SIGINT}, false, 128 + SIGINT, 0, 6,
         "line-transmitter: interrupted by SIGINT, then SIGINT (stopped at once: the drain was "
         "cut short and the rest discarded: the last line may be cut); 1 line handed over, 0 "
         "surely sent",
         true},
    };
    // clang-format on
    for (const Case& c : cases) {
        if (programIsWindows && !c.signals.empty()) {
            continue;
        }
        std::filesystem::remove(tracePath());
        ProgramInput input;
        input.bytes = c.input;
        input.environment = {"LINE_TRANSMITTER_SIM_TRACE=" + tracePathForProgram(),
                             "LINE_TRANSMITTER_SIM_FAIL=" + c.fail};
        input.inputThroughPipe = !c.signals.empty();
        input.pipeHeldOpen = !c.signals.empty() && !c.inputEndsFirst;
        input.signals = c.signals;
        input.killAfterSeconds = 20;  // a write without a deadline never returns
        ProgramRun result = withUnixLineEnds(runProgram(programCommand, input));
        std::string calls = fullTrace();
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.what << ": " << result.errors;
        EXPECT_GE(result.seconds, c.atLeastSeconds) << c.what;
        EXPECT_LE(result.seconds, c.atMostSeconds) << c.what;
        if (c.errorsStart.empty()) {
            EXPECT_EQ(result.errors, "") << c.what;
        } else {
            EXPECT_EQ(result.errors.rfind(c.errorsStart, 0), 0u) << c.what << ": " << result.errors;
            EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1)
                << c.what << ": one message";
        }

        // Before the first write: no flow control, and a write deadline of
        // at most 10 s (0 would mean none).
        std::size_t firstWrite = calls.find("FT_Write ");
        std::smatch deadline;
        EXPECT_LT(calls.find("FT_SetFlowControl 0 0 0\n"), firstWrite) << c.what << ":\n" << calls;
        bool deadlineSet =
            std::regex_search(calls, deadline, std::regex("FT_SetTimeouts [0-9]+ ([0-9]+)\n"));
        EXPECT_TRUE(deadlineSet) << c.what << ":\n" << calls;
        if (deadlineSet) {
            EXPECT_LT(static_cast<std::size_t>(deadline.position(0)), firstWrite) << c.what;
            long writeTimeout = std::stol(deadline[1]);
            EXPECT_GT(writeTimeout, 0) << c.what;
            EXPECT_LE(writeTimeout, 10000) << c.what;
        }

        // At the close: the queue and the transmitter looked at after the
        // last write, or, cut short, what was left discarded.
        std::size_t lastWrite = calls.rfind("FT_Write ");
        std::size_t close = calls.rfind("FT_Close\n");
        EXPECT_EQ(close + 9, calls.size()) << c.what << ": the close is the last call";
        if (c.purged) {
            EXPECT_NE(calls.find("FT_Purge 3\nFT_Close\n"), std::string::npos) << c.what << ":\n"
                                                                               << calls;
        } else {
            EXPECT_EQ(calls.find("FT_Purge"), std::string::npos) << c.what;
            std::size_t query = calls.rfind("FT_GetModemStatus ");
            EXPECT_TRUE(query != std::string::npos && query > lastWrite && query < close)
                << c.what << ":\n"
                << calls;
            EXPECT_EQ(calls.substr(query, close - query), "FT_GetModemStatus transmitter empty\n")
                << c.what << ": the queue is not all: the chip's own buffer must have emptied";
        }
    }
}

TEST_F(VendorLibraryOnly, AMissingVendorLibraryIsReported)
{
    // A copy of the program alone in a folder, with no library path, run
    // from the folder that holds the library: that must not be searched.
    std::filesystem::path alone =
        std::filesystem::path(folder_) / std::filesystem::path(programCommand.back()).filename();
    std::filesystem::copy_file(programCommand.back(), alone);
    std::vector<std::string> command = programCommand;
    command.back() = alone.string();
    ProgramInput input;
    input.bytes = kExample;
    input.environment.push_back("LD_LIBRARY_PATH=");
    // The library: beside the Windows program, in the folder the library
    // path names for the POSIX one.
    const char* libraryPath = getenv("LD_LIBRARY_PATH");
    input.workingFolder =
        programIsWindows || libraryPath == nullptr
            ? std::filesystem::path(programCommand.back()).parent_path().string()
            : std::string(libraryPath).substr(0, std::string(libraryPath).find(':'));
    ASSERT_TRUE(std::filesystem::exists(std::filesystem::path(input.workingFolder) /
                                        (programIsWindows ? "FTD2XX.dll" : "libftd2xx.so")))
        << input.workingFolder << " must hold the library for this case to mean anything";
    ProgramRun result = withUnixLineEnds(runProgram(command, input));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors,
              "line-transmitter: cannot open converter 0 (" +
                  std::string(programIsWindows ? "FTD2XX.dll" : "libftd2xx.so") +
                  " cannot be loaded); nothing was sent; install the converter's driver from "
                  "its vendor, which brings the library\n");
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::string program;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--launcher=", 0) == 0) {
            programCommand.push_back(argument.substr(std::strlen("--launcher=")));
        } else if (argument.rfind("--program=", 0) == 0) {
            program = argument.substr(std::strlen("--program="));
        } else if (argument == "--windows") {
            programIsWindows = true;
        } else if (argument == "--loads-library") {
            programLoadsLibrary = true;
        }
    }
    if (program.empty()) {
        std::fprintf(stderr, "usage: %s --program=PATH [--launcher=WORD] [--windows]\n", argv[0]);
        return 2;
    }
    programCommand.push_back(program);
    // The cases that do not apply to this build are left out, not skipped.
    std::string notHere =
        programIsWindows ? "PosixOnly*:SimulatedConverterOnPosix.*" : "WindowsOnly*";
    notHere += programLoadsLibrary ? ":SimulatedConverter*" : ":VendorLibraryOnly*";
    std::string filter = ::testing::GTEST_FLAG(filter);
    ::testing::GTEST_FLAG(filter) =
        filter + (filter.find('-') == std::string::npos ? "-" : ":") + notHere;
    return statusForCTest(RUN_ALL_TESTS());
}
