// line-transmitter: sends each line of standard input, followed by a line
// feed, through converter 0 at 19200 baud, 7 data bits, even parity, 1 stop
// bit. A line that holds ESC is the last one sent. Silent unless something
// fails; then one message on standard error, after the converter is closed,
// and an exit status that says whether anything was sent (see the manual
// page).
#include <stdio.h>
#include <string.h>

#include "command_line.h"
#include "ftd2xx.h"
#include "messages.h"
#include "resend_point.h"
#include "stop_requests.h"
#include "transmit_line.h"

namespace {

const int kNothingSent = 1;  // exit status: safe to run the same input again
const int kPartlySent = 2;   // exit status: the message says where to resume

// Opens converter 0 and sets its line; 0, or the exit status of a failure.
int openAndSetUp(FT_HANDLE* ftHandle)
{
    char cause[300];
    FT_STATUS status = FT_Open(0, ftHandle);
    if (status != FT_OK) {
        ConverterFailure failure = lastConverterFailure();
        describeCause(cause, sizeof cause, status, failure);
        report(kCannotOpen, cause, "nothing was sent",
               adviceFor(failure, status == FT_DEVICE_NOT_OPENED
                                      ? "is another program using it, or may this user not "
                                        "open it?"
                                      : "is the converter plugged in, and its driver installed?"));
        return kNothingSent;
    }
    // A line at the wrong framing reaches the receiver as garbage, so
    // nothing is sent unless both settings took.
    const char* what = kCannotSetSpeed;
    status = FT_SetBaudRate(*ftHandle, 19200);
    if (status == FT_OK) {
        what = kCannotSetFraming;
        status = FT_SetDataCharacteristics(*ftHandle, FT_BITS_7, FT_STOP_BITS_1, FT_PARITY_EVEN);
    }
    if (status != FT_OK) {
        ConverterFailure failure = lastConverterFailure();
        describeCause(cause, sizeof cause, status, failure);
        FT_Close(*ftHandle);
        report(what, cause, "nothing was sent", adviceFor(failure, kCheckTheConverter));
        return kNothingSent;
    }
    return 0;
}

// Closes the converter, draining it, and then, only then, says what went
// wrong, if anything: the first failure is the one told. The exit status.
int closeAndReport(FT_HANDLE ftHandle, const TransmitProgress& progress)
{
    bool writeFailed = progress.writeStatus != FT_OK || progress.stalled;
    char writeCause[300];  // taken before the close's can replace it
    describeCause(writeCause, sizeof writeCause, progress.writeStatus, lastConverterFailure());
    if (progress.stalled) {
        snprintf(writeCause, sizeof writeCause, "the converter stopped taking bytes");
    }

    bool stopped = stopRequests() > 0;
    if (!stopped) {
        ignoreStopRequests();  // the last lines drain to their end
    } else if (stopRequests() >= 2) {
        keepStopRequestPendingForClose();  // and after a second request, not at all
    }
    FT_STATUS closeStatus = FT_Close(ftHandle);
    char closeCause[300];
    ConverterFailure closeFailure = lastConverterFailure();
    describeCause(closeCause, sizeof closeCause, closeStatus, closeFailure);
    if (!stopped) {
        heedStopRequests();
    }

    // After a failed write the converter never had the rest; a close that
    // says it drained cannot vouch for more than it took.
    bool drained = closeStatus == FT_OK && !writeFailed;
    char where[300];
    describeResendPoint(where, sizeof where, progress.linesHandedOver, progress.bytesHandedOver,
                        drained);
    int failed = progress.bytesHandedOver == 0 ? kNothingSent : kPartlySent;
    char what[200];
    char cause[400];
    if (writeFailed) {
        report(kSendingFailed, writeCause, where, kCheckTheConverter);
        return failed;
    }
    if (progress.refusedByte != 0) {
        char arrival[40];
        describeSevenBitArrival(arrival, sizeof arrival, progress.refusedByte);
        snprintf(what, sizeof what, kSevenBitsCannotCarry, progress.linesHandedOver + 1);
        snprintf(cause, sizeof cause, "column %lu: 0x%02X would arrive as %s",
                 progress.refusedColumn, progress.refusedByte, arrival);
        report(what, cause, where, kConvertToSevenBits);
        return failed;
    }
    if (stopped) {
        bool twice = stopRequests() >= 2;
        char signalNames[40];
        snprintf(signalNames, sizeof signalNames, "%s%s%s", stopSignalName(firstStopSignal()),
                 twice ? ", then " : "", twice ? stopSignalName(lastStopSignal()) : "");
        snprintf(what, sizeof what, kInterrupted, signalNames);
        snprintf(cause, sizeof cause, "%s%s%s", twice ? "stopped at once" : "",
                 twice ? (closeStatus == FT_OK ? "; " : ": ") : "",
                 closeStatus != FT_OK ? closeCause
                 : twice              ? "the converter was closed"
                                      : "the converter was drained and closed");
        report(what, cause, where, "");
        return 128 + firstStopSignal();
    }
    if (progress.readError != 0) {
        report(kReadingFailed, strerror(progress.readError), where,
               "check what feeds the program");
        return failed;
    }
    if (closeStatus != FT_OK) {
        report(kClosingFailed, closeCause, where,
               adviceFor(closeFailure, kCheckTheConverter));
        return failed;
    }
    return 0;
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
    if (setUpFailure != 0) {
        return setUpFailure;
    }
    printTerminalHint();
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
