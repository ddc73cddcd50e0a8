// Connection engine: one destination shared by N sources (a material used by
// many nodes), connected and disconnected again. The time per connection must
// not grow with N.
#include <benchmark/benchmark.h>

#include <vector>

#include "scene/KPlug.h"

namespace {

void ConnectManySources(benchmark::State& state, bool fromSources) {
    const int n = int(state.range(0));
    std::vector<KPlug*> sources;
    for (int i = 0; i < n; ++i) sources.push_back(new KPlug);
    KPlug* shared = new KPlug;
    for (auto _ : state) {
        for (KPlug* s : sources) shared->ConnectSrc(s);
        if (fromSources) {
            for (int i = n; i-- > 0;) sources[size_t(i)]->DisconnectDst(shared);
        } else {
            shared->DisconnectAllSrc();
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["ns_per_connection"] = benchmark::Counter(
        double(state.iterations()) * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    shared->Destroy();
    for (KPlug* s : sources) s->Destroy();
}

void BM_ConnectThenDisconnectAll(benchmark::State& state) {
    ConnectManySources(state, false);
}
void BM_ConnectThenDisconnectEach(benchmark::State& state) {
    ConnectManySources(state, true);
}

BENCHMARK(BM_ConnectThenDisconnectAll)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectThenDisconnectEach)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
