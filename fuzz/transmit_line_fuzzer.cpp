// Feeds arbitrary bytes to the whole program's standard input through a
// recording driver, and checks every write against a model of what the
// wire must carry, written here from the rules rather than from the code:
//
//   for each line (up to a line feed, or the end of input): its bytes
//   before its first NUL, then 0x0A; the run stops after the first line
//   whose sent bytes hold ESC, or at the end of input; a byte above 0x7F
//   among them stops the run before the 999-byte piece that holds it, with
//   a message naming its line, column and value; after a failure, one
//   message that says how many lines were handed over and how many surely
//   left the converter (those whose line feed went the driver's bound or
//   more before the failure); after a signal, the line going out is
//   finished, after a second it is cut short, but once the input's end was
//   read a signal changes nothing; exit 0, 1 (nothing sent), 2 (something
//   sent) or 128 + the signal.
//
// The first three input bytes choose a driver fault; the rest is stdin.
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "ftd2xx.h"
#include "ftd2xx_status_names.h"
#include "transmit_line.h"

int lineTransmitterMain(int argc, char** argv);  // the program's main

namespace {

enum Fault : uint8_t {
    kNoFault,
    kFailingWrite,
    kShortWrites,
    kStalledWrite,
    kFailingOpen,
    kFailingBaudRate,
    kFailingFraming,
    kFailingClose,
    kSignal,
    kTwoSignals,
    kReadError,
    kFaultKinds
};

// What the driver may say it holds, as bounds of real drivers and the edges.
const uint32_t kBounds[] = {0, 1, 999, 1000, 10240, 20992, 70144, 270336};

FILE* fuzzerLog = stderr;  // the real one, also while the program's is redirected

void check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(fuzzerLog, "model violated: %s\n", what);
        fflush(fuzzerLog);
        abort();
    }
}

struct Recorder {
    Fault fault;
    uint32_t faultyWrite;  // 1-based write the fault starts at
    uint32_t shortCap;     // bytes a short write takes at most
    FT_STATUS failStatus;
    uint32_t holdsAtMost;  // the driver's bound

    std::string expected;  // the model's wire
    std::string calls;     // one letter per call, in order
    std::string wire;      // the bytes accepted
    uint32_t writes;
    bool failed;           // a write failed or stalled
    bool signalled;        // the signal fault has struck
    size_t wireAtSignal;   // how much had gone out then
    bool toldBeforeClose;  // the driver was to stop waiting when FT_Close began
    int handleTarget;
};

Recorder recorder;
FT_HANDLE handle()
{
    return &recorder.handleTarget;
}

// A byte above 0x7F that the model expects to stop the run.
struct Refusal {
    bool expected;
    size_t line;    // from 1
    size_t column;  // from 1
    uint8_t byte;
};

std::string modelWire(const uint8_t* input, size_t size, Refusal* refusal)
{
    std::string wire;
    size_t start = 0;
    size_t lineNumber = 0;
    *refusal = Refusal{false, 0, 0, 0};
    while (start < size) {
        ++lineNumber;
        const void* found = memchr(input + start, '\n', size - start);
        size_t end = found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - input) : size;
        const void* nul = memchr(input + start, '\0', end - start);
        size_t sentEnd = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - input) : end;
        std::string line(reinterpret_cast<const char*>(input + start), sentEnd - start);
        for (size_t at = 0; at < line.size(); ++at) {
            if (static_cast<uint8_t>(line[at]) > 0x7F) {
                // The pieces of 999 before it went out; its own did not.
                wire += line.substr(0, at / 999 * 999);
                *refusal = Refusal{true, lineNumber, at + 1, static_cast<uint8_t>(line[at])};
                return wire;
            }
        }
        wire += line;
        wire += '\n';
        if (line.find('\x1b') != std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return wire;
}

// Standard input that fails with EIO once `readable` bytes have been read.
struct FailingInput {
    const uint8_t* bytes;
    size_t readable;
    size_t taken;
};
FailingInput failingInput;

