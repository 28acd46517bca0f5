// Runs a build of the program as a process: input on standard input,
// standard output and standard error captured, exit status reported.
#ifndef LINE_TRANSMITTER_TESTS_PROGRAM_RUNNER_H
#define LINE_TRANSMITTER_TESTS_PROGRAM_RUNNER_H

#include <string>
#include <vector>

struct ProgramRun {
    int exitStatus = -1;          // -1 when the process did not exit normally
    std::string output;           // standard output
    std::string errors;           // standard error
    long inputLeftAt = -1;        // standard input's file offset after the run
};

struct ProgramInput {
    std::string bytes;                         // standard input's content
    std::string inputPath;                     // or a path to open as standard input
    std::vector<std::string> arguments;
    std::vector<std::string> environment;      // NAME=VALUE, added to ours
    std::string workingFolder;                 // "" for ours
};

// command: the launcher words (if any) and the program's path.
ProgramRun runProgram(const std::vector<std::string>& command, const ProgramInput& input);

// A fresh folder for one test's files.
std::string makeScratchFolder();

std::string readFile(const std::string& path);

#endif
