#include <errno.h>
#include <unistd.h>

#include "wire_output.h"

bool writeToWire(const unsigned char* bytes, uint32_t count)
{
    while (count > 0) {
        ssize_t written = write(STDOUT_FILENO, bytes, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        count -= static_cast<uint32_t>(written);
    }
    return true;
}
