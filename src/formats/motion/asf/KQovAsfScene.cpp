#include "formats/motion/asf/KQovAsfScene.h"

#include <algorithm>

namespace {

KVector4 EulerXYZ(const KMatrix& m) {
    KVector4 angles;
    KMatrixToEulerXYZ(angles, m);
    return angles;
}

KVector4 Rotate(const KMatrix& m, const KVector4& v) {
    KVector4 out;
    KMatrixRotateVector(out, m, v);
    return out;
}

}  // namespace

bool KAsfBone::HasTranslation() const {
    for (int i = 0; i < channelCount; ++i)
        if (channels[i] <= kAsfTz) return true;
    return false;
}

bool KAsfBone::HasRotation() const {
    for (int i = 0; i < channelCount; ++i)
        if (channels[i] >= kAsfRz) return true;
    return false;
}

void KAsfBone::SetAxis() {
    KMatrixSetIdentity(axis);
    KMatrixSetRotationOrdered(axis, axisAngles, axisOrder);
    KMatrixSetIdentity(axisTranspose);
    KMatrixTranspose3x3(axisTranspose, axis);
}

KAsfKey KAsfBone::Pose(const double* values, int count) const {
    KVector4 t, angles;
    for (int i = 0; i < channelCount && i < count; ++i) {
        const int code = channels[i];
        if (code <= kAsfTz)
            t[code] += values[i];
        else
            angles[kAsfRx - code] = values[i];
    }
    // The degrees of freedom turn X, then Y, then Z about the bone's own axes; the
    // node's frame is the bone's axis frame within its parent's.
    KMatrix rotation(angles);
    KMatrixMultiply3x3(rotation, rotation, axis);
    KMatrixMultiply3x3(rotation, rotation, parentTranspose);
    KAsfKey key;
    key.rotation = EulerXYZ(rotation);
    if (!parent)
        key.translation = HasTranslation() ? t : localTranslation;
    else
        key.translation = localTranslation + Rotate(parentTranspose, t);
    return key;
}

void KAsfBone::Values(const KAsfKey& key, double values[kMaxChannels]) const {
    // Take the bone's frame off the node's rotation to leave the turn of the channels.
    KMatrix rotation(key.rotation);
    KMatrixMultiply3x3(rotation, rotation, parentAxis);
    KMatrixMultiply3x3(rotation, rotation, axisTranspose);
    const KVector4 angles = EulerXYZ(rotation);
    const KVector4 t =
        parent ? Rotate(parentAxis, key.translation - localTranslation) : key.translation;
    for (int i = 0; i < channelCount; ++i) {
        const int code = channels[i];
        values[i] = code <= kAsfTz ? t[code] : angles[kAsfRx - code];
    }
}

const KAsfKey* KAsfBone::FindKey(int frame) const {
    auto it = std::lower_bound(keys.begin(), keys.end(), frame,
                               [](const KAsfKey& k, int f) { return k.frame < f; });
    return it != keys.end() && it->frame == frame ? &*it : nullptr;
}

KVector4 KAsfBone::EndTranslation() const {
    return Rotate(axisTranspose, boneVector);
}

KQovAsfScene::KQovAsfScene() = default;

KQovAsfScene::~KQovAsfScene() {
    // Leaves first, so that a deep tree is not torn down by deep recursion; walked by the
    // parent links, since a destructor must not allocate (it also runs when memory ran out).
    KAsfBone* bone = mRoot.get();
    while (bone) {
        if (!bone->children.empty()) {
            bone = bone->children.back().get();
            continue;
        }
        // The root's parent link may be left from a refused file: the walk ends at the root.
        KAsfBone* parent = bone == mRoot.get() ? nullptr : bone->parent;
        if (!parent || parent->children.empty() || parent->children.back().get() != bone) break;
        parent->children.pop_back();
        bone = parent;
    }
}

double KQovAsfScene::GetLengthScale() const {
    return mLengthUnit > 0.0 ? 2.54 / mLengthUnit : 1.0;
}

std::vector<KAsfBone*> KQovAsfScene::GetBones() const {
    std::vector<KAsfBone*> bones;
    std::vector<KAsfBone*> stack;
    if (mRoot) stack.push_back(mRoot.get());
    while (!stack.empty()) {
        KAsfBone* bone = stack.back();
        stack.pop_back();
        bones.push_back(bone);
        for (auto it = bone->children.rbegin(); it != bone->children.rend(); ++it)
            stack.push_back(it->get());
    }
    return bones;
}

KAsfBone* KQovAsfScene::FindBone(const char* name) const {
    std::vector<KAsfBone*> stack;
    if (mRoot && name) stack.push_back(mRoot.get());
    while (!stack.empty()) {
        KAsfBone* bone = stack.back();
        stack.pop_back();
        if (bone->name == name) return bone;
        for (auto it = bone->children.rbegin(); it != bone->children.rend(); ++it)
            stack.push_back(it->get());
    }
    return nullptr;
}

std::unordered_map<std::string, KAsfBone*> KQovAsfScene::IndexBones() const {
    std::unordered_map<std::string, KAsfBone*> index;
    for (KAsfBone* bone : GetBones()) index.emplace(bone->name, bone);
    return index;
}

void KQovAsfScene::CompleteFrames() {
    for (KAsfBone* bone : GetBones()) {
        if (!bone->parent) {
            bone->localTranslation = bone->boneVector;
            bone->localRotation = EulerXYZ(bone->axis);
            continue;
        }
        const KAsfBone& parent = *bone->parent;
        bone->boneVector = bone->direction * bone->length;
        // The root's bone vector holds its position, where its node already stands: its
        // children start at its origin.
        bone->offset = parent.parent ? parent.boneVector : KVector4();
        bone->parentAxis = parent.axis;
        bone->parentTranspose = parent.axisTranspose;
        bone->localTranslation = Rotate(bone->parentTranspose, bone->offset);
        KMatrix local;
        KMatrixMultiply3x3(local, bone->axis, bone->parentTranspose);
        bone->localRotation = EulerXYZ(local);
    }
}

void KQovAsfScene::Restructure() {
    std::vector<KAsfBone*> bones = GetBones();
    for (auto it = bones.rbegin(); it != bones.rend(); ++it) {
        KAsfBone* bone = *it;
        // A leaf stays: nothing below it would carry its length.
        if (!bone->parent || bone->channelCount > 0 || bone->children.empty()) continue;
        KAsfBone* parent = bone->parent;
        for (auto& child : bone->children) {
            child->parent = parent;
            child->parentAxis = bone->parentAxis;
            child->parentTranspose = bone->parentTranspose;
            child->offset = child->offset + bone->offset;
            child->localTranslation = Rotate(child->parentTranspose, child->offset);
            // The child's frame now hangs in the grandparent's frame.
            KMatrix local;
            KMatrixMultiply3x3(local, child->axis, child->parentTranspose);
            child->localRotation = EulerXYZ(local);
            parent->children.push_back(std::move(child));
        }
        mRemoved.push_back(bone->name);
        auto& siblings = parent->children;
        siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                                    [bone](const auto& b) { return b.get() == bone; }));
    }
}
