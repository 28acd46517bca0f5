// The line sender against a recording driver, its input from a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recording_driver.h"
#include "transmit_line.h"

namespace {

using namespace std::string_literals;
using Writes = std::vector<std::string>;

// The sender's input file, in a folder of this process's own that goes at
// exit: two runs at once never share it, and none leaves it behind.
struct InputFolder {
    std::string path;
    InputFolder()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "line-sender-test-XXXXXX").string();
        if (mkdtemp(&pattern[0]) != nullptr) {
            path = pattern;
        }
    }
    ~InputFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

std::string inputPath()
{
    static InputFolder folder;
    return folder.path + "/input";
}

class LineSender : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetRecordingDriver();
        interruptingSignals = 0;
    }

    // Makes standard input read exactly these bytes.
    void feed(const std::string& input)
    {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(input.data(), 1, input.size(), file), input.size());
        std::fclose(file);
        ASSERT_NE(std::freopen(path_.c_str(), "rb", stdin), nullptr);
    }

    bool send() { return transmitLine(recordingHandle(), &progress_); }

    // Runs the sender as the program's loop does; answers the lines it
    // reported as sent before it stopped.
    int sendAll()
    {
        int lines = 0;
        while (send()) {
            ++lines;
        }
        return lines;
    }

    const Writes& writes() const { return recordingDriver().writes; }
    const std::string& wire() const { return recordingDriver().wire; }

    TransmitProgress progress_ = {0, 0, FT_OK, false, 0};
    FT_STATUS& status_ = progress_.writeStatus;

private:
    std::string path_ = inputPath();
};

TEST_F(LineSender, SendsEachLineWithALineFeedInOneWrite)
{
    feed("ABC\n\nxyz\n");
    EXPECT_TRUE(send());
    EXPECT_TRUE(send());
    EXPECT_TRUE(send());
    EXPECT_EQ(writes(), (Writes{"ABC\n", "\n", "xyz\n"}));
    EXPECT_EQ(status_, FT_OK);
}

TEST_F(LineSender, PassesEveryByteButNulAndLineFeedUnchanged)
{
    std::string line;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte != '\n') {
            line += static_cast<char>(byte);
        }
    }
    feed(line + "\n");
    EXPECT_FALSE(send());  // the line holds ESC
    EXPECT_EQ(writes(), (Writes{line + "\n"}));
}

TEST_F(LineSender, KeepsACarriageReturnBeforeTheLineFeed)
{
    feed("AB\r\n");
    EXPECT_TRUE(send());
    EXPECT_EQ(writes(), (Writes{"AB\r\n"}));
}

TEST_F(LineSender, StopsAfterALineThatHoldsEscape)
{
    feed("A\x1b" "B\nnever\n");
    EXPECT_FALSE(send());
    EXPECT_EQ(writes(), (Writes{"A\x1b" "B\n"}));

    feed("\x1b\x1b\x1b\n");
    EXPECT_FALSE(send());
    EXPECT_EQ(writes().back(), "\x1b\x1b\x1b\n");
}

TEST_F(LineSender, SendsNothingFromALinesFirstNulOn)
{
    feed("AB\0C\x1b" "D\nnext\n"s);
    EXPECT_TRUE(send()) << "an ESC behind the NUL must not stop the run";
    EXPECT_TRUE(send());
    EXPECT_EQ(writes(), (Writes{"AB\n", "next\n"}));

    feed("\0\x1b\n"s);
    EXPECT_TRUE(send());
    EXPECT_EQ(writes().back(), "\n");
}

TEST_F(LineSender, EscapeBeforeANulStillStops)
{
    feed("\x1b\0rest\n"s);
    EXPECT_FALSE(send());
    EXPECT_EQ(writes(), (Writes{"\x1b\n"}));
}

TEST_F(LineSender, SendsLinesOfUpTo999CharactersInOneWrite)
{
    // The line feed lands on the buffer's last places.
    for (std::size_t length : {997u, 998u, 999u}) {
        resetRecordingDriver();
        std::string line(length, 'x');
        feed(line + "\nnext\n");
        EXPECT_TRUE(send()) << length;
        EXPECT_TRUE(send()) << length;
        EXPECT_EQ(writes(), (Writes{line + "\n", "next\n"})) << length;
    }
}

