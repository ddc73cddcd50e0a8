// The 3DS toolkit writing and reading a file of large meshes (vertices, texture
// vertices, faces and smoothing groups), the chunk reader and writer's hot path.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"
#include "platform/KPlatformFile.h"

namespace {

constexpr int kMeshes = 40;
constexpr uint16_t kCount = 60000;  // vertices and faces per mesh

std::string BenchFile() {
    static const std::string name = [] {
        std::string path =
            KPlatformGetTempFolder() + "/qov_bench_" + std::to_string(getpid()) + ".3ds";
        qovbench::RemoveAtExit(path);
        return path;
    }();
    return name;
}

bool WriteMeshes(const std::string& name) {
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
    Mesh3ds* mesh = nullptr;
    InitMesh3ds(ctx, &mesh, kCount, kCount, kMeshTexVerts3ds | kMeshSmoothing3ds);
    for (uint16_t i = 0; i < kCount; ++i) {
        mesh->vertices[i] = {i * 0.5f, i * 0.25f, -i * 0.125f};
        mesh->texVerts[i] = {i / 60000.0f, 1 - i / 60000.0f};
        mesh->faces[i] = {i, uint16_t((i + 1) % kCount), uint16_t((i + 2) % kCount), 7};
        mesh->smoothing[i] = i;
    }
    for (int m = 0; m < kMeshes; ++m) {
        mesh->name = "M" + std::to_string(m);
        PutMesh3ds(ctx, db, mesh);
    }
    ReleaseMesh3ds(&mesh);
    File3ds* file = OpenFile3ds(ctx, name.c_str(), "wb");
    SaveDatabase3ds(ctx, file, db);
    CloseFile3ds(ctx, file);
    bool ok = !ctx.ErrorPending();
    ReleaseDatabase3ds(ctx, &db);
    return ok;
}

double ReadMeshes(const std::string& name) {
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    File3ds* file = OpenFile3ds(ctx, name.c_str(), "rb");
    LoadDatabase3ds(ctx, file, db);
    double sum = 0;
    Mesh3ds* mesh = nullptr;
    for (size_t m = 0, n = GetMeshCount3ds(ctx, db); m < n; ++m) {
        GetMeshByIndex3ds(ctx, db, m, &mesh);
        if (mesh) sum += mesh->vertices.back().x + mesh->faces.size() + mesh->smoothing.back();
    }
    ReleaseMesh3ds(&mesh);
    ReleaseDatabase3ds(ctx, &db);
    CloseAllFiles3ds(ctx);
    return ctx.ErrorPending() ? -1 : sum;
}

void BM_Write3dsMeshes(benchmark::State& state) {
    for (auto _ : state)
        if (!WriteMeshes(BenchFile())) state.SkipWithError("write failed");
}

void BM_Read3dsMeshes(benchmark::State& state) {
    if (!WriteMeshes(BenchFile())) state.SkipWithError("write failed");
    for (auto _ : state) {
        double sum = ReadMeshes(BenchFile());
        if (sum < 0) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(sum);
    }
    std::remove(BenchFile().c_str());
}

}  // namespace

BENCHMARK(BM_Write3dsMeshes)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read3dsMeshes)->Iterations(5)->Unit(benchmark::kMillisecond);
