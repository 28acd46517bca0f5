#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stop_waiting.h"
#include "wire_output.h"

namespace {

enum WireKind {
    kNeverWaits,   // a regular file
    kNonBlocking,  // a pipe, through a description of our own
    kPolled        // anything else: polled for room before each write
};

// Looked at before main, where the program puts the null device in place.
const bool closedAtStart = fcntl(STDOUT_FILENO, F_GETFD) == -1;

int wire = STDOUT_FILENO;
WireKind kind = kPolled;

// Waits for room on the wire unless told to stop waiting; false when told.
bool roomOrTold(int descriptor)
{
    for (;;) {
        WaitOutcome outcome = waitUnlessTold(descriptor, POLLOUT, 1000);
        if (outcome == kTold) {
            return false;
        }
        if (outcome != kLookAgain) {
            return true;  // ready, or failed: the write says which
        }
    }
}

}  // namespace

bool wireClosedAtStart()
{
    return closedAtStart;
}

void openWire()
{
    struct stat status;
    kind = kPolled;
    wire = STDOUT_FILENO;
    if (fstat(STDOUT_FILENO, &status) != 0) {
        return;
    }
    if (S_ISREG(status.st_mode)) {
        kind = kNeverWaits;
    } else if (S_ISFIFO(status.st_mode)) {
        // Opened again, a pipe gives a description of its own, whose
        // O_NONBLOCK no other holder of standard output sees: a full pipe
        // then answers EAGAIN rather than blocking, and no write needs a
        // wait before it.
        int own = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (own >= 0) {
            wire = own;
            kind = kNonBlocking;
        }
    }
}

void closeWire()
{
    if (wire != STDOUT_FILENO) {
        close(wire);
    }
    wire = STDOUT_FILENO;
    kind = kPolled;
}

uint32_t writeToWire(const unsigned char* bytes, uint32_t count, bool* refused)
{
    uint32_t done = 0;
    while (done < count) {
        // Polled: a write of 1024 bytes or fewer to a pipe that polls
        // writable finds a free page and does not block, so the wait for
        // room is here, where being told to stop ends it.
        if (kind == kPolled && !roomOrTold(wire)) {
            return done;
        }
        ssize_t written = write(wire, bytes + done, count - done);
        if (written < 0 && errno == EINTR) {
            continue;  // a signal that did not tell the driver to stop
        }
        if (written < 0 && errno == EAGAIN) {
            if (!roomOrTold(wire)) {
                return done;
            }
            continue;
        }
        if (written <= 0) {
            *refused = true;
            return done;
        }
        done += static_cast<uint32_t>(written);
    }
    return done;
}
