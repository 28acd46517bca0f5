#include "converter_discovery.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const char kDriversFolder[] = "/bus/usb-serial/drivers/";

// n for an entry named exactly "ttyUSB<n>", n written as the kernel writes
// it (no sign, no leading zero), else -1.
long portNumber(const char* name)
{
    const char prefix[] = "ttyUSB";
    if (std::strncmp(name, prefix, sizeof prefix - 1) != 0) {
        return -1;
    }
    const char* digits = name + sizeof prefix - 1;
    std::size_t count = std::strlen(digits);
    if (count == 0 || count > 9 || std::strspn(digits, "0123456789") != count ||
        (digits[0] == '0' && count > 1)) {
        return -1;
    }
    return std::strtol(digits, nullptr, 10);
}

// The ports in one driver's folder, as (number, entry name), by number.
std::vector<std::pair<long, std::string>> portsOf(const std::string& folderPath)
{
    std::vector<std::pair<long, std::string>> ports;
    DIR* folder = opendir(folderPath.c_str());
    if (folder == nullptr) {
        return ports;
    }
    while (const dirent* entry = readdir(folder)) {
        long number = portNumber(entry->d_name);
        if (number >= 0) {
            ports.emplace_back(number, entry->d_name);
        }
    }
    closedir(folder);
    std::sort(ports.begin(), ports.end());
    return ports;
}

}  // namespace

std::string converterPath(const std::string& sysfsRoot, const std::string& devRoot, int index)
{
    auto ports = portsOf(sysfsRoot + kDriversFolder + "ftdi_sio");
    if (index < 0 || static_cast<std::size_t>(index) >= ports.size()) {
        return "";
    }
    // The entry's own name: the kernel names the device node the same.
    return devRoot + "/" + ports[static_cast<std::size_t>(index)].second;
}

bool ftdiDriverLoaded(const std::string& sysfsRoot)
{
    return access((sysfsRoot + kDriversFolder + "ftdi_sio").c_str(), F_OK) == 0;
}

std::string otherSerialPort(const std::string& sysfsRoot, std::string* driver)
{
    std::string drivers = sysfsRoot + kDriversFolder;
    DIR* folder = opendir(drivers.c_str());
    if (folder == nullptr) {
        return "";
    }
    std::pair<long, std::string> lowest(-1, "");
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.' || std::strcmp(entry->d_name, "ftdi_sio") == 0) {
            continue;
        }
        auto ports = portsOf(drivers + entry->d_name);
        if (!ports.empty() && (lowest.first < 0 || ports.front().first < lowest.first)) {
            lowest = ports.front();
            *driver = entry->d_name;
        }
    }
    closedir(folder);
    return lowest.second;
}
