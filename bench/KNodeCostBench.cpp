// What one scene node costs: a QOV file of 20,000 null models under the root converted into a
// binary QOV file (read into a scene, written, the scene destroyed), as bytes of peak memory
// and microseconds per node (targets: at most 4 KB and 15 us), each run writing a new file. The
// peak is measured in a new process of its own; BM_NodeCostCreate gives the nodes alone, made
// through the manager.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "attributes/KQovNull.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

constexpr int kNodes = 20000;

std::string TempName(const char* tag) {
    return KPlatformGetTempFolder() + "/qov_nodecost_" + tag + qovbench::RunId() + ".qov";
}

// The smallest text form of a null model and its connection to the root.
const std::string& SourceFile() {
    static const std::string name = [] {
        const std::string path = TempName("src");
        if (qovbench::IsPeakProcess()) return path;  // made by the run that started it
        qovbench::RemoveAtExit(path);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return path;
        std::fprintf(f,
                     "; QOV 6.0.0 project file\n\nQOVHeaderExtension:  {\n"
                     "    QOVHeaderVersion: 1003\n    QOVVersion: 6000\n}\n"
                     "Definitions:  {\n    Version: 100\n    Count: %d\n"
                     "    ObjectType: \"Model\" {\n        Count: %d\n    }\n}\nObjects:  {\n",
                     kNodes, kNodes);
        for (int i = 0; i < kNodes; ++i)
            std::fprintf(f, "    Model: \"Model::Null%d\", \"Null\" {\n        Type: \"Null\"\n    }\n",
                         i);
        std::fprintf(f, "}\nConnections:  {\n");
        for (int i = 0; i < kNodes; ++i)
            std::fprintf(f, "    Connect: \"OO\", \"Model::Null%d\", \"Model::Scene\"\n", i);
        std::fprintf(f, "}\n");
        std::fclose(f);
        return path;
    }();
    return name;
}

// Reads the file and writes it as a binary QOV file, as a conversion does.
bool Convert(const std::string& out) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    if (!importer.Initialize(SourceFile().c_str()) || !importer.CreateReader()) return false;
    importer.GetTakeCount();
    if (!importer.Import(scene, nullptr) ||
        scene->GetRootNode()->GetChildCount() != kNodes)
        return false;
    KQovExporter exporter(&manager);
    exporter.SetFileFormat(0);
    if (!exporter.Initialize(out.c_str())) return false;
    exporter.SetFileFormat(0);
    return exporter.Export(scene, nullptr);
}

void BM_NodeCostConvert(benchmark::State& state) {
    const std::string out = TempName("out");
    SourceFile();
    if (qovbench::IsPeakProcess()) qovbench::MeasurePeakAndExit([&] { return Convert(out); });
    qovbench::RemoveAtExit(out);
    const double peakMB = qovbench::FreshPeakMB("^BM_NodeCostConvert/", "ours");
    std::vector<double> seconds;
    bool ok = true;
    for (auto _ : state) {
        // Each conversion makes a new file, as the version-6 write benchmark does: replacing
        // the last run's output would time the file system's flush of it, not the nodes.
        std::remove(out.c_str());
        seconds.push_back(qovbench::Seconds([&] { return Convert(out); }, ok));
    }
    if (!ok || peakMB < 0) state.SkipWithError("conversion failed");
    std::remove(out.c_str());
    state.counters["bytes_per_node"] = peakMB * 1024.0 * 1024.0 / kNodes;
    state.counters["us_per_node_min"] = qovbench::Min(seconds) * 1e6 / kNodes;
    state.counters["us_per_node_median"] = qovbench::Median(seconds) * 1e6 / kNodes;
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) state.counters["load1"] = load[0];
}

// The nodes alone: made through the manager with a null attribute and put under the root.
void BM_NodeCostCreate(benchmark::State& state) {
    std::vector<double> seconds;
    double bytes = 0;
    for (auto _ : state) {
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        const size_t before = mallinfo2().uordblks;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kNodes; ++i) {
            KQovNode* node = manager.CreateNode(("Null" + std::to_string(i)).c_str());
            node->SetNodeAttribute(manager.CreateNull());
            scene->GetRootNode()->AddChild(node);
        }
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        bytes = double(mallinfo2().uordblks - before);
    }
    state.counters["bytes_per_node"] = bytes / kNodes;
    state.counters["us_per_node_min"] = qovbench::Min(seconds) * 1e6 / kNodes;
    state.counters["us_per_node_median"] = qovbench::Median(seconds) * 1e6 / kNodes;
}

}  // namespace

BENCHMARK(BM_NodeCostConvert)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_NodeCostCreate)->Unit(benchmark::kMillisecond)->Iterations(5);
