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

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"

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

class Program : public ::testing::Test {
protected:
    void SetUp() override { folder_ = makeScratchFolder(); }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    ProgramRun run(const std::string& bytes, const std::string& fail = "",
                   std::vector<std::string> arguments = {})
    {
        ProgramInput input;
        input.bytes = bytes;
        input.arguments = std::move(arguments);
        input.environment.push_back("LINE_TRANSMITTER_SIM_TRACE=" + tracePathForProgram());
        input.environment.push_back("LINE_TRANSMITTER_SIM_FAIL=" + fail);
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
                name == "FT_SetDataCharacteristics" || name == "FT_Write" ||
                name == "FT_Close") {
                fiveCalls += line + "\n";
            }
        }
        return fiveCalls;
    }
    std::string fullTrace() const { return readFile(tracePath()); }

    std::string tracePath() const { return folder_ + "/trace"; }
    std::string tracePathForProgram() const
    {
        return programIsWindows ? "Z:" + tracePath() : tracePath();
    }
    std::string folder_;
};

const char kFullTrace[] =
    "FT_Open 0\nFT_SetBaudRate 19200\nFT_SetDataCharacteristics 7 0 2\n";

TEST_F(Program, SendsLinesUpToTheFirstEscapeLineAndStaysSilent)
{
    ProgramRun result = run(kExample);
    EXPECT_EQ(result.output, kExampleWire);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(trace(), std::string(kFullTrace) + "FT_Write 3\nFT_Write 3\nFT_Close\n");
}

TEST_F(Program, IgnoresItsArgumentsButHelpAndVersion)
{
    ProgramRun result = run(kExample, "", {"-v", "/dev/ttyUSB1", "commands.txt"});
    EXPECT_EQ(result.output, kExampleWire);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.exitStatus, 0);

    for (const char* option : {"-h", "--help", "-V", "--version"}) {
        std::filesystem::remove(tracePath());
        ProgramRun asked = run(kExample, "FT_Open", {option});
        EXPECT_EQ(asked.exitStatus, 0) << option;
        EXPECT_EQ(asked.errors, "") << option;
        std::string first = option[1] == 'h' || option[2] == 'h' ? "Usage: line-transmitter"
                                                                   : "line-transmitter 1.";
        EXPECT_EQ(asked.output.rfind(first, 0), 0u) << option << ": " << asked.output;
        EXPECT_EQ(trace(), "") << option << ": no converter is touched";
        EXPECT_EQ(asked.inputLeftAt, 0) << option;
    }
}

TEST_F(Program, TheWireCarriesSevenDataBits)
{
    ProgramRun result = run("\xC1\xFF\x80z\n");
    EXPECT_EQ(result.output, "A\x7F\0z\n"s);
    EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Program, EndOfInputEndsTheRunCleanly)
{
    ProgramRun empty = run("");
    EXPECT_EQ(empty.output, "");
    EXPECT_EQ(empty.errors, "");
    EXPECT_EQ(empty.exitStatus, 0);
    EXPECT_EQ(trace(), std::string(kFullTrace) + "FT_Close\n");

    ProgramRun unterminated = run("one\ntwo");
    EXPECT_EQ(unterminated.output, "one\ntwo\n");
    EXPECT_EQ(unterminated.errors, "");
    EXPECT_EQ(unterminated.exitStatus, 0);
}

TEST_F(Program, SendsLongLinesWhole)
{
    std::string line;
    for (int i = 0; i < 2500; ++i) {
        line += static_cast<char>('a' + i % 26);
    }
    ProgramRun result = run(line + "\n" + line + "\x1b\nnever\n");
    EXPECT_EQ(result.output, line + "\n" + line + "\x1b\n");
    EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Program, ContinuesShortWritesWithTheRest)
{
    ProgramRun result = run(kExample, "FT_Write:1:short");
    EXPECT_EQ(result.output, kExampleWire);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(trace(),
              std::string(kFullTrace) + "FT_Write 3\nFT_Write 1\nFT_Write 3\nFT_Close\n");
}