TEST_F(LineSender, SendsLongerLinesWholeIn999BytePieces)
{
    struct Case {
        std::size_t length;
        std::vector<std::size_t> writeSizes;
    };
    for (const Case& c : {Case{1000, {999, 2}}, Case{1998, {999, 1000}},
                          Case{1999, {999, 999, 2}}, Case{5000, {999, 999, 999, 999, 999, 6}}}) {
        resetRecordingDriver();
        std::string line;
        for (std::size_t i = 0; i < c.length; ++i) {
            line += static_cast<char>('a' + i % 26);
        }
        feed(line + "\nnext\n");
        EXPECT_TRUE(send()) << c.length;
        EXPECT_TRUE(send()) << c.length;
        std::vector<std::size_t> sizes;
        for (const std::string& write : writes()) {
            sizes.push_back(write.size());
        }
        std::vector<std::size_t> expected = c.writeSizes;
        expected.push_back(5);
        EXPECT_EQ(sizes, expected) << c.length;
        EXPECT_EQ(wire(), line + "\nnext\n") << c.length;
    }
}

TEST_F(LineSender, EscapeAnywhereInALongLineStopsAfterIt)
{
    // In the first piece, at its end, at the second's start, and later.
    for (std::size_t at : {0u, 998u, 999u, 1500u, 2100u, 2499u}) {
        resetRecordingDriver();
        std::string line(2500, 'x');
        line[at] = '\x1b';
        feed(line + "\nnever\n");
        EXPECT_FALSE(send()) << at;
        EXPECT_EQ(wire(), line + "\n") << at;
    }
}

TEST_F(LineSender, ANulInALongLineEndsWhatGoesOutButTheLineIsConsumed)
{
    std::string line(2500, 'x');
    line[1500] = '\0';
    line[2000] = '\x1b';  // behind the NUL: no stop
    feed(line + "\nnext\n");
    EXPECT_TRUE(send());
    EXPECT_TRUE(send());
    EXPECT_EQ(wire(), std::string(1500, 'x') + "\nnext\n");
    for (const std::string& write : writes()) {
        EXPECT_LE(write.size(), 1000u);
    }
}

TEST_F(LineSender, EndOfInputEndsTheRunWithoutSending)
{
    feed("");
    EXPECT_FALSE(send());
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(status_, FT_OK);
    EXPECT_FALSE(std::ferror(stdin));
}

TEST_F(LineSender, SendsALastLineThatLacksItsEndOfLineMark)
{
    feed("one\ntwo");
    EXPECT_EQ(sendAll(), 2);
    EXPECT_EQ(writes(), (Writes{"one\n", "two\n"}));

    resetRecordingDriver();
    feed(std::string(999, 'z'));
    EXPECT_EQ(sendAll(), 1);
    EXPECT_EQ(writes(), (Writes{std::string(999, 'z') + "\n"}));

    resetRecordingDriver();
    feed(std::string(1500, 'z'));
    EXPECT_EQ(sendAll(), 1);
    EXPECT_EQ(wire(), std::string(1500, 'z') + "\n");
}

TEST_F(LineSender, AReadErrorStopsTheRunWithItsReason)
{
    ASSERT_NE(std::freopen("/", "rb", stdin), nullptr);  // reading a folder fails
    EXPECT_FALSE(send());
    EXPECT_EQ(progress_.readError, EISDIR);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(status_, FT_OK);
}

// Standard input that yields `bytes`, then fails with EIO.
std::FILE* inputFailingAfter(const std::string& bytes)
{
    static std::string left;
    left = bytes;
    cookie_io_functions_t calls = {};
    calls.read = [](void*, char* buffer, std::size_t size) -> ssize_t {
        if (left.empty()) {
            errno = EIO;
            return -1;
        }
        std::size_t count = std::min(size, left.size());
        left.copy(buffer, count);
        left.erase(0, count);
        return static_cast<ssize_t>(count);
    };
    return fopencookie(nullptr, "r", calls);
}

