#include <benchmark/benchmark.h>

#include <string>

#include "foundation/KString.h"

// Appending one character at a time must stay linear.
static void BM_KStringAppendChars(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        KString s;
        for (int i = 0; i < count; ++i) s += 'x';
        benchmark::DoNotOptimize(s.Buffer());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_KStringAppendChars)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);

static void BM_KStringFindAndReplaceLongText(benchmark::State& state) {
    std::string text(static_cast<size_t>(state.range(0)), '.');
    text += "needle";
    for (auto _ : state) {
        KString s(text.c_str());
        benchmark::DoNotOptimize(s.FindAndReplace("needle", "thread"));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_KStringFindAndReplaceLongText)->Arg(1 << 12)->Arg(1 << 20);

static void BM_KStringTokens(benchmark::State& state) {
    KString s("alpha, beta,gamma ,, delta,epsilon, zeta,eta, theta");
    for (auto _ : state) {
        int n = s.GetTokenCount(", ");
        for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(s.GetToken(i, ", ").Buffer());
    }
}
BENCHMARK(BM_KStringTokens);
