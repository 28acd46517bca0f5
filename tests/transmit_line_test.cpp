// The line sender against a recording driver. Each row is one case: the
// input, what the input and the driver do on the way, the writes the
// driver must see, and how the run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "recording_driver.h"
#include "row_name.h"
#include "stop_requests.h"
#include "transmit_line.h"

namespace {

using namespace std::string_literals;
using Writes = std::vector<std::string>;

// A line of `length` letters, a to z over and over.
std::string letters(std::size_t length)
{
    std::string line;
    for (std::size_t i = 0; i < length; ++i) {
        line += static_cast<char>('a' + i % 26);
    }
    return line;
}

// The bytes split into writes of the sizes given, the rest in a last one.
Writes split(const std::string& bytes, std::vector<std::size_t> sizes)
{
    Writes writes;
    std::size_t at = 0;
    for (std::size_t size : sizes) {
        writes.push_back(bytes.substr(at, size));
        at += size;
    }
    if (at < bytes.size()) {
        writes.push_back(bytes.substr(at));
    }
    return writes;
}

// What a sender asks of a driver that takes `cap` bytes a write: each
// line's rest, again and again.
Writes askedOfACappedDriver(const std::vector<std::string>& lines, std::size_t cap)
{
    Writes writes;
    for (const std::string& line : lines) {
        for (std::size_t at = 0; at < line.size(); at += cap) {
            writes.push_back(line.substr(at));
        }
    }
    return writes;
}

std::string with(std::string line, std::size_t at, char byte)
{
    line[at] = byte;
    return line;
}

// Standard input as the row has it: its bytes, a read at `interruptAt` cut
// short by a signal (EINTR, once, as `requestsThen` stop requests come in),
// and a read error (EIO) from `failAt` on.
struct Input {
    std::string bytes;
    std::size_t interruptAt = std::string::npos;
    int requestsThen = 1;
    std::size_t failAt = std::string::npos;
    std::size_t taken = 0;  // how far it has been read
};

Input input;

ssize_t readInput(void*, char* buffer, std::size_t size)
{
    std::size_t end = std::min(input.bytes.size(), input.taken + size);
    for (std::size_t event : {input.interruptAt, input.failAt}) {
        if (event >= input.taken && event < end) {
            end = event;
        }
    }
    if (end == input.taken && input.taken == input.failAt) {
        errno = EIO;
        return -1;
    }
    if (end == input.taken && input.taken == input.interruptAt) {
        input.interruptAt = std::string::npos;
        deliverStopRequests(input.requestsThen);
        errno = EINTR;
        return -1;
    }
    input.bytes.copy(buffer, end - input.taken, input.taken);
    std::size_t count = end - input.taken;
    input.taken = end;
    return static_cast<ssize_t>(count);
}

// What happens on the way, beyond a plain run, and what the row expects of
// it beyond the writes. A write that takes nothing ends the run stalled; a
// write that fails ends it with its status; a read error with EIO.
struct OnTheWay {
    std::size_t interruptAt = std::string::npos;  // a read there cut short by a signal, once,
    int requestsThen = 1;                         // ...as that many stop requests come in
    std::size_t failAt = std::string::npos;       // reads fail from there on
    int requestsBefore = 0;                       // before the first line: nothing is read
    RecordingDriver driver = {};                  // its faults
    unsigned char refusedByte = 0;                // the byte above 0x7F that stops the run,
    unsigned long refusedColumn = 0;              // ...at this column
    uint64_t bytesHandedOver = ~0ull;             // ~0: what the driver accepted
};

struct Case {
    const char* name;
    std::string bytes;
    Writes writes;          // what the driver is asked to write, in order
    int linesAnsweredGoOn;  // calls that answered true before the one that stopped
    OnTheWay way;
};

Case row(const char* name, std::string bytes, Writes writes, int linesAnsweredGoOn,
         OnTheWay way = {})
{
    return Case{name, std::move(bytes), std::move(writes), linesAnsweredGoOn, way};
}

const std::string k999 = letters(999);
const std::string k2500 = letters(2500);

std::string allSevenBitBytesButNulAndLineFeed()
{
    std::string line;
    for (int byte = 1; byte < 128; ++byte) {
        if (byte != '\n') {
            line += static_cast<char>(byte);
        }
    }
    return line;
}

const Case kCases[] = {
    row("each line with a line feed, in one write", "ABC\n\nxyz\n", {"ABC\n", "\n", "xyz\n"}, 3),
    row("every 7-bit byte but NUL and line feed unchanged (ESC stops)",
        allSevenBitBytesButNulAndLineFeed() + "\n", {allSevenBitBytesButNulAndLineFeed() + "\n"},
        0),
    row("a carriage return before the line feed is kept", "AB\r\n", {"AB\r\n"}, 1),
    row("a line with ESC is sent and stops",
        "A\x1b"
        "B\nnever\n",
        {"A\x1b"
         "B\n"},
        0),
    row("several ESC stop as one", "\x1b\x1b\x1b\nnever\n", {"\x1b\x1b\x1b\n"}, 0),
    row("nothing from the first NUL on; an ESC behind it does not stop",
        "AB\0C\x1b"
        "D\nnext\n"s,
        {"AB\n", "next\n"}, 2),
    row("a NUL first sends the line feed alone", "\0\x1b\n"s, {"\n"}, 1),
    row("an ESC before a NUL still stops", "\x1b\0rest\n"s, {"\x1b\n"}, 0),
    row("997 characters in one write", letters(997) + "\nnext\n", {letters(997) + "\n", "next\n"},
        2),
    row("998 characters in one write", letters(998) + "\nnext\n", {letters(998) + "\n", "next\n"},
        2),
    row("999 characters: the line feed takes the last place", k999 + "\nnext\n",
        {k999 + "\n", "next\n"}, 2),
    row("1000 characters in two pieces", letters(1000) + "\nnext\n",
        split(letters(1000) + "\nnext\n", {999, 2}), 2),
    row("1998 characters", letters(1998) + "\nnext\n",
        split(letters(1998) + "\nnext\n", {999, 1000}), 2),
    row("1999 characters", letters(1999) + "\nnext\n",
        split(letters(1999) + "\nnext\n", {999, 999, 2}), 2),
    row("5000 characters", letters(5000) + "\nnext\n",
        split(letters(5000) + "\nnext\n", {999, 999, 999, 999, 999, 6}), 2),
    row("ESC first in a long line", with(k2500, 0, '\x1b') + "\nnever\n",
        split(with(k2500, 0, '\x1b') + "\n", {999, 999}), 0),
    row("ESC at the first piece's end", with(k2500, 998, '\x1b') + "\nnever\n",
        split(with(k2500, 998, '\x1b') + "\n", {999, 999}), 0),
    row("ESC at the second piece's start", with(k2500, 999, '\x1b') + "\nnever\n",
        split(with(k2500, 999, '\x1b') + "\n", {999, 999}), 0),
    row("ESC in the last piece", with(k2500, 2499, '\x1b') + "\nnever\n",
        split(with(k2500, 2499, '\x1b') + "\n", {999, 999}), 0),
    row("a NUL in a long line ends what goes out; the line is consumed",
        with(with(k2500, 1500, '\0'), 2000, '\x1b') + "\nnext\n",
        {k2500.substr(0, 999), k2500.substr(999, 501), "\n", "next\n"}, 2),
    row("whole pieces behind a NUL send nothing, and are no stall",
        with(letters(3500), 100, '\0') + "\nnext\n", {letters(100), "\n", "next\n"}, 2),
    row("end of input before a line sends nothing", "", {}, 0),
    row("a last line without its line feed is sent with one", "one\ntwo", {"one\n", "two\n"}, 2),
    row("a last line of 999 without its line feed", k999, {k999 + "\n"}, 1),
    row("a last line of 1500 without its line feed", letters(1500),
        split(letters(1500) + "\n", {999}), 1),

    // Bytes above 0x7F: the piece that holds one is not sent.
    row("0x80 first: nothing goes out",
        "\x80"
        "AB\nnext\n",
        {}, 0, {.refusedByte = 0x80, .refusedColumn = 1}),
    row("0x8A, a line feed on the wire, in the middle",
        "ok\nA\x8A"
        "B\nnext\n",
        {"ok\n"}, 1, {.refusedByte = 0x8A, .refusedColumn = 2}),
    row("0x9B, an ESC on the wire, at the end", "AB\x9B\nnext\n", {}, 0,
        {.refusedByte = 0x9B, .refusedColumn = 3}),
    row("0xFF in the second piece: the first went out", with(k2500, 1200, '\xFF') + "\n",
        {k2500.substr(0, 999)}, 0, {.refusedByte = 0xFF, .refusedColumn = 1201}),
    row("0xFF at the second piece's start", with(k2500, 999, '\xFF') + "\n", {k2500.substr(0, 999)},
        0, {.refusedByte = 0xFF, .refusedColumn = 1000}),
    row("a byte above 0x7F behind a NUL never goes out, so it is no fault", "AB\0\xFF\nnext\n"s,
        {"AB\n", "next\n"}, 2),
    row("UTF-8: the line is refused at its first byte", "caf\xC3\xA9\n", {}, 0,
        {.refusedByte = 0xC3, .refusedColumn = 4}),

    // Reads cut short, and read errors.
    row("a read cut short by a signal mid-line, with no stop request, goes on", "AB\nCDEF\n",
        {"AB\n", "CDEF\n"}, 2, {.interruptAt = 5, .requestsThen = 0}),
    row("a stop request mid-line before any of it went out: the line is given up",
        "AB\nCDEF\nnever\n", {"AB\n"}, 1, {.interruptAt = 5, .requestsThen = 1}),
    row("a stop request while the rest of a long line is awaited: it is finished",
        k2500 + "\nnever\n", split(k2500 + "\n", {999, 999}), 1,
        {.interruptAt = 1500, .requestsThen = 1}),
    row("a second stop request there: what went out is all", k2500 + "\nnever\n",
        {k2500.substr(0, 999)}, 0, {.interruptAt = 1500, .requestsThen = 2}),
    row("a read error ends the run with its reason", "AB\nCD", {"AB\n"}, 1, {.failAt = 4}),
    row("a read error right after a full piece sends no line feed", "ok\n" + k999, {"ok\n"}, 1,
        {.failAt = 3 + 999}),
    row("a read error after a piece went out sends no line feed", "ok\n" + letters(1998),
        {"ok\n", letters(999)}, 1, {.failAt = 3 + 1998}),
    row("after a stop request no line is read", "never\n", {}, 0, {.requestsBefore = 1}),

    // The driver.
    row("a failed write stops at once with its status", "one\ntwo\nthree\n", {"one\n", "two\n"}, 1,
        {.driver = {.failingWrite = 2, .failingStatus = FT_DEVICE_NOT_FOUND}}),
    row("a failed write inside a long line sends no more of it", k2500 + "\n",
        {k2500.substr(0, 999), k2500.substr(999, 999)}, 0,
        {.driver = {.failingWrite = 2}, .bytesHandedOver = 999}),
    row("short writes are continued with the rest", "0123456789\n" + letters(10) + "\nlast\x1b\n",
        askedOfACappedDriver({"0123456789\n", letters(10) + "\n", "last\x1b\n"}, 3), 2,
        {.driver = {.acceptAtMost = 3}}),
    row("a write that takes nothing is a stall", "stuck\nnever\n", {"stuck\n"}, 0,
        {.driver = {.stalledWrite = 1}, .bytesHandedOver = 0}),
    row("a failing write's share is counted", "ab\n" + letters(1500) + "\nnever\n",
        {"ab\n", letters(999), letters(999).substr(600), letters(1500).substr(999) + "\n"}, 1,
        {.driver = {.failingWrite = 4, .acceptAtMost = 600}, .bytesHandedOver = 3 + 600 + 399}),
    row("the bytes a failing write took are counted", "ab\n" + letters(500) + "\nnever\n",
        {"ab\n", letters(500) + "\n"}, 1,
        {.driver = {.failingWrite = 2, .failingTakes = 120}, .bytesHandedOver = 3 + 120}),
    row("a stop request during a long line's write: the line is finished", k2500 + "\nnever\n",
        split(k2500 + "\n", {999, 999}), 1, {.driver = {.signalAtWrite = 2, .signalsThen = 1}}),
    row("a write that takes nothing is a stall, a first stop request or not", k2500 + "\nnever\n",
        {k2500.substr(0, 999), k2500.substr(999, 999)}, 0,
        {.driver = {.stalledWrite = 2, .signalAtWrite = 2, .signalsThen = 1},
         .bytesHandedOver = 999}),
    row("a second stop request stops within the line", k2500 + "\nnever\n", {k2500.substr(0, 999)},
        0, {.driver = {.signalAtWrite = 1, .signalsThen = 2}}),
    row("a second stop request during a short write: not the rest of it", k2500 + "\nnever\n",
        {k2500.substr(0, 999)}, 0,
        {.driver = {.acceptAtMost = 500, .signalAtWrite = 1, .signalsThen = 2}}),
    row("after a second stop request nothing more of the line is read",
        with(k2500, 1200, '\xFF') + "\n", {k2500.substr(0, 999)}, 0,
        {.driver = {.signalAtWrite = 1, .signalsThen = 2}}),
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

class LineSender : public ::testing::TestWithParam<Case> {};

TEST_P(LineSender, SendsAsTheRowSays)
{
    const Case& c = GetParam();
    const OnTheWay& way = c.way;
    watchStopRequests();
    RecordingDriver& driver = recordingDriver();
    driver = way.driver;
    input = Input{c.bytes, way.interruptAt, way.requestsThen, way.failAt, 0};
    cookie_io_functions_t calls = {};
    calls.read = readInput;
    std::FILE* realInput = stdin;
    stdin = fopencookie(nullptr, "r", calls);
    ASSERT_NE(stdin, nullptr);
    deliverStopRequests(way.requestsBefore);

    TransmitProgress progress = {};
    int answeredGoOn = 0;
    while (transmitLine(recordingHandle(), &progress)) {
        ++answeredGoOn;
    }
    std::fclose(stdin);
    stdin = realInput;

    EXPECT_EQ(driver.writes, c.writes);
    EXPECT_EQ(answeredGoOn, c.linesAnsweredGoOn);
    EXPECT_EQ(progress.writeStatus,
              way.driver.failingWrite != 0 ? way.driver.failingStatus : FT_STATUS{FT_OK});
    EXPECT_EQ(progress.stalled, way.driver.stalledWrite != 0);
    EXPECT_EQ(progress.readError, way.failAt != std::string::npos ? EIO : 0);
    EXPECT_EQ(progress.refusedByte, way.refusedByte);
    EXPECT_EQ(progress.refusedColumn, way.refusedColumn);
    std::size_t lineFeeds = 0;
    for (char byte : driver.wire) {
        lineFeeds += byte == '\n';
    }
    EXPECT_EQ(progress.linesHandedOver, lineFeeds);
    EXPECT_EQ(progress.bytesHandedOver,
              way.bytesHandedOver != ~0ull ? way.bytesHandedOver : driver.wire.size());
    if (way.requestsBefore > 0) {
        EXPECT_EQ(input.taken, 0u) << "no further line is read";
    }
}

std::string nameOfRow(const ::testing::TestParamInfo<Case>& info)
{
    return rowName(info.index, info.param.name);
}

INSTANTIATE_TEST_SUITE_P(Rows, LineSender, ::testing::ValuesIn(kCases), nameOfRow);

}  // namespace
