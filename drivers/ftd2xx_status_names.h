// The names of the driver statuses, for messages: every status that the
// vendor's D2XX Programmer's Guide lists.
#ifndef LINE_TRANSMITTER_FTD2XX_STATUS_NAMES_H
#define LINE_TRANSMITTER_FTD2XX_STATUS_NAMES_H

#include "ftd2xx.h"

// The status's name, or nullptr for one that the guide does not list.
inline const char* ftStatusName(FT_STATUS status)
{
    // clang-format off
    static const char* const names[] = {
        "FT_OK", "FT_INVALID_HANDLE", "FT_DEVICE_NOT_FOUND", "FT_DEVICE_NOT_OPENED",
        "FT_IO_ERROR", "FT_INSUFFICIENT_RESOURCES", "FT_INVALID_PARAMETER",
        "FT_INVALID_BAUD_RATE", "FT_DEVICE_NOT_OPENED_FOR_ERASE",
        "FT_DEVICE_NOT_OPENED_FOR_WRITE", "FT_FAILED_TO_WRITE_DEVICE", "FT_EEPROM_READ_FAILED",
        "FT_EEPROM_WRITE_FAILED", "FT_EEPROM_ERASE_FAILED", "FT_EEPROM_NOT_PRESENT",
        "FT_EEPROM_NOT_PROGRAMMED", "FT_INVALID_ARGS", "FT_NOT_SUPPORTED", "FT_OTHER_ERROR",
        "FT_DEVICE_LIST_NOT_READY"};
    // clang-format on
    return status < sizeof names / sizeof names[0] ? names[status] : nullptr;
}

#endif
