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

// Adds text to the line gathered in `line`, writing out what it holds first
// when it is full: one write for a line of usual length.
void put(char (&line)[512], size_t* used, const char* text, size_t count)
{
    if (*used + count > sizeof line) {
        fwrite(line, 1, *used, stderr);
        *used = 0;
    }
    memcpy(line + *used, text, count);
    *used += count;
}

// An ignored argument, on one line of standard error: every byte outside
// printable ASCII as an escape, so that none can split the line or drive
// the terminal.
void showIgnored(const char* argument)
{
    char line[512];
    size_t used = 0;
    const char* field = strstr(kIgnoringArgument, "%s");
    put(line, &used, kMessagePrefix, strlen(kMessagePrefix));
    put(line, &used, kIgnoringArgument, static_cast<size_t>(field - kIgnoringArgument));
    for (const char* at = argument; *at != '\0'; ++at) {
        unsigned char byte = static_cast<unsigned char>(*at);
        char shown[5] = {*at, '\0'};
        if (byte == '\n' || byte == '\r' || byte == '\t') {
            snprintf(shown, sizeof shown, "\\%c", byte == '\n' ? 'n' : byte == '\r' ? 'r' : 't');
        } else if (byte < 0x20 || byte > 0x7E) {
            snprintf(shown, sizeof shown, "\\x%02x", byte);
        }
        put(line, &used, shown, strlen(shown));
    }
    put(line, &used, field + 2, strlen(field + 2));
    put(line, &used, "\n", 1);
    fwrite(line, 1, used, stderr);
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
