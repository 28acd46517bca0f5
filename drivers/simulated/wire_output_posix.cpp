#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ftd2xx.h"
#include "stop_waiting.h"
#include "wire_output.h"

namespace {

// Looked at before main, where the program puts the null device in place.
const bool closedAtStart = fcntl(STDOUT_FILENO, F_GETFD) == -1;

int wire = STDOUT_FILENO;

}  // namespace

bool wireClosedAtStart()
{
    return closedAtStart;
}

void openWire()
{
    // Opened again, a pipe or a terminal gives a description of our own,
    // whose O_NONBLOCK no other holder of standard output sees: a full one
    // then answers EAGAIN, and the wait for room is ours, which being told
    // to stop ends. A regular file never makes a write wait.
    struct stat status;
    if (fstat(STDOUT_FILENO, &status) == 0 && !S_ISREG(status.st_mode)) {
        int own = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        wire = own >= 0 ? own : STDOUT_FILENO;
    }
}

void closeWire()
{
    if (wire != STDOUT_FILENO) {
        close(wire);
    }
    wire = STDOUT_FILENO;
}

uint32_t writeToWire(const unsigned char* bytes, uint32_t count, bool* refused)
{
    uint32_t done = 0;
    while (done < count && !toldToStopWaiting()) {
        ssize_t written = write(wire, bytes + done, count - done);
        if (written > 0) {
            done += static_cast<uint32_t>(written);
        } else if (written < 0 && errno == EAGAIN) {
            while (waitUnlessTold(wire, POLLOUT, 1000) == kLookAgain) {}
        } else if (written == 0 || errno != EINTR) {
            *refused = true;
            break;
        }
    }
    return done;
}
