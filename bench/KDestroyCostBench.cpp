// Work that must grow linearly with what it touches, each timed at a size and at half of it:
// ratio_to_half stays near 2 when it does (near 4 when it grows as the square).
// - destroying user property records one by one, each listed by one of many nodes;
// - destroying a geometry's links one by one, and a mesh whose links all name one bone;
// - destroying a geometry's shapes one by one;
// - renaming a take of an object of many takes and selecting it by its new name;
// - extracting many embedded media of one base name (numbered folders 1/, 2/ ...).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMesh.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovStream.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"

namespace {

// Seconds of `timed` after an untimed `setup`, the best of three (of QOV_COST_RUNS when set).
double Best(const std::function<void()>& setup, const std::function<void()>& timed) {
    double best = 1e9;
    const char* runs = std::getenv("QOV_COST_RUNS");
    for (int run = 0; run < (runs ? std::max(1, std::atoi(runs)) : 3); ++run) {
        setup();
        const auto start = std::chrono::steady_clock::now();
        timed();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// Times the work at n and at n / 2; `work(n)` gives the setup and the timed part.
template <class Work>
void AtSizeAndHalf(benchmark::State& state, Work work) {
    const int n = int(state.range(0));
    double full = 0, half = 0;
    for (auto _ : state) {
        half = work(n / 2);
        full = work(n);
    }
    state.counters["ms"] = full * 1e3;
    state.counters["ms_half"] = half * 1e3;
    state.counters["ratio_to_half"] = half > 0 ? full / half : 0;
}

void BM_CostDestroyUserProperties(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        std::vector<KQovUserProperty*> records;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                records.clear();
                for (int i = 0; i < n; ++i) {
                    KQovNode* node = manager->CreateNode(("N" + std::to_string(i)).c_str());
                    node->GetUserPropertyCount();  // the node's own records made
                    records.push_back(manager->CreateUserProperty("Weight", "Real", "Weight"));
                    node->AddUserProperty(records.back());
                }
            },
            [&] {
                for (KQovUserProperty* record : records) manager->DestroyUserProperty(record);
            });
    });
}

// A mesh of n links, naming n bones or all one bone.
struct Skin {
    std::unique_ptr<KQovObjectManager> manager;
    KQovMesh* mesh = nullptr;
    std::vector<KQovLink*> links;

    void Make(int n, bool oneBone) {
        manager = std::make_unique<KQovObjectManager>();
        mesh = manager->CreateMesh();
        links.clear();
        KQovNode* bone = manager->CreateNode("Bone");
        for (int i = 0; i < n; ++i) {
            if (!oneBone && i > 0) bone = manager->CreateNode(("Bone" + std::to_string(i)).c_str());
            KQovLink* link = manager->CreateLink();
            link->SetLink(bone);
            link->AddControlPointIndex(i, 1.0);
            mesh->AddLink(link);
            links.push_back(link);
        }
    }
};

void BM_CostDestroyLinksOneByOne(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        Skin skin;
        return Best([&] { skin.Make(n, false); },
                    [&] {
                        for (KQovLink* link : skin.links) skin.manager->DestroyLink(link);
                    });
    });
}

void BM_CostDestroyMeshOfOneBone(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        Skin skin;
        return Best([&] { skin.Make(n, true); },
                    [&] { skin.manager->DestroyNodeAttribute(skin.mesh); });
    });
}

void BM_CostDestroyShapesOneByOne(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        std::vector<KQovShape*> shapes;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                KQovMesh* mesh = manager->CreateMesh();
                shapes.clear();
                for (int i = 0; i < n; ++i) {
                    shapes.push_back(manager->CreateShape());
                    mesh->AddShape(shapes.back(), ("Shape" + std::to_string(i)).c_str());
                }
            },
            [&] {
                for (KQovShape* shape : shapes) manager->DestroyShape(shape);
            });
    });
}

// Four objects of n takes: each take of the first is renamed, then selected by name on all.
void BM_CostRenameAndSelectTake(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        std::vector<KQovNode*> nodes;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                nodes.clear();
                for (int o = 0; o < 4; ++o) {
                    nodes.push_back(manager->CreateNode(("Mover" + std::to_string(o)).c_str()));
                    for (int t = 0; t < n; ++t)
                        nodes.back()->AddTakeNode(("Take " + std::to_string(t)).c_str());
                }
            },
            [&] {
                for (int t = 1; t <= n; ++t) {
                    const std::string name = "Renamed " + std::to_string(t);
                    nodes[0]->GetTakeNode(t)->SetName(name.c_str());
                    for (KQovNode* node : nodes) node->SetCurrentTakeNode(name.c_str());
                }
            });
    });
}

// A file of n embedded media of one base name, each extracted into the media folder.
void BM_CostEmbeddedMediaOfOneName(benchmark::State& state) {
    const std::string folder =
        KPlatformGetTempFolder() + "/qov_costmedia_" + qovbench::RunId() + "/";
    std::filesystem::create_directories(folder);
    AtSizeAndHalf(state, [&](int n) {
        const std::string file = folder + "media" + std::to_string(n) + ".qov";
        {
            KQovFieldFile out;
            if (!out.Create(file.c_str(), true, false, nullptr)) return 0.0;
            for (int i = 0; i < n; ++i) {
                const std::string bytes = "image " + std::to_string(i);
                out.FieldWriteBegin("Content");
                out.FieldWriteR(uint32_t(bytes.size()));
                out.GetStream()->Write(bytes.data(), bytes.size());
                out.FieldWriteEnd();
            }
            out.FieldFileClose();
        }
        const std::string media = folder + "media" + std::to_string(n) + ".qom";
        return Best([&] { std::filesystem::remove_all(media); },
                    [&] {
                        KQovFieldFile in;
                        if (!in.Open(file.c_str(), false, true, nullptr)) return;
                        KString path;
                        bool written = false;
                        for (int i = 0; i < n; ++i) {
                            if (!in.FieldReadBegin("Content", i)) return;
                            in.ExtractMedia(path, ("take" + std::to_string(i) + "/image.png").c_str(),
                                            "", written);
                            in.FieldReadEnd();
                        }
                    });
    });
    std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(BM_CostDestroyUserProperties)->Arg(16000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyLinksOneByOne)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyMeshOfOneBone)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyShapesOneByOne)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostRenameAndSelectTake)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostEmbeddedMediaOfOneName)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
