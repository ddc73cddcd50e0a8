#include <benchmark/benchmark.h>

#include <cstdio>

#include "foundation/KArray.h"
#include "foundation/KPointerMap.h"
#include "foundation/KStringMap.h"

// Appending must stay linear whatever the grow step.
static void BM_KArrayAppend(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        KArrayInt a(static_cast<int>(state.range(1)));
        for (int i = 0; i < count; ++i) a.Add(i);
        benchmark::DoNotOptimize(a.GetData());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_KArrayAppend)->Args({1 << 20, 1})->Args({1 << 20, 16});

// Add everything, then look every key up once (one sort).
static void BM_KStringMapAddFind(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    char key[32];
    for (auto _ : state) {
        KStringMap map;
        for (int i = 0; i < count; ++i) {
            std::snprintf(key, sizeof key, "Model::Node%d", i * 7919 % count);
            map.Add(key, nullptr);
        }
        for (int i = 0; i < count; ++i) {
            std::snprintf(key, sizeof key, "model::node%d", i);
            benchmark::DoNotOptimize(map.Find(key));
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_KStringMapAddFind)->Arg(1 << 16);

static void BM_KPointerMapAddFind(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        KPointerMap map;
        for (int i = 0; i < count; ++i) map.Add(uintptr_t(i) * 2654435761u, uintptr_t(i));
        for (int i = 0; i < count; ++i)
            benchmark::DoNotOptimize(map.Find(uintptr_t(i) * 2654435761u));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_KPointerMapAddFind)->Arg(1 << 18);
