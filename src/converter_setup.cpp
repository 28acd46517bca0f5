#include "converter_setup.h"

#include "exit_status.h"
#include "messages.h"

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
    return kAllSent;
}
