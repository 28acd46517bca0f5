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
const char kVersion[] =
    "line-transmitter " LINE_TRANSMITTER_VERSION "\n"
    "Copyright (c) 2026 the line-transmitter authors; MIT licence: "
    "there is NO WARRANTY.\n";

bool isOption(const char* argument, const char* shortForm, const char* longForm)
{
    return strcmp(argument, shortForm) == 0 || strcmp(argument, longForm) == 0;
}

bool hasOption(int argc, char** argv, const char* shortForm, const char* longForm)
{
    for (int i = 1; i < argc; ++i) {
        if (isOption(argv[i], shortForm, longForm)) {
            return true;
        }
    }
    return false;
}

// The text, on standard output; 0, or 1 when it could not be written.
int show(const char* text, const char* what)
{
    errno = 0;
    if (fputs(text, stdout) < 0 || fflush(stdout) != 0) {
        char failed[80];
        snprintf(failed, sizeof failed, kCannotWriteOutput, what);
        fprintf(stderr, "line-transmitter: %s (%s)\n", failed,
                errno != 0 ? strerror(errno) : "write error");
        return kNothingSent;
    }
    return kAllSent;
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
        fputs("line-transmitter: ", stderr);
        fprintf(stderr, kIgnoringArgument, argv[i]);
        fputc('\n', stderr);
    }
    return -1;
}
