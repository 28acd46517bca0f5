// The command line: lines come from standard input, so only --help and
// --version are read; any other argument is named as ignored.
#ifndef LINE_TRANSMITTER_COMMAND_LINE_H
#define LINE_TRANSMITTER_COMMAND_LINE_H

// Prints the usage or the version where asked, and answers the exit
// status: kAllSent, or kNothingSent when standard output could not take it.
// -1 when the run goes on; each ignored argument has then had one line on
// standard error, every byte outside printable ASCII escaped (\n, \xHH).
int answerCommandLine(int argc, char** argv);

#endif
