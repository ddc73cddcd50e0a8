#include "attributes/KQovPivotConversion.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovSkeleton.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"

namespace {

const char* const kPre = "__Pre_";
const char* const kPost = "__Post_";

bool NonZero(const KVector4* v) {
    return v && (std::fabs((*v)[0]) > 1e-6 || std::fabs((*v)[1]) > 1e-6 || std::fabs((*v)[2]) > 1e-6);
}

bool Named(const KQovNode* node, const char* tag) {
    return node && std::strstr(node->GetName(), tag);
}

// Consumes "<letters><digits>" at the front of text; false when the digits are missing.
bool TakeNumber(std::string_view& text, std::string_view letters) {
    if (text.substr(0, letters.size()) != letters) return false;
    size_t digits = letters.size();
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    if (digits == letters.size()) return false;
    text.remove_prefix(digits);
    return true;
}

// Length of the clash suffix ending the name, 0 when it has none.
size_t ClashSuffixLength(std::string_view name) {
    const size_t at = name.rfind("_ncl");
    if (at == std::string_view::npos || at == 0) return 0;
    std::string_view tail = name.substr(at);
    const size_t length = tail.size();
    if (tail.substr(0, 6) == "_ncl1_") {
        tail.remove_prefix(5);
        return TakeNumber(tail, "_") && tail.empty() ? length : 0;
    }
    if (tail.substr(0, 6) != "_ncl2_") return 0;
    tail.remove_prefix(6);
    const bool upper = TakeNumber(tail, "ul");
    const bool lower = TakeNumber(tail, "lu");
    return (upper || lower) && tail.empty() ? length : 0;
}

// The take node of that name, added when missing.
KQovTakeNode* TakeNamed(KQovNode& node, const char* name) {
    for (int i = 0; i < node.GetTakeNodeCount(); ++i)
        if (std::strcmp(node.GetTakeNodeName(i), name) == 0) return node.GetTakeNode(i);
    return node.AddTakeNode(name);
}

KFCurve* TransformCurve(KQovTakeNode* take, bool rotation, int axis) {
    const char path[] = {'T', 'r', 'a', 'n', 's', 'f', 'o', 'r', 'm', '/', rotation ? 'R' : 'T',
                         '/', "XYZ"[axis], '\0'};
    KFCurveNode* node = take && take->GetRoot() ? take->GetRoot()->Find(path) : nullptr;
    return node ? node->GetCurve() : nullptr;
}

void SetStatic(KQovTakeNode* take, bool rotation, const KVector4& value) {
    for (int a = 0; a < 3; ++a)
        if (KFCurve* curve = TransformCurve(take, rotation, a)) curve->SetValue(float(value[a]));
}

// Translation curves of every take of `from` into the take of the same name of `to`.
void CopyTranslationCurves(KQovNode& from, KQovNode& to, bool clearSource) {
    for (int i = 0; i < from.GetTakeNodeCount(); ++i) {
        KQovTakeNode* source = from.GetTakeNode(i);
        KQovTakeNode* target = TakeNamed(to, from.GetTakeNodeName(i));
        for (int a = 0; a < 3; ++a) {
            KFCurve* src = TransformCurve(source, false, a);
            KFCurve* dst = TransformCurve(target, false, a);
            if (!src) continue;
            if (dst) dst->CopyFrom(*src, true);
            if (clearSource) {
                src->KeyClear();
                src->SetValue(0.0f);
            }
        }
    }
}

// Pivot nulls of a skeleton are limb nodes of the same size.
void GiveSkeleton(KQovNode& node, KQovNode& null, KQovObjectManager& manager) {
    const KQovSkeleton* skeleton = node.GetSkeleton();
    if (!skeleton) return;
    KQovSkeleton* limb = manager.CreateSkeleton();
    if (!limb) return;
    limb->SetSkeletonType(KQovSkeleton::eLimbNode);
    limb->SetSize(skeleton->GetSize());
    null.SetNodeAttribute(limb);
}

// `replacement` takes the place of `node` among its parent's children.
void TakePlaceOf(KQovNode& node, KQovNode& replacement) {
    KQovNode* parent = node.GetParent();
    if (!parent) return;
    KQovNodeProperties* children = parent->GetNodeProperties();
    const int index = children->IndexOfSrc(node.GetNodeProperties());
    parent->RemoveChild(&node);
    if (index < 0 || !children->ConnectSrcAt(index, replacement.GetNodeProperties()))
        parent->AddChild(&replacement);
}

KVector4 Local(const KQovNode& node, void (KQovNode::*get)(KVector4&) const) {
    KVector4 v;
    (node.*get)(v);
    return v;
}

void ConvertPre(KQovNode& node, KQovObjectManager& manager) {
    const KVector4* preRotation = node.GetPreRotation(0);
    if (!NonZero(preRotation) || !node.GetParent()) return;
    KQovNode* null = manager.CreateNode(PivotNullName(node, kPre).Buffer());
    if (!null) return;
    const KVector4 pre = *preRotation;
    const KVector4 t = Local(node, &KQovNode::GetLocalTranslation);
    GiveSkeleton(node, *null, manager);
    TakePlaceOf(node, *null);
    null->AddChild(&node);
    null->SetLocalRotation(pre[0], pre[1], pre[2]);
    null->SetLocalTranslation(t[0], t[1], t[2]);
    node.SetLocalTranslation(0.0, 0.0, 0.0);
    node.SetPreRotation(0, 0.0, 0.0, 0.0);
    CopyTranslationCurves(node, *null, true);
    for (int i = 0; i < null->GetTakeNodeCount(); ++i) {
        SetStatic(null->GetTakeNode(i), false, t);
        SetStatic(null->GetTakeNode(i), true, pre);
    }
}

void ConvertPost(KQovNode& node, KQovObjectManager& manager) {
    const KVector4* postRotation = node.GetPostRotation(0);
    if (!NonZero(postRotation)) return;
    KQovNode* null = manager.CreateNode(PivotNullName(node, kPost).Buffer());
    if (!null) return;
    const KVector4 post = *postRotation;
    if (node.GetTakeNodeCount() > 0) TakeNamed(*null, node.GetTakeNodeName(0));
    GiveSkeleton(node, *null, manager);
    while (KQovNode* child = node.GetChild(0)) null->AddChild(child);
    node.AddChild(null);
    null->SetLocalRotation(post[0], post[1], post[2]);
    // The channels carry the rotation too, so that a writer sees it.
    for (int i = 0; i < null->GetTakeNodeCount(); ++i) SetStatic(null->GetTakeNode(i), true, post);
    node.SetPostRotation(0, 0.0, 0.0, 0.0);
}

// c under a pre null p: p's translation and rotation into c, c in p's place.
bool MergePre(KQovNode& c) {
    KQovNode* p = c.GetParent();
    if (!Named(p, kPre) || !p->GetParent() || p->GetChildCount() != 1) return false;
    const KVector4 t = Local(*p, &KQovNode::GetLocalTranslation);
    const KVector4 r = Local(*p, &KQovNode::GetLocalRotation);
    c.SetLocalTranslation(t[0], t[1], t[2]);
    c.SetPreRotation(0, r[0], r[1], r[2]);
    p->RemoveChild(&c);
    TakePlaceOf(*p, c);
    CopyTranslationCurves(*p, c, false);
    return true;
}

// A post null q first below c: its rotation into c, its children up to c.
bool MergePost(KQovNode& c) {
    KQovNode* q = c.GetChild(0);
    if (!Named(q, kPost)) return false;
    const KVector4 r = Local(*q, &KQovNode::GetLocalRotation);
    c.SetPostRotation(0, r[0], r[1], r[2]);
    c.RemoveChild(q);
    while (KQovNode* child = q->GetChild(0)) c.AddChild(child);
    return true;
}

}  // namespace

