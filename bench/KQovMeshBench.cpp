// Building a triangle mesh through BeginPolygon/AddPolygonVertex with per-polygon materials,
// per-polygon-vertex UV indices and normals: time per polygon at 10,000 and 1,000,000 polygons
// should match, and the heap held per polygon vertex should stay close to the data stored.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>

#include "attributes/KQovMesh.h"

namespace {

// Heap bytes in use, counting large blocks the allocator maps on their own.
size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t HeldBytes(const KQovMesh& mesh) {
    const KQovLayer* layer = mesh.GetLayer(0);
    return size_t(mesh.GetControlPointsCount()) * sizeof(KVector4) +
           size_t(mesh.GetPolygonCount()) * sizeof(KQovPolygon) +
           size_t(mesh.GetPolygonVertices().GetCount()) * sizeof(int32_t) +
           size_t(layer->GetMaterials()->GetIndexArray().GetCount()) * sizeof(int32_t) +
           size_t(layer->GetUVs()->GetIndexArray().GetCount()) * sizeof(int32_t) +
           size_t(layer->GetUVs()->GetDirectArray().GetCount()) * sizeof(KVector2) +
           size_t(layer->GetNormals()->GetDirectArray().GetCount()) * sizeof(KVector4);
}

void BuildMesh(KQovMesh& mesh, int polygons) {
    const int points = polygons + 2;
    mesh.InitControlPoints(points);
    mesh.InitMaterialIndices(KQovLayer::eByPolygon);
    mesh.InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    mesh.InitTextureUV(points);
    for (int p = 0; p < polygons; ++p) {
        mesh.BeginPolygon(p & 7, -1, 0);
        for (int k = 0; k < 3; ++k) mesh.AddPolygonVertex(p + k, p + k);
    }
    mesh.InitNormals(polygons * 3);
    KArrayVector4& normals = *mesh.GetNormals();
    for (int t = 0; t < normals.GetCount(); ++t) normals.SetAt(t, KVector4(0, 0, 1));
}

void BM_MeshBuild(benchmark::State& state) {
    const int polygons = int(state.range(0));
    double heapPerVertex = 0.0, heldPerVertex = 0.0;
    for (auto _ : state) {
        const size_t before = HeapInUse();
        auto mesh = std::make_unique<KQovMesh>(nullptr);
        BuildMesh(*mesh, polygons);
        benchmark::DoNotOptimize(mesh->GetPolygonCount());
        const double vertices = double(polygons) * 3.0;
        heapPerVertex = double(HeapInUse() - before) / vertices;
        heldPerVertex = double(HeldBytes(*mesh)) / vertices;
        mesh.reset();
    }
    state.SetItemsProcessed(state.iterations() * polygons);
    state.counters["ns_per_polygon"] =
        benchmark::Counter(double(state.iterations()) * polygons,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["heap_bytes_per_vertex"] = heapPerVertex;
    state.counters["held_bytes_per_vertex"] = heldPerVertex;
}
BENCHMARK(BM_MeshBuild)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The same once the heap keeps its pages between builds: what is left is the mesh's own work,
// without the kernel's cost of handing out fresh zeroed pages to the large case.
void BM_MeshBuildWarmHeap(benchmark::State& state) {
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    BM_MeshBuild(state);
    // Back to a new process's thresholds, the pages given back: the benchmarks after this one
    // (the file reads against fread among them) must not find large blocks kept for them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    malloc_trim(0);
}
BENCHMARK(BM_MeshBuildWarmHeap)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
