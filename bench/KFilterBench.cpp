#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterConstantKeyReducer.h"
#include "animation/KFCurveFilterKeyReducer.h"
#include "animation/KFCurveFilterKeySync.h"
#include "animation/KFCurveFilterResample.h"
#include "animation/KFCurveFilterUnroll.h"

namespace {

// A motion-capture rotation channel at 120 keys a second: a slow wave with flat holds and
// a little noise, cubic auto keys.
std::unique_ptr<KFCurve> CaptureCurve(int count, uint32_t seed, double amplitude) {
    std::unique_ptr<KFCurve> curve(KFCurve::Create());
    curve->PrepareKeys(count);
    const KTime step(KTime::kOneSecond / 120);
    KTime time;
    uint32_t state = seed;
    for (int i = 0; i < count; ++i, time += step) {
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / (1u << 24) - 0.5) * 0.01;
        // Holds of 40 keys every 100 keys give the reducer runs to remove.
        const double phase = (i % 100) < 40 ? (i / 100) * 100.0 : static_cast<double>(i);
        // A drift that wraps at +-180 degrees, as Euler angles read from a file do.
        const double angle = amplitude * std::sin(phase * 0.01) + phase * 0.5;
        const double value = std::remainder(angle, 360.0) + ((i % 100) < 40 ? 0.0 : noise);
        curve->KeySet(i, time, static_cast<float>(value));
    }
    curve->CommitKeys(count);
    return curve;
}

// Applies the filter to fresh copies of the three channels at every iteration.
template <typename Filter>
void RunOnCopies(benchmark::State& state, Filter& filter,
                 const std::unique_ptr<KFCurve> (&channels)[3]) {
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<KFCurve> work[3];
        KFCurve* curves[3];
        for (int c = 0; c < 3; ++c) {
            work[c].reset(KFCurve::Create());
            work[c]->CopyFrom(*channels[c], true);
            curves[c] = work[c].get();
        }
        state.ResumeTiming();
        filter.Apply(curves, 3);
        benchmark::DoNotOptimize(curves[0]->KeyGetCount());
    }
    state.SetItemsProcessed(state.iterations() * channels[0]->KeyGetCount() * 3);
}

template <typename Filter>
void RunOverThreeChannels(benchmark::State& state, Filter& filter) {
    const int count = static_cast<int>(state.range(0));
    const std::unique_ptr<KFCurve> channels[3] = {
        CaptureCurve(count, 1, 90.0), CaptureCurve(count, 2, 45.0), CaptureCurve(count, 3, 170.0)};
    RunOnCopies(state, filter, channels);
}

}  // namespace

// Time per key should stay flat from 10,000 to 100,000 keys a channel.
static void BM_ConstantKeyReducer(benchmark::State& state) {
    KFCurveFilterConstantKeyReducer filter;
    RunOverThreeChannels(state, filter);
}
BENCHMARK(BM_ConstantKeyReducer)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

static void BM_Resample(benchmark::State& state) {
    KFCurveFilterResample filter;
    filter.SetPeriod(KTime(KTime::kOneSecond / 30));
    RunOverThreeChannels(state, filter);
}
BENCHMARK(BM_Resample)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Rotation channels that wrap around +-180 degrees all along.
static void BM_Unroll(benchmark::State& state) {
    KFCurveFilterUnroll filter;
    RunOverThreeChannels(state, filter);
}
BENCHMARK(BM_Unroll)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A long noisy curve: the fit's splits never run on the call stack.
static void BM_KeyReducerNoisy(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::unique_ptr<KFCurve> source(KFCurve::Create());
    source->PrepareKeys(count);
    uint32_t seed = 99;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        source->KeySet(i, KTime(KTime::kOneSecond / 120 * i),
                       static_cast<float>((seed >> 8) % 1000) * 0.01f);
    }
    source->CommitKeys(count);
    KFCurveFilterKeyReducer filter;
    filter.SetPrecision(0.5);
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<KFCurve> work(KFCurve::Create());
        work->CopyFrom(*source, true);
        state.ResumeTiming();
        filter.Apply(*work);
        benchmark::DoNotOptimize(work->KeyGetCount());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_KeyReducerNoisy)->Arg(200000)->Unit(benchmark::kMillisecond);

// Three channels keyed at interleaved times: every key of one becomes a key of the others.
static void BM_KeySyncInterleaved(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::unique_ptr<KFCurve> channels[3];
    for (int c = 0; c < 3; ++c) {
        channels[c].reset(KFCurve::Create());
        channels[c]->PrepareKeys(count);
        for (int i = 0; i < count; ++i) {
            channels[c]->KeySet(i, KTime(KTime::kOneSecond / 360 * (3 * i + c)),
                                static_cast<float>(i % 7));
        }
        channels[c]->CommitKeys(count);
    }
    KFCurveFilterKeySync filter;
    RunOnCopies(state, filter, channels);
}
BENCHMARK(BM_KeySyncInterleaved)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
