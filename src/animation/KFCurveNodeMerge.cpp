// Layer merge: sampling of the layered value and the hand-over of the baked curves.

#include "animation/KFCurveNodeMerge.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "animation/KEulerContinuity.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSettings.h"

namespace {

// Longest period grid sampled (over 6 days at 30 samples a second); a span with a key near
// infinity would otherwise sample for ever.
constexpr int64_t kMaxGridSamples = int64_t(1) << 24;
const KTime kRefineMinStep(384884650);  // 1/120 s

KTime AddSaturating(KTime t, int64_t ticks) {
    int64_t r;
    if (__builtin_add_overflow(t.Get(), ticks, &r))
        return ticks > 0 ? KTIME_INFINITE : KTIME_MINUS_INFINITE;
    return KTime(std::clamp(r, KTime::kMinusInfinite, KTime::kInfinite));
}

int MergedChannelCount(const KFCurveNode* node) {
    if (node->GetCount() > 0) return node->GetCount();
    return node->GetCurve() ? 1 : 0;
}

std::vector<double> NeutralValues(const KFCurveNode* node) {
    std::vector<double> out(size_t(std::max(MergedChannelCount(node), 1)), 0.0);
    out.resize(size_t(node->GetNeutralValues(out.data(), int(out.size()))));
    return out;
}

// One layer's own values (not combined with the others).
std::vector<double> LayerValues(KFCurveNode* layer, KTime t) {
    std::vector<double> out(size_t(std::max(layer->GetValueCount(true), 0)), 0.0);
    double* end = layer->EvaluateLayer(out.data(), int(out.size()), t, layer->GetLayerId());
    out.resize(size_t(end - out.data()));
    return out;
}

void Combine(const KFCurveNode* by, std::vector<double>& a, const std::vector<double>& b) {
    int n = int(std::min(a.size(), b.size()));
    KFCurveNodeCombineValues(by->GetLayerType(), by->GetRotationOrder(), a.data(), b.data(), n);
}

// Running value of the layers from `from` on, guided by a sorted id list when given.
void StackValue(std::vector<double>& running, KFCurveNode* from, const KArrayInt* ids, KTime t) {
    int at = 0;
    for (KFCurveNode* layer = from; layer;) {
        if (ids) {
            if (at >= ids->GetCount()) break;
            int wanted = ids->GetAt(at);
            if (layer->GetLayerId() > wanted) {
                ++at;
                continue;
            }
            if (layer->GetLayerId() < wanted) {
                layer = layer->GetNextLayer();
                continue;
            }
            ++at;
        }
        Combine(layer, running, LayerValues(layer, t));
        layer = layer->GetNextLayer();
    }
}

// The layers around id L: those below it and those above it (up to the first id 0).
void SplitLayers(KFCurveNode* node, const KArrayInt* ids, int L, std::vector<KFCurveNode*>& below,
                 std::vector<KFCurveNode*>& above) {
    std::vector<KFCurveNode*> order;
    if (ids) {
        for (int i = 0; i < ids->GetCount(); ++i)
            if (KFCurveNode* layer = node->FindLayer(ids->GetAt(i))) order.push_back(layer);
    } else {
        for (KFCurveNode* layer = node; layer; layer = layer->GetNextLayer())
            order.push_back(layer);
    }
    bool passed = false;
    for (KFCurveNode* layer : order) {
        int id = layer->GetLayerId();
        if (!passed && id < L) {
            below.push_back(layer);
            continue;
        }
        passed = true;
        if (id == L) continue;
        if (id == 0) break;
        if (id > L) above.push_back(layer);
    }
}

// inverse(below) (+) own (+) inverse(above), by the node's type.
void LayeredValue(KFCurveNode* node, std::vector<double>& value,
                  const std::vector<KFCurveNode*>& below, const std::vector<KFCurveNode*>& above,
                  KTime t, const double reference[4]) {
    auto stack = [&](const std::vector<KFCurveNode*>& layers) {
        std::vector<double> v = NeutralValues(node);
        for (KFCurveNode* layer : layers) Combine(layer, v, LayerValues(layer, t));
        return v;
    };
    int type = node->GetLayerType(), order = node->GetRotationOrder();
    if (!below.empty()) {
        std::vector<double> b = stack(below);
        KFCurveNodeInverseValues(type, order, b.data(), int(b.size()));
        Combine(node, b, value);
        size_t n = std::min(b.size(), value.size());
        std::copy(b.begin(), b.begin() + long(n), value.begin());
    }
    if (!above.empty()) {
        std::vector<double> a = stack(above);
        KFCurveNodeInverseValues(type, order, a.data(), int(a.size()));
        Combine(node, value, a);
    }
    if (type == KFCURVENODE_LAYER_EULER_ROTATION && order != 12 && value.size() >= 3) {
        double out[3];
        KRotationOrderClosestEquivalent(order, out, value.data(), reference);
        std::copy(out, out + 3, value.begin());
    }
}

// Key cursors of one layer: up to four curves.
struct CursorGroup {
    KFCurve* mCurve[4] = {nullptr, nullptr, nullptr, nullptr};
    int mCursor[4] = {0, 0, 0, 0};
};

KTime NextKeyTime(std::vector<CursorGroup>& groups, KTime t, std::vector<int>* channels) {
    KTime best = KTIME_INFINITE;
    bool any = false;
    std::vector<int> found;
    for (CursorGroup& g : groups) {
        for (int i = 0; i < 4; ++i) {
            KFCurve* c = g.mCurve[i];
            if (!c || g.mCursor[i] >= c->KeyGetCount()) continue;
            if (c->KeyGetTime(g.mCursor[i]) <= t) ++g.mCursor[i];
            if (g.mCursor[i] >= c->KeyGetCount()) continue;
            KTime k = c->KeyGetTime(g.mCursor[i]);
            if (!any || k < best) {
                best = k;
                found.clear();
            }
            any = true;
            if (k == best && std::find(found.begin(), found.end(), i) == found.end())
                found.push_back(i);
        }
    }
    if (any && channels) *channels = found;
    return best;
}

void FitNodeTangents(KFCurveNode* curveNode, KFCurveNode* source, KTime step, double tolerance) {
    if (!curveNode || !source) return;
    if (KFCurve* c = curveNode->GetCurve()) {
        for (int k = 0; k < c->KeyGetCount(); ++k)
            KFCurve::KeyFitTangents(k, c, source->GetCurve(), step, tolerance);
    }
    int n = std::min(curveNode->GetCount(), source->GetCount());
    for (int i = 0; i < n; ++i) FitNodeTangents(curveNode->Get(i), source->Get(i), step, tolerance);
}

// A copy of the node's tree with a new empty curve on every leaf.
KFCurveNode* EmptyCopy(const KFCurveNode* node) {
    KFCurveNode* copy = node->Clone(false, false, false, -1);
    copy->EnsureCurves();
    return copy;
}

KFCurveNode* Predecessor(KFCurveNode* node, const KFCurveNode* layer) {
    for (KFCurveNode* at = node; at; at = at->GetNextLayer())
        if (at->GetNextLayer() == layer) return at;
    return nullptr;
}

void NeutraliseLayers(KFCurveNode* node, const std::vector<int>& ids, KTime start, KTime stop) {
    std::vector<double> n = NeutralValues(node);
    std::unique_ptr<KFCurve> k(KFCurve::Create());
    KFCurveNode* at = node;
    for (int id : ids) {
        while (at->GetLayerId() < id && at->GetNextLayer()) at = at->GetNextLayer();
        if (at->GetLayerId() != id) continue;
        for (int i = 0; i < at->GetCount() && size_t(i) < n.size(); ++i) {
            KFCurve* curve = at->Get(i)->GetCurve();
            if (!curve) continue;
            k->SetValue(float(n[size_t(i)]));
            k->SetEvaluationCache(KTime(0), float(n[size_t(i)]));
            curve->Replace(k.get(), start, stop, false, true);
        }
    }
}

void RemoveLayers(KFCurveNode* node, const std::vector<int>& ids, bool keepTarget, int layerId) {
    KFCurveNode* at = node;
    for (int id : ids) {
        while (at->GetLayerId() < id && at->GetNextLayer()) at = at->GetNextLayer();
        if (keepTarget && at->GetLayerId() == layerId) continue;
        if (at->GetLayerId() != id) continue;
        KFCurveNode* before = Predecessor(node, at);
        if (!before) {
            // The node itself stays in place: it only loses its keys.
            if (at->GetCurve()) at->GetCurve()->KeyClear();
            for (int i = 0; i < at->GetCount(); ++i)
                if (KFCurve* c = at->Get(i)->GetCurve()) c->KeyClear();
            continue;
        }
        KFCurveNode* next = at->GetNextLayer();
        at->SetNextLayer(nullptr, false);
        KFCurveNode::ReleaseShare(at);
        before->SetNextLayer(next, false);
        at = before;
    }
}

// Layer layerId of the chain, inserted when the chain passes over it; null when it ends below.
KFCurveNode* TargetLayer(KFCurveNode* node, int layerId) {
    KFCurveNode* at = node;
    while (at->GetLayerId() < layerId && at->GetNextLayer()) at = at->GetNextLayer();
    if (at->GetLayerId() == layerId) return at;
    if (at->GetLayerId() < layerId) return nullptr;
    node->EnsureLayer(layerId);
    return node->FindLayer(layerId);
}

using CurveList = std::vector<std::unique_ptr<KFCurve>>;

void SubstituteCurves(KFCurveNode* node, KFCurveNode* target, CurveList& r) {
    for (size_t i = 0; i < r.size(); ++i) {
        KFCurveNode* channel = target->GetCurve() ? target : target->Get(int(i));
        if (!channel || !r[i]) continue;
        if (KFCurve* old = channel->GetCurve()) {
            r[i]->SetColor(old->GetColor());
            r[i]->SetTag(old->GetTag());
            // The replaced curve's value outside the keys survives.
            r[i]->SetValue(old->GetValue());
            r[i]->SetPreExtrapolation(old->GetPreExtrapolation());
            r[i]->SetPreExtrapolationCount(old->GetPreExtrapolationCount());
            r[i]->SetPostExtrapolation(old->GetPostExtrapolation());
            r[i]->SetPostExtrapolationCount(old->GetPostExtrapolationCount());
        }
        channel->ReplaceCurve(r[i].release());
        if (target->GetCurve() && node->GetCurve()) break;
    }
}

void ReplaceSpan(KFCurveNode* node, KFCurveNode* target, CurveList& r, KTime start, KTime stop) {
    std::unique_ptr<KFCurveNode> work(target->Clone(false, false, false, -1));
    for (size_t i = 0; i < r.size(); ++i) {
        KFCurveNode* channel = node->GetCurve() ? work.get() : work->Get(int(i));
        if (!channel || !r[i]) continue;
        channel->SetCurve(r[i].release(), true);
    }
    target->Replace(work.get(), start, stop, false, true);
}

// MergeLayers, where removeUnlisted makes REMOVE without an id list remove every merged layer
// (the reader's bake, whose layers must not apply twice).
void MergeLayersWith(KFCurveNode* node, const KArrayInt* layerIds, int layerId, uint32_t flags,
                     KTime start, KTime stop, KTime period, KFCurveNode* outputNode,
                     KFCurveNode* splitLayer, bool useTimeWarp, const MergeLayersOptions* options,
                     bool removeUnlisted) {
    if (!node || period.Get() <= 0) return;
    if (start <= stop && (__int128(stop.Get()) - start.Get()) / period.Get() + 2 > kMaxGridSamples)
        return;
    const int m = MergedChannelCount(node);
    const int childCount = node->GetCount();
    const bool keyMode = options && options->mEnabled;
    const KTime offset = keyMode ? options->mKeyOffset : KTime(0);

    std::vector<CursorGroup> groups;
    std::unique_ptr<KFCurveNode> sparse;
    if (keyMode) {
        for (KFCurveNode* layer = node; layer; layer = layer->GetNextLayer()) {
            CursorGroup g;
            if (layer->GetCount() == 0) {
                g.mCurve[0] = layer->GetCurve();
            } else if (layer->GetCount() <= 4) {
                for (int i = 0; i < layer->GetCount(); ++i) g.mCurve[i] = layer->Get(i)->GetCurve();
            }
            groups.push_back(g);
        }
        sparse.reset(EmptyCopy(node));
    }
    std::unique_ptr<KFCurveNode> dense(EmptyCopy(node));

    std::vector<KFCurveNode*> below, above;
    if (splitLayer) SplitLayers(node, layerIds, layerId, below, above);

    std::vector<int> channels;
    for (int i = 0; i < std::max(childCount, 1); ++i) channels.push_back(i);

    KTime cur = start;
    KTime prev = keyMode ? AddSaturating(start, -offset.Get()) : start;
    KTime keyTime = start;
    KTime before = prev;
    KTime after = AddSaturating(start, offset.Get());
    double reference[4] = {0.0, 0.0, 0.0, 1.0};
    int64_t samples = 0;

    while (samples == 0 ? start <= stop : prev <= stop) {
        KTime t = cur;
        if (keyMode) {
            for (KTime c : {before, keyTime, after}) {
                if (c > prev && c < cur) {
                    t = c;
                    break;
                }
            }
        }
        // Time saturated at the end of the range: no further sample time exists.
        if (samples > 0 && t <= prev) break;
        ++samples;

        KTime evalTime = t;
        if (useTimeWarp && node->GetTimeWarp()) {
            std::vector<double> w(size_t(std::max(node->GetTimeWarp()->GetCurveCount(), 1)), 0.0);
            double* end = node->GetTimeWarp()->EvaluatePlain(w.data(), int(w.size()), t);
            if (end > w.data()) evalTime.SetSecondDouble(w[0]);
        }

        std::vector<double> values;
        if (!splitLayer) {
            values = NeutralValues(node);
            StackValue(values, node, layerIds, evalTime);
        } else {
            values = LayerValues(splitLayer, evalTime);
            values.resize(size_t(std::max(m, 1)), 0.0);
            LayeredValue(node, values, below, above, evalTime, reference);
            for (size_t i = 0; i < 4 && i < values.size(); ++i) reference[i] = values[i];
        }
        values.resize(size_t(std::max(m, 1)), 0.0);

        if (childCount == 0) {
            if (keyMode && t == keyTime && sparse->GetCurve())
                sparse->GetCurve()->KeyAppendFast(t, float(values[0]));
            if (dense->GetCurve()) dense->GetCurve()->KeyAppendFast(t, float(values[0]));
        } else {
            if (!splitLayer && dense->GetLayerType() == KFCURVENODE_LAYER_EULER_ROTATION &&
                childCount == 3) {
                double out[3];
                dense->MakeContinuous(out, values.data(), t);
                std::copy(out, out + 3, values.begin());
            }
            if (keyMode && t == keyTime) {
                for (int p : channels) {
                    if (p >= childCount) continue;
                    if (KFCurve* c = sparse->Get(p)->GetCurve())
                        c->KeyAppendFast(t, float(values[size_t(p)]));
                }
            }
            for (int i = 0; i < childCount; ++i)
                if (KFCurve* c = dense->Get(i)->GetCurve())
                    c->KeyAppendFast(t, float(values[size_t(i)]));
        }

        if (keyMode) {
            if (t >= keyTime) {
                keyTime = NextKeyTime(groups, t, &channels);
                before = keyTime == KTIME_INFINITE ? KTIME_INFINITE
                                                   : AddSaturating(keyTime, -offset.Get());
            }
            if (t >= after)
                after = keyTime == KTIME_INFINITE ? KTIME_INFINITE
                                                  : AddSaturating(keyTime, offset.Get());
        }
        if (t >= cur) cur = AddSaturating(cur, period.Get());
        prev = t;
    }

    if (keyMode) {
        if (options->mFitTangents)
            FitNodeTangents(sparse.get(), dense.get(), offset, options->mTangentTolerance);
        if (options->mRefine)
            RefineKeys(sparse.get(), dense.get(), options->mValueTolerance, options->mSubdivisions,
                       options->mFitInsertedKeys, offset, options->mTangentTolerance, false,
                       nullptr, nullptr);
    }

    KFCurveNode* from = (keyMode && !options->mDenseResult) ? sparse.get() : dense.get();
    CurveList r;
    for (int i = 0; i < m; ++i) {
        KFCurveNode* channel = childCount == 0 ? from : from->Get(i);
        r.emplace_back(channel->SetCurve(nullptr, false));
    }
    groups.clear();
    // Nothing sampled, nothing merged: the layers and the target keep what they hold.
    if (samples == 0) return;

    // The layers merged, as ids along the chain; without a list, all of them but the target.
    const bool writesTarget =
        flags & (KFCURVENODE_MERGE_REPLACE_SPAN | KFCURVENODE_MERGE_SUBSTITUTE);
    std::vector<int> merged;
    if (layerIds) {
        for (int i = 0; i < layerIds->GetCount(); ++i) merged.push_back(layerIds->GetAt(i));
    } else {
        for (KFCurveNode* layer = node; layer; layer = layer->GetNextLayer())
            if (!(writesTarget && layer->GetLayerId() == layerId))
                merged.push_back(layer->GetLayerId());
    }
    if (flags & KFCURVENODE_MERGE_NEUTRALISE)
        NeutraliseLayers(node, merged, start, stop);
    else if ((flags & KFCURVENODE_MERGE_REMOVE) && (layerIds || removeUnlisted))
        RemoveLayers(node, merged, flags & KFCURVENODE_MERGE_REPLACE_SPAN, layerId);

    if (outputNode) {
        for (int i = 0; i < m; ++i) {
            KFCurveNode* channel = node->GetCurve() ? outputNode : outputNode->Get(i);
            if (channel) channel->ReplaceCurve(r[size_t(i)].release());
            if (node->GetCurve()) break;
        }
    } else if (flags & KFCURVENODE_MERGE_REPLACE_SPAN) {
        if (KFCurveNode* target = TargetLayer(node, layerId))
            ReplaceSpan(node, target, r, start, stop);
    } else if (flags & KFCURVENODE_MERGE_SUBSTITUTE) {
        if (KFCurveNode* target = TargetLayer(node, layerId)) SubstituteCurves(node, target, r);
    }
}

}  // namespace