KString PivotNullName(const KQovNode& node, const char* tag) {
    const std::string_view name = node.GetName();
    const size_t suffix = ClashSuffixLength(name);
    std::string text = suffix ? std::string(node.GetInitialName()) : std::string(name);
    text += tag;
    if (suffix) text += name.substr(name.size() - suffix);
    return KString(text.c_str());
}

void ConvertPivotsToNulls(KQovNode* root, KQovObjectManager* manager) {
    // Parents before children on a stack of our own: a deep tree must not recurse.
    std::vector<KQovNode*> pending;
    if (root) pending.push_back(root);
    while (!pending.empty()) {
        KQovNode* node = pending.back();
        pending.pop_back();
        if (manager) {
            ConvertPre(*node, *manager);
            ConvertPost(*node, *manager);
        }
        // The children as they are now: the post null (whose children are the
        // node's) but not the pre null above.
        std::vector<KQovNode*> children;
        for (int i = 0; KQovNode* child = node->GetChild(i); ++i) children.push_back(child);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
}

void MergePivotNulls(KQovNode* root, void*, void*) {
    if (!root) return;
    // Each node's children from the last, a child's subtree done before the child before it,
    // on a stack of our own: a deep tree must not recurse.
    struct Pending {
        KQovNode* node;
        int next;
    };
    std::vector<Pending> stack{{root, root->GetChildCount() - 1}};
    while (!stack.empty()) {
        Pending& top = stack.back();
        if (top.next < 0) {
            stack.pop_back();
            continue;
        }
        KQovNode* c = top.node->GetChild(top.next--);
        if (!c) continue;
        if (Named(c, kPost) && c->GetChild(0)) c = c->GetChild(0);
        if (Named(c, kPre) && c->GetChild(0)) c = c->GetChild(0);
        const bool pre = MergePre(*c);
        const bool post = MergePost(*c);
        // The merged rotations live in the pivot sets: use them.
        if (pre || post) {
            c->SetPivotState(0, 0);
            c->SetPivotState(1, 0);
        }
        stack.push_back({c, c->GetChildCount() - 1});
    }
}
