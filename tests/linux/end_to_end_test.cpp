// The installed program on a pseudo-terminal that stands in for
// /dev/ttyUSB0, inside a private mount namespace: overlays on /sys/bus and
// /dev add the FTDI driver's entry and the port there alone, leaving the
// host's untouched. Needs root (CI runs as root); skipped otherwise. What
// the kernel's own FTDI driver can show (bytes, settings, ports in use,
// absent, unplugged) is tested there, in the QEMU guest; here is what only
// a far end under the test's control can show: the calls the program makes,
// closed descriptors, signals, and a far end that stops reading.
//
//   end_to_end_tests --program=PATH --pty-as-port=PATH
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <signal.h>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "kernel_serial_driver.h"
#include "program_runner.h"
#include "stop_request_sweep.h"

namespace {

std::string program;
std::string ptyAsPort;  // scripts/pty-as-port: the pty as /dev/ttyUSB0, in the namespace

// Why no private mount namespace can be made here, or "" when one can;
// in a chroot that is not a mount point of its own, unshare -m fails.
std::string whyNoNamespace()
{
    if (geteuid() != 0) {
        return "needs root for a private mount namespace";
    }
    FILE* tried = popen("unshare -m true 2>&1", "r");
    if (tried == nullptr) {
        return "cannot run unshare";
    }
    std::string said;
    char piece[256];
    while (std::fgets(piece, sizeof piece, tried) != nullptr) {
        said += piece;
    }
    if (pclose(tried) != 0) {
        while (!said.empty() && said.back() == '\n') {
            said.pop_back();
        }
        return "cannot make a private mount namespace here (" + said + ")";
    }
    return "";
}

class StandInConverter : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why = whyNoNamespace();
        if (!why.empty()) {
            SKIP_WHERE_IT_CANNOT_RUN(why);
        }
        scratch_ = makeScratchFolder();
        // Close-on-exec: a copy in the child would keep the line up.
        nearEnd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(nearEnd_, 0);
        ASSERT_EQ(grantpt(nearEnd_), 0);
        ASSERT_EQ(unlockpt(nearEnd_), 0);
        farEnd_ = ptsname(nearEnd_);
        // Held open, so the line stays up between the program's open and close.
        keeper_ = open(farEnd_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(keeper_, 0);
        reader_ = std::thread([this] { collect(); });
    }

    void TearDown() override
    {
        stop_ = true;
        if (reader_.joinable()) {
            reader_.join();
        }
        if (keeper_ >= 0)
            close(keeper_);
        if (nearEnd_ >= 0)
            close(nearEnd_);
        if (!scratch_.empty())
            std::filesystem::remove_all(scratch_);
    }

    ProgramRun run(const ProgramInput& input, std::vector<std::string> wrapper = {})
    {
        std::vector<std::string> command = {"unshare", "-m",     ptyAsPort,
                                            farEnd_,   scratch_, "exec \"$@\""};
        command.insert(command.end(), wrapper.begin(), wrapper.end());
        command.push_back(program);
        return runProgram(command, input);
    }
    ProgramRun run(const std::string& bytes, std::vector<std::string> wrapper = {},
                   std::vector<std::string> environment = {})
    {
        ProgramInput input;
        input.bytes = bytes;
        input.environment = std::move(environment);
        return run(input, std::move(wrapper));
    }

    // Leaves the port as another program might: mark/space parity and the rest.
    void dirtyThePort()
    {
        termios settings{};
        ASSERT_EQ(tcgetattr(keeper_, &settings), 0);
        settings.c_cflag |= CMSPAR | PARODD | CSTOPB | CRTSCTS;
        settings.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
        settings.c_iflag |= IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR;
        settings.c_oflag |= OPOST | ONLCR | OCRNL;
        cfsetspeed(&settings, B57600);
        ASSERT_EQ(tcsetattr(keeper_, TCSANOW, &settings), 0);
    }

    // Once the program's first bytes wait at the near end, which the paused
    // reader leaves there: signals meant for its writes come no sooner.
    bool bytesWaiting(const std::string&) const
    {
        int waiting = 0;
        return ioctl(nearEnd_, FIONREAD, &waiting) == 0 && waiting > 0;
    }

    // Lets the far end read again after `seconds`, while the program runs.
    std::thread resumeReadingAfter(double seconds)
    {
        paused_ = true;
        return std::thread([this, seconds] {
            usleep(static_cast<useconds_t>(seconds * 1e6));
            paused_ = false;
        });
    }

    std::string wire()
    {
        usleep(200000);  // let the reader take what is in flight
        std::lock_guard<std::mutex> lock(mutex_);
        return wire_;
    }