TEST_F(LineSender, AReadErrorRightAfterAFullBufferSendsNothingOfTheLine)
{
    std::FILE* realInput = stdin;
    for (std::size_t length : {998u, 999u, 1000u, 1998u}) {
        resetRecordingDriver();
        stdin = inputFailingAfter("ok\n" + std::string(length, 'x'));
        progress_ = TransmitProgress{0, 0, FT_OK, false, 0};
        EXPECT_TRUE(send()) << length;
        EXPECT_FALSE(send()) << length;
        EXPECT_EQ(progress_.readError, EIO) << length;
        EXPECT_EQ(progress_.linesHandedOver, 1u) << length;
        // Pieces of 999 may have gone out; never a line feed behind them.
        EXPECT_EQ(wire().substr(0, 3), "ok\n") << length;
        EXPECT_EQ(wire().find('\n', 3), std::string::npos) << length;
        std::fclose(stdin);
    }
    stdin = realInput;
}

TEST_F(LineSender, AFailedWriteStopsAtOnceWithItsStatus)
{
    recordingDriver().failingWrite = 2;
    recordingDriver().failingStatus = FT_DEVICE_NOT_FOUND;
    feed("one\ntwo\nthree\n");
    EXPECT_EQ(sendAll(), 1);
    EXPECT_EQ(status_, static_cast<FT_STATUS>(FT_DEVICE_NOT_FOUND));
    EXPECT_EQ(writes().size(), 2u);
    EXPECT_EQ(wire(), "one\n");
}

TEST_F(LineSender, AFailedWriteInsideALongLineSendsNoMoreOfIt)
{
    recordingDriver().failingWrite = 2;
    feed(std::string(2500, 'x') + "\n");
    EXPECT_FALSE(send());
    EXPECT_EQ(status_, static_cast<FT_STATUS>(FT_IO_ERROR));
    EXPECT_EQ(writes().size(), 2u);
    EXPECT_EQ(wire(), std::string(999, 'x'));
}

TEST_F(LineSender, ContinuesShortWritesWithTheRest)
{
    recordingDriver().acceptAtMost = 3;
    std::string input = "0123456789\n" + std::string(1200, 'y') + "\nlast\x1b\n";
    feed(input);
    EXPECT_EQ(sendAll(), 2);
    EXPECT_EQ(status_, FT_OK);
    EXPECT_EQ(wire(), input);
    EXPECT_EQ(writes().front(), "0123456789\n");
    EXPECT_EQ(writes()[1], "3456789\n");
}

TEST_F(LineSender, AWriteThatTakesNothingIsAStall)
{
    recordingDriver().stalledWrite = 1;
    feed("stuck\nnever\n");
    EXPECT_FALSE(send());
    EXPECT_TRUE(progress_.stalled);
    EXPECT_EQ(writes().size(), 1u);
}

TEST_F(LineSender, CountsWhatTheConverterTookAFailingWriteIncluded)
{
    recordingDriver().acceptAtMost = 600;
    recordingDriver().failingWrite = 4;
    feed("ab\n" + std::string(1500, 'y') + "\nnever\n");
    EXPECT_TRUE(send());
    EXPECT_FALSE(send());
    EXPECT_EQ(progress_.linesHandedOver, 1u);
    EXPECT_EQ(progress_.bytesHandedOver, 3u + 600u + 399u);
}

TEST_F(LineSender, AfterASignalNoLineIsReadButTheOneGoingOutIsFinished)
{
    interruptingSignals = 1;
    feed("never\n");
    EXPECT_FALSE(send());
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(std::ftell(stdin), 0) << "no further line is read";

    // A signal while a long line goes out, as a write that took nothing.
    interruptingSignals = 0;
    resetRecordingDriver();
    recordingDriver().signalAtWrite = 2;
    recordingDriver().stalledWrite = 2;
    std::string line(2500, 'z');
    feed(line + "\nnever\n");
    EXPECT_TRUE(send()) << "the line is finished, and it held no ESC";
    EXPECT_FALSE(progress_.stalled) << "a write cut short by a signal is no stall";
    EXPECT_EQ(wire(), line + "\n");
    EXPECT_FALSE(send());
    EXPECT_EQ(wire(), line + "\n");
}

TEST_F(LineSender, ASecondSignalStopsWithinTheLine)
{
    recordingDriver().signalAtWrite = 1;
    recordingDriver().signalsThen = 2;
    std::string line(2500, 'z');
    feed(line + "\nnever\n");
    EXPECT_FALSE(send());
    EXPECT_EQ(wire(), std::string(999, 'z')) << "nothing after the piece under way";
    EXPECT_EQ(progress_.linesHandedOver, 0u);
}

}  // namespace
