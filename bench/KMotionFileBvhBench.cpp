// A generated 30-joint BVH file read whole (hierarchy, then every frame line turned into local
// translations and continuous Euler rotations), and imported into a scene (nodes, keys,
// unroll and key reduction). Time per frame should stay flat from 1,000 to 10,000 frames.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <string>

#include "KBenchMotionFiles.h"
#include "character/KQovSceneBridge.h"
#include "formats/motion/bvh/KMotionFileBvh.h"
#include "formats/motion/bvh/KQovReaderBvh.h"
#include "io/KStreamOptionsMotion.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

constexpr int kJoints = 30;

std::string WriteFile(int frames) {
    const std::string name = KPlatformGetTempFolder() + "/qov_bench_" + std::to_string(getpid()) +
                             "_" + std::to_string(frames) + ".bvh";
    // A chain of three-joint limbs: every joint turns about three axes.
    KBenchWriteBvh(name, kJoints, frames);
    return name;
}

void BM_BvhRead(benchmark::State& state) {
    const int frames = int(state.range(0));
    const std::string name = WriteFile(frames);
    for (auto _ : state) {
        KMotionFileBvh file(false);
        file.Open(name.c_str(), "r");
        if (!file.ReadHierarchy()) state.SkipWithError("hierarchy");
        for (int f = 0; f < file.GetFrameCount(); ++f)
            if (!file.ReadFrame(f == 0)) state.SkipWithError("frame");
        benchmark::DoNotOptimize(file.GetRoot()->rotation);
    }
    state.SetItemsProcessed(state.iterations() * frames * kJoints);
    unlink(name.c_str());
}
BENCHMARK(BM_BvhRead)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_BvhImport(benchmark::State& state) {
    const int frames = int(state.range(0));
    const std::string name = WriteFile(frames);
    KQovSceneBridge::Install();
    for (auto _ : state) {
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        KQovReaderBvh reader(&manager);
        reader.FileOpen(name.c_str());
        std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(true));
        if (!reader.Read(scene, options.get())) state.SkipWithError("import");
    }
    state.SetItemsProcessed(state.iterations() * frames * kJoints);
    unlink(name.c_str());
}
BENCHMARK(BM_BvhImport)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
