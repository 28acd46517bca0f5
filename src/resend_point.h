// Where the user stands after a failure: which of the lines handed over
// surely left the converter, and the words "send again from line N".
//
// A write returns once the driver has taken the bytes, not once they have
// left: the driver and the converter may still hold up to the driver's
// bound. A line whose line feed was handed over at least that many bytes
// before the failure has surely left; a later one may have been lost.
#ifndef LINE_TRANSMITTER_RESEND_POINT_H
#define LINE_TRANSMITTER_RESEND_POINT_H

#include <stddef.h>
#include <stdint.h>

#include "ftd2xx.h"

// The most that the record can follow: enough for the largest bound that a
// converter on Linux can have, a page of the largest size that Linux has
// and the chip's buffers. A larger one is not followed: no line is then
// claimed as surely sent.
const uint64_t kLargestBoundFollowed = kLargestPageSize + 8192;

// A new record, for a converter that holds at most holdsAtMost bytes.
void startResendRecord(uint64_t holdsAtMost);

// A line's line feed was handed over, endOffset bytes in all by then.
void recordLineEnd(uint64_t endOffset);

// Of linesHandedOver lines, how many surely left by a failure after
// bytesHandedOver bytes.
unsigned long linesSurelySent(unsigned long linesHandedOver, uint64_t bytesHandedOver);

// The words for the message: "nothing was sent: ...", "7 lines sent: send
// again from line 8", or "5 lines handed over, 2 surely sent: send again
// from line 3 (lines 3 to 5 may arrive twice)". drained: the converter said
// that every byte handed over has left.
void describeResendPoint(char* text, size_t size, unsigned long linesHandedOver,
                         uint64_t bytesHandedOver, bool drained);

#endif
