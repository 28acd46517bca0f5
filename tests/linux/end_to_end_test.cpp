// The installed program on a pseudo-terminal that stands in for
// /dev/ttyUSB0, inside a private mount namespace: overlays on /sys/bus and
// /dev add the FTDI driver's entry and the port there alone, leaving the
// host's untouched. Needs root (CI runs as root); skipped otherwise.
//
//   end_to_end_tests --program=PATH
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "program_runner.h"

namespace {

std::string program;

// Mounts the stand-in converter, then runs the command given after the
// script's own arguments: $1 the pty's far end, $2 a scratch folder.
const char kNamespaceScript[] = R"(
set -e
pty=$1 scratch=$2; shift 2
mount --make-rprivate /
mkdir -p "$scratch/sys-upper" "$scratch/sys-work" "$scratch/dev-upper" "$scratch/dev-work"
: > "$scratch/port"
mount --bind "$pty" "$scratch/port"
mount -t overlay overlay -o "lowerdir=/sys/bus,upperdir=$scratch/sys-upper,workdir=$scratch/sys-work" /sys/bus
mkdir -p /sys/bus/usb-serial/drivers/ftdi_sio
: > /sys/bus/usb-serial/drivers/ftdi_sio/ttyUSB0
mount -t overlay overlay -o "lowerdir=/dev,upperdir=$scratch/dev-upper,workdir=$scratch/dev-work" /dev
: > /dev/ttyUSB0
mount --bind "$scratch/port" /dev/ttyUSB0
exec "$@"
)";

// Why no private mount namespace can be made here, or "" when one can.
std::string whyNoNamespace()
{
    if (geteuid() != 0) {
        return "needs root for a private mount namespace";
    }
    if (std::system("unshare -m true 2>/dev/null") != 0) {
        return "cannot make a private mount namespace here";
    }
    return "";
}

class StandInConverter : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why = whyNoNamespace();
        if (!why.empty()) {
            GTEST_SKIP() << why;
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
        if (keeper_ >= 0) close(keeper_);
        if (nearEnd_ >= 0) close(nearEnd_);
        if (!scratch_.empty()) std::filesystem::remove_all(scratch_);
    }

    ProgramRun run(const std::string& bytes, std::vector<std::string> wrapper = {},
                   std::vector<std::string> environment = {})
    {
        std::vector<std::string> command = {"unshare", "-m", "sh", "-c", kNamespaceScript,
                                            "namespace", farEnd_, scratch_};
        command.insert(command.end(), wrapper.begin(), wrapper.end());
        command.push_back(program);
        ProgramInput input;
        input.bytes = bytes;
        input.environment = std::move(environment);
        return runProgram(command, input);
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
            pollfd ready = {nearEnd_, POLLIN, 0};
            if (poll(&ready, 1, 50) > 0 && (ready.revents & POLLIN)) {
                char chunk[4096];
                ssize_t count = read(nearEnd_, chunk, sizeof chunk);
                if (count > 0) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    wire_.append(chunk, static_cast<std::size_t>(count));
                    if (!hangUpAfter_.empty() && wire_ == hangUpAfter_) {
                        close(nearEnd_);  // the far end now fails as if unplugged
                        nearEnd_ = -1;
                        return;
                    }
                }
            }
        }
    }

    std::string hangUpAfter_;  // set before run()
    std::string scratch_;
    std::string farEnd_;
    int nearEnd_ = -1;
    int keeper_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string wire_;
};

TEST_F(StandInConverter, SendsExactlyTheLinesUpToEscape)
{
    ProgramRun result = run("AB\nQ\x1b\nZZ\n");
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(wire(), "AB\nQ\x1b\n");

    termios settings{};
    ASSERT_EQ(tcgetattr(nearEnd_, &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B19200));
    EXPECT_FALSE(settings.c_oflag & OPOST);
    EXPECT_FALSE(settings.c_iflag & (IXON | IXOFF));
    EXPECT_FALSE(settings.c_cflag & CRTSCTS);
}

TEST_F(StandInConverter, AsksTheKernelForSevenDataBitsEvenParityOneStopBit)
{
    if (std::system("command -v strace >/dev/null") != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
    std::string calls = scratch_ + "/ioctl-calls";
    // A sanitizer build's leak check cannot work under strace.
    ProgramRun result = run("AB\n", {"strace", "-qq", "-e", "trace=ioctl", "-o", calls},
                            {"ASAN_OPTIONS=detect_leaks=0"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(wire(), "AB\n");
    std::string trace = readFile(calls);
    std::size_t framing = trace.find("CS7|CREAD|PARENB|");
    ASSERT_NE(framing, std::string::npos) << trace;
    std::size_t line = trace.rfind('\n', framing);
    std::string call = trace.substr(line + 1, trace.find('\n', framing) - line - 1);
    EXPECT_NE(call.find("TCSETS"), std::string::npos) << call;
    EXPECT_NE(call.find("B19200"), std::string::npos) << call;
    EXPECT_EQ(call.find("CSTOPB"), std::string::npos) << call;
    EXPECT_EQ(call.find("PARODD"), std::string::npos) << call;
}

TEST_F(StandInConverter, AConverterGoneMidRunStopsTheRun)
{
    hangUpAfter_ = "one\n";
    // The input trickles in, as from a user; "three" would come long after.
    std::string feeder =
        "exec \"$0\" < <(printf 'one\\n'; sleep 1; printf 'two\\n'; sleep 5; printf 'three\\n')";
    auto started = std::chrono::steady_clock::now();
    ProgramRun result = run("", {"bash", "-c", feeder});
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find("failed after 1 line went out whole"), std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("(FT_IO_ERROR)"), std::string::npos) << result.errors;
    EXPECT_LT(seconds.count(), 5.0) << "the program waited for more input";
}

TEST_F(StandInConverter, HeldByAnotherProgramIsReported)
{
    std::string holder = "exec 9<>/dev/ttyUSB0; flock -n 9 && exec \"$0\" \"$@\"";
    ProgramRun result = run("AB\n", {"sh", "-c", holder});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find("(FT_DEVICE_NOT_OPENED): is another program using"),
              std::string::npos) << result.errors;
    EXPECT_EQ(result.inputLeftAt, 0);
    EXPECT_EQ(wire(), "");
}

TEST(NoConverter, IsReportedWithTheInputUntouched)
{
    std::string why = whyNoNamespace();
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    std::string scratch = makeScratchFolder();
    // An empty FTDI driver folder: the driver is loaded, no converter bound.
    std::string script =
        "set -e; mount --make-rprivate /; mkdir -p \"$0/u\" \"$0/w\"; "
        "mount -t overlay overlay -o \"lowerdir=/sys/bus,upperdir=$0/u,workdir=$0/w\" /sys/bus; "
        "rm -rf /sys/bus/usb-serial; mkdir -p /sys/bus/usb-serial/drivers/ftdi_sio; exec \"$1\"";
    ProgramInput input;
    input.bytes = "AB\n";
    ProgramRun result = runProgram({"unshare", "-m", "sh", "-c", script, scratch, program}, input);
    std::filesystem::remove_all(scratch);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find("(FT_DEVICE_NOT_FOUND): is the converter plugged in"),
              std::string::npos) << result.errors;
    EXPECT_EQ(result.inputLeftAt, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--program=", 10) == 0) {
            program = argv[i] + 10;
        }
    }
    if (program.empty()) {
        std::fprintf(stderr, "usage: %s --program=PATH\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
