// The skeleton's scene side: nodes built from bones, the bones' keys as curves on nodes, and
// a skeleton built from a node tree for writing.

#include <cmath>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLimitsUtility.h"
#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/KQovMotionTextIO.h"
#include "formats/motion/asf/KMotionFileAsf.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "foundation/KLocale.h"
#include "io/KQovWrittenNames.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovObjectManager.h"

namespace {

void SetLimits(KQovNode* node, const KAsfBone& bone) {
    KQovLimitsUtility limits(&node->GetLimits());
    KVector4 minimum, maximum;
    int translations = 0;
    for (int i = 0; i < bone.channelCount; ++i) {
        const int code = bone.channels[i];
        if (code <= kAsfTz) {
            ++translations;
            continue;
        }
        minimum[kAsfRx - code] = -180.0;
        maximum[kAsfRx - code] = 180.0;
    }
    limits.SetMin(1, minimum);
    limits.SetMax(1, maximum);
    if (translations < 3) {
        limits.SetAuto(1, false);
        limits.SetEnable(1, true);
        limits.SetDefault(1, bone.localRotation);
        // The axis points along the bone, seen in the node's own frame.
        limits.SetRotationAxis(KMotionAxisAngles(bone.EndTranslation()));
        limits.SetAxisLength(bone.length);
    }
    if (bone.channelCount == 0) {
        limits.SetAuto(0, false);
        limits.SetEnable(0, true);
        limits.SetDefault(0, bone.localTranslation);
    }
}

// Keys at the frames between the bone's first and last sample that the file skips, of the
// curve's own values there: every frame sampled keeps its value, and the keys keep the take's
// step (samples of every second frame are no capture at half the rate).
void FillSkippedFrames(KFCurve* curve, const KAsfBone& bone, KTime start, KTime period) {
    std::vector<std::pair<KTime, double>> keys;
    keys.reserve(size_t(bone.keys.back().frame - bone.keys.front().frame + 1));
    const int count = curve->KeyGetCount();
    int at = 0, hint = 0;
    size_t sample = 0;
    for (int frame = bone.keys.front().frame; frame <= bone.keys.back().frame; ++frame) {
        const KTime time = start + period * int64_t(frame - 1);
        while (at < count && curve->KeyGetTime(at) < time) ++at;
        while (bone.keys[sample].frame < frame) ++sample;
        if (at < count && curve->KeyGetTime(at) == time)
            keys.emplace_back(time, curve->KeyGetValue(at));
        else if (bone.keys[sample].frame != frame)
            keys.emplace_back(time, curve->Evaluate(time, &hint));
        // else a sample whose key the constant key reducer took: left so.
    }
    curve->KeyClear();
    curve->PrepareKeys(int(keys.size()));
    for (size_t k = 0; k < keys.size(); ++k)
        KMotionSetKey(curve, int(k), keys[k].first, keys[k].second);
    curve->CommitKeys(int(keys.size()));
}

// Three curves of one kind, keyed from the bone's keys; with `fill`, the frames the file skips
// between them too.
void KeyCurves(KFCurve** curves, const KAsfBone& bone, bool rotation, KTime start, KTime period,
               bool fill) {
    static const float kColors[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const int count = int(bone.keys.size());
    for (int axis = 0; axis < 3; ++axis) {
        KFCurve* curve = curves[axis];
        if (!curve) continue;
        curve->SetColor(kColors[axis]);
        curve->PrepareKeys(count);
        for (int k = 0; k < count; ++k) {
            const KAsfKey& key = bone.keys[size_t(k)];
            const KVector4& value = rotation ? key.rotation : key.translation;
            KMotionSetKey(curve, k, start + period * int64_t(key.frame - 1), value[axis]);
        }
        curve->CommitKeys(count);
    }
    KMotionFilterCurves(curves, 3, rotation);
    if (fill && bone.keys.back().frame - bone.keys.front().frame + 1 > count)
        for (int axis = 0; axis < 3; ++axis)
            if (curves[axis]) FillSkippedFrames(curves[axis], bone, start, period);
}

// True when the frames that the bones' samples skip can be keyed within the keys any read may
// make of the samples read; none skipped gives false.
bool CanFillSkippedFrames(const std::vector<KAsfBone*>& bones) {
    int64_t made = 0, skipped = 0;
    for (const KAsfBone* bone : bones) {
        if (bone->keys.empty()) continue;
        const int64_t curves = (bone->HasTranslation() ? 3 : 0) + (bone->HasRotation() ? 3 : 0);
        const int64_t keys = int64_t(bone->keys.size());
        made += keys * curves;
        skipped += (int64_t(bone->keys.back().frame) - bone->keys.front().frame + 1 - keys) * curves;
    }
    return skipped > 0 && skipped <= KMotionMaxKeys(made);
}

bool SameTranslation(const KVector4& a, const KVector4& b) {
    return KVectorLength3(a - b) <= 1e-9;
}

KVector4 RestTranslation(KQovNode* node, KVector4* rotation = nullptr) {
    KVector4 t, r;
    KMotionDecompose(node->GetDefaultLocalMatrix(), t, r);
    if (rotation) *rotation = r;
    return t;
}

// Keys on any of the X, Y and Z curves of the channel ("T" or "R") in the current take; the
// channel itself holds no curve.
bool ChannelKeyed(KQovNode* node, const char* channel) {
    KQovTakeNode* take = node->GetCurrentTakeNode();
    if (!take || take == node->GetDefaultTakeNode()) return false;
    for (const char* axis : {"X", "Y", "Z"})
        if (take->HasKeys("Transform", channel, axis)) return true;
    return false;
}

bool TranslationKeyed(KQovNode* node) {
    return ChannelKeyed(node, "T");
}

bool Keyed(KQovNode* node) {
    return ChannelKeyed(node, "T") || ChannelKeyed(node, "R");
}

KAsfBone* AddBone(KAsfBone& parent, const std::string& name) {
    parent.children.push_back(std::make_unique<KAsfBone>());
    KAsfBone* bone = parent.children.back().get();
    bone->name = name;
    bone->parent = &parent;
    return bone;
}

// The bone of `node` under `parent`: its axis frame is its node's rest frame in the root's.
KAsfBone* AddNodeBone(KAsfBone& parent, KQovNode* node) {
    KAsfBone* bone = AddBone(parent, node->GetNameWithoutPrefix().Buffer());
    bone->node = node;
    KVector4 rotation;
    RestTranslation(node, &rotation);
    KMatrix axis;
    KMatrixMultiply3x3(axis, KMatrix(rotation), parent.axis);
    KMatrixToEulerXYZ(bone->axisAngles, axis);
    bone->axisOrder = 0;
    bone->SetAxis();
    int n = 0;
    if (TranslationKeyed(node))
        for (int code : {kAsfTx, kAsfTy, kAsfTz}) bone->channels[n++] = code;
    for (int code : {kAsfRx, kAsfRy, kAsfRz}) bone->channels[n++] = code;
    bone->channelCount = n;
    return bone;
}

void SetBoneVector(KAsfBone& bone, const KVector4& vector) {
    bone.boneVector = vector;
    bone.length = KVectorLength3(vector);
    bone.direction = bone.length > 0.0 ? vector * (1.0 / bone.length) : KVector4();
}

// The bones below `bone` for the children of its node. A bone points at its children's common
// start; children that start elsewhere hang from a "Dummy" bone of their own that points at
// them. The root's position is always written as the origin, so it points nowhere.
void AddChildBones(KAsfBone& bone, std::vector<KAsfBone*>& pending) {
    KQovNode* node = bone.node;
    const int count = node->GetChildCount();
    if (count == 0) return;
    bool common = bone.parent != nullptr;
    const KVector4 first = RestTranslation(node->GetChild(0));
    for (int i = 1; common && i < count; ++i)
        common = SameTranslation(first, RestTranslation(node->GetChild(i)));
    KVector4 vector;
    if (common) KMatrixRotateVector(vector, bone.axis, first);
    SetBoneVector(bone, vector);
    for (int i = 0; i < count; ++i) {
        KQovNode* child = node->GetChild(i);
        const KVector4 start = RestTranslation(child);
        KAsfBone* parent = &bone;
        if (!common && KVectorLength3(start) > 1e-9) {
            parent = AddBone(bone, std::string(child->GetNameWithoutPrefix().Buffer()) + "Dummy");
            parent->axis = bone.axis;
            parent->axisTranspose = bone.axisTranspose;
            KMatrixToEulerXYZ(parent->axisAngles, bone.axis);
            KVector4 toChild;
            KMatrixRotateVector(toChild, bone.axis, start);
            SetBoneVector(*parent, toChild);
        }
        pending.push_back(AddNodeBone(*parent, child));
    }
}

// The whole tree below `root`, without recursion: a bone needs only its parent done.
void AddAllChildBones(KAsfBone& root) {
    std::vector<KAsfBone*> pending{&root};
    while (!pending.empty()) {
        KAsfBone* bone = pending.back();
        pending.pop_back();
        AddChildBones(*bone, pending);
    }
}

// End sites that neither reach anywhere nor move, bottom-up: children before their parents.
// Only one that is its joint's only child, on its joint's own bone: that bone ends where it
// stands, and reading the file makes it again. Any other leaf is a joint of its own, moving or
// not (a marker that a one-frame take or no motion line keys, an end site beside other joints
// or away from the top bone, which points nowhere).
void Prune(const std::vector<KAsfBone*>& preOrder) {
    for (auto it = preOrder.rbegin(); it != preOrder.rend(); ++it) {
        auto& children = (*it)->children;
        for (size_t i = children.size(); i-- > 0;) {
            const KAsfBone& child = *children[i];
            if (child.children.empty() && child.length == 0.0 && child.node &&
                !Keyed(child.node) && (*it)->node &&
                (*it)->node == child.node->GetParent() &&
                child.node->GetParent()->GetChildCount() == 1 && KMotionIsEndSite(child.node))
                children.erase(children.begin() + long(i));
        }
    }
}

}  // namespace

KQovNode* KQovAsfScene::BuildNodes(KQovObjectManager* manager, KAsfBone& top, bool limits) {
    // Nodes are made parents first, as a recursion would make them, then joined to their
    // parents deepest first, so that every join finds its parent not yet attached: a long
    // chain costs neither stack nor an ancestor walk per join.
    std::vector<KAsfBone*> order;
    std::vector<KAsfBone*> pending{&top};
    while (!pending.empty()) {
        KAsfBone* bone = pending.back();
        pending.pop_back();
        order.push_back(bone);
        KQovNode* node = KMotionCreateLimbNode(manager, bone->name.c_str());
        bone->node = node;
        KMotionSetRestTransform(node, bone->localTranslation, bone->localRotation);
        if (limits && bone->parent) SetLimits(node, *bone);
        if (bone->children.empty() && bone->length > 0.0) {
            const std::string name = bone->name + "_End";
            KQovNode* end = KMotionCreateLimbNode(manager, name.c_str());
            KMotionSetRestTransform(end, bone->EndTranslation(), KVector4());
            node->AddChild(end);
        }
        for (auto it = bone->children.rbegin(); it != bone->children.rend(); ++it)
            pending.push_back(it->get());
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        for (auto& child : (*it)->children) (*it)->node->AddChild(child->node);
    return top.node;
}

void KQovAsfScene::ApplyMotion(KQovObjectManager* manager, KQovNode* parent, const char* take,
                               KTime start, KTime period, bool limits) {
    if (!mRoot) return;
    for (KAsfBone* bone : GetBones()) bone->node = nullptr;
    KQovNode* rootNode = parent->FindChild(mRoot->name.c_str(), true);
    if (rootNode && rootNode->GetParent()) {
        mRoot->node = rootNode;
        // Bones are matched level by level; one without a node gets a new subtree.
        for (KAsfBone* bone : GetBones()) {
            if (!bone->node) continue;
            // The first child node of each name, listed once: a search per bone would make a
            // wide skeleton quadratic.
            std::unordered_map<std::string, KQovNode*> byName;
            bool listed = false;
            for (auto& child : bone->children) {
                if (child->node) continue;
                if (!listed) {
                    for (int i = 0; i < bone->node->GetChildCount(); ++i)
                        if (KQovNode* node = bone->node->GetChild(i))
                            byName.emplace(node->GetName(), node);
                    listed = true;
                }
                const auto found = byName.find("Model::" + child->name);
                if (found != byName.end()) {
                    child->node = found->second;
                    continue;
                }
                KQovNode* built = BuildNodes(manager, *child, limits);
                // Added last, so found only where no earlier child has its name.
                if (bone->node->AddChild(built)) byName.emplace(built->GetName(), built);
            }
        }
    } else {
        parent->AddChild(BuildNodes(manager, *mRoot, limits));
    }
    const bool fill = CanFillSkippedFrames(GetBones());
    for (KAsfBone* bone : GetBones()) {
        KQovNode* node = bone->node;
        if (!node) continue;
        KMotionSetRestTransform(node, bone->localTranslation, bone->localRotation);
        node->AddTakeNode(take);
        node->SetCurrentTakeNode(take);
        // A bone keyed in one frame keeps that key: a one-frame take (markers written as
        // bones of no length) is its pose, and without it the bone would stand at rest.
        if (bone->keys.empty()) continue;
        KQovTakeNode* takeNode = node->GetCurrentTakeNode();
        if (bone->HasTranslation()) {
            KFCurve* curves[3] = {takeNode->GetTranslationX(), takeNode->GetTranslationY(),
                                  takeNode->GetTranslationZ()};
            KeyCurves(curves, *bone, false, start, period, fill);
        }
        if (bone->HasRotation()) {
            KFCurve* curves[3] = {takeNode->GetRotationX(), takeNode->GetRotationY(),
                                  takeNode->GetRotationZ()};
            KeyCurves(curves, *bone, true, start, period, fill);
        }
    }
}

void KQovAsfScene::BuildFromNodes(KQovNode* root) {
    mName = "ASF";
    mLengthUnit = 1.0;
    mRemoved.clear();
    mRoot = std::make_unique<KAsfBone>();
    mRoot->name = "root";
    mRoot->node = root;
    const int channels[] = {kAsfTx, kAsfTy, kAsfTz, kAsfRx, kAsfRy, kAsfRz};
    for (int code : channels) mRoot->channels[mRoot->channelCount++] = code;
    mRoot->SetAxis();
    AddAllChildBones(*mRoot);
    Prune(GetBones());
    CompleteFrames();
    NameBones();
    int id = 0;
    for (KAsfBone* bone : GetBones()) bone->id = id++;
}

void KQovAsfScene::NameBones() {
    bool parent = false;
    KQovWrittenNames names(KMotionFileAsf::NameTerms(&parent));
    const std::vector<KAsfBone*> bones = GetBones();
    // Bones of nodes first: a bone made between them ("Dummy") gives way to a node's name.
    for (KAsfBone* bone : bones)
        if (bone->parent && bone->node) {
            parent = !bone->children.empty();
            names.SetAside(bone->name);
        }
    for (int pass = 0; pass < 2; ++pass) {
        for (KAsfBone* bone : bones) {
            if (!bone->parent || (bone->node != nullptr) != (pass == 0)) continue;
            parent = !bone->children.empty();
            // The reader ends a leaf bone of length with a node named after it.
            const bool ends = bone->children.empty() && bone->length > 0.0;
            // A bone of the writer's own, which the reader folds away, is renamed untold.
            std::string written = names.Add(bone->name, ends ? "_End" : "", pass == 0);
            if (written == bone->name) continue;
            bone->source = bone->name;
            bone->name = std::move(written);
        }
    }
    mNameWarnings = names.GetWarnings();
}

bool KQovAsfScene::BindNodes(KQovNode* root) {
    if (!mRoot || !root) return false;
    // The nodes of each name below the root, in the order of a recursive FindChild. Bones of
    // one name (renamed apart for the file) take them in turn, as they were built from them.
    std::unordered_map<std::string, std::vector<KQovNode*>> byName;
    for (KQovNode* node : KQovListDescendants(root)) byName[node->GetName()].push_back(node);
    std::unordered_map<std::string, size_t> taken;
    for (KAsfBone* bone : GetBones()) {
        bone->node = root;
        if (bone->parent) {
            const std::string name =
                "Model::" + (bone->source.empty() ? bone->name : bone->source);
            const auto found = byName.find(name);
            bone->node = nullptr;
            if (found != byName.end()) {
                size_t& next = taken[name];
                const bool turn = bone->channelCount > 0 && next < found->second.size();
                bone->node = found->second[turn ? next++ : 0];
            }
        }
        if (!bone->node && bone->channelCount > 0) return false;
    }
    return true;
}

void KQovAsfScene::SampleNodes(KTime time, int frame, bool global) {
    for (KAsfBone* bone : GetBones()) {
        bone->keys.clear();
        if (!bone->node || bone->channelCount == 0) continue;
        KAsfKey key;
        key.frame = frame;
        KMotionSampleNode(bone->node, time, global && !bone->parent, key.translation, key.rotation);
        bone->keys.push_back(key);
    }
}
