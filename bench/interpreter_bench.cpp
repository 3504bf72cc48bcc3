// Bytes per second through putTerminalChar, the received-byte path of the screen,
// with a platform that draws nothing: what is left is the interpreter and the grid.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "session/settings.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

// The window's grid: 10 by 18 pixel cells, 79 columns by 25 rows.
void setUpWindowGrid(bool wrap) {
    setCellSize(10, 18);
    layoutTextArea(511);
    createScreenGrid();
    autoWrap = wrap;
}

// Printable text in lines of 64 to 76 characters ending in CR LF, so the grid
// scrolls about once a line once it is full, with a tab now and then.
std::string textStream(std::size_t size) {
    std::string out;
    unsigned seed = 12345;
    std::size_t lineLength = 0;
    std::size_t lineTarget = 70;
    while (out.size() < size) {
        seed = seed * 1103515245u + 12345u;
        unsigned pick = (seed >> 16) & 0x7FFF;
        if (lineLength >= lineTarget) {
            out += "\r\n";
            lineLength = 0;
            lineTarget = 64 + pick % 13;
        } else if (pick % 40 == 0) {
            out += '\t';
            lineLength += 8 - lineLength % 8;
        } else {
            out += static_cast<char>(32 + pick % 95);
            lineLength++;
        }
    }
    out.resize(size);
    return out;
}

void feed(const std::string& stream) {
    for (char c : stream) putTerminalChar(static_cast<signed char>(c));
}

void BM_InterpreterText(benchmark::State& state) {
    setUpWindowGrid(false);
    const std::string stream = textStream(64 * 1024);
    for (auto _ : state) {
        feed(stream);
        benchmark::DoNotOptimize(screenBuffer);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(stream.size()));
}
BENCHMARK(BM_InterpreterText);

// The same bytes with auto-wrap on: lines longer than the row wrap and scroll too.
void BM_InterpreterTextWrapped(benchmark::State& state) {
    setUpWindowGrid(true);
    std::string stream = textStream(64 * 1024);
    for (char& c : stream)
        if (c == '\r' || c == '\n') c = 'x';  // one endless line
    for (auto _ : state) {
        feed(stream);
        benchmark::DoNotOptimize(screenBuffer);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(stream.size()));
}
BENCHMARK(BM_InterpreterTextWrapped);

// Text without line ends or tabs and without wrap: no scrolling at all, so this is
// the cost of storing a character and moving the cursor.
void BM_InterpreterNoScroll(benchmark::State& state) {
    setUpWindowGrid(false);
    std::string stream(64 * 1024, 'a');
    for (std::size_t i = 0; i < stream.size(); i++)
        stream[i] = static_cast<char>(33 + i % 94);
    for (auto _ : state) {
        feed(stream);
        benchmark::DoNotOptimize(screenBuffer);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(stream.size()));
}
BENCHMARK(BM_InterpreterNoScroll);

}  // namespace
