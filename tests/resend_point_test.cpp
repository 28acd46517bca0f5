// Which lines surely left the converter at a failure, and the words that
// say where to send again from. Lines whose line feed went the driver's
// bound or more before the failure have surely left; the rows sit at the
// bound less one, the bound, and one more, for the bounds of 4, 16 and
// 64 KiB pages.
#include <gtest/gtest.h>

#include <string>

#include "resend_point.h"

namespace {

struct Record {
    uint64_t bound;
    unsigned long lines;  // handed over, each lineLength bytes with its line feed
    uint64_t lineLength;
    uint64_t failedAfter;  // bytes handed over at the failure
    unsigned long surelySent;
};

const uint64_t k4KiBPages = 4096 + 512 + 4096;
const uint64_t k16KiBPages = 16384 + 512 + 4096;
const uint64_t k64KiBPages = 65536 + 512 + 4096;

const Record kRecords[] = {
    // Line 1 ends at 1000; the failure comes that plus the bound, less one, ...
    {k4KiBPages, 9, 1000, 1000 + k4KiBPages - 1, 0},
    {k4KiBPages, 9, 1000, 1000 + k4KiBPages, 1},
    {k4KiBPages, 9, 1000, 1000 + k4KiBPages + 1, 1},
    {k16KiBPages, 21, 1000, 1000 + k16KiBPages - 1, 0},
    {k16KiBPages, 21, 1000, 1000 + k16KiBPages, 1},
    {k16KiBPages, 21, 1000, 1000 + k16KiBPages + 1, 1},
    {k64KiBPages, 70, 1000, 1000 + k64KiBPages - 1, 0},
    {k64KiBPages, 70, 1000, 1000 + k64KiBPages, 1},
    {k64KiBPages, 70, 1000, 1000 + k64KiBPages + 1, 1},
    // 16 KiB pages, a failure after 30 KB: lines 10 to 30 may be lost.
    {k16KiBPages, 30, 1000, 30000, 9},
    // Lines of one byte fill the record to its last place, and wrap.
    {k4KiBPages, 20000, 1, 20000, 20000 - k4KiBPages},
    {k64KiBPages, 200000, 1, 200000, 200000 - k64KiBPages},
    // A converter that holds nothing, and a bound beyond what is followed.
    {0, 5, 10, 50, 5},
    {kLargestBoundFollowed + 1, 5, 10, 50, 0},
};

class ResendPoint : public ::testing::TestWithParam<Record> {};

TEST_P(ResendPoint, CountsTheLinesThatSurelyLeft)
{
    const Record& r = GetParam();
    startResendRecord(r.bound);
    for (unsigned long line = 1; line <= r.lines; ++line) {
        recordLineEnd(line * r.lineLength);
    }
    EXPECT_EQ(linesSurelySent(r.lines, r.failedAfter), r.surelySent)
        << "bound " << r.bound << ", failure after " << r.failedAfter;
}

INSTANTIATE_TEST_SUITE_P(Rows, ResendPoint, ::testing::ValuesIn(kRecords));

struct Words {
    unsigned long lines;
    uint64_t lineLength;
    uint64_t failedAfter;
    bool drained;
    const char* words;
};

const Words kWords[] = {
    {0, 10, 0, false, "nothing was sent: the same input can be sent again"},
    {3, 10, 30, true, "3 lines sent: send again from line 4"},
    {1, 10, 10, true, "1 line sent: send again from line 2"},
    {1, 10, 10, false,
     "1 line handed over, 0 surely sent: send again from line 1 (line 1 may "
     "arrive twice)"},
    {3, 10, 30, false,
     "3 lines handed over, 0 surely sent: send again from line 1 (lines 1 to "
     "3 may arrive twice)"},
    {0, 10, 5, false,
     "0 lines handed over, 0 surely sent, part of line 1 went out: send again "
     "from line 1"},
    {2, 10, 25, true,
     "2 lines handed over, 2 surely sent, part of line 3 went out: send again "
     "from line 3"},
    {2000, 10, 20005, false,
     "2000 lines handed over, 1130 surely sent, part of line 2001 went "
     "out: send again from line 1131 (lines 1131 to 2000 may arrive "
     "twice)"},
};

class ResendWords : public ::testing::TestWithParam<Words> {};

TEST_P(ResendWords, SayWhereToSendAgainFrom)
{
    const Words& w = GetParam();
    startResendRecord(k4KiBPages);
    for (unsigned long line = 1; line <= w.lines; ++line) {
        recordLineEnd(line * w.lineLength);
    }
    char text[300];
    describeResendPoint(text, sizeof text, w.lines, w.failedAfter, w.drained);
    EXPECT_EQ(std::string(text), w.words);
}

INSTANTIATE_TEST_SUITE_P(Rows, ResendWords, ::testing::ValuesIn(kWords));

}  // namespace
