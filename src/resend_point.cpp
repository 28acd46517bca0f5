#include "resend_point.h"

#include <stdio.h>
#include <string.h>

namespace {

// Where the lines handed over within the last `bound` bytes ended: one bit
// for each byte offset, at its place modulo the bound, set where a line
// ended. An offset a bound old has surely left, so its bit serves the
// offset a bound later; only as many bits as the bound are ever touched.
const uint64_t kBitsPerWord = 64;
uint64_t lineEnds[(kLargestBoundFollowed + kBitsPerWord - 1) / kBitsPerWord];
uint64_t bound = 0;
uint64_t lastLineEnd = 0;  // the newest end, also where no bits are kept
bool boundTooLarge = false;

// The places from `from` up to the wrap at the bound and to the end of
// their word, at most count of them: the word and its bits.
struct Run {
    uint64_t* word;
    uint64_t bits;
    uint64_t length;
};

Run runAt(uint64_t from, uint64_t count)
{
    uint64_t place = from % bound;
    uint64_t offsetInWord = place % kBitsPerWord;
    uint64_t length = count;
    if (length > bound - place) {
        length = bound - place;
    }
    if (length > kBitsPerWord - offsetInWord) {
        length = kBitsPerWord - offsetInWord;
    }
    uint64_t bits = length == kBitsPerWord ? ~0ull : ((1ull << length) - 1) << offsetInWord;
    return Run{&lineEnds[place / kBitsPerWord], bits, length};
}

// Clears count places from `from`.
void clearPlaces(uint64_t from, uint64_t count)
{
    for (Run run; count > 0; from += run.length, count -= run.length) {
        run = runAt(from, count);
        *run.word &= ~run.bits;
    }
}

// How many of count places from `from` are set.
uint64_t placesSet(uint64_t from, uint64_t count)
{
    uint64_t found = 0;
    for (Run run; count > 0; from += run.length, count -= run.length) {
        run = runAt(from, count);
        found += static_cast<uint64_t>(__builtin_popcountll(*run.word & run.bits));
    }
    return found;
}

const char* lineOrLines(unsigned long count)
{
    return count == 1 ? "line" : "lines";
}

}  // namespace

void startResendRecord(uint64_t holdsAtMost)
{
    bound = holdsAtMost;
    boundTooLarge = holdsAtMost > kLargestBoundFollowed;
    lastLineEnd = 0;
    if (bound > 0 && !boundTooLarge) {
        // At most the record's size, which fits any size_t.
        size_t words = static_cast<size_t>((bound + kBitsPerWord - 1) / kBitsPerWord);
        memset(lineEnds, 0, words * sizeof lineEnds[0]);
    }
}

void recordLineEnd(uint64_t endOffset)
{
    uint64_t previous = lastLineEnd;
    lastLineEnd = endOffset;
    if (bound == 0 || boundTooLarge) {
        return;
    }
    // No line ended after the last one before this: their places may hold
    // ends a bound old.
    uint64_t since = endOffset - previous;
    clearPlaces(previous + 1, since < bound ? since : bound);
    uint64_t place = endOffset % bound;
    lineEnds[place / kBitsPerWord] |= 1ull << (place % kBitsPerWord);
}

unsigned long linesSurelySent(unsigned long linesHandedOver, uint64_t bytesHandedOver)
{
    if (boundTooLarge) {
        return 0;  // beyond what the record follows: claim nothing
    }
    if (bound == 0) {
        return linesHandedOver;
    }
    // A line that ended within the last bound bytes before the failure may
    // have been lost: those past bytesHandedOver - bound, up to the last end.
    uint64_t surelyLeftUpTo = bytesHandedOver > bound ? bytesHandedOver - bound : 0;
    if (lastLineEnd <= surelyLeftUpTo) {
        return linesHandedOver;
    }
    uint64_t mayBeLost = placesSet(surelyLeftUpTo + 1, lastLineEnd - surelyLeftUpTo);
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
        snprintf(twice, sizeof twice, " (lines %lu to %lu may arrive twice)", sent + 1, handedOver);
    }
    snprintf(text, size, "%lu %s handed over, %lu surely sent%s: send again from line %lu%s",
             handedOver, lineOrLines(handedOver), sent, cut, sent + 1, twice);
}