TEST_F(Program, NoConverterIsReportedWithoutTouchingTheInput)
{
    ProgramRun result = run(kExample, "FT_Open");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.inputLeftAt, 0) << "standard input must stay unread";
    EXPECT_EQ(result.errors,
              "line-transmitter: cannot open converter 0 (FT_DEVICE_NOT_FOUND); nothing was "
              "sent; is the converter plugged in, and its driver installed?\n");
    EXPECT_EQ(trace(), "FT_Open 0\n");
}

TEST_F(Program, AFailedSettingClosesTheConverterAndSendsNothing)
{
    ProgramRun baud = run(kExample, "FT_SetBaudRate");
    EXPECT_EQ(baud.exitStatus, 1);
    EXPECT_EQ(baud.output, "");
    EXPECT_EQ(baud.inputLeftAt, 0);
    EXPECT_NE(baud.errors.find("line-transmitter: cannot set converter 0 to 19200 baud"),
              std::string::npos) << baud.errors;
    EXPECT_NE(baud.errors.find("(FT_IO_ERROR)"), std::string::npos) << baud.errors;
    EXPECT_EQ(trace(), "FT_Open 0\nFT_SetBaudRate 19200\nFT_Close\n");

    std::filesystem::remove(tracePath());
    ProgramRun framing = run(kExample, "FT_SetDataCharacteristics");
    EXPECT_EQ(framing.exitStatus, 1);
    EXPECT_EQ(framing.output, "");
    EXPECT_NE(framing.errors.find("7 data bits, even parity, 1 stop bit"), std::string::npos)
        << framing.errors;
    EXPECT_EQ(trace(), std::string(kFullTrace) + "FT_Close\n");
}

TEST_F(Program, AFailedWriteStopsTheRunAndSaysWhereToResume)
{
    // 30 lines of 1000 bytes each on the wire, then the failure: lines whose
    // line feed went 10 KiB or more before it have surely left the converter.
    std::string longLines;
    for (int i = 0; i < 31; ++i) {
        longLines += std::string(999, 'x') + "\n";
    }
    struct Case {
        std::string input, fail;
        int exitStatus;
        std::string where;
    } cases[] = {
        {"one\ntwo\n", "FT_Write:1", 1, "nothing was sent: the same input can be sent again"},
        {"one\ntwo\n", "FT_Write:2", 2,
         "1 line handed over, 0 surely sent: send again from line 1 (line 1 may arrive twice)"},
        {"one\ntwo\nthree\n", "FT_Write:3", 2,
         "2 lines handed over, 0 surely sent: send again from line 1 "
         "(lines 1 to 2 may arrive twice)"},
        {longLines, "FT_Write:31", 2,
         "30 lines handed over, 19 surely sent: send again from line 20 "
         "(lines 20 to 30 may arrive twice)"},
        {std::string(2500, 'y') + "\n", "FT_Write:2", 2,
         "0 lines handed over, 0 surely sent, part of line 1 went out: send again from "
         "line 1"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(tracePath());
        ProgramRun result = run(c.input, c.fail);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.fail;
        EXPECT_EQ(result.errors, "line-transmitter: sending to converter 0 failed (FT_IO_ERROR); " +
                                     c.where + "; check that the converter is still plugged in "
                                     "and the cable is sound\n") << c.fail;
        EXPECT_EQ(trace().substr(trace().size() - 9), "FT_Close\n") << "closed all the same";
    }
}

TEST_F(Program, AReadErrorIsReported)
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
              std::string::npos) << result.errors;
}

TEST_F(Program, AFailedCloseIsReported)
{
    ProgramRun result = run(kExample, "FT_Close");
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.output, kExampleWire);
    EXPECT_EQ(result.errors,
              "line-transmitter: closing converter 0 failed (FT_IO_ERROR); 2 lines handed over, "
              "0 surely sent: send again from line 1 (lines 1 to 2 may arrive twice); check that "
              "the converter is still plugged in and the cable is sound\n");

    ProgramRun empty = run("", "FT_Close");
    EXPECT_EQ(empty.exitStatus, 1) << "nothing was handed over";
    EXPECT_NE(empty.errors.find("; nothing was sent: the same input can be sent again;"),
              std::string::npos) << empty.errors;
}

