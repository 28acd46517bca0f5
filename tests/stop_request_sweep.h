// A stop request placed exactly at each write of a run, by strace's signal
// injection (the signal is delivered as the write begins): rows that every
// driver must keep, whatever the input and whatever the write meets. The
// n-th write of a run of short lines is line n's: that line is finished, no
// further one is read, and the message says to send again from line n + 1,
// also when the input ends right after it. Requests at the second and the
// fourth write of a long line cut it short at the fourth. A terminal's
// write (n_tty_write) that begins with a signal pending takes nothing, and
// the driver writes again: there the second request lands on the second
// piece's write again, and the line ends after two pieces.
#ifndef LINE_TRANSMITTER_TESTS_STOP_REQUEST_SWEEP_H
#define LINE_TRANSMITTER_TESTS_STOP_REQUEST_SWEEP_H

#include <cstdlib>
#include <string>
#include <vector>

struct StopRequestRow {
    std::string input;
    std::string inject;        // for strace's -e inject=
    std::string wire;          // what arrives
    std::string wireOfATerminal;
    int exitStatus;
    std::string messageStart;  // the one message begins so
    std::string resendWords;   // and says where to send again from
};

inline std::vector<StopRequestRow> stopRequestSweep()
{
    const int kLines = 6;
    std::vector<std::string> lines;
    std::string input;
    for (int i = 1; i <= kLines; ++i) {
        lines.push_back("line " + std::to_string(i) + "\n");
        input += lines.back();
    }
    std::vector<StopRequestRow> rows;
    std::string wire;
    for (int n = 1; n <= kLines; ++n) {
        wire += lines[static_cast<std::size_t>(n - 1)];
        rows.push_back({input, "write:signal=SIGINT:when=" + std::to_string(n), wire, wire, 130,
                        "line-transmitter: interrupted by SIGINT (the converter was drained and "
                        "closed); ",
                        std::to_string(n) + (n == 1 ? " line" : " lines") +
                            " sent: send again from line " + std::to_string(n + 1)});
    }
    std::string longLine(5000, 'q');
    rows.push_back({longLine + "\nnever\n", "write:signal=SIGINT:when=2+2",
                    longLine.substr(0, 4 * 999), longLine.substr(0, 2 * 999), 130,
                    "line-transmitter: interrupted by SIGINT, then SIGINT (stopped at once",
                    "0 lines handed over, 0 surely sent, part of line 1 went out: send again "
                    "from line 1"});
    return rows;
}

// The words that run a program with the row's request injected.
inline std::vector<std::string> underStrace(const StopRequestRow& row)
{
    return {"strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=write",
            "-e", "inject=" + row.inject};
}

inline bool straceIsInstalled()
{
    return std::system("command -v strace > /dev/null") == 0;
}

#endif
