#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"

namespace {

// Row vectors: Mul(a, b) applies a first.
KMatrix Mul(const KMatrix& a, const KMatrix& b) {
    KMatrix out;
    KMatrixMultiply(out, a, b);
    return out;
}
KMatrix Translate(const KVector4& t) {
    KMatrix m;
    for (int c = 0; c < 3; ++c) m[3][c] = t[c];
    return m;
}
KMatrix Scale(const KVector4& s) {
    KMatrix m;
    for (int c = 0; c < 3; ++c) m[c][c] = s[c];
    return m;
}
KMatrix Transposed(const KMatrix& m) {
    KMatrix out;
    KMatrixTranspose3x3(out, m);
    return out;
}
KVector4 V(double x, double y, double z) {
    return KVector4(x, y, z, 1.0);
}

void ExpectNear(const KMatrix& a, const KMatrix& b, double tolerance, const char* what) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[r][c], b[r][c], tolerance) << what << " " << r << c;
}

// Curve of channel T/R/S (0-2), axis 0-2, of a take.
KFCurve* Curve(KQovNode& node, int take, int channel, int axis) {
    const std::string path = std::string("Transform/") + "TRS"[channel] + "/" + "XYZ"[axis];
    return node.GetTakeNode(take)->GetRoot()->Find(path)->GetCurve();
}

KTime Frame(int frame) {
    KTime t;
    t.SetSecondDouble(frame / 30.0);
    return t;
}

// Linear keys at frames 0 and 10 for a whole channel.
void KeyChannel(KQovNode& node, int take, int channel, const KVector4& at0, const KVector4& at10) {
    for (int a = 0; a < 3; ++a) {
        KFCurve* curve = Curve(node, take, channel, a);
        curve->PrepareKeys(2);
        curve->KeySet(0, Frame(0), float(at0[a]), KFCURVE_INTERPOLATION_LINEAR);
        curve->KeySet(1, Frame(10), float(at10[a]), KFCURVE_INTERPOLATION_LINEAR);
        curve->CommitKeys(2);
    }
}

KVector4 Lerp(const KVector4& a, const KVector4& b, double u) {
    return V(a[0] + (b[0] - a[0]) * u, a[1] + (b[1] - a[1]) * u, a[2] + (b[2] - a[2]) * u);
}

// The pivot-set transform written out: S x Post x R x Pre x Translate(t) x parent.
KMatrix ReferenceGlobal(KQovNode& node, int set) {
    const KQovPivotSet& p = *node.GetPivotSet(set);
    const bool inUse = p.pivotState == 0;
    KVector4 t, r, s;
    node.GetLocalTranslation(t);
    node.GetLocalRotation(r);
    node.GetLocalScaling(s);
    KMatrix pre, post, parent;
    if (inUse) {
        t = t + p.rotationPivot + p.rotationOffset;
        pre = KMatrix(p.preRotation);
        post = KMatrix(p.postRotation);
    }
    if (KQovNode* up = node.GetParent()) {
        const KQovPivotSet& q = *up->GetPivotSet(set);
        if (q.pivotState == 0) {
            KVector4 v;
            KMatrixRotateVector(v, Transposed(KMatrix(q.postRotation)), q.rotationPivot);
            t = t - v;
        }
        parent = ReferenceGlobal(*up, set);
    }
    return Mul(Mul(Mul(Mul(Mul(Scale(s), post), KMatrix(r)), pre), Translate(t)), parent);
}

struct Chain {
    KQovNode root{nullptr, "Model::Root"};
    KQovNode mid{nullptr, "Model::Mid"};
    KQovNode tip{nullptr, "Model::Tip"};
    KQovNode* nodes[3] = {&root, &mid, &tip};
    Chain() {
        root.AddChild(&mid);
        mid.AddChild(&tip);
    }
};