void MergeLayers(KFCurveNode* node, const KArrayInt* layerIds, int layerId, uint32_t flags,
                 KTime start, KTime stop, KTime period, KFCurveNode* outputNode,
                 KFCurveNode* splitLayer, bool useTimeWarp, const MergeLayersOptions* options) {
    MergeLayersWith(node, layerIds, layerId, flags, start, stop, period, outputNode, splitLayer,
                    useTimeWarp, options, false);
}

void BakeLayersIntoBase(KFCurveNode* node, KTime start, KTime stop) {
    MergeLayersWith(node, nullptr, 0, KFCURVENODE_MERGE_SUBSTITUTE | KFCURVENODE_MERGE_REMOVE,
                    start, stop, GetDefaultSamplingPeriod(), nullptr, nullptr, true, nullptr, true);
}

void MergeLayersAfterRead(KFCurveNode* root) {
    if (!root) return;
    if (root->GetNextLayer()) {
        KFCurveNode* span = root->GetTimeWarp() ? root->GetTimeWarp() : root;
        KTime start = KTIME_INFINITE, stop = KTIME_MINUS_INFINITE;
        span->GetAnimationInterval(start, stop);
        BakeLayersIntoBase(root, start, stop);
    }
    for (int i = 0; i < root->GetCount(); ++i) MergeLayersAfterRead(root->Get(i));
}

