#include <windows.h>

#include "wire_output.h"

// WriteFile on the standard output handle, not the C runtime: a DLL has its
// own runtime, whose text mode would turn each line feed into CR LF. A
// write to a full pipe waits for its reader: a console control event
// cannot end it.
namespace {
// Looked at before main, as the program started.
const HANDLE outputAtStart = GetStdHandle(STD_OUTPUT_HANDLE);
const bool closedAtStart = outputAtStart == nullptr || outputAtStart == INVALID_HANDLE_VALUE;
}  // namespace

bool wireClosedAtStart()
{
    return closedAtStart;
}

void openWire()
{
}

void closeWire()
{
}

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
