// Connection engine: one destination shared by N sources (a material used by
// many nodes), connected and disconnected again. The time per connection must
// not grow with N.
#include <benchmark/benchmark.h>

#include <vector>

#include "scene/KObject.h"
#include "scene/KPlug.h"

namespace {

template <class T>
void ConnectManySources(benchmark::State& state, bool fromSources) {
    const int n = int(state.range(0));
    std::vector<KPlug*> sources;
    for (int i = 0; i < n; ++i) sources.push_back(new T);
    KPlug* shared = new T;
    for (auto _ : state) {
        for (KPlug* s : sources) shared->ConnectSrc(s);
        if (fromSources) {
            for (int i = n; i-- > 0;) sources[size_t(i)]->DisconnectDst(shared);
        } else {
            shared->DisconnectAllSrc();
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
    shared->Destroy();
    for (KPlug* s : sources) s->Destroy();
}

void BM_ConnectThenDisconnectAll(benchmark::State& state) {
    ConnectManySources<KPlug>(state, false);
}
void BM_ConnectThenDisconnectEach(benchmark::State& state) {
    ConnectManySources<KPlug>(state, true);
}
// Objects: every connection also sends the object events and feeds the
// destination's object sub-plug.
void BM_ObjectsConnectThenDisconnectAll(benchmark::State& state) {
    ConnectManySources<KObject>(state, false);
}

BENCHMARK(BM_ConnectThenDisconnectAll)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectThenDisconnectEach)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectsConnectThenDisconnectAll)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