void RefineKeys(KFCurveNode* sparse, KFCurveNode* dense, double valueTolerance, int subdivisions,
                bool fitInserted, KTime keyOffset, double tangentTolerance, bool withSiblings,
                const KArrayPtr<KFCurve>* siblingCurves,
                const KArrayPtr<KFCurve>* siblingReferences) {
    if (!sparse || !dense || sparse->GetCount() != dense->GetCount()) return;
    KFCurve* curve = sparse->GetCurve();
    if (!curve) {
        for (int i = 0; i < sparse->GetCount(); ++i) {
            KArrayPtr<KFCurve> curves, references;
            if (withSiblings) {
                for (int j = 0; j < sparse->GetCount(); ++j) {
                    if (sparse->Get(j) == sparse->Get(i)) continue;
                    KFCurve* s = sparse->Get(j)->GetCurve();
                    KFCurve* d = dense->Get(j)->GetCurve();
                    if (!s || !d) continue;
                    curves.Add(s);
                    references.Add(d);
                }
            }
            RefineKeys(sparse->Get(i), dense->Get(i), valueTolerance, subdivisions, fitInserted,
                       keyOffset, tangentTolerance, withSiblings, &curves, &references);
        }
        return;
    }
    KFCurve* reference = dense->GetCurve();
    if (!reference || curve->KeyGetCount() < 2) return;
    for (int k = 1; k < curve->KeyGetCount(); ++k)
        RefineSegment(curve->KeyGetTime(k - 1), curve->KeyGetTime(k), curve, reference,
                      valueTolerance, subdivisions, fitInserted, keyOffset, tangentTolerance,
                      withSiblings, siblingCurves, siblingReferences);
}

