#include "program_runner.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::string makeScratchFolder()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/lt-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        throw std::runtime_error("cannot make a scratch folder");
    }
    return pattern;
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
    std::string inputPath = input.inputPath;
    if (inputPath.empty()) {
        inputPath = folder + "/input";
        std::ofstream(inputPath, std::ios::binary) << input.bytes;
    }
    std::string outputPath = folder + "/output";
    std::string errorsPath = folder + "/errors";

    int inputFd = open(inputPath.c_str(), O_RDONLY);
    if (inputFd < 0) {
        throw std::runtime_error("cannot open " + inputPath);
    }
    std::vector<std::string> words = command;
    words.insert(words.end(), input.arguments.begin(), input.arguments.end());

    pid_t child = fork();
    if (child == 0) {
        int outputFd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int errorsFd = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (outputFd < 0 || errorsFd < 0 || dup2(inputFd, 0) < 0 || dup2(outputFd, 1) < 0 ||
            dup2(errorsFd, 2) < 0) {
            _exit(126);
        }
        if (!input.workingFolder.empty() && chdir(input.workingFolder.c_str()) != 0) {
            _exit(126);
        }
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
    ProgramRun run;
    int waitStatus = 0;
    if (child < 0 || waitpid(child, &waitStatus, 0) != child) {
        close(inputFd);
        throw std::runtime_error("cannot run " + command.back());
    }
    if (WIFEXITED(waitStatus)) {
        run.exitStatus = WEXITSTATUS(waitStatus);
    }
    // The child shared this open file, so its offset shows what was read.
    run.inputLeftAt = static_cast<long>(lseek(inputFd, 0, SEEK_CUR));
    close(inputFd);
    run.output = readFile(outputPath);
    run.errors = readFile(errorsPath);
    std::filesystem::remove_all(folder);
    return run;
}