ssize_t readUntilFailure(void*, char* buffer, size_t size)
{
    if (failingInput.taken == failingInput.readable) {
        errno = EIO;
        return -1;
    }
    size_t count = std::min(size, failingInput.readable - failingInput.taken);
    memcpy(buffer, failingInput.bytes + failingInput.taken, count);
    failingInput.taken += count;
    return static_cast<ssize_t>(count);
}

size_t lineFeeds(const std::string& bytes)
{
    size_t count = 0;
    for (char byte : bytes) {
        count += byte == '\n';
    }
    return count;
}

}  // namespace

ConverterFailure lastConverterFailure()
{
    return ConverterFailure{"", ""};
}

uint32_t converterHoldsAtMost(FT_HANDLE)
{
    return recorder.holdsAtMost;
}

namespace {

// Why the write failed, as the message must put it: the status's name as
// the vendor's guide gives it, or its number.
std::string writeCause()
{
    if (recorder.fault == kStalledWrite) {
        return "(the converter stopped taking bytes)";
    }
    const char* name = ftStatusName(recorder.failStatus);
    return name != nullptr ? std::string("(") + name + ")"
                           : "(driver status " + std::to_string(recorder.failStatus) + ")";
}

// Where to send again from, as the message must put it, for a wire whose
// bytes were all handed over; drained: the close confirmed they all left.
std::string resendPoint(const std::string& wire, bool drained)
{
    if (wire.empty()) {
        return "nothing was sent: the same input can be sent again";
    }
    size_t handedOver = lineFeeds(wire);
    size_t sent = 0;
    for (size_t at = 0; at < wire.size(); ++at) {
        sent += wire[at] == '\n' && (drained || at + 1 + recorder.holdsAtMost <= wire.size());
    }
    bool cut = wire.back() != '\n';
    char text[200];
    if (sent == handedOver && !cut) {
        snprintf(text, sizeof text, "%zu %s sent: send again from line %zu", sent,
                 sent == 1 ? "line" : "lines", sent + 1);
    } else {
        snprintf(text, sizeof text, "%zu %s handed over, %zu surely sent%s", handedOver,
                 handedOver == 1 ? "line" : "lines", sent, cut ? ", part of line" : ":");
    }
    return text;
}

// How the message must name a refused byte.
std::string refusalWords(const Refusal& refusal)
{
    char text[200];
    snprintf(text, sizeof text,
             "line %zu holds a byte that 7 data bits cannot carry (column %zu: 0x%02X would "
             "arrive as ",
             refusal.line, refusal.column, refusal.byte);
    return text;
}

}  // namespace

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handleOut)
{
    check(recorder.calls.empty() && deviceNumber == 0, "one open, of converter 0, first");
    recorder.calls += 'O';
    if (recorder.fault == kFailingOpen) {
        return FT_DEVICE_NOT_FOUND;
    }
    *handleOut = handle();
    return FT_OK;
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE h, uint32_t baudRate)
{
    check(recorder.calls == "O" && h == handle() && baudRate == 19200, "19200 baud after open");
    recorder.calls += 'B';
    return recorder.fault == kFailingBaudRate ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE h, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity)
{
    check(recorder.calls == "OB" && h == handle(), "framing after the speed");
    check(wordLength == FT_BITS_7 && stopBits == FT_STOP_BITS_1 && parity == FT_PARITY_EVEN,
          "7 data bits, 1 stop bit, even parity");
    recorder.calls += 'D';
    return recorder.fault == kFailingFraming ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FT_API FT_Write(FT_HANDLE h, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten)
{
    check(recorder.calls.size() >= 3 && recorder.calls.compare(0, 3, "OBD") == 0 &&
              recorder.calls.find('C') == std::string::npos && h == handle(),
          "writes only between the settings and the close");
    check(!recorder.failed, "nothing written after a failed write");
    check(bytesToWrite >= 1 && bytesToWrite <= 1000, "every write is 1 to 1000 bytes");
    std::string asked(static_cast<const char*>(buffer), bytesToWrite);
    check(recorder.expected.compare(recorder.wire.size(), asked.size(), asked) == 0,
          "each write carries the next bytes of the wire");
    recorder.calls += 'W';
    ++recorder.writes;

    *bytesWritten = 0;
    bool faultyWrite = recorder.writes == recorder.faultyWrite;
    if (faultyWrite && recorder.fault == kFailingWrite) {
        recorder.failed = true;
        return recorder.failStatus;
    }
    if (faultyWrite && recorder.fault == kStalledWrite) {
        recorder.failed = true;
        return FT_OK;
    }
    if (faultyWrite && (recorder.fault == kSignal || recorder.fault == kTwoSignals)) {
        // SIGHUP: libFuzzer keeps SIGINT and SIGTERM for itself.
        recorder.signalled = true;
        recorder.wireAtSignal = recorder.wire.size() + bytesToWrite;
        raise(SIGHUP);
        if (recorder.fault == kTwoSignals) {
            raise(SIGHUP);
        }
    }
    // Short writes start at the faulty write and go on from there.
    uint32_t accepted = bytesToWrite;
    bool shortened = recorder.fault == kShortWrites && recorder.writes >= recorder.faultyWrite;
    if (shortened && accepted > recorder.shortCap) {
        accepted = recorder.shortCap;
    }
    recorder.wire += asked.substr(0, accepted);
    *bytesWritten = accepted;
    return FT_OK;
}

FT_STATUS FT_API FT_Close(FT_HANDLE h)
{
    check(h == handle() && recorder.calls.find('C') == std::string::npos, "one close");
    recorder.calls += 'C';
    recorder.toldBeforeClose = toldToStopWaiting();
    // A converter whose write failed is gone: its drain fails too.
    return recorder.fault == kFailingClose || recorder.failed ? FT_IO_ERROR : FT_OK;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) {
        return 0;
    }
    recorder = Recorder();
    recorder.fault = static_cast<Fault>(data[0] % kFaultKinds);
    recorder.faultyWrite = 1u + data[1] % 16u;
    recorder.shortCap = 1u + data[2] % 64u * 16u;
    recorder.failStatus = 1u + data[2] % 21u;  // 1 to 21: named and unknown statuses
    recorder.holdsAtMost = kBounds[data[1] / 16u % (sizeof kBounds / sizeof kBounds[0])];
    const uint8_t* input = data + 3;
    size_t inputSize = size - 3;
    Refusal refusal;
    recorder.expected = modelWire(input, inputSize, &refusal);

    // Standard input from memory; the program's messages to memory, to be
    // checked, not to the fuzzer's log.
    FILE* feed = nullptr;
    if (recorder.fault == kReadError) {
        failingInput = FailingInput{input, inputSize * data[2] / 255u, 0};
        cookie_io_functions_t calls = {};
        calls.read = readUntilFailure;
        feed = fopencookie(nullptr, "rb", calls);
    } else {
        feed = inputSize > 0 ? fmemopen(const_cast<uint8_t*>(input), inputSize, "rb")
                             : fopen("/dev/null", "rb");
    }
    char* messages = nullptr;
    size_t messagesSize = 0;
    FILE* messageSink = open_memstream(&messages, &messagesSize);
    check(feed != nullptr && messageSink != nullptr, "test set-up");
    FILE* realInput = stdin;
    FILE* realErrors = stderr;
    stdin = feed;
    stderr = messageSink;
    int exitStatus = lineTransmitterMain(0, nullptr);
    stdin = realInput;
    stderr = realErrors;
    fclose(feed);
    fclose(messageSink);
    std::string message(messages, messagesSize);
    free(messages);

    bool setUp = recorder.fault != kFailingOpen && recorder.fault != kFailingBaudRate &&
                 recorder.fault != kFailingFraming;
    if (!setUp) {
        check(recorder.wire.empty() && recorder.writes == 0, "nothing sent without set-up");
        check(exitStatus == 1 && !message.empty(), "a failed set-up is reported");
        std::string wanted = recorder.fault == kFailingOpen       ? "O"
                             : recorder.fault == kFailingBaudRate ? "OBC"
                                                                  : "OBDC";
        check(recorder.calls == wanted, "set-up stops at the failing call, then closes");
        return 0;
    }
    check(recorder.calls.back() == 'C', "the converter is closed at the end");
    // With a last line that lacks its line feed, the input's end is read
    // with that line: a request at its last write comes after the end, and
    // changes nothing.
    bool endReadFirst = inputSize > 0 && input[inputSize - 1] != '\n' && !refusal.expected &&
                        lineFeeds(recorder.expected) ==
                            static_cast<size_t>(std::count(input, input + inputSize, '\n')) + 1;
    if (recorder.signalled && endReadFirst && recorder.wireAtSignal == recorder.expected.size()) {
        recorder.signalled = false;
    }
    check(recorder.toldBeforeClose == (recorder.signalled && recorder.fault == kTwoSignals),
          "the driver is told to stop waiting by its close at a second request, and only then");
    check(message.empty() || message.find('\n') == message.size() - 1, "one message, one line");
    if (recorder.fault == kReadError &&
        message.find("reading standard input failed") != std::string::npos) {
        check(recorder.expected.compare(0, recorder.wire.size(), recorder.wire) == 0,
              "what went out before a read error is the wire's beginning");
        check(exitStatus == (recorder.wire.empty() ? 1 : 2) &&
                  message.find("(Input/output error)") != std::string::npos &&
                  message.find(resendPoint(recorder.wire, true)) != std::string::npos,
              "a read error is reported with its reason and where to send again from");
        return 0;
    }
    if (recorder.failed) {
        check(recorder.expected.compare(0, recorder.wire.size(), recorder.wire) == 0,
              "what went out before a failure is the wire's beginning");
        check(exitStatus == (recorder.wire.empty() ? 1 : 2), "1 if nothing was sent, else 2");
        check(message.find(resendPoint(recorder.wire, false)) != std::string::npos,
              "the message says where to send again from");
        check(message.find(writeCause()) != std::string::npos, "the message names the cause");
        return 0;
    }
    bool drained = recorder.fault != kFailingClose;
    if (recorder.signalled) {
        // The line going out is finished after one signal, unless a byte
        // above 0x7F stops it first; after two, what went out is all there is.
        size_t lineEnd = recorder.expected.find('\n', recorder.wireAtSignal - 1);
        size_t end = recorder.fault == kTwoSignals  ? recorder.wireAtSignal
                     : lineEnd == std::string::npos ? recorder.expected.size()
                                                    : lineEnd + 1;
        check(recorder.wire == recorder.expected.substr(0, end),
              "a signal ends the run after the line going out, a second at once");
        if (lineEnd == std::string::npos && recorder.fault == kSignal && refusal.expected) {
            check(message.find(refusalWords(refusal)) != std::string::npos,
                  "a refused byte in the line being finished is reported");
            return 0;
        }
        check(exitStatus == 128 + SIGHUP, "exit 128 + the signal");
        check(message.find(recorder.fault == kSignal
                               ? "interrupted by SIGHUP ("
                               : "interrupted by SIGHUP, then SIGHUP (") != std::string::npos &&
                  message.find(resendPoint(recorder.wire, drained)) != std::string::npos,
              "the interruption is reported with where to send again from");
        check(recorder.fault == kSignal || message.find("drained") == std::string::npos,
              "never drained after a second signal");
        return 0;
    }
    check(recorder.wire == recorder.expected, "the wire carries exactly the model's bytes");
    if (refusal.expected) {
        check(exitStatus == (recorder.wire.empty() ? 1 : 2) &&
                  message.find(refusalWords(refusal)) != std::string::npos &&
                  message.find(resendPoint(recorder.wire, drained)) != std::string::npos,
              "a byte above 0x7F is reported with its line, column and what it would become");
    } else if (recorder.fault == kFailingClose) {
        check(exitStatus == (recorder.wire.empty() ? 1 : 2) &&
                  message.find("closing") != std::string::npos &&
                  message.find(resendPoint(recorder.wire, false)) != std::string::npos,
              "a failed close is reported with where to send again from");
    } else {
        check(exitStatus == 0 && message.empty(), "a clean run is silent and exits 0");
    }
    return 0;
}

}  // extern "C"