bool RefineSegment(KTime t0, KTime t1, KFCurve* curve, KFCurve* reference, double valueTolerance,
                   int subdivisions, bool fitInserted, KTime keyOffset, double tangentTolerance,
                   bool withSiblings, const KArrayPtr<KFCurve>* siblingCurves,
                   const KArrayPtr<KFCurve>* siblingReferences) {
    if (t0 >= t1 || !curve || !reference || subdivisions <= 1) return false;
    // Taken in 128 bits: a span across the whole time range must not overflow.
    __int128 span = __int128(t1.Get()) - __int128(t0.Get());
    int64_t step = int64_t(span / subdivisions);
    if (step <= kRefineMinStep.Get()) return false;
    int curveHint = 0, referenceHint = 0;
    for (int i = 0; i <= subdivisions - 2; ++i) {
        KTime tb = AddSaturating(t0, (i + 1) * step);
        KTime ta = AddSaturating(t0, i * step);
        double v = curve->Evaluate(tb, &curveHint);
        double r = reference->Evaluate(tb, &referenceHint);
        if (!(std::fabs(v - r) > valueTolerance)) continue;
        KFCurve::KeyInsertValue(tb, float(r), curve, reference, fitInserted, keyOffset,
                                tangentTolerance);
        if (withSiblings && siblingCurves && siblingReferences) {
            int n = std::min(siblingCurves->GetCount(), siblingReferences->GetCount());
            for (int j = 0; j < n; ++j) {
                KFCurve* s = siblingCurves->GetAt(j);
                KFCurve* sr = siblingReferences->GetAt(j);
                if (!s || !sr) continue;
                KFCurve::KeyInsertValue(tb, float(sr->Evaluate(tb)), s, sr, fitInserted, keyOffset,
                                        tangentTolerance);
            }
        }
        RefineSegment(ta, tb, curve, reference, valueTolerance, subdivisions, fitInserted,
                      keyOffset, tangentTolerance, withSiblings, siblingCurves, siblingReferences);
        if (i == subdivisions - 2)
            RefineSegment(tb, AddSaturating(tb, step), curve, reference, valueTolerance,
                          subdivisions, fitInserted, keyOffset, tangentTolerance, withSiblings,
                          siblingCurves, siblingReferences);
    }
    return false;
}
