// How fast the sender turns lines into writes, with every step it takes
// (both zero-fills included), through a driver that only counts, its input
// from a file. Also how many times faster than the wire that is.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <unistd.h>

#include <string>

#include "transmit_line.h"

namespace {

uint64_t bytesHandedOver;  // what the counting driver was given
int handleTarget;

// The serial line: 19200 baud, and 10 bit times a character (start bit,
// 7 data bits, parity, stop bit).
const double kWireCharactersPerSecond = 19200.0 / 10.0;

void feedLinesOf(int length)
{
    std::string path = "/tmp/line-transmitter-bench-" + std::to_string(getpid());
    FILE* file = fopen(path.c_str(), "wb");
    std::string line(static_cast<std::size_t>(length), 'x');
    line += '\n';
    for (std::size_t written = 0; written < (8u << 20); written += line.size()) {
        fwrite(line.data(), 1, line.size(), file);
    }
    fclose(file);
    if (freopen(path.c_str(), "rb", stdin) == nullptr) {
        perror(path.c_str());
    }
    unlink(path.c_str());
}

void linesOfLength(benchmark::State& state)
{
    int length = static_cast<int>(state.range(0));
    feedLinesOf(length);
    TransmitProgress progress = {};
    int64_t lines = 0;
    bytesHandedOver = 0;
    for (auto _ : state) {
        if (!transmitLine(&handleTarget, &progress)) {
            state.PauseTiming();  // the input file ran out: start it again
            clearerr(stdin);
            rewind(stdin);
            state.ResumeTiming();
            continue;
        }
        ++lines;
    }
    if (bytesHandedOver != static_cast<uint64_t>(lines * (length + 1))) {
        state.SkipWithError("the sender did not hand over every line and its line feed");
    }
    state.SetItemsProcessed(lines);
    state.SetBytesProcessed(lines * (length + 1));
    // Times faster than the wire, which carries kWireCharactersPerSecond /
    // (length + 1) lines a second (shown with the rate's "/s").
    state.counters["x_wire"] =
        benchmark::Counter(static_cast<double>(lines) * (length + 1) / kWireCharactersPerSecond,
                           benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(linesOfLength)->Arg(0)->Arg(10)->Arg(80)->Arg(999);

extern "C" {
FT_STATUS FT_API FT_Open(int, FT_HANDLE* handle)
{
    *handle = &handleTarget;
    return FT_OK;
}
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE, uint32_t)
{
    return FT_OK;
}
FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE, uint8_t, uint8_t, uint8_t)
{
    return FT_OK;
}
FT_STATUS FT_API FT_Write(FT_HANDLE, void*, uint32_t bytesToWrite, uint32_t* bytesWritten)
{
    bytesHandedOver += bytesToWrite;
    *bytesWritten = bytesToWrite;
    return FT_OK;
}
FT_STATUS FT_API FT_Close(FT_HANDLE)
{
    return FT_OK;
}
}

BENCHMARK_MAIN();
