// Reading a drawing of about 50 MB (polyface meshes on several layers) into meshes, side by
// side with a general drawing parser that only walks the file with empty callbacks.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "attributes/KQovMesh.h"
#include "formats/geometry/dxf/KDxfDrawingReader.h"
#include "formats/geometry/dxf/KDxfWriter.h"
#include "foundation/KFileStream.h"
#include "platform/KPlatformFile.h"

#ifdef QOV_HAVE_DXFLIB
#include <dl_creationadapter.h>
#include <dl_dxf.h>
#endif

namespace {

constexpr int kLayers = 8;
constexpr int kSide = 200;  // grid points along each side of a mesh

const std::string& BenchFile() {
    static const std::string name = [] {
        const std::string path =
            KPlatformGetTempFolder() + "/qov_bench_" + std::to_string(getpid()) + ".dxf";
        std::vector<std::unique_ptr<KQovMesh>> meshes;
        std::vector<KDxfMeshEntry> entries;
        for (int l = 0; l < kLayers; ++l) {
            auto mesh = std::make_unique<KQovMesh>(nullptr);
            mesh->InitControlPoints(kSide * kSide);
            for (int i = 0; i < kSide * kSide; ++i)
                mesh->GetControlPoints().SetAt(i, KVector4(i % kSide * 0.37, l, i / kSide * 0.61, 1));
            for (int y = 0; y + 1 < kSide; ++y)
                for (int x = 0; x + 1 < kSide; ++x) {
                    const int a = y * kSide + x;
                    mesh->BeginPolygon();
                    for (int v : {a, a + 1, a + kSide + 1, a + kSide}) mesh->AddPolygonVertex(v);
                }
            entries.push_back({"Layer" + std::to_string(l), mesh.get(), true, {}});
            meshes.push_back(std::move(mesh));
        }
        KFileStream out;
        KDxfWriter writer;
        if (!out.Open(path.c_str(), "wb") || !writer.Write(out, entries, true) || !out.Commit())
            std::abort();
        return path;
    }();
    return name;
}

struct Cleanup {
    ~Cleanup() { std::remove(BenchFile().c_str()); }
};

void BM_DxfReadIntoMeshes(benchmark::State& state) {
    static Cleanup cleanup;
    const std::string& path = BenchFile();
    for (auto _ : state) {
        KFileStream in;
        if (!in.Open(path.c_str(), "rb")) std::abort();
        in.Seek(2, 0);
        std::string text(static_cast<size_t>(in.Tell()), '\0');
        in.Seek(0, 0);
        in.Read(text.data(), static_cast<uint32_t>(text.size()));
        KDxfDrawingReader reader(KDxfDrawingReader::eByLayer, true);
        if (!reader.Read(text) || reader.GetNodes().size() != kLayers) std::abort();
        benchmark::DoNotOptimize(reader.GetNodes().data());
        state.SetBytesProcessed(state.bytes_processed() + int64_t(text.size()));
    }
}
BENCHMARK(BM_DxfReadIntoMeshes)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef QOV_HAVE_DXFLIB
void BM_DxfWalkReferenceParser(benchmark::State& state) {
    static Cleanup cleanup;
    const std::string& path = BenchFile();
    for (auto _ : state) {
        DL_CreationAdapter empty;
        DL_Dxf dxf;
        if (!dxf.in(path, &empty)) std::abort();
    }
}
BENCHMARK(BM_DxfWalkReferenceParser)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

}  // namespace