TEST(KQovNodeTransform, ChannelGlobalsAreLocalProductsDownTheChain) {
    Chain chain;
    struct Keys {
        KVector4 t0, t10, r0, r10, s0, s10;
    };
    const Keys keys[3] = {
        {V(1, 2, 3), V(3, 2, 1), V(0, 0, 0), V(0, 90, 0), V(1, 1, 1), V(2, 2, 2)},
        {V(0, 5, 0), V(0, 5, 10), V(30, 0, 0), V(30, 0, 60), V(1, 2, 1), V(1, 2, 1)},
        {V(-1, 0, 4), V(-1, 0, 4), V(10, 20, 30), V(-40, 50, 0), V(1, 1, 3), V(0.5, 1, 1)},
    };
    for (int n = 0; n < 3; ++n) {
        KeyChannel(*chain.nodes[n], 0, 0, keys[n].t0, keys[n].t10);
        KeyChannel(*chain.nodes[n], 0, 1, keys[n].r0, keys[n].r10);
        KeyChannel(*chain.nodes[n], 0, 2, keys[n].s0, keys[n].s10);
    }
    for (int frame : {0, 4, 10}) {
        const double u = frame / 10.0;
        KMatrix expected;
        for (int n = 2; n >= 0; --n) {
            const Keys& k = keys[n];
            const KMatrix local = Mul(Mul(Scale(Lerp(k.s0, k.s10, u)), KMatrix(Lerp(k.r0, k.r10, u))),
                                      Translate(Lerp(k.t0, k.t10, u)));
            expected = Mul(expected, local);  // the tip's local acts first
        }
        ExpectNear(chain.tip.GetGlobalMatrixAtTime(Frame(frame)), expected, 1e-4, "at time");
        ExpectNear(chain.tip.GetGlobalMatrixAtTime(Frame(frame)), expected, 1e-4, "cached");
    }

    // Defaults come from the default take's default values.
    for (int n = 0; n < 3; ++n) {
        for (int a = 0; a < 3; ++a) Curve(*chain.nodes[n], 0, 0, a)->SetValue(float(n + a));
    }
    KMatrix expected;
    for (int n = 2; n >= 0; --n) expected = Mul(expected, Translate(V(n, n + 1, n + 2)));
    ExpectNear(chain.tip.GetDefaultGlobalMatrix(), expected, 1e-6, "default");

    // A take switch drops the cached local matrix.
    chain.root.AddTakeNode("Take 001");
    KeyChannel(chain.root, 1, 0, V(7, 7, 7), V(7, 7, 7));
    const KMatrix before = chain.root.GetLocalMatrix(Frame(4));
    chain.root.SetCurrentTakeNode("Take 001");
    EXPECT_NE(before[3][0], 7.0);
    EXPECT_DOUBLE_EQ(chain.root.GetLocalMatrix(Frame(4))[3][0], 7.0);
}

TEST(KQovNodeTransform, PivotSetGlobals) {
    struct Case {
        const char* name;
        std::function<void(Chain&)> setup;
        KVector4 translation;  // expected, by hand
    };
    const Case cases[] = {
        {"root, pivots not in use",
         [](Chain& c) {
             c.root.SetRotationPivot(0, 5, 0, 0);
             c.root.SetPreRotation(0, 30, 0, 0);
             c.root.SetLocalTranslation(1, 2, 3);
         },
         V(1, 2, 3)},
        {"root, rotation pivot in use",
         [](Chain& c) {
             c.root.SetPivotState(0, 0);
             c.root.SetRotationPivot(0, 5, 0, 0);
             c.root.SetLocalTranslation(1, 2, 3);
         },
         V(6, 2, 3)},
        {"child steps back from the parent's pivot",
         [](Chain& c) {
             c.root.SetPivotState(0, 0);
             c.root.SetRotationPivot(0, 5, 0, 0);
             c.root.SetLocalTranslation(1, 2, 3);
             c.mid.SetLocalTranslation(0, 1, 0);
         },
         V(1, 3, 3)},
        {"everything in use, rotated and scaled",
         [](Chain& c) {
             for (KQovNode* n : c.nodes) {
                 n->SetPivotState(0, 0);
                 n->SetRotationPivot(0, 1, 2, 3);
                 n->SetRotationOffset(0, -1, 0, 2);
                 n->SetPreRotation(0, 10, 20, 30);
                 n->SetPostRotation(0, 0, 0, 90);
                 n->SetLocalRotation(15, -25, 35);
                 n->SetLocalScaling(1, 2, 0.5);
                 n->SetLocalTranslation(3, 0, 1);
             }
         },
         V(0, 0, 0)},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Chain c;
        cases[i].setup(c);
        KQovNode& node = i == 2 ? c.mid : i == 3 ? c.tip : c.root;
        const KMatrix global = node.GetGlobalMatrix(0);
        ExpectNear(global, ReferenceGlobal(node, 0), 1e-9, cases[i].name);
        if (i < 3) {
            for (int a = 0; a < 3; ++a) EXPECT_NEAR(global[3][a], cases[i].translation[a], 1e-9) << cases[i].name;
        }
    }
    // Not in use: S x R x Translate(Lcl Translation), whatever the set holds.
    Chain c;
    c.root.SetRotationPivot(1, 5, 0, 0);
    c.root.SetPostRotation(1, 0, 45, 0);
    c.root.SetLocalRotation(0, 90, 0);
    c.root.SetLocalScaling(2, 2, 2);
    c.root.SetLocalTranslation(1, 2, 3);
    ExpectNear(c.root.GetGlobalMatrix(1),
               Mul(Mul(Scale(V(2, 2, 2)), KMatrix(0.0, 90.0, 0.0)), Translate(V(1, 2, 3))), 1e-9,
               "state 1");
    EXPECT_EQ(c.root.GetGlobalMatrix(2), KMatrix());
}

