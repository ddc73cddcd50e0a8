// Curve evaluation and key appending on long curves.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "animation/KFCurve.h"

namespace {

constexpr int64_t kKeyStep = KTime::kOneSecond / 30;

// A cubic curve of n keys, one a frame, with auto tangents.
void FillCurve(KFCurve& curve, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        curve.KeyAppendFast(KTime(i * kKeyStep), static_cast<float>((i * 7919) % 113));
    }
}

// Increasing times, seven evaluations a key, wrapping to the start after the last key.
void BM_EvaluateSequential(benchmark::State& state) {
    const int64_t n = state.range(0);
    KFCurve curve;
    FillCurve(curve, n);
    const int64_t step = kKeyStep / 7;
    const int64_t end = (n - 1) * kKeyStep;
    int64_t t = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(curve.Evaluate(KTime(t)));
        t += step;
        if (t > end) t = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateSequential)->Arg(100)->Arg(10000)->Arg(1000000);

void BM_EvaluateRandom(benchmark::State& state) {
    const int64_t n = state.range(0);
    KFCurve curve;
    FillCurve(curve, n);
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int64_t> pick(0, (n - 1) * kKeyStep);
    std::vector<KTime> times(4096);
    for (KTime& time : times) time = KTime(pick(random));
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(curve.Evaluate(times[i]));
        i = (i + 1) & (times.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateRandom)->Arg(100)->Arg(10000)->Arg(1000000);

void BM_KeyAppendFast(benchmark::State& state) {
    const int64_t n = state.range(0);
    for (auto _ : state) {
        KFCurve curve;
        FillCurve(curve, n);
        benchmark::DoNotOptimize(curve.KeyGetCount());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_KeyAppendFast)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_KeyAddAtEnd(benchmark::State& state) {
    const int64_t n = state.range(0);
    KFCurveKey key;
    for (auto _ : state) {
        KFCurve curve;
        for (int64_t i = 0; i < n; ++i) {
            key.Set(KTime(i * kKeyStep), static_cast<float>(i % 13), KFCURVE_INTERPOLATION_CUBIC,
                    KFCURVE_TANGENT_USER, 0.0f, 0.0f, KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT,
                    KFCURVE_WEIGHT_DEFAULT, 0.0f, 0.0f);
            curve.KeyAdd(KTime(i * kKeyStep), key);
        }
        benchmark::DoNotOptimize(curve.KeyGetCount());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_KeyAddAtEnd)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
