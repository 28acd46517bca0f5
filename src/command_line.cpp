#include "command_line.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "exit_status.h"
#include "messages.h"

#ifndef LINE_TRANSMITTER_VERSION
#define LINE_TRANSMITTER_VERSION "unreleased"
#endif

namespace {

const char kUsage[] =
    "Usage: line-transmitter < FILE, or COMMAND | line-transmitter\n"
    "Sends each line of standard input, then a line feed, out of FTDI converter 0 at 19200 "
    "baud, 7 data bits, even parity, 1 stop bit; the run ends after a line holding ESC, or "
    "at the end of input. Lines hold 7-bit characters only.\n"
    "  -h, --help     show this and exit\n"
    "  -V, --version  show the version and exit\n"
    "See line-transmitter(1) for the exit statuses and messages.\n";
const char kVersion[] = "line-transmitter " LINE_TRANSMITTER_VERSION
                        "\n"
                        "Copyright (c) 2026 the line-transmitter authors; MIT licence: "
                        "there is NO WARRANTY.\n";

bool hasOption(int argc, char** argv, const char* shortForm, const char* longForm)
{
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], shortForm) == 0 || strcmp(argv[i], longForm) == 0) {
            return true;
        }
    }
    return false;
}

// The text, on standard output; the exit status.
int show(const char* text, const char* what)
{
    errno = 0;
    if (fputs(text, stdout) < 0 || fflush(stdout) != 0) {
        char failed[80];
        snprintf(failed, sizeof failed, kCannotWriteOutput, what);
        report(failed, errno != 0 ? strerror(errno) : "write error", "", "");
        return kNothingSent;
    }
    return kAllSent;
}

// An ignored argument, on one line of standard error: every byte outside
// printable ASCII as an escape, so that none can split the line or drive
// the terminal. Gathered, so that a line of usual length is one write.
void showIgnored(const char* argument)
{
    const char* field = strstr(kIgnoringArgument, "%s");
    char line[512];
    int used = snprintf(line, sizeof line, "%s%.*s", kMessagePrefix,
                        static_cast<int>(field - kIgnoringArgument), kIgnoringArgument);
    for (const char* at = argument; *at != '\0'; ++at) {
        if (used > static_cast<int>(sizeof line) - 5) {
            fwrite(line, 1, static_cast<size_t>(used), stderr);
            used = 0;
        }
        unsigned char byte = static_cast<unsigned char>(*at);
        const char* format = byte == '\n'                 ? "\\n"
                             : byte == '\r'               ? "\\r"
                             : byte == '\t'               ? "\\t"
                             : byte < 0x20 || byte > 0x7E ? "\\x%02x"
                                                          : "%c";
        used += snprintf(line + used, sizeof line - static_cast<size_t>(used), format, byte);
    }
    fprintf(stderr, "%.*s%s\n", used, line, field + 2);
}

}  // namespace

int answerCommandLine(int argc, char** argv)
{
    if (hasOption(argc, argv, "-h", "--help")) {
        return show(kUsage, "help");
    }
    if (hasOption(argc, argv, "-V", "--version")) {
        return show(kVersion, "version");
    }
    for (int i = 1; i < argc; ++i) {
        showIgnored(argv[i]);
    }
    return -1;
}
