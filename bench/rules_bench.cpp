// Bytes per second through the reply rules' matching on the received stream, in
// chunks of 64 KB: 80-column text lines and random bytes, against 20 patterns that
// never match (as wine_link_bench.py --rules 20 applies them), and against the one
// pattern of an MQTT PINGREQ, which random bytes hold now and then.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "net/rules.h"

namespace {

const std::size_t STREAM_SIZE = 8 * 1024 * 1024;
const std::size_t CHUNK_SIZE = 64 * 1024;

std::vector<StreamPattern> patternsOf(const std::string& text) {
    std::vector<StreamPattern> patterns;
    for (const Rule& rule : readRules(text).rules) patterns.push_back(rule.pattern);
    return patterns;
}

std::string neverMatching() {
    std::string text;
    const char digits[] = "0123456789ABCDEF";
    for (int i = 1; i <= 20; ++i) text += std::string("recu hex \"FF FE FD FC FB ") + digits[i / 16] + digits[i % 16] + "\" -> hex \"00\"\n";
    return text;
}

std::string textLines() {
    std::string stream;
    std::mt19937 random(7);
    while (stream.size() < STREAM_SIZE) {
        for (int c = 0; c < 78; ++c) stream += static_cast<char>(' ' + random() % 95);
        stream += "\r\n";
    }
    return stream;
}

std::string randomBytes() {
    std::string stream(STREAM_SIZE, '\0');
    std::mt19937 random(8);
    for (char& c : stream) c = static_cast<char>(random());
    return stream;
}

void matchStream(benchmark::State& state, const std::string& rules, const std::string& stream) {
    const std::vector<StreamPattern> patterns = patternsOf(rules);
    StreamMatcher matcher;
    std::vector<StreamMatch> found;
    for (auto _ : state) {
        startMatching(&matcher, patterns);
        for (std::size_t at = 0; at < stream.size(); at += CHUNK_SIZE) {
            found.clear();
            matchChunk(&matcher, reinterpret_cast<const unsigned char*>(stream.data()) + at, CHUNK_SIZE, &found);
        }
        benchmark::DoNotOptimize(found.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(stream.size()));
}

void BM_RulesNeverMatchingText(benchmark::State& state) {
    matchStream(state, neverMatching(), textLines());
}
void BM_RulesNeverMatchingRandom(benchmark::State& state) {
    matchStream(state, neverMatching(), randomBytes());
}
void BM_RulesPingRandom(benchmark::State& state) {
    matchStream(state, "recu hex \"C0 00\" -> hex \"D0 00\"", randomBytes());
}

BENCHMARK(BM_RulesNeverMatchingText);
BENCHMARK(BM_RulesNeverMatchingRandom);
BENCHMARK(BM_RulesPingRandom);

}  // namespace