TEST_F(Program, NoDescriptorOfItsOwnTakesAClosedStandardOnesPlace)
{
    if (programIsWindows) {
        GTEST_SKIP() << "descriptors 0 to 2 are POSIX's";
    }
    // The simulated converter's trace file is what would take the place.
    ProgramInput input;
    input.bytes = kExample;
    input.environment = {"LINE_TRANSMITTER_SIM_TRACE=" + tracePath(), "LINE_TRANSMITTER_SIM_FAIL="};
    input.closedDescriptors = {0};
    ProgramRun closedInput = runProgram(programCommand, input);
    EXPECT_EQ(closedInput.exitStatus, 1);
    EXPECT_NE(closedInput.errors.find("standard input is closed"), std::string::npos);
    EXPECT_EQ(trace(), "") << "the converter is not touched";

    input.closedDescriptors = {1};
    ProgramRun closedOutput = runProgram(programCommand, input);
    EXPECT_EQ(closedOutput.exitStatus, 0);
    EXPECT_EQ(trace(), std::string(kFullTrace) + "FT_Write 3\nFT_Write 3\nFT_Close\n");

    std::filesystem::remove(tracePath());
    input.closedDescriptors = {2};
    input.environment.back() = "LINE_TRANSMITTER_SIM_FAIL=FT_Write:1";
    ProgramRun closedErrors = runProgram(programCommand, input);
    EXPECT_EQ(closedErrors.exitStatus, 1);
    EXPECT_EQ(trace(), std::string(kFullTrace) + "FT_Write 3\nFT_Close\n")
        << "the message must not land in the converter's file";

    // A standard error that nobody reads must not kill the program.
    input.closedDescriptors = {};
    input.errorsToBrokenPipe = true;
    ProgramRun brokenErrors = runProgram(programCommand, input);
    EXPECT_EQ(brokenErrors.killedBy, 0);
    EXPECT_EQ(brokenErrors.exitStatus, 1);
}

TEST_F(Program, ASignalEndsTheRunInOrderWithTheCount)
{
    if (programIsWindows) {
        GTEST_SKIP() << "POSIX signals";
    }
    struct Case {
        int signalNumber;
        const char* name;
        std::string input, wire, where;
    } cases[] = {
        {SIGINT, "SIGINT", "AB\n", std::string(kFullTrace) + "FT_Write 3\nFT_Close\n",
         "1 line sent: send again from line 2"},
        {SIGTERM, "SIGTERM", "AB\n", std::string(kFullTrace) + "FT_Write 3\nFT_Close\n",
         "1 line sent: send again from line 2"},
        {SIGHUP, "SIGHUP", "AB\n", std::string(kFullTrace) + "FT_Write 3\nFT_Close\n",
         "1 line sent: send again from line 2"},
        {SIGINT, "SIGINT", "", std::string(kFullTrace) + "FT_Close\n",
         "nothing was sent: the same input can be sent again"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(tracePath());
        ProgramInput input;
        input.environment = {"LINE_TRANSMITTER_SIM_TRACE=" + tracePath(),
                             "LINE_TRANSMITTER_SIM_FAIL="};
        input.inputThroughPipe = true;
        input.pipeHeldOpen = true;  // it waits for input when the signal comes
        input.bytes = c.input;
        input.signals = {c.signalNumber};
        ProgramRun result = runProgram(programCommand, input);
        EXPECT_EQ(result.exitStatus, 128 + c.signalNumber) << c.name;
        EXPECT_EQ(result.output, c.input) << c.name;
        EXPECT_EQ(result.errors, std::string("line-transmitter: interrupted by ") + c.name +
                                     " (the converter was drained and closed); " + c.where +
                                     "\n");
        EXPECT_EQ(trace(), c.wire) << c.name << ": the converter is closed";
    }
}

TEST_F(Program, WaitsOnANonBlockingStandardInput)
{
    if (programIsWindows) {
        GTEST_SKIP() << "POSIX descriptors";
    }
    ProgramInput input;
    input.inputThroughPipe = true;
    input.pipeNonBlocking = true;
    input.bytes = "AB\n";
    input.laterBytes = "CD\n";  // comes when a read would have failed with EAGAIN
    ProgramRun result = runProgram(programCommand, input);
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.output, "AB\nCD\n");
}