    void collect()
    {
        while (!stop_) {
            if (paused_) {
                usleep(10000);
                continue;
            }
            pollfd ready = {nearEnd_, POLLIN, 0};
            if (poll(&ready, 1, 50) > 0 && (ready.revents & POLLIN)) {
                char chunk[4096];
                ssize_t count = read(nearEnd_, chunk, sizeof chunk);
                if (count > 0) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    wire_.append(chunk, static_cast<std::size_t>(count));
                }
            }
        }
    }

    std::atomic<bool> paused_{false};  // the far end stops reading
    std::string scratch_;
    std::string farEnd_;
    int nearEnd_ = -1;
    int keeper_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string wire_;
};

// What a pseudo-terminal cannot show (it forces its own framing, and its
// drain returns at once) shows in the calls the program makes.
TEST_F(StandInConverter, AsksTheKernelForItsOwnSettingsAndDrainsBeforeClosing)
{
    if (std::system("command -v strace >/dev/null") != 0) {
        SKIP_WHERE_IT_CANNOT_RUN("strace is not installed (Debian: strace)");
    }
    dirtyThePort();
    std::string calls = scratch_ + "/calls";
    // A sanitizer build's leak check cannot work under strace.
    ProgramRun result =
        run("AB\n", {"strace", "-v", "-qq", "-e", "trace=ioctl,write,close", "-o", calls},
            {"ASAN_OPTIONS=detect_leaks=0"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(wire(), "AB\n");
    std::string trace = readFile(calls);
    std::size_t lastSetting = trace.rfind("TCSETS, {");
    ASSERT_NE(lastSetting, std::string::npos) << trace;
    std::size_t lineStart = trace.rfind('\n', lastSetting) + 1;
    std::string port = trace.substr(lineStart, trace.find(',', lineStart) - lineStart) + ", ";
    ASSERT_EQ(port.rfind("ioctl(", 0), 0u) << port;
    EXPECT_NE(trace.find("c_iflag=, c_oflag=NL0|CR0|TAB0|BS0|VT0|FF0|, "
                         "c_cflag=B19200|CS7|CREAD|PARENB|CLOCAL, c_lflag=,",
                         lastSetting),
              std::string::npos)
        << "raw 19200 CS7 PARENB CREAD CLOCAL and nothing else:\n"
        << trace.substr(lastSetting, 200);
    // port is "ioctl(N, ": the same descriptor's write, drain, release, close.
    std::string fd = port.substr(6, port.size() - 8);
    std::size_t written = trace.find("write(" + fd + ", \"AB\\n\"");
    std::size_t drained = trace.find(port + "TCSBRK, 1)", written);
    std::size_t released = trace.find(port + "TIOCNXCL)", drained);
    std::size_t closed = trace.find("close(" + fd + ")", released);
    EXPECT_NE(written, std::string::npos) << trace;
    EXPECT_NE(drained, std::string::npos) << "tcdrain after the last write:\n" << trace;
    EXPECT_NE(released, std::string::npos) << "exclusive mode cleared:\n" << trace;
    EXPECT_NE(closed, std::string::npos) << trace;
}

TEST_F(StandInConverter, ClosedStandardDescriptorsNeverBecomeThePort)
{
    ProgramInput input;
    input.bytes = "AB\n";
    input.closedDescriptors = {0};
    ProgramRun noInput = run(input);
    EXPECT_EQ(noInput.exitStatus, 1);
    EXPECT_NE(noInput.errors.find("standard input is closed"), std::string::npos) << noInput.errors;

    input.closedDescriptors = {1};
    ProgramRun noOutput = run(input);
    EXPECT_EQ(noOutput.exitStatus, 0) << noOutput.errors;

    // With standard error closed, the port would be descriptor 2, and with
    // both 0 and 2 terminals the hint on how to end the input would go out
    // on the line. Standard input is a terminal here, lines typed at it.
    int keyboard = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(keyboard, 0);
    ASSERT_EQ(grantpt(keyboard), 0);
    ASSERT_EQ(unlockpt(keyboard), 0);
    input.inputPath = ptsname(keyboard);
    ASSERT_EQ(::write(keyboard, "AB\n", 3), 3);
    input.closedDescriptors = {2};
    input.signals = {SIGTERM};
    input.signalWhen = [this](const std::string&) { return wire() == "AB\nAB\n"; };
    ProgramRun noErrors = run(input);
    close(keyboard);
    EXPECT_EQ(noErrors.exitStatus, 128 + SIGTERM);
    EXPECT_EQ(wire(), "AB\nAB\n") << "nothing but the lines, once each run";
}

// A port with room: no wait of the driver's ends early, the requests are
// heard all the same.
TEST_F(StandInConverter, AStopRequestAtAnyCallEndsTheRunThere)
{
    if (!straceIsInstalled()) {
        SKIP_WHERE_IT_CANNOT_RUN("strace is not installed (Debian: strace)");
    }
    std::size_t arrived = wire().size();
    sweepStopRequests("on a pseudo-terminal", scratch_ + "/calls", true,
                      [&](const std::vector<std::string>& words, const std::string& bytes) {
                          // A sanitizer build's leak check cannot work under strace.
                          ProgramRun result = run(bytes, words, {"ASAN_OPTIONS=detect_leaks=0"});
                          result.output = wire().substr(arrived);
                          arrived += result.output.size();
                          return result;
                      });
}

// While the far end does not read, a request finishes the line going out,
// and a second cuts it short and says so: the message names both signals
// when they differ, and the status is the first's.
TEST_F(StandInConverter, ASignalWhileTheFarEndDoesNotReadFinishesTheLineASecondCutsIt)
{
    std::string line(300000, 'q');
    const std::string drained = " (the converter was drained and closed); ";
    const std::string cut = " (stopped at once: /dev/ttyUSB0: the drain was cut short; ";
    const std::string finished = "1 line sent: send again from line 2";
    const std::string partOfLine1 = "part of line 1 went out: send again from line 1";
    struct Case {
        std::vector<int> signals;
        std::string signalsNamed, cause, resendWords;
    } cases[] = {
        {{SIGINT}, "SIGINT", drained, finished},
        {{SIGTERM}, "SIGTERM", drained, finished},
        {{SIGHUP}, "SIGHUP", drained, finished},
        {{SIGINT, SIGINT}, "SIGINT, then SIGINT", cut, partOfLine1},
        {{SIGINT, SIGTERM}, "SIGINT, then SIGTERM", cut, partOfLine1},
    };
    for (const Case& c : cases) {
        ProgramInput input;
        input.bytes = line + "\nnever\n";
        input.signals = c.signals;
        input.signalWhen = [this](const std::string& none) { return bytesWaiting(none); };
        std::size_t before = wire().size();
        std::thread resume = resumeReadingAfter(1.5);
        ProgramRun result = run(input);
        resume.join();
        std::string sent = wire().substr(before);
        std::string start = "line-transmitter: interrupted by " + c.signalsNamed + c.cause;
        EXPECT_EQ(result.exitStatus, 128 + c.signals[0]) << start;
        EXPECT_EQ(result.errors.rfind(start, 0), 0u) << result.errors;
        EXPECT_NE(result.errors.find(c.resendWords + "\n"), std::string::npos) << result.errors;
        if (c.signals.size() == 1) {
            EXPECT_EQ(sent, line + "\n") << start << ": the whole line, no more";
            EXPECT_EQ(result.errors, start + c.resendWords + "\n");
        } else {
            EXPECT_LT(result.seconds, 5.0) << "a second signal must not wait for the line";
            EXPECT_LT(sent.size(), line.size());
            EXPECT_EQ(sent.find('\n'), std::string::npos);
        }
    }
}

// One stall costs one deadline, wherever in the input it comes. The bound:
// the driver's deadline, one recheck of the port, and a margin for a loaded
// machine (the namespace, the start, filling the port: 0.1 to 0.3 s measured
// on 2 cores with one kept busy); a second deadline can never fit in it.
TEST_F(StandInConverter, AFarEndThatStopsReadingEndsTheRunWithinTheDeadline)
{
    const double deadline = kStallMilliseconds / 1000.0;
    const double loadedMachineMargin = 2.0;
    const double bound = deadline + kRecheckMilliseconds / 1000.0 + loadedMachineMargin;
    std::string shortLines;
    while (shortLines.size() < 100000) {
        shortLines += std::string(99, 's') + "\n";
    }
    struct Case {
        const char* where;
        std::string input;
        const char* resendPoint;  // "" where it depends on the kernel's pty buffer
    } cases[] = {
        // A pseudo-terminal holds more than 10 KiB: line 1 surely got through.
        {"within a long line", "one\n" + std::string(300000, 'q') + "\n",
         "1 line handed over, 1 surely sent, part of line 2 went out: send again from line 2;"},
        {"among short lines, after a short write", shortLines, ""},
    };
    for (const Case& c : cases) {
        paused_ = true;
        ProgramRun stalled = run(c.input);
        paused_ = false;
        wire();
        EXPECT_EQ(stalled.exitStatus, 2) << c.where;
        EXPECT_GE(stalled.seconds, deadline) << c.where;
        EXPECT_LT(stalled.seconds, bound) << c.where << ": more than one deadline";
        EXPECT_EQ(stalled.errors.rfind("line-transmitter: sending to converter 0 failed (the "
                                       "converter stopped taking bytes); ",
                                       0),
                  0u)
            << c.where << ": " << stalled.errors;
        EXPECT_NE(stalled.errors.find(c.resendPoint), std::string::npos)
            << c.where << ": " << stalled.errors;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--program=", 10) == 0) {
            program = argv[i] + 10;
        } else if (std::strncmp(argv[i], "--pty-as-port=", 14) == 0) {
            ptyAsPort = argv[i] + 14;
        }
    }
    if (program.empty() || ptyAsPort.empty()) {
        std::fprintf(stderr, "usage: %s --program=PATH --pty-as-port=PATH\n", argv[0]);
        return 2;
    }
    return statusForCTest(RUN_ALL_TESTS());
}
