// The line sender against a recording driver, its input from a file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "recording_driver.h"
#include "transmit_line.h"

namespace {

using namespace std::string_literals;
using Writes = std::vector<std::string>;

class LineSender : public ::testing::Test {
protected:
    void SetUp() override { resetRecordingDriver(); }

    // Makes standard input read exactly these bytes.
    void feed(const std::string& input)
    {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(input.data(), 1, input.size(), file), input.size());
        std::fclose(file);
        ASSERT_NE(std::freopen(path_.c_str(), "rb", stdin), nullptr);
    }

    bool send() { return transmitLine(recordingHandle(), &status_); }

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

    FT_STATUS status_ = FT_OK;

private:
    std::string path_ = ::testing::TempDir() + "line_sender_input";
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

TEST_F(LineSender, SendsA999CharacterLineAsOneWriteOf1000Bytes)
{
    std::string line(999, 'x');
    feed(line + "\nnext\n");
    EXPECT_TRUE(send());
    EXPECT_TRUE(send());
    EXPECT_EQ(writes(), (Writes{line + "\n", "next\n"}));
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
    std::string line(2500, 'x');
    line[2100] = '\x1b';
    feed(line + "\nnever\n");
    EXPECT_FALSE(send());
    EXPECT_EQ(wire(), line + "\n");
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

TEST_F(LineSender, AReadErrorStopsTheRunAndShowsOnStandardInput)
{
    ASSERT_NE(std::freopen("/", "rb", stdin), nullptr);  // reading a folder fails
    EXPECT_FALSE(send());
    EXPECT_TRUE(std::ferror(stdin));
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(status_, FT_OK);
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

TEST_F(LineSender, AWriteThatTakesNothingIsAFailure)
{
    recordingDriver().stalledWrite = 1;
    feed("stuck\nnever\n");
    EXPECT_FALSE(send());
    EXPECT_EQ(status_, static_cast<FT_STATUS>(FT_IO_ERROR));
    EXPECT_EQ(writes().size(), 1u);
}

}  // namespace
