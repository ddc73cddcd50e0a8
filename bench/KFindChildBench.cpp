// Looking a child up by name: the first, the middle and the last of a node's children, and a
// name no child has, among few children (walked) and many (looked up), by current name and
// depth first. Each row builds its tree once; a lookup's time is the row's time.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"

namespace {

enum Which { eFirst, eMiddle, eLast, eMissing };

struct Parent {
    std::unique_ptr<KQovObjectManager> manager = std::make_unique<KQovObjectManager>();
    KQovNode* root = manager->CreateNode("Root");
    explicit Parent(int children) {
        for (int i = 0; i < children; ++i)
            root->AddChild(manager->CreateNode(("N" + std::to_string(i)).c_str()));
    }
};

std::string NameOf(Which which, int children) {
    switch (which) {
        case eFirst:
            return "N0";
        case eMiddle:
            return "N" + std::to_string(children / 2);
        case eLast:
            return "N" + std::to_string(children - 1);
        default:
            return "Missing";
    }
}

// state.range(0): the number of children; range(1): which name; range(2): 1 depth first.
void BM_FindChild(benchmark::State& state) {
    const int children = int(state.range(0));
    const std::string name = NameOf(Which(state.range(1)), children);
    const bool recursive = state.range(2) != 0;
    Parent parent(children);
    for (auto _ : state) benchmark::DoNotOptimize(parent.root->FindChild(name.c_str(), recursive));
}

// A node's children all of one name, found once (the index is built), then unlinked and linked
// again: each costs the same however many share the name.
void BM_UnlinkSameNamed(benchmark::State& state) {
    const int children = int(state.range(0));
    KQovObjectManager manager;
    KQovNode* root = manager.CreateNode("Root");
    std::vector<KQovNode*> joints;
    for (int i = 0; i < children; ++i) {
        joints.push_back(manager.CreateNode("Joint"));
        root->AddChild(joints.back());
    }
    root->FindChild("Joint");
    for (auto _ : state) {
        for (int i = children; i-- > 0;) root->RemoveChild(root->GetChild(i));
        state.PauseTiming();
        for (KQovNode* joint : joints) root->AddChild(joint);
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_UnlinkSameNamed)->Arg(1000)->Arg(2000)->Arg(4000);

BENCHMARK(BM_FindChild)
    ->ArgNames({"children", "which", "recursive"})
    ->ArgsProduct({{4, 16, 1000}, {eFirst, eMiddle, eLast, eMissing}, {0, 1}});
