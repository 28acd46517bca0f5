// A driver for tests: it records every call and every byte the sender hands
// over, and fails or shortens writes on request.
#ifndef LINE_TRANSMITTER_TESTS_RECORDING_DRIVER_H
#define LINE_TRANSMITTER_TESTS_RECORDING_DRIVER_H

#include <cstddef>
#include <string>
#include <vector>

#include "ftd2xx.h"

struct RecordingDriver {
    std::vector<std::string> writes = {};  // the bytes asked for, one entry per FT_Write
    std::string wire = {};                 // the bytes accepted, in order

    std::size_t failingWrite = 0;  // 1-based number of a write that fails
    FT_STATUS failingStatus = FT_IO_ERROR;
    std::size_t failingTakes = 0;   // bytes that write takes before it fails
    std::size_t stalledWrite = 0;   // 1-based number of a write that takes nothing
    std::size_t acceptAtMost = 0;   // 0: whole writes; else a cap per write
    std::size_t signalAtWrite = 0;  // 1-based number of a write during which...
    int signalsThen = 1;            // ...that many stop requests have come
    uint32_t holdsAtMost = 10240;   // what converterHoldsAtMost answers
};

// Delivers `count` stop requests (SIGHUP) now.
void deliverStopRequests(int count);

// The one driver the test process is linked with, set up by each test.
RecordingDriver& recordingDriver();
FT_HANDLE recordingHandle();

#endif
