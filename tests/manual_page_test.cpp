// The manual page's DIAGNOSTICS against the messages the program prints:
// every entry begins with a message's own words, and every message has an
// entry.
//
//   manual_page_tests --page=PATH
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "messages.h"

namespace {

std::string pagePath;

// The headings of the DIAGNOSTICS entries: the line after each .TP, its
// font request and quotes taken off, groff's escapes read.
std::vector<std::string> diagnosticsHeadings()
{
    std::ifstream page(pagePath);
    std::vector<std::string> headings;
    std::string line;
    bool inDiagnostics = false;
    bool headingNext = false;
    while (std::getline(page, line)) {
        if (line.rfind(".SH", 0) == 0) {
            inDiagnostics = line.find("DIAGNOSTICS") != std::string::npos;
            continue;
        }
        if (!inDiagnostics) {
            continue;
        }
        if (headingNext) {
            std::string heading = std::regex_replace(line, std::regex("^\\.B[IR]? +"), "");
            heading = std::regex_replace(heading, std::regex("\""), "");
            heading = std::regex_replace(heading, std::regex("\\\\-"), "-");
            heading = std::regex_replace(heading, std::regex("\\\\\\(aq"), "'");
            headings.push_back(heading);
        }
        headingNext = line == ".TP";
    }
    return headings;
}

// A message's words as a pattern: each printf field stands for any words.
std::regex patternOf(const std::string& message)
{
    std::string pattern;
    for (std::size_t at = 0; at < message.size(); ++at) {
        if (message[at] == '%') {
            at = message.find_first_of("su", at);
            pattern += ".+";
        } else if (std::string("\\^$.|?*+()[]{}").find(message[at]) != std::string::npos) {
            pattern += std::string("\\") + message[at];
        } else {
            pattern += message[at];
        }
    }
    return std::regex(pattern + ".*");
}

TEST(ManualPage, EveryDiagnosticBeginsWithAMessageAndEveryMessageHasOne)
{
    std::vector<std::string> headings = diagnosticsHeadings();
    ASSERT_GE(headings.size(), 5u) << "no DIAGNOSTICS entries in " << pagePath;
    std::vector<bool> matched(headings.size(), false);
    for (const char* message : kEveryMessage) {
        std::regex pattern = patternOf(message);
        bool found = false;
        for (std::size_t i = 0; i < headings.size(); ++i) {
            if (std::regex_match(headings[i], pattern)) {
                found = matched[i] = true;
            }
        }
        EXPECT_TRUE(found) << "no DIAGNOSTICS entry begins \"" << message << "\"";
    }
    for (std::size_t i = 0; i < headings.size(); ++i) {
        EXPECT_TRUE(matched[i]) << "the entry \"" << headings[i]
                                << "\" begins with no message the program prints";
    }
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--page=", 0) == 0) {
            pagePath = argument.substr(7);
        }
    }
    if (pagePath.empty()) {
        std::fprintf(stderr, "usage: %s --page=PATH\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
