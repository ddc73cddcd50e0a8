// Reading generated OBJ grids (vertices with UVs and normals, about 14, 60 and 259 MB) into a
// scene, side by side with an independent reader of the same file. Targets: time at most the
// other reader's at every size (ratio_min / ratio_median of BM_ObjReadVsIndependent, both
// read alternately in one run), peak memory at most 1.2 times its own (peak_ratio, each side
// measured in a new process of its own, above that process's start).
#ifdef QOV_HAVE_TINYOBJ
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "KBenchSideBySide.h"
#include "formats/geometry/obj/KQovReaderObj.h"
#include "io/KStreamOptionsBase.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovRenamer.h"
#include "scene/KQovScene.h"

namespace {

// A grid of side x side vertices, its quads as faces; removed when the program ends.
const std::string& GridFile(int side) {
    static std::map<int, std::string> paths;
    std::string& path = paths[side];
    if (!path.empty() && access(path.c_str(), F_OK) == 0) return path;
    path = KPlatformGetTempFolder() + "/qov_obj_bench_grid_" + qovbench::RunId() + "_" +
           std::to_string(side) + ".obj";
    qovbench::RemoveAtExit(path);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return path;
    const int n = side;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            std::fprintf(f, "v %.1f %.1f %.1f\n", x * 0.5, y * 0.5, (x ^ y) * 0.1);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            std::fprintf(f, "vt %.2f %.2f\n", x / double(n), y / double(n));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) std::fprintf(f, "vn 0 0 1\n");
    for (int y = 0; y + 1 < n; ++y)
        for (int x = 0; x + 1 < n; ++x) {
            const int a = y * n + x + 1, b = a + 1, c = a + n + 1, d = a + n;
            std::fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, c, c, c,
                         d, d, d);
        }
    std::fclose(f);
    return path;
}

bool ReadIntoScene(const std::string& path) {
    KQovObjectManager manager;
    manager.SetNodeRenamer(std::make_unique<KQovNumberingRenamer>());
    KQovScene* scene = manager.CreateScene();
    KQovReaderObj reader(&manager);
    KStreamOptionsObj options;
    return reader.FileOpen(path.c_str()) && reader.Read(scene, &options);
}

bool ReadIndependently(const std::string& path) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    return tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(), nullptr,
                            false);
}

void Run(benchmark::State& state, bool (*read)(const std::string&)) {
    const std::string& path = GridFile(700);
    state.counters["peak_MB"] = qovbench::ChildPeakMB([&] { return read(path); });
    for (auto _ : state)
        if (!read(path)) state.SkipWithError("read failed");
}

void BM_ObjReadIntoScene(benchmark::State& state) {
    Run(state, ReadIntoScene);
}
void BM_ObjReadIndependent(benchmark::State& state) {
    Run(state, ReadIndependently);
}

// The argument is the grid's side: 350, 700 and 1400 give about 14, 60 and 260 MB.
void BM_ObjReadVsIndependent(benchmark::State& state) {
    const std::string& path = GridFile(int(state.range(0)));
    struct stat st;
    state.counters["file_MB"] = stat(path.c_str(), &st) == 0 ? double(st.st_size) / 1e6 : -1.0;
    auto ours = [&] { return ReadIntoScene(path); };
    auto peer = [&] { return ReadIndependently(path); };
    const std::string filter = "^BM_ObjReadVsIndependent/" + std::to_string(state.range(0)) + "/";
    qovbench::PeakSideBySide(state, filter.c_str(), ours, peer);
    qovbench::RunSideBySide(state, ours, peer);
    std::remove(path.c_str());  // the largest is 259 MB: not kept for the rest of the run
}

BENCHMARK(BM_ObjReadVsIndependent)
    ->Arg(350)
    ->Arg(700)
    ->Arg(1400)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_ObjReadIntoScene)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ObjReadIndependent)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
#endif