TEST_F(Program, EndOfLineFollowsThePlatformsTextMode)
{
    ProgramRun result = run("AB\r\nQ\x1b\r\n");
    EXPECT_EQ(result.exitStatus, 0);
    if (programIsWindows) {
        EXPECT_EQ(result.output, "AB\nQ\x1b\n");
    } else {
        EXPECT_EQ(result.output, "AB\r\nQ\x1b\r\n");
    }
}

TEST_F(Program, CtrlZEndsInputOnWindows)
{
    if (!programIsWindows) {
        GTEST_SKIP() << "only the Windows C runtime ends text input at Ctrl-Z";
    }
    ProgramRun result = run("AB\r\nCD\x1a" "EF\r\nGH\r\n");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "AB\nCD\n");
    EXPECT_EQ(result.errors, "");
}

// The vendor's library does less than our header promises; its driver adds
// the rest through the library's further calls, which the stand-in library
// traces, and whose queue drains at the line's rate (1920 bytes a second).
TEST_F(Program, TheVendorLibraryDriverKeepsTheHeadersPromises)
{
    if (!programLoadsLibrary) {
        GTEST_SKIP() << "the simulated converter is linked in, not loaded as the vendor's library";
    }
    struct Case {
        const char* what;
        std::string input, fail;
        std::vector<int> signals;  // POSIX only: skipped under Windows
        int exitStatus;
        double atLeastSeconds, atMostSeconds;
        std::string errorsStart;   // of its one message; "" for none
        bool purged;               // what the converter held was discarded
    } cases[] = {
        {"the close waits for the queue", std::string(1999, 'd') + "\n", "", {}, 0, 0.9, 6, "",
         false},
        {"a stalled converter", "one\ntwo\n", "FT_Write:2:stall", {}, 2, 9, 15,
         "line-transmitter: sending to converter 0 failed (the converter stopped taking bytes); "
         "1 line handed over, 0 surely sent: send again from line 1 (line 1 may arrive twice); ",
         true},
        {"a second signal cuts the drain short", std::string(19999, 's') + "\n", "",
         {SIGINT, SIGINT}, 128 + SIGINT, 0, 6,
         "line-transmitter: interrupted by SIGINT (the drain was cut short and the rest "
         "discarded: the last line may be cut); 1 line handed over, 0 surely sent",
         true},
    };
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
        input.pipeHeldOpen = !c.signals.empty();
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
            EXPECT_NE(calls.find("FT_Purge 3\nFT_Close\n"), std::string::npos)
                << c.what << ":\n" << calls;
        } else {
            EXPECT_EQ(calls.find("FT_Purge"), std::string::npos) << c.what;
            std::size_t query = calls.rfind("FT_GetModemStatus\n");
            EXPECT_TRUE(query != std::string::npos && query > lastWrite && query < close)
                << c.what << ":\n" << calls;
        }
    }
}

TEST_F(Program, AMissingVendorLibraryIsReported)
{
    if (!programLoadsLibrary) {
        GTEST_SKIP() << "this build does not load the vendor's library";
    }
    // A copy of the program alone in a folder, with no library path, run
    // from the folder that holds the library: that must not be searched.
    std::filesystem::path alone = std::filesystem::path(folder_) /
                                  std::filesystem::path(programCommand.back()).filename();
    std::filesystem::copy_file(programCommand.back(), alone);
    std::vector<std::string> command = programCommand;
    command.back() = alone.string();
    ProgramInput input;
    input.bytes = kExample;
    input.environment.push_back("LD_LIBRARY_PATH=");
    input.workingFolder = std::filesystem::path(programCommand.back()).parent_path().string();
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
    return RUN_ALL_TESTS();
}
