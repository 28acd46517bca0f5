// The names of the driver statuses, for messages.
#ifndef LINE_TRANSMITTER_FTD2XX_STATUS_NAMES_H
#define LINE_TRANSMITTER_FTD2XX_STATUS_NAMES_H

#include "ftd2xx.h"

// The status's name, or nullptr for a status that this header does not name.
inline const char* ftStatusName(FT_STATUS status)
{
    static const char* const names[] = {
        "FT_OK", "FT_INVALID_HANDLE", "FT_DEVICE_NOT_FOUND", "FT_DEVICE_NOT_OPENED",
        "FT_IO_ERROR", "FT_INSUFFICIENT_RESOURCES", "FT_INVALID_PARAMETER",
        "FT_INVALID_BAUD_RATE"};
    return status < sizeof names / sizeof names[0] ? names[status] : nullptr;
}

#endif
