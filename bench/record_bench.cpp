// Records and bytes per second through the session record decoder (and the encoder
// for comparison), on a typical record and on the longest one of 284 bytes.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstring>

#include "session/record.h"

namespace {

SessionSettings typicalSettings() {
    SessionSettings s;
    std::memset(&s, 0, sizeof s);
    std::strcpy(s.address, "192.168.1.20");
    s.port = 9000;
    std::strcpy(s.path, "C:\\Users\\lab\\Documents\\Dazirar OrU\\capture.txt");
    s.autoWrap = true;
    return s;
}

SessionSettings longestSettings() {
    SessionSettings s;
    std::memset(&s, 0, sizeof s);
    std::memset(s.address, '1', SERVER_ADDRESS_SIZE - 1);
    s.port = 65535;
    std::memset(s.path, 'p', CAPTURE_PATH_SIZE - 1);
    s.autoWrap = false;
    return s;
}

void decodeRecord(benchmark::State& state, const SessionSettings& settings) {
    unsigned char record[SESSION_BUFFER_SIZE];
    const std::size_t length = encodeSessionRecord(settings, record);
    SessionSettings out;
    for (auto _ : state) {
        int result = decodeSessionRecord(record, length, &out);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    if (decodeSessionRecord(record, length, &out) != 0) state.SkipWithError("record refused");
    state.counters["record_bytes"] = static_cast<double>(length);
    state.SetItemsProcessed(static_cast<long long>(state.iterations()));
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(length));
}

void encodeRecord(benchmark::State& state, const SessionSettings& settings) {
    unsigned char record[SESSION_BUFFER_SIZE];
    std::size_t length = 0;
    for (auto _ : state) {
        length = encodeSessionRecord(settings, record);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(record);
        benchmark::ClobberMemory();
    }
    state.counters["record_bytes"] = static_cast<double>(length);
    state.SetItemsProcessed(static_cast<long long>(state.iterations()));
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(length));
}

void BM_DecodeTypical(benchmark::State& state) { decodeRecord(state, typicalSettings()); }
void BM_DecodeLongest(benchmark::State& state) { decodeRecord(state, longestSettings()); }
void BM_EncodeTypical(benchmark::State& state) { encodeRecord(state, typicalSettings()); }
void BM_EncodeLongest(benchmark::State& state) { encodeRecord(state, longestSettings()); }
BENCHMARK(BM_DecodeTypical);
BENCHMARK(BM_DecodeLongest);
BENCHMARK(BM_EncodeTypical);
BENCHMARK(BM_EncodeLongest);

}  // namespace
