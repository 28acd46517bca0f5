// WriteFile on the standard output handle, not the C runtime: a DLL has its
// own runtime, whose text mode would turn each line feed into CR LF. A
// write to a full pipe waits for its reader: a console control event
// cannot end it.
#include <windows.h>

#include "wire_output.h"

// A closed standard output takes no null device's place on Windows: the
// first write fails instead.
bool wireClosedAtStart()
{
    return false;
}

void openWire() {}

void closeWire() {}

uint32_t writeToWire(const unsigned char* bytes, uint32_t count, bool* refused)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    uint32_t done = 0;
    while (done < count) {
        DWORD written = 0;
        if (!WriteFile(output, bytes + done, count - done, &written, nullptr) || written == 0) {
            *refused = true;
            return done;
        }
        done += written;
    }
    return done;
}
