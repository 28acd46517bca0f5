#include <windows.h>

#include "wire_output.h"

// WriteFile on the standard output handle, not the C runtime: a DLL has its
// own runtime, whose text mode would turn each line feed into CR LF.
bool writeToWire(const unsigned char* bytes, uint32_t count)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(output, bytes, count, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}
