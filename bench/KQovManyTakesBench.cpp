// Reading a QOV file of many takes: 500, 1,000 and 2,000 takes of a few animated nodes, read
// into a scene as qovtool reads it, against reading the file's bytes (fread). The time per take
// (us_per_take) stays flat as the takes grow: the read is linear in them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovWriterQov6.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

constexpr int kTakeNodes = 4;
constexpr int kTakeKeys = 3;

// A binary file of `takes` takes, each animating every node; false when it cannot be written.
bool MakeFile(const std::string& name, int takes) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    for (int n = 0; n < kTakeNodes; ++n) {
        KQovNode* node = manager.CreateNode(("Mover" + std::to_string(n)).c_str());
        scene->GetRootNode()->AddChild(node);
        for (int t = 0; t < takes; ++t) {
            KQovTakeNode* take = node->AddTakeNode(("Take " + std::to_string(t)).c_str());
            if (!take) return false;
            KFCurve* curve = take->GetTranslationX();
            curve->ResizeKeyBuffer(kTakeKeys);
            for (int k = 0; k < kTakeKeys; ++k)
                curve->KeySet(k, KTime(int64_t(k) * 1539538600), float(t + k));
            curve->CommitKeys(kTakeKeys);
        }
    }
    KStreamOptionsQov options;
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
    KQovWriterQov6 writer(&manager, nullptr);
    writer.SetFileMode(KQovWriterQov6::eBinary);
    if (!writer.FileCreate(name.c_str())) return false;
    const bool ok = writer.Write(scene, &options);
    return writer.FileClose() && ok;
}

bool Read(const std::string& name, int takes) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    if (!importer.Initialize(name.c_str()) || importer.GetTakeCount() != takes) return false;
    if (!importer.Import(scene, nullptr)) return false;
    std::vector<KString> names;
    scene->FillTakeNameArray(names);
    return int(names.size()) == takes + 1;  // and "Default"
}

bool ReadBytes(const std::string& name) {
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    std::vector<char> bytes(1 << 16);
    size_t total = 0, got;
    while ((got = std::fread(bytes.data(), 1, bytes.size(), f)) > 0) total += got;
    std::fclose(f);
    return total > 0;
}

void BM_QovReadManyTakes(benchmark::State& state) {
    const int takes = int(state.range(0));
    const std::string name = KPlatformGetTempFolder() + "/qov_manytakes_" + std::to_string(takes) +
                             "_" + qovbench::RunId() + ".qov";
    qovbench::RemoveAtExit(name);
    if (!MakeFile(name, takes)) {
        state.SkipWithError("the file could not be written");
        return;
    }
    qovbench::RunSideBySide(
        state, [&] { return Read(name, takes); }, [&] { return ReadBytes(name); });
    state.counters["us_per_take_min"] = state.counters["ours_min_s"] * 1e6 / takes;
    std::remove(name.c_str());
}

}  // namespace

BENCHMARK(BM_QovReadManyTakes)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
