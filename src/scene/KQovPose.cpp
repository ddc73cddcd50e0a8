#include "scene/KQovPose.h"

#include "scene/KQovScene.h"

namespace {
const char* const kPoseErrors[] = {"Error"};

// Shorter poses are searched entry by entry.
constexpr int kPoseIndexFrom = 32;

const KMatrix& Identity() {
    static const KMatrix identity = [] {
        KMatrix m;
        KMatrixSetIdentity(m);
        return m;
    }();
    return identity;
}
}  // namespace

KQovPose::KQovPose(KQovObjectManager* manager, const char* name, bool bindPose)
    : KQovTakeNodeContainer(manager, name, &mError),
      mError(kPoseErrors, 1),
      mProperties(new KQovPoseProperties(this)),
      mKind(bindPose ? 'b' : 'r') {
    AddDefaultTakeNode();
}

KQovPose::~KQovPose() { mProperties->Destroy(); }

const char* KQovPose::GetNodeName(int index) const {
    return index >= 0 && index < GetCount() ? mEntries[size_t(index)].nodeName.Buffer() : "";
}

void KQovPose::SetNodeName(int index, const char* name) {
    if (index >= 0 && index < GetCount() && name && *name) {
        mEntries[size_t(index)].nodeName = name;
        mIndex.clear();
        mIndexed = false;
    }
}

const KMatrix& KQovPose::GetMatrix(int index) const {
    return index >= 0 && index < GetCount() ? mEntries[size_t(index)].matrix : Identity();
}

bool KQovPose::IsLocalMatrix(int index) const {
    return index >= 0 && index < GetCount() && mEntries[size_t(index)].local;
}

int KQovPose::Find(const char* nodeName) const {
    if (!nodeName) return -1;
    if (GetCount() < kPoseIndexFrom) {
        for (int i = 0; i < GetCount(); ++i)
            if (mEntries[size_t(i)].nodeName == nodeName) return i;
        return -1;
    }
    if (!mIndexed) {
        for (int i = 0; i < GetCount(); ++i)
            mIndex.emplace(mEntries[size_t(i)].nodeName.Buffer(), i);
        mIndexed = true;
    }
    const auto found = mIndex.find(nodeName);
    return found == mIndex.end() ? -1 : found->second;
}

void KQovPose::Remove(int index) {
    if (index < 0 || index >= GetCount()) return;
    mEntries.erase(mEntries.begin() + index);
    mIndex.clear();
    mIndexed = false;
}

bool KQovPose::IsCompatible(const char* nodeName, const KMatrix& matrix, int& found) const {
    found = Find(nodeName);
    return found < 0 || mEntries[size_t(found)].matrix == matrix;
}

int KQovPose::Add(const char* nodeName, const KMatrix& matrix, bool local) {
    if (!nodeName) return -1;
    int found;
    if (IsBindPose())
        for (KQovScene* scene : KQovScene::GetLiveScenes()) {
            if (scene->GetObjectManager() != GetObjectManager()) continue;
            for (int i = 0; i < scene->GetPoseCount(); ++i) {
                KQovPose* other = scene->GetPose(i);
                if (other != this && other->IsBindPose() && !other->IsCompatible(nodeName, matrix, found))
                    return -1;
            }
        }
    if (!IsCompatible(nodeName, matrix, found)) return -1;
    if (found >= 0) return found;
    mEntries.push_back(Entry{KString(nodeName), matrix, local});
    if (mIndexed) mIndex.emplace(nodeName, GetCount() - 1);
    return GetCount() - 1;
}

bool KQovPose::FindBindPosesOfNode(const std::vector<KQovScene*>& scenes, const char* nodeName,
                                   std::vector<KQovPose*>& poses, std::vector<int>& indices) {
    bool any = false;
    for (KQovScene* scene : scenes)
        for (int i = 0; scene && i < scene->GetPoseCount(); ++i) {
            KQovPose* pose = scene->GetPose(i);
            int index = pose->IsBindPose() ? pose->Find(nodeName) : -1;
            if (index < 0) continue;
            poses.push_back(pose);
            indices.push_back(index);
            any = true;
        }
    return any;
}
