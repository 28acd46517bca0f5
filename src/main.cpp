// line-transmitter: sends each line of standard input, followed by a line
// feed, through converter 0 at 19200 baud, 7 data bits, even parity, 1 stop
// bit. A line that holds ESC is the last one sent. Silent unless something
// fails; then one message on standard error, after the converter is closed,
// and an exit status that says whether anything was sent (see the manual
// page).
#include <stdio.h>
#include <string.h>

#include "command_line.h"
#include "converter_setup.h"
#include "exit_status.h"
#include "ftd2xx.h"
#include "messages.h"
#include "resend_point.h"
#include "stop_requests.h"
#include "transmit_line.h"

namespace {

// Closes the converter, draining it, and then, only then, says what went
// wrong, if anything: the first failure is the one told. The exit status.
int closeAndReport(FT_HANDLE ftHandle, const TransmitProgress& progress)
{
    bool writeFailed = progress.writeStatus != FT_OK || progress.stalled;
    char writeCause[300];  // taken before the close's can replace it
    describeCause(writeCause, sizeof writeCause, progress.writeStatus, lastConverterFailure());
    if (progress.stalled) {
        snprintf(writeCause, sizeof writeCause, "%s", kStoppedTakingBytes);
    }

    bool stopped = stopRequestEndedTheLines();
    FT_STATUS closeStatus = FT_Close(ftHandle);
    char closeCause[300];
    ConverterFailure closeFailure = lastConverterFailure();
    describeCause(closeCause, sizeof closeCause, closeStatus, closeFailure);

    // Every byte the converter took has left: it has no more to hold back.
    bool drained = closeStatus == FT_OK;
    char where[300];
    describeResendPoint(where, sizeof where, progress.linesHandedOver, progress.bytesHandedOver,
                        drained);
    int failed = progress.bytesHandedOver == 0 ? kNothingSent : kPartlySent;
    if (writeFailed) {
        report(kSendingFailed, writeCause, where, kCheckTheConverter);
        return failed;
    }
    if (progress.refusedByte != 0) {
        reportSevenBitRefusal(progress.linesHandedOver + 1, progress.refusedColumn,
                              progress.refusedByte, where);
        return failed;
    }
    if (stopped) {
        reportInterruption(stopRequestName(1), stopRequests() >= 2 ? stopRequestName(2) : nullptr,
                           closeStatus == FT_OK ? nullptr : closeCause, where);
        return kStoppedBySignal + firstStopSignal();
    }
    if (progress.readError != 0) {
        report(kReadingFailed, strerror(progress.readError), where, "check what feeds the program");
        return failed;
    }
    if (closeStatus != FT_OK) {
        report(kClosingFailed, closeCause, where, adviceFor(closeFailure, kCheckTheConverter));
        return failed;
    }
    return kAllSent;
}

}  // namespace

int main(int argc, char** argv)
{
    int answered = answerCommandLine(argc, argv);
    if (answered >= 0) {
        return answered;
    }
    if (!prepareStandardStreams()) {
        report(kInputClosed, "there is nothing to send", "nothing was sent",
               "give the program its lines on standard input");
        return kNothingSent;
    }
    watchStopRequests();
    FT_HANDLE ftHandle = nullptr;
    int setUpFailure = openAndSetUp(&ftHandle);
    if (setUpFailure != kAllSent) {
        return setUpFailure;
    }
    if (terminalHint() != nullptr) {
        notice(terminalHint());
    }
    startResendRecord(converterHoldsAtMost(ftHandle));

    TransmitProgress progress = {};
    bool goOn = true;
    while (goOn) {
        unsigned long linesBefore = progress.linesHandedOver;
        goOn = transmitLine(ftHandle, &progress);
        if (progress.linesHandedOver != linesBefore) {
            recordLineEnd(progress.bytesHandedOver);
        }
    }
    return closeAndReport(ftHandle, progress);
}