TEST(KQovNodeTransform, StoredMatricesAndTheirInvalidation) {
    Chain c;
    c.root.SetPivotState(0, 0);
    c.mid.SetLocalTranslation(1, 0, 0);
    EXPECT_DOUBLE_EQ(c.mid.GetGlobalMatrix(0)[3][0], 1.0);
    // Property edits do not reach the stored matrix until forced.
    c.mid.SetLocalTranslation(2, 0, 0);
    EXPECT_DOUBLE_EQ(c.mid.GetGlobalMatrix(0)[3][0], 1.0);
    EXPECT_DOUBLE_EQ(c.mid.GetGlobalMatrix(0, true)[3][0], 2.0);
    // A parent's pivot edit reaches the stored matrices below it.
    c.root.SetRotationPivot(0, 5, 0, 0);
    EXPECT_DOUBLE_EQ(c.tip.GetGlobalMatrix(0)[3][0], 2.0);
    c.root.SetPivotState(0, 1);
    c.mid.SetPivotState(0, 0);
    c.mid.SetRotationPivot(0, 4, 0, 0);
    EXPECT_DOUBLE_EQ(c.tip.GetGlobalMatrix(0)[3][0], 2.0);
    EXPECT_DOUBLE_EQ(c.mid.GetGlobalMatrix(0)[3][0], 6.0);
    // So does a reset of the set, though it keeps the state.
    c.root.ResetPivotSet(0);
    EXPECT_DOUBLE_EQ(c.mid.GetGlobalMatrix(0)[3][0], 2.0);
    EXPECT_EQ(c.mid.GetPivotState(0), 0);
    EXPECT_EQ(c.mid.GetRotationPivot(0)[0], V(0, 0, 0));
    // A node with a stored matrix joining a parent whose subtree was all stale: the parent's
    // next pivot edit still reaches it.
    KQovNode parent(nullptr, "Model::Parent"), before(nullptr, "Model::Before");
    KQovNode joiner(nullptr, "Model::Joiner");
    before.AddChild(&joiner);
    joiner.SetLocalTranslation(1, 0, 0);
    EXPECT_DOUBLE_EQ(joiner.GetGlobalMatrix(0)[3][0], 1.0);
    parent.SetPivotState(0, 0);
    parent.AddChild(&joiner);
    parent.SetRotationOffset(0, 3, 0, 0);
    EXPECT_DOUBLE_EQ(joiner.GetGlobalMatrix(0)[3][0], 4.0);

    // One evaluation per id.
    c.root.SetLocalTranslation(0, 3, 0);
    c.tip.SetLocalTranslation(0, 0, 1);
    Curve(c.root, 0, 0, 1)->SetValue(3.0f);
    Curve(c.tip, 0, 0, 2)->SetValue(1.0f);
    c.root.SetEvaluatedLocalToDefault(true);
    c.root.EvaluateGlobalMatrix(1, true);
    ExpectNear(c.tip.GetEvaluatedGlobalMatrix(), Translate(V(0, 3, 1)), 1e-9, "evaluated");
    c.tip.SetEvaluatedGlobalMatrix(KMatrix());
    c.tip.EvaluateGlobalMatrix(1, false);
    ExpectNear(c.tip.GetEvaluatedGlobalMatrix(), KMatrix(), 1e-9, "same id");
    c.tip.EvaluateGlobalMatrix(2, false);
    ExpectNear(c.tip.GetEvaluatedGlobalMatrix(), Translate(V(0, 3, 1)), 1e-9, "new id");
}

