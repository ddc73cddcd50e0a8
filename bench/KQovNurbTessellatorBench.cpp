// Tessellating a bicubic NURBS of n × n spans at 8 samples a span, from a fresh tessellator
// (basis tables included); the time per output point should not grow with n.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "attributes/geometry/KQovNurbTessellator.h"
#include "attributes/geometry/KQovWeightTable.h"

namespace {

void BM_NurbTessellate(benchmark::State& state) {
    const int spans = int(state.range(0));
    const bool influences = state.range(1) != 0;
    const int count = spans + 3;  // open, uniform knots: one span per point past the order
    std::vector<KVector4> points;
    for (int j = 0; j < count; ++j)
        for (int i = 0; i < count; ++i)
            points.emplace_back(i, j, std::sin(i * 0.3) * std::cos(j * 0.2), 1.0);
    std::vector<double> knots(size_t(count + 4)), weights(points.size(), 1.0);
    for (size_t k = 0; k < knots.size(); ++k) knots[k] = double(k);
    for (size_t k = 0; k < weights.size(); k += 3) weights[k] = 1.5;
    std::vector<double> work(points.size() * 3);
    std::vector<KVector4> out, normals;
    int64_t produced = 0;
    for (auto _ : state) {
        auto t = CreateNurbTessellator(4, 4);
        t->SetUStep(8);
        t->SetVStep(8);
        t->SetControlPoints(points.data(), count, count);
        t->SetParameter(KQovNurbTessellator::eUKnots, knots.data());
        t->SetParameter(KQovNurbTessellator::eVKnots, knots.data());
        t->SetParameter(KQovNurbTessellator::eWeights, weights.data());
        t->SetParameter(KQovNurbTessellator::eWorkArray, work.data());
        const size_t n = size_t(t->GetUVertexCount()) * size_t(t->GetVVertexCount());
        out.resize(n);
        normals.resize(n);
        t->SetOutputPoints(out.data());
        t->SetOutputNormals(normals.data());
        KQovWeightTable table;
        if (influences) table.Init(int(points.size()), int(n));
        benchmark::DoNotOptimize(t->Tessellate(influences ? &table : nullptr));
        produced += int64_t(n);
    }
    // Output points a second; its inverse is the time per point.
    state.SetItemsProcessed(produced);
}
BENCHMARK(BM_NurbTessellate)
    ->ArgNames({"spans", "influences"})
    ->Args({16, 0})
    ->Args({64, 0})
    ->Args({16, 1})
    ->Args({64, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
