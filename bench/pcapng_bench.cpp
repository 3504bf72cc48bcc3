// Bytes per second through the pcapng writer: a flood received in chunks of a read's
// size, as the journal appends it, the buffer written out (here dropped) each MiB.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

#include "capture/pcapng.h"

namespace {

const std::size_t PIECE = 1 << 20;

void BM_PcapngReceived(benchmark::State& state) {
    const std::size_t chunk = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned char> bytes(chunk);
    for (std::size_t i = 0; i < chunk; ++i) bytes[i] = static_cast<unsigned char>(i * 31 + 7);
    PcapBytes out;
    TcpStream stream = tcpStreamFromHere(ipv4Endpoint(0x0100007F, 9000), ipv4Endpoint(0x1401A8C0, 50000));
    std::uint64_t time = 1700000000000000ull;
    for (auto _ : state) {
        appendTcpBytes(out, stream, true, bytes.data(), chunk, ++time, std::string());
        if (out.size() >= PIECE) {
            benchmark::DoNotOptimize(out.data());
            out.clear();
        }
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(chunk));
}

}  // namespace

BENCHMARK(BM_PcapngReceived)->Arg(80)->Arg(4096)->Arg(65536);