// Random pivots, offsets, pre/post-rotations and translation/rotation keys on a
// branching tree; the transform of each node before and after a conversion.
class PivotInvariance : public ::testing::TestWithParam<int> {};

double Random(uint32_t& state, double range) {
    state = state * 1664525u + 1013904223u;
    return (int((state >> 8) % 20001) - 10000) / 10000.0 * range;
}

void Randomise(KQovNode& node, uint32_t& seed, bool targetInUse, bool withPost) {
    node.SetRotationActive(true);
    for (int set = 0; set < 2; ++set) {
        node.SetPivotState(set, set == 0 || targetInUse ? 0 : 1);
        node.SetRotationPivot(set, Random(seed, 4), Random(seed, 4), Random(seed, 4));
        node.SetRotationOffset(set, Random(seed, 3), Random(seed, 3), Random(seed, 3));
        node.SetPreRotation(set, Random(seed, 40), Random(seed, 40), Random(seed, 40));
        if (withPost) node.SetPostRotation(set, Random(seed, 40), Random(seed, 40), Random(seed, 40));
    }
    for (int channel = 0; channel < 2; ++channel) {
        const double range = channel == 0 ? 5.0 : 60.0;
        for (int a = 0; a < 3; ++a) {
            KFCurve* curve = Curve(node, 0, channel, a);
            curve->PrepareKeys(3);
            for (int k = 0; k < 3; ++k) curve->KeySet(k, Frame(k * 7), float(Random(seed, range)));
            curve->CommitKeys(3);
        }
    }
}

// The Lcl properties at a frame, from the curves.
void PoseAt(KQovNode* const* nodes, int count, int frame) {
    for (int n = 0; n < count; ++n) {
        KVector4 v[2];
        for (int channel = 0; channel < 2; ++channel)
            for (int a = 0; a < 3; ++a) v[channel][a] = Curve(*nodes[n], 0, channel, a)->Evaluate(Frame(frame));
        nodes[n]->SetLocalTranslation(v[0][0], v[0][1], v[0][2]);
        nodes[n]->SetLocalRotation(v[1][0], v[1][1], v[1][2]);
    }
}

// Where the node's own points land: its pivot-set frame sits at its rotation pivot.
KMatrix PointsToWorld(KQovNode& node, int set) {
    const KQovPivotSet& p = *node.GetPivotSet(set);
    const KVector4 pivot = p.pivotState == 0 ? p.rotationPivot : V(0, 0, 0);
    return Mul(Translate(V(-pivot[0], -pivot[1], -pivot[2])), node.GetGlobalMatrix(set, true));
}

enum class Conversion { kToNeutralSet, kInHierarchy, kResetPivots };

