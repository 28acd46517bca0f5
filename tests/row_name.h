// A test table's row as GoogleTest names it: its number, then its words
// with every other character made an underscore.
#ifndef LINE_TRANSMITTER_TESTS_ROW_NAME_H
#define LINE_TRANSMITTER_TESTS_ROW_NAME_H

#include <cctype>
#include <cstddef>
#include <string>

inline std::string rowName(std::size_t index, const char* words)
{
    std::string name = std::to_string(index) + "_";
    for (const char* at = words; *at != '\0'; ++at) {
        name += std::isalnum(static_cast<unsigned char>(*at)) ? *at : '_';
    }
    return name;
}

#endif
