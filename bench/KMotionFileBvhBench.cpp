// A generated 30-joint BVH file read whole (hierarchy, then every frame line turned into local
// translations and continuous Euler rotations), and imported into a scene (nodes, keys,
// unroll and key reduction). Time per frame should stay flat from 1,000 to 10,000 frames.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <string>

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
    std::ofstream out(name);
    out << "HIERARCHY\nROOT J0\n{\nOFFSET 0 0 0\nCHANNELS 6 Xposition Yposition Zposition "
           "Zrotation Xrotation Yrotation\n";
    // A chain of three-joint limbs: every joint turns about three axes.
    for (int j = 1; j < kJoints; ++j)
        out << "JOINT J" << j << "\n{\nOFFSET 1 2 3\nCHANNELS 3 Zrotation Xrotation Yrotation\n";
    out << "End Site\n{\nOFFSET 0 0 1\n}\n";
    for (int j = 0; j < kJoints; ++j) out << "}\n";
    out << "MOTION\nFrames: " << frames << "\nFrame Time: 0.0083333\n";
    for (int f = 0; f < frames; ++f) {
        out << f * 0.1 << " 90.5 " << -f * 0.05;
        for (int j = 0; j < kJoints * 3; ++j)
            out << ' ' << std::fmod(f * 1.7 + j * 13.1, 360.0) - 180.0;
        out << '\n';
    }
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