// Conversions into a set without pre/post-rotations keep where each node's own
// points land; the hierarchy pass keeps the pivot-set matrices themselves.
// Parents keep no post-rotation outside the hierarchy pass: a child steps back
// from its parent's pivot through that post-rotation, and only the hierarchy
// pass compensates for the parent.
void CheckInvariance(Conversion kind, uint32_t seed) {
    const bool inHierarchy = kind == Conversion::kInHierarchy;
    KQovNode root(nullptr, "Model::Root"), a(nullptr, "Model::A"), b(nullptr, "Model::B"),
        c(nullptr, "Model::C");
    root.AddChild(&a);
    a.AddChild(&b);
    root.AddChild(&c);
    KQovNode* nodes[] = {&root, &a, &b, &c};
    for (KQovNode* n : nodes) Randomise(*n, seed, inHierarchy, inHierarchy || n->GetChildCount() == 0);
    const int frames = 15;
    std::vector<KMatrix> before;
    for (int f = 0; f < frames; ++f) {
        PoseAt(nodes, 4, f);
        for (KQovNode* n : nodes) {
            ExpectNear(n->GetGlobalMatrix(0, true), ReferenceGlobal(*n, 0), 1e-9, "reference");
            before.push_back(inHierarchy ? n->GetGlobalMatrix(0, true) : PointsToWorld(*n, 0));
        }
    }
    int target = 1;
    if (kind == Conversion::kInHierarchy) {
        root.ConvertPivotAnimationInHierarchy(1, 30.0, false);
    } else if (kind == Conversion::kToNeutralSet) {
        root.ConvertPivotAnimation(1, 30.0, false);
    } else {
        root.ResetPivots();
        target = 0;
    }
    for (int f = 0; f < frames; ++f) {
        PoseAt(nodes, 4, f);
        for (int n = 0; n < 4; ++n) {
            const KMatrix after = inHierarchy ? nodes[n]->GetGlobalMatrix(target, true)
                                              : PointsToWorld(*nodes[n], target);
            ExpectNear(after, before[size_t(f * 4 + n)], 1e-4, "converted");
        }
    }
}

TEST_P(PivotInvariance, ConvertPivotAnimation) {
    CheckInvariance(Conversion::kToNeutralSet, uint32_t(GetParam()));
}
TEST_P(PivotInvariance, ConvertPivotAnimationInHierarchy) {
    CheckInvariance(Conversion::kInHierarchy, uint32_t(GetParam()));
}
TEST_P(PivotInvariance, ResetPivots) {
    CheckInvariance(Conversion::kResetPivots, uint32_t(GetParam()));
}
INSTANTIATE_TEST_SUITE_P(Seeds, PivotInvariance, ::testing::Values(1, 2, 3));

}  // namespace

// The transforms are kept only once asked for: a node that never was reads as one that
// was asked at once, whichever node of a chain is asked first.
TEST(KQovNodeTransform, TransformsAskedLateReadAsAskedEarly) {
    const KMatrix identity;
    for (int first = 0; first < 4; ++first) {
        SCOPED_TRACE(first);
        Chain chain;
        for (int n = 0; n < 3; ++n) {
            KeyChannel(*chain.nodes[n], 0, 0, V(n, 1, 2), V(n + 10, 1, 2));
            for (int a = 0; a < 3; ++a) Curve(*chain.nodes[n], 0, 0, a)->SetValue(a ? 0.0f : n + 1.0f);
        }
        ExpectNear(chain.mid.GetEvaluatedGlobalMatrix(), identity, 0.0, "never evaluated");
        if (first < 3) chain.nodes[first]->GetGlobalMatrixAtTime(Frame(5));
        chain.root.EvaluateLocalMatrix(Frame(10), true);
        chain.root.EvaluateGlobalMatrix(7, true);
        // The default take evaluates to its default values, a time to its keys.
        ExpectNear(chain.tip.GetEvaluatedGlobalMatrix(), Translate(V(1 + 2 + 3, 0, 0)), 1e-4,
                   "evaluated");
        ExpectNear(chain.tip.GetGlobalMatrixAtTime(Frame(10)), Translate(V(10 + 11 + 12, 3, 6)),
                   1e-4, "at time");
        ExpectNear(chain.mid.GetDefaultGlobalMatrix(), Translate(V(1 + 2, 0, 0)), 1e-4, "default");
        chain.tip.SetEvaluatedGlobalMatrix(identity);
        chain.tip.EvaluateGlobalMatrix(7, false);  // the same id: kept as set
        ExpectNear(chain.tip.GetEvaluatedGlobalMatrix(), identity, 0.0, "kept");
        // Taking another take drops what was kept.
        chain.tip.AddTakeNode("Other");
        ASSERT_TRUE(chain.tip.SetCurrentTakeNode(1));
        KeyChannel(chain.tip, 1, 0, V(0, 0, 0), V(0, 0, 0));
        ExpectNear(chain.tip.GetGlobalMatrixAtTime(Frame(10)), Translate(V(10 + 11, 2, 4)), 1e-4,
                   "other take");
    }
}
