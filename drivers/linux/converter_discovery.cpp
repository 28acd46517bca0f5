#include "converter_discovery.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// n for an entry named exactly "ttyUSB<n>", else -1.
long portNumber(const char* name)
{
    const char prefix[] = "ttyUSB";
    std::string entry = name;
    if (entry.compare(0, sizeof prefix - 1, prefix) != 0 || entry.size() == sizeof prefix - 1) {
        return -1;
    }
    std::string digits = entry.substr(sizeof prefix - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) {
        return -1;
    }
    return std::strtol(digits.c_str(), nullptr, 10);
}

}  // namespace

std::string converterPath(const std::string& sysfsRoot, const std::string& devRoot, int index)
{
    if (index < 0) {
        return "";
    }
    std::string driverFolder = sysfsRoot + "/bus/usb-serial/drivers/ftdi_sio";
    DIR* folder = opendir(driverFolder.c_str());
    if (folder == nullptr) {
        return "";  // no FTDI driver loaded, so no converter
    }
    std::vector<long> numbers;
    while (const dirent* entry = readdir(folder)) {
        long number = portNumber(entry->d_name);
        if (number >= 0) {
            numbers.push_back(number);
        }
    }
    closedir(folder);

    std::sort(numbers.begin(), numbers.end());
    if (static_cast<std::size_t>(index) >= numbers.size()) {
        return "";
    }
    return devRoot + "/ttyUSB" + std::to_string(numbers[static_cast<std::size_t>(index)]);
}
