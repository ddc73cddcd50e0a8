// Triangulating a mesh of quads with per-polygon materials, per-polygon-vertex UV indices and
// normals: time per polygon at 10,000 and 1,000,000 polygons should match (linear in output).
#include <benchmark/benchmark.h>

#include <memory>

#include "attributes/KQovMesh.h"
#include "attributes/geometry/KQovGeometryConverter.h"

namespace {

void BuildQuads(KQovMesh& mesh, int polygons) {
    const int points = 2 * (polygons + 1);
    mesh.InitControlPoints(points);
    mesh.InitMaterialIndices(KQovLayer::eByPolygon);
    mesh.InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    mesh.InitTextureUV(points);
    for (int p = 0; p < polygons; ++p) {
        mesh.BeginPolygon(p & 7, -1, 0);
        for (int c : {2 * p, 2 * p + 1, 2 * p + 3, 2 * p + 2}) mesh.AddPolygonVertex(c, c);
    }
    mesh.InitNormals(polygons * 4);
}

void BM_TriangulateMesh(benchmark::State& state) {
    const int polygons = int(state.range(0));
    KQovMesh mesh(nullptr);
    BuildQuads(mesh, polygons);
    KQovGeometryConverter converter(nullptr);
    for (auto _ : state) {
        std::unique_ptr<KQovMesh> triangles(converter.TriangulateMesh(&mesh));
        benchmark::DoNotOptimize(triangles->GetPolygonCount());
    }
    state.SetItemsProcessed(state.iterations() * polygons);
    state.counters["ns_per_polygon"] =
        benchmark::Counter(double(state.iterations()) * polygons,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TriangulateMesh)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
