// A search through every row the view can show, for a text found nowhere (the most
// a search ever reads): the text rows of a full history, and the octet rows of 4 MiB
// of received bytes.
#include <benchmark/benchmark.h>

#include <string>

#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/received_bytes.h"
#include "terminal/row_search.h"
#include "terminal/screen.h"

namespace {

void setUpWindowGrid() {
    setCellSize(10, 18);
    layoutTextArea(511);
    createScreenGrid();
}

void BM_SearchFullHistory(benchmark::State& state) {
    forgetReceivedBytes();
    setUpWindowGrid();
    std::string lines;
    for (int n = 0; n < HISTORY_ROWS + 100; ++n) {
        lines += "line " + std::to_string(n) + ": serial A" + std::to_string(n * 7) + " ready\r\n";
    }
    putTerminalBytes(reinterpret_cast<const unsigned char*>(lines.data()), lines.size());
    for (auto _ : state) benchmark::DoNotOptimize(findInShownRows("serial B", false, false));
    state.counters["rows"] = HISTORY_ROWS + gridRows;
    releaseScreenGrid();
}
BENCHMARK(BM_SearchFullHistory)->Unit(benchmark::kMicrosecond);

// 4 MiB in receives of the argument's size: a header row a receive, a row for 16 bytes.
// Searched for hex digits that begin at every byte, or for a word whose first letter
// is nowhere.
void BM_SearchOctetRows(benchmark::State& state) {
    const std::string searchedText = state.range(1) != 0 ? "7A 7A" : "Qwerty";
    forgetReceivedBytes();
    setUpWindowGrid();
    keepConnectionOpened(ipv4Endpoint(0x0100007F, 4000), ipv4Endpoint(0x0100007F, 9000), false);
    std::string chunk(static_cast<std::size_t>(state.range(0)), 'x');
    for (std::size_t kept = 0; kept < RECEIVED_BYTES_KEPT; kept += chunk.size()) {
        keepReceivedChunk(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size());
    }
    toggleOctetView();
    for (auto _ : state) benchmark::DoNotOptimize(findInShownRows(searchedText, false, false));
    state.counters["rows"] = static_cast<double>(octetRowsEnd() - firstKeptOctetRow());
    releaseScreenGrid();
}
BENCHMARK(BM_SearchOctetRows)
    ->Args({64, 1})->Args({512, 1})->Args({65536, 1})->Args({512, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
