#include "resend_point.h"

#include <stdio.h>

namespace {

// The ends of the lines handed over within the last `bound` bytes, oldest
// first, in a ring of `bound` places: every line takes at least one byte,
// so that many always suffice, and only that many are ever touched.
uint64_t recentLineEnds[kLargestBoundFollowed];
uint64_t bound = 0;
uint64_t recentCount = 0;
uint64_t oldest = 0;
uint64_t lastLineEnd = 0;  // the newest end, also where no ring is kept
bool boundTooLarge = false;

const char* lineOrLines(unsigned long count)
{
    return count == 1 ? "line" : "lines";
}

}  // namespace

void startResendRecord(uint64_t holdsAtMost)
{
    bound = holdsAtMost;
    boundTooLarge = holdsAtMost > kLargestBoundFollowed;
    recentCount = 0;
    oldest = 0;
    lastLineEnd = 0;
}

void recordLineEnd(uint64_t endOffset)
{
    lastLineEnd = endOffset;
    if (bound == 0 || boundTooLarge) {
        return;
    }
    // Lines that ended a bound before this one have left for good.
    while (recentCount > 0 && recentLineEnds[oldest] + bound <= endOffset) {
        oldest = (oldest + 1) % bound;
        --recentCount;
    }
    recentLineEnds[(oldest + recentCount) % bound] = endOffset;
    ++recentCount;
}

unsigned long linesSurelySent(unsigned long linesHandedOver, uint64_t bytesHandedOver)
{
    if (boundTooLarge) {
        return 0;  // beyond what the record follows: claim nothing
    }
    uint64_t mayBeLost = 0;
    for (uint64_t i = 0; i < recentCount; ++i) {
        mayBeLost += recentLineEnds[(oldest + i) % bound] + bound > bytesHandedOver;
    }
    return linesHandedOver - static_cast<unsigned long>(mayBeLost);
}

void describeResendPoint(char* text, size_t size, unsigned long linesHandedOver,
                         uint64_t bytesHandedOver, bool drained)
{
    if (bytesHandedOver == 0) {
        snprintf(text, size, "nothing was sent: the same input can be sent again");
        return;
    }
    unsigned long handedOver = linesHandedOver;
    unsigned long sent = drained ? handedOver : linesSurelySent(handedOver, bytesHandedOver);
    bool lineCut = bytesHandedOver != lastLineEnd;
    if (sent == handedOver && !lineCut) {
        snprintf(text, size, "%lu %s sent: send again from line %lu", sent, lineOrLines(sent),
                 sent + 1);
        return;
    }
    char cut[80] = "";
    if (lineCut) {
        snprintf(cut, sizeof cut, ", part of line %lu went out", handedOver + 1);
    }
    char twice[80] = "";
    if (handedOver == sent + 1) {
        snprintf(twice, sizeof twice, " (line %lu may arrive twice)", handedOver);
    } else if (handedOver > sent + 1) {
        snprintf(twice, sizeof twice, " (lines %lu to %lu may arrive twice)", sent + 1,
                 handedOver);
    }
    snprintf(text, size, "%lu %s handed over, %lu surely sent%s: send again from line %lu%s",
             handedOver, lineOrLines(handedOver), sent, cut, sent + 1, twice);
}
