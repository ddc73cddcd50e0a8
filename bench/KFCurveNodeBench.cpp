// Channel-tree evaluation: a "Transform" tree of nine animated curves, with Euler and
// quaternion rotation interpolation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"

namespace {

constexpr int64_t kFrame = KTime::kOneSecond / 30;
constexpr int kKeys = 300;

KFCurveNode* Axes(const char* name, int layerType, int seed) {
    KFCurveNode* node = KFCurveNode::Create(name);
    for (const char* axis : {"X", "Y", "Z"}) {
        KFCurve* curve = new KFCurve;
        for (int i = 0; i < kKeys; ++i)
            curve->KeyAppendFast(KTime(i * kFrame), float((i * 7919 + seed * 31) % 180));
        KFCurveNode* child = KFCurveNode::Create(axis);
        child->SetCurve(curve);
        node->Add(child);
        ++seed;
    }
    node->SetLayerType(layerType);
    return node;
}

std::unique_ptr<KFCurveNode> Transform(bool quaternion) {
    std::unique_ptr<KFCurveNode> transform(KFCurveNode::Create("Transform"));
    transform->Add(Axes("T", KFCURVENODE_LAYER_TRANSLATION, 1));
    KFCurveNode* r = Axes("R", KFCURVENODE_LAYER_EULER_ROTATION, 4);
    r->SetQuaternionInterpolation(quaternion);
    transform->Add(r);
    transform->Add(Axes("S", KFCURVENODE_LAYER_SCALING, 7));
    return transform;
}

// Sampling every frame's third, as an exporter does.
void Sample(benchmark::State& state, bool quaternion) {
    std::unique_ptr<KFCurveNode> transform = Transform(quaternion);
    std::vector<double> values(size_t(transform->GetValueCount()));
    const int64_t end = (kKeys - 1) * kFrame;
    int64_t t = 0;
    for (auto _ : state) {
        transform->Evaluate(values.data(), int(values.size()), KTime(t));
        benchmark::DoNotOptimize(values.data());
        t += kFrame / 3;
        if (t > end) t = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_EvaluateTransformEuler(benchmark::State& state) {
    Sample(state, false);
}
void BM_EvaluateTransformQuaternion(benchmark::State& state) {
    Sample(state, true);
}

}  // namespace

BENCHMARK(BM_EvaluateTransformEuler);
BENCHMARK(BM_EvaluateTransformQuaternion);
