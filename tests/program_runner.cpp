#include "program_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// In the child: the descriptors as asked, then the program.
[[noreturn]] void startProgram(std::vector<std::string> words, const ProgramInput& input,
                               int inputFd, const std::string& outputPath,
                               const std::string& errorsPath)
{
    int outputFd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // Appending: what else the program opens there (a trace) keeps its order.
    int errorsFd = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    if (outputFd < 0 || errorsFd < 0 || dup2(inputFd, 0) < 0 || dup2(outputFd, 1) < 0 ||
        dup2(errorsFd, 2) < 0) {
        _exit(126);
    }
    int brokenPipe[2];
    if (input.errorsToBrokenPipe && (pipe(brokenPipe) != 0 || dup2(brokenPipe[1], 2) < 0)) {
        _exit(126);
    }
    close_range(3, ~0u, 0);  // nothing of the test's may leak into the program
    setpgid(0, 0);           // a group of its own, so that a run killed leaves nothing behind
    for (int descriptor : input.closedDescriptors) {
        close(descriptor);
    }
    if (!input.workingFolder.empty() && chdir(input.workingFolder.c_str()) != 0) {
        _exit(126);
    }
    // As a shell starts a program in the foreground, whatever the test was
    // started with (a background job ignores SIGINT), unless asked otherwise.
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        signal(signalNumber, SIG_DFL);
    }
    for (int signalNumber : input.ignoredSignals) {
        signal(signalNumber, SIG_IGN);  // kept across exec, as a shell's nohup does
    }
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signalNumber : input.blockedSignals) {
        sigaddset(&blocked, signalNumber);  // kept across exec too
    }
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    for (const std::string& setting : input.environment) {
        putenv(const_cast<char*>(setting.c_str()));
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// Writes bytes to the program's input pipe, all of them unless it has ended.
void feed(int pipeEnd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = write(pipeEnd, bytes.data() + done, bytes.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

// The words of a process's command line, as /proc has them.
std::vector<std::string> commandLineOf(pid_t process)
{
    std::ifstream file("/proc/" + std::to_string(process) + "/cmdline", std::ios::binary);
    std::vector<std::string> words;
    std::string word;
    while (std::getline(file, word, '\0')) {
        words.push_back(word);
    }
    return words;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Until the child is the program itself, not a launcher before it (a shell
// that sets up a namespace, say, which would take a signal for itself), at
// most 10 s; false if it was not by then. Files are compared by what they
// are, not by their paths: a path under /proc reads differently from
// another mount namespace or a chroot.
bool waitUntilTheProgramRuns(pid_t child, const std::string& program,
                             const std::vector<std::string>& words)
{
    struct stat programFile = {};
    if (stat(program.c_str(), &programFile) != 0) {
        return false;
    }
    std::string exe = "/proc/" + std::to_string(child) + "/exe";
    for (Clock::time_point started = Clock::now(); secondsSince(started) < 10;) {
        struct stat running = {};
        if (stat(exe.c_str(), &running) != 0 || sameFile(running, programFile)) {
            return true;  // ended already (a zombie has no exe), or runs
        }
        // qemu-user runs the program inside its own process, whose
        // executable stays the emulator: there the program runs once the
        // child's command line is the launcher's words and the program's.
        std::error_code failed;
        std::string emulator = std::filesystem::read_symlink(exe, failed).filename().string();
        if (!failed && emulator.rfind("qemu-", 0) == 0 && commandLineOf(child) == words) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace

std::string makeScratchFolder()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/lt-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        throw std::runtime_error("cannot make a scratch folder");
    }
    return pattern;
}

namespace {
std::map<std::string, int> casesThatCouldNotRun;  // by reason
}

bool everyCaseMustRun()
{
    const char* ci = getenv("CI");
    return ci != nullptr && *ci != '\0';
}

void countCaseThatCannotRun(const std::string& why)
{
    ++casesThatCouldNotRun[why];
}

int statusForCTest(int testsStatus)
{
    for (const auto& [why, cases] : casesThatCouldNotRun) {
        std::string label = why;
        std::replace(label.begin(), label.end(), ';', ',');  // CTest's list separator
        const char* count = cases == 1 ? "case" : "cases";
        std::printf("<CTestLabel>skipped: %s (%d %s)</CTestLabel>\n", label.c_str(), cases, count);
        // CTest keeps no label in its log: this line is what scripts/test-all reads there.
        std::printf("SKIPPED: %s (%d %s)\n", why.c_str(), cases, count);
    }
    std::fflush(stdout);
    if (testsStatus != 0) {
        return testsStatus;
    }
    return casesThatCouldNotRun.empty() ? 0 : kCasesSkippedStatus;
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

ProgramRun runProgram(const std::vector<std::string>& command, const ProgramInput& input)
{
    std::string folder = makeScratchFolder();
    std::string outputPath = input.outputPath.empty() ? folder + "/output" : input.outputPath;
    std::string errorsPath = folder + "/errors";

    int inputFd = -1;
    int feedFd = -1;  // the pipe's write end, ours
    if (input.inputThroughPipe || input.inputFailsAfterBytes) {
        int ends[2];
        if (input.inputFailsAfterBytes
                ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0 ||
                      write(ends[0], "x", 1) != 1  // to our end, which never reads it
                : pipe2(ends, O_CLOEXEC) != 0) {
            throw std::runtime_error("cannot make a pipe");
        }
        inputFd = ends[0];
        feedFd = ends[1];
        if (input.pipeNonBlocking) {
            fcntl(inputFd, F_SETFL, fcntl(inputFd, F_GETFL) | O_NONBLOCK);
        }
    } else {
        std::string inputPath = input.inputPath;
        if (inputPath.empty()) {
            inputPath = folder + "/input";
            std::ofstream(inputPath, std::ios::binary) << input.bytes;
        }
        inputFd = open(inputPath.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (inputFd < 0) {
        throw std::runtime_error("cannot open the program's input");
    }
    std::vector<std::string> words = command;
    words.insert(words.end(), input.arguments.begin(), input.arguments.end());

    Clock::time_point started = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        startProgram(words, input, inputFd, outputPath, errorsPath);
    }
    if (child < 0) {
        throw std::runtime_error("cannot run " + command.back());
    }
    if (feedFd >= 0) {
        signal(SIGPIPE, SIG_IGN);  // a program that has ended reads no more
        feed(feedFd, input.bytes);
        if (!input.laterBytes.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            feed(feedFd, input.laterBytes);
        }
        if (!input.pipeHeldOpen) {
            close(feedFd);
            feedFd = -1;
        }
    }
    if (!input.signals.empty() && !waitUntilTheProgramRuns(child, command.back(), words)) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        if (feedFd >= 0) {
            close(feedFd);
        }
        close(inputFd);
        std::filesystem::remove_all(folder);
        throw std::runtime_error(command.back() +
                                 " did not run within 10 s; no signal was sent, and it was killed");
    }
    Clock::time_point running = Clock::now();
    while (input.signalWhen && !input.signalWhen(readFile(outputPath)) &&
           secondsSince(running) < 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (int signalNumber : input.signals) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(child, signalNumber);
    }

    int waitStatus = 0;
    pid_t ended = 0;
    rusage usage = {};
    while ((ended = wait4(child, &waitStatus, WNOHANG, &usage)) == 0) {
        if (secondsSince(started) > input.killAfterSeconds) {
            kill(-child, SIGKILL);  // the program under a launcher (strace) too
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ProgramRun run;
    run.seconds = secondsSince(started);
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (feedFd >= 0) {
        close(feedFd);
    }
    if (ended != child) {
        close(inputFd);
        throw std::runtime_error("cannot wait for " + command.back());
    }
    if (WIFEXITED(waitStatus)) {
        run.exitStatus = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        run.killedBy = WTERMSIG(waitStatus);
    }
    // The child shared this open file, so its offset shows what was read.
    run.inputLeftAt = static_cast<long>(lseek(inputFd, 0, SEEK_CUR));
    close(inputFd);
    run.output = input.outputPath.empty() ? readFile(outputPath) : "";
    run.errors = readFile(errorsPath);
    std::filesystem::remove_all(folder);
    return run;
}
