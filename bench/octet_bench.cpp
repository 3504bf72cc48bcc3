// The received bytes kept as they came and the octet rows made from them: what
// keeping costs a received chunk, and what a page of rows costs to make wherever it
// lies among all that is kept.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/received_bytes.h"

namespace {

const int PAGE_ROWS = 25;
const int COLUMNS = 79;

// Keeping received chunks of the argument's size, as the link does before the screen.
void BM_KeepChunks(benchmark::State& state) {
    forgetReceivedBytes();
    keepConnectionOpened(ipv4Endpoint(0x0100007F, 4000), ipv4Endpoint(0x0100007F, 9000), false);
    const std::string chunk(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state) {
        keepReceivedChunk(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_KeepChunks)->Arg(1)->Arg(512)->Arg(64 * 1024)->Arg(1024 * 1024);

// The page of rows that Shift+Home shows, the oldest kept, once as many one-byte
// chunks as are kept have come: each row is found among all the records.
void BM_OldestPageOfTinyChunks(benchmark::State& state) {
    forgetReceivedBytes();
    keepConnectionOpened(ipv4Endpoint(0x0100007F, 4000), ipv4Endpoint(0x0100007F, 9000), false);
    for (std::size_t i = 0; i < RECEIVED_RECORDS_KEPT + 10; ++i) {
        const unsigned char byte = static_cast<unsigned char>(i);
        keepReceivedChunk(&byte, 1);
    }
    std::vector<unsigned char> cells(COLUMNS);
    for (auto _ : state) {
        const std::uint64_t first = firstKeptOctetRow();
        for (int row = 0; row < PAGE_ROWS; ++row) formatOctetRow(first + row, cells.data(), COLUMNS);
        benchmark::DoNotOptimize(cells.data());
    }
    state.counters["rows kept"] = static_cast<double>(octetRowsEnd() - firstKeptOctetRow());
}
BENCHMARK(BM_OldestPageOfTinyChunks)->Unit(benchmark::kMicrosecond);

}  // namespace
