// A stop request placed at every system call that a run makes once its stop
// handlers are in place, by strace's signal injection: each input is run
// once and its calls recorded, then run again with SIGINT at each
// invocation of each kind of call in turn (at most about kMostOfAKind of a
// kind, spread over the run). Each row expects the rule: the line of which a
// write was made by then is finished and no other line goes out; once the
// input's end was read, a request changes nothing. One more row puts
// requests at the second and the fourth write of a long line, which is cut
// short at the fourth; a terminal's write (n_tty_write) that begins with a
// signal pending takes nothing and is made again, so on a terminal the
// second request lands on the second piece's write again.
#ifndef LINE_TRANSMITTER_TESTS_STOP_REQUEST_SWEEP_H
#define LINE_TRANSMITTER_TESTS_STOP_REQUEST_SWEEP_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"

struct StopRequestRow {
    std::string input;
    std::string inject;  // for strace's -e inject=
    std::string wire;    // what arrives
    int exitStatus;
    std::string resendWords;   // where the one message says to send again from, "" for none
    std::string messageStart;  // how it begins
};

// Short lines, the last without its line feed; a line longer than any read,
// but not on a terminal, where whether its writes find room, and so the
// calls made, depends on the far end's pace.
inline std::vector<std::string> sweptInputs(bool onATerminal)
{
    std::vector<std::string> inputs = {"line 1\nline 2\nline 3\nline 4\nline 5\nline 6"};
    if (!onATerminal) {
        inputs.push_back(std::string(20000, 'q') + "\nend\n");
    }
    return inputs;
}

inline std::string wireOf(const std::string& input)
{
    return input.back() == '\n' ? input : input + "\n";
}

// The rows for one input, from the strace -o file of a run of it.
inline std::vector<StopRequestRow> requestAtEveryCall(const std::string& input,
                                                      const std::string& recording)
{
    const std::size_t kMostOfAKind = 12;
    std::vector<std::string> calls;       // each call's name, in order
    std::vector<std::size_t> wireBefore;  // bytes written before it
    std::map<std::string, std::size_t> ofAKind;
    std::size_t start = 0, inputEnd = std::string::npos, written = 0;
    std::istringstream recorded(recording);
    for (std::string line; std::getline(recorded, line);) {
        if (line.find('(') == std::string::npos || line[0] == '-' || line[0] == '+') {
            continue;  // a signal, or the end
        }
        long result = std::atol(line.substr(line.rfind("= ") + 2).c_str());
        calls.push_back(line.substr(0, line.find('(')));
        wireBefore.push_back(written);
        ++ofAKind[calls.back()];
        written += calls.back() == "write" && result > 0 ? static_cast<std::size_t>(result) : 0;
        if (std::regex_search(line,
                              std::regex("^rt_sigaction\\(SIG(INT|TERM|HUP), \\{sa_handler=0x"))) {
            start = calls.size();
        }
        if (line.rfind("read(0,", 0) == 0 && result == 0) {
            inputEnd = std::min(inputEnd, calls.size() - 1);
        }
    }
    std::string wire = wireOf(input);
    std::map<std::string, std::size_t> seen;
    std::vector<StopRequestRow> rows;
    for (std::size_t at = 0; at < calls.size(); ++at) {
        std::size_t when = ++seen[calls[at]], count = ofAKind[calls[at]];
        if (at < start || ((when - 1) % (count / kMostOfAKind + 1) != 0 && when != count)) {
            continue;
        }
        // The line that the last byte written, or this write's first, is of.
        long long last = static_cast<long long>(wireBefore[at]) - (calls[at] == "write" ? 0 : 1);
        std::string sent =
            inputEnd < at ? wire  // the input had ended: nothing changes
            : last < 0    ? ""
                          : wire.substr(0, wire.find('\n', static_cast<std::size_t>(last)) + 1);
        long lines = std::count(sent.begin(), sent.end(), '\n');
        rows.push_back({input, calls[at] + ":signal=SIGINT:when=" + std::to_string(when), sent,
                        inputEnd < at ? 0 : 130,
                        inputEnd < at ? ""
                        : lines == 0
                            ? "nothing was sent: the same input can be sent again"
                            : std::to_string(lines) + (lines == 1 ? " line" : " lines") +
                                  " sent: send again from line " + std::to_string(lines + 1),
                        "line-transmitter: interrupted by SIGINT (the converter was drained and "
                        "closed); "});
    }
    return rows;
}

// Requests at the second and the fourth write of a 5000-character line.
inline StopRequestRow twoRequestsInALongLine(bool onATerminal)
{
    std::string line(5000, 'q');
    return {line + "\nnever\n",
            "write:signal=SIGINT:when=2+2",
            line.substr(0, (onATerminal ? 2 : 4) * 999),
            130,
            "0 lines handed over, 0 surely sent, part of line 1 went out: send again from line 1",
            "line-transmitter: interrupted by SIGINT, then SIGINT (stopped at once"};
}

inline bool straceIsInstalled()
{
    return std::system("command -v strace > /dev/null") == 0;
}

// Records each input's run, then runs and checks each row. run(words,
// input) runs the program after the words with that input, its wire in
// the result's output.
template <typename Run>
void sweepStopRequests(const std::string& where, const std::string& recordingPath, bool onATerminal,
                       Run run)
{
    std::vector<StopRequestRow> rows = {twoRequestsInALongLine(onATerminal)};
    for (const std::string& input : sweptInputs(onATerminal)) {
        ProgramRun recorded = run({"strace", "-qq", "-o", recordingPath}, input);
        ASSERT_TRUE(recorded.exitStatus == 0 && recorded.output == wireOf(input))
            << where << ": the run recorded failed: " << recorded.errors;
        std::vector<StopRequestRow> more = requestAtEveryCall(input, readFile(recordingPath));
        ASSERT_GT(more.size(), 10u) << where << ": the recording holds too few calls";
        rows.insert(rows.end(), more.begin(), more.end());
    }
    for (const StopRequestRow& row : rows) {
        std::string kind = row.inject.substr(0, row.inject.find(':'));
        ProgramRun result = run({"strace", "-qq", "-o", "/dev/null", "-e", "trace=" + kind, "-e",
                                 "inject=" + row.inject},
                                row.input);
        std::string what = where + ", " + row.inject + ", input of " +
                           std::to_string(row.input.size()) + " bytes: " + result.errors;
        EXPECT_EQ(result.exitStatus, row.exitStatus) << what;
        EXPECT_TRUE(result.output == row.wire)
            << what << result.output.size() << " bytes out, not " << row.wire.size();
        if (row.resendWords.empty()) {
            EXPECT_EQ(result.errors, "") << what;
        } else {
            EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << what;
            EXPECT_EQ(result.errors.rfind(row.messageStart, 0), 0u) << what;
            EXPECT_NE(result.errors.find(row.resendWords), std::string::npos) << what;
        }
    }
}

#endif
