// Bytes per second through the interpreter, with a platform that draws nothing: what
// is left is the interpreter and the grid, fed one byte at a time (a chunk of one, as
// the terminal-character message brings it) or in chunks of 64 KB and 1 MB.
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

// 80-column text: lines of 78 printable characters and CR LF, as a log or a listing.
std::string lineStream(std::size_t size) {
    std::string out;
    unsigned seed = 4321;
    while (out.size() < size) {
        for (int i = 0; i < 78; i++) {
            seed = seed * 1103515245u + 12345u;
            out += static_cast<char>(32 + ((seed >> 16) & 0x7FFF) % 95);
        }
        out += "\r\n";
    }
    out.resize(size);
    return out;
}

// Every byte as a chunk of its own.
void feedOneByOne(benchmark::State& state, const std::string& stream) {
    for (auto _ : state) {
        for (char c : stream) putTerminalBytes(reinterpret_cast<const unsigned char*>(&c), 1);
        benchmark::DoNotOptimize(screenBuffer);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(stream.size()));
}

void BM_InterpreterText(benchmark::State& state) {
    setUpWindowGrid(false);
    const std::string stream = textStream(64 * 1024);
    feedOneByOne(state, stream);
}
BENCHMARK(BM_InterpreterText);

// The same bytes with auto-wrap on: lines longer than the row wrap and scroll too.
void BM_InterpreterTextWrapped(benchmark::State& state) {
    setUpWindowGrid(true);
    std::string stream = textStream(64 * 1024);
    for (char& c : stream)
        if (c == '\r' || c == '\n') c = 'x';  // one endless line
    feedOneByOne(state, stream);
}
BENCHMARK(BM_InterpreterTextWrapped);

// Text without line ends or tabs and without wrap: no scrolling at all, so this is
// the cost of storing a character and moving the cursor.
void BM_InterpreterNoScroll(benchmark::State& state) {
    setUpWindowGrid(false);
    std::string stream(64 * 1024, 'a');
    for (std::size_t i = 0; i < stream.size(); i++)
        stream[i] = static_cast<char>(33 + i % 94);
    feedOneByOne(state, stream);
}
BENCHMARK(BM_InterpreterNoScroll);

void BM_InterpreterLines(benchmark::State& state) {
    setUpWindowGrid(false);
    const std::string stream = lineStream(64 * 1024);
    feedOneByOne(state, stream);
}
BENCHMARK(BM_InterpreterLines);

// ---- the received-chunk path ----------------------------------------------------
// Each runs with chunks of 64 KB and of 1 MB (the argument): a flood arrives in
// chunks of up to 1 MB.

void feedChunks(benchmark::State& state, const std::string& stream) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    const std::size_t chunk = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            std::size_t count = stream.size() - at < chunk ? stream.size() - at : chunk;
            putTerminalBytes(bytes + at, count);
        }
        benchmark::DoNotOptimize(screenBuffer);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(stream.size()));
}

void BM_ChunksText(benchmark::State& state) {
    setUpWindowGrid(false);
    feedChunks(state, textStream(1024 * 1024));
}
BENCHMARK(BM_ChunksText)->Arg(64 * 1024)->Arg(1024 * 1024);

void BM_ChunksLines(benchmark::State& state) {
    setUpWindowGrid(false);
    feedChunks(state, lineStream(1024 * 1024));
}
BENCHMARK(BM_ChunksLines)->Arg(64 * 1024)->Arg(1024 * 1024);

void BM_ChunksTextWrapped(benchmark::State& state) {
    setUpWindowGrid(true);
    std::string stream = textStream(1024 * 1024);
    for (char& c : stream)
        if (c == '\r' || c == '\n') c = 'x';
    feedChunks(state, stream);
}
BENCHMARK(BM_ChunksTextWrapped)->Arg(64 * 1024)->Arg(1024 * 1024);

// Any byte value, controls included: form feeds, tabs and scrolls every few hundred bytes.
void BM_ChunksRandom(benchmark::State& state) {
    setUpWindowGrid(false);
    std::string stream(1024 * 1024, '\0');
    unsigned seed = 99;
    for (char& c : stream) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>((seed >> 16) & 0xFF);
    }
    feedChunks(state, stream);
}
BENCHMARK(BM_ChunksRandom)->Arg(64 * 1024)->Arg(1024 * 1024);

// A device's colourful log, 80-column lines each coloured and reset, in chunks of
// 64 KB, with its sequences read (1) or shown as characters (0, the argument).
void BM_ChunksColourLog(benchmark::State& state) {
    setUpWindowGrid(false);
    const char* const colours[3] = {"\x1b[0;32mI", "\x1b[0;33mW", "\x1b[0;31mE"};
    std::string stream;
    const std::string text = lineStream(60);
    for (int n = 0; stream.size() < 1024 * 1024; ++n) {
        stream += colours[n % 3] + std::string(" (") + std::to_string(1000000 + n) + ") wifi: " + text + "\x1b[0m\r\n";
    }
    setAnsiSequences(state.range(0) != 0);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    const std::size_t chunk = 64 * 1024;
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            putTerminalBytes(bytes + at, stream.size() - at < chunk ? stream.size() - at : chunk);
        }
        benchmark::DoNotOptimize(screenBuffer);
        benchmark::ClobberMemory();
    }
    setAnsiSequences(false);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(stream.size()));
}
BENCHMARK(BM_ChunksColourLog)->Arg(0)->Arg(1);

}  // namespace
