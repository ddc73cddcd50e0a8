// Version-5 takes and animation, thumbnails, scene information, generic persistence (poses)
// and the closing Summary.

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "foundation/KQuotedText.h"
#include "io/KQovIOHooks.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovPose.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovTakeNames.h"
#include "scene/KQovThumbnail.h"

namespace {

void Span(KQovFieldFile* f, const char* name, const KTimeSpan& span) {
    f->FieldWriteBegin(name);
    f->FieldWriteTS(span.GetStart(), span.GetStop());
    f->FieldWriteEnd();
}

void CommentHeader(KQovFieldFile* f, const char* title) {
    f->FieldWriteComment(title);
    f->FieldWriteComment(std::string(52, '-').c_str());
    f->FieldWriteComment("");
}

bool IsEmptySpan(const KTimeSpan& span) {
    return span.GetStart() == KTime(0) && span.GetStop() == KTime(0);
}

// The first take node of the name, found through the object's index when it has many.
KQovTakeNode* TakeNodeNamed(KQovTakeNodeContainer* object, const char* name) {
    const int index = object->FindTakeNodeIndex(name);
    return index >= 0 ? object->GetTakeNode(index) : nullptr;
}

// Widens [start, stop] over the take `name` of the node and its subtree.
void WidenInterval(KQovNode* root, const char* name, KTime& start, KTime& stop) {
    for (KQovNode* node : KQovListNodes(root)) {
        KQovTakeNode* take = TakeNodeNamed(node, name);
        KTime first = KTIME_INFINITE, last = KTIME_MINUS_INFINITE;
        if (!take || !take->GetAnimationInterval(first, last)) continue;
        if (first < start) start = first;
        if (last > stop) stop = last;
    }
}

// Nodes below the root, each before its children.
void CollectNodes(KQovNode* node, std::vector<KQovNode*>& out) {
    const std::vector<KQovNode*> below = KQovListDescendants(node);
    out.insert(out.end(), below.begin(), below.end());
}

}  // namespace

void KQovWriterQov5::CollectTakes(KQovScene* scene) {
    mTakes.clear();
    mTakeExisted.clear();
    mTakeSceneNames.clear();
    mTakesWritten = false;
    std::vector<KString> names;
    scene->FillTakeNameArray(names);
    KQovTakeNames unique;
    for (const KString& name : names)
        if (!name.IsEmpty() && name != "Default") unique.Reserve(name.Buffer());
    // The first record of each name, found once: a lookup per take walks every record.
    std::unordered_map<std::string_view, const KQovTakeInfo*> infos;
    for (int i = 0; i < scene->GetTakeInfoCount(); ++i)
        if (const KQovTakeInfo* info = scene->GetTakeInfoAt(i))
            infos.emplace(info->name.Buffer(), info);
    for (const KString& name : names) {
        const auto found = infos.find(name.Buffer());
        const KQovTakeInfo* info = found == infos.end() ? nullptr : found->second;
        // The default take is a take of the file only when a record names it (a motion file
        // called Default.bvh): its keys are then that take's.
        if (name == "Default" && !info) continue;
        if (info && !info->select) continue;
        KQovTakeInfo take;
        if (info) take = *info;
        take.name = name;
        if (name.IsEmpty() || name == "Default") {
            KQovTakeNames::Clash clash;
            const std::string made = unique.Add(name.Buffer(), clash);
            take.name = made.c_str();
            mTakeSceneNames[made] = name.Buffer();
            mStatus += KQovTakeNames::Warning("written", name.Buffer(), made, clash).c_str();
        }
        mTakes.push_back(take);
        mTakeExisted.push_back(info != nullptr);
    }
}

const char* KQovWriterQov5::SceneTakeName(const KQovTakeInfo& take) const {
    const auto found = mTakeSceneNames.find(take.name.Buffer());
    return found == mTakeSceneNames.end() ? take.name.Buffer() : found->second.c_str();
}

const char* KQovWriterQov5::WrittenCurrentTake(KQovScene* scene) const {
    const char* current = scene->GetCurrentTakeName();
    for (const auto& [written, own] : mTakeSceneNames)
        if (own == current) return written.c_str();
    return current;
}

void KQovWriterQov5::ComputeSpans(KQovScene* scene, KQovTakeInfo& take) {
    if (!IsEmptySpan(take.localTimeSpan) && !IsEmptySpan(take.referenceTimeSpan)) return;
    KTime start = KTIME_INFINITE, stop = KTIME_MINUS_INFINITE;
    const char* name = SceneTakeName(take);
    if (KQovNode* switcher = scene->GetCameraSwitcherNode())
        if (KQovTakeNode* t = TakeNodeNamed(switcher, name)) {
            KTime first = KTIME_INFINITE, last = KTIME_MINUS_INFINITE;
            if (t->GetAnimationInterval(first, last)) {
                if (first < start) start = first;
                if (last > stop) stop = last;
            }
        }
    WidenInterval(scene->GetRootNode(), name, start, stop);
    if (start > stop) {
        start = KTime(0);
        stop.SetTime(0, 0, 1);
    }
    // Kept in the writer's copy of the record: the scene's own stays as it is.
    if (IsEmptySpan(take.localTimeSpan)) take.localTimeSpan.Set(start, stop);
    if (IsEmptySpan(take.referenceTimeSpan)) take.referenceTimeSpan.Set(start, stop);
}

void KQovWriterQov5::WriteTakes(KQovScene* scene) {
    CommentHeader(mFile, "Takes and animation section");
    KQovWriteBlockBegin(mFile, "Takes");
    if (!mFile->IsVersion5Layout()) KQovWriteIntField(mFile, "Version", 101);
    mFile->FieldWriteC("Current", WrittenCurrentTake(scene));
    for (KQovTakeInfo& take : mTakes) {
        if (Failed()) break;
        ComputeSpans(scene, take);
        WriteTake(scene, take);
        KQovIOHooks::GetInstance().StepDone();
    }
    mTakesWritten = true;
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteTake(KQovScene* scene, const KQovTakeInfo& take) {
    const char* name = take.name.Buffer();
    const char* own = SceneTakeName(take);  // the scene's name of the take
    KQovEntityContainer* entity = scene->GetEntityContainer();
    std::vector<KQovNode*> nodes;
    CollectNodes(scene->GetRootNode(), nodes);
    Report(("Storing take " + KQovMessageText(name)).c_str(), 0.0f);
    mCounter = 0;
    mTotal = int(nodes.size()) + entity->GetTextureCount() + entity->GetMaterialCount();

    KQovWriteBlockBegin(mFile, "Take", name);
    std::string file = name;
    for (char& c : file)
        if (c == ' ' || c == '\t') c = '_';
    if (mFile->IsVersion5Layout()) mFile->FieldWriteC("FileName", (file + ".tak").c_str());
    Span(mFile, "LocalTime", take.localTimeSpan);
    Span(mFile, "ReferenceTime", take.referenceTimeSpan);
    if (!take.comment.IsEmpty()) mFile->FieldWriteC("Comments", take.comment.Buffer());
    KQovWriteThumbnail(mFile, take.thumbnail);

    CommentHeader(mFile, "Models animation");
    if (KQovNode* switcher = scene->GetCameraSwitcherNode())
        WriteAnimationBlock(switcher, "Model", own, false);
    for (KQovNode* node : nodes) {
        Progress();
        WriteAnimationBlock(node, "Model", own, false);
    }
    // Version-6 files animate generic nodes too.
    for (int i = 0; !mFile->IsVersion5Layout() && i < entity->GetGenericNodeCount(); ++i)
        WriteAnimationBlock(entity->GetGenericNode(i), "GenericNode", own, false);
    CommentHeader(mFile, "Textures animation");
    for (int i = 0; i < entity->GetTextureCount(); ++i) {
        Progress();
        WriteAnimationBlock(entity->GetTexture(i), "Texture", own, false);
    }
    CommentHeader(mFile, "Materials animation");
    for (int i = 0; i < entity->GetMaterialCount(); ++i) {
        Progress();
        WriteAnimationBlock(entity->GetMaterial(i), "Material", own, true);
    }
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteAnimationBlock(KQovObject* object, const char* blockName,
                                         const char* take, bool material) {
    auto* container = dynamic_cast<KQovTakeNodeContainer*>(object);
    KQovTakeNode* takeNode = container ? TakeNodeNamed(container, take) : nullptr;
    if (!takeNode) return;
    KQovWriteBlockBegin(mFile, blockName, WrittenName(object));
    mFile->FieldWriteBegin("Version");
    mFile->FieldWriteD(1.1);
    mFile->FieldWriteEnd();
    KFCurveNode* root = takeNode->GetRoot();
    // The default take's channels are the object's own values, written with it, unless the
    // default take is written as a take of the file.
    if ((takeNode != container->GetDefaultTakeNode() || std::strcmp(take, "Default") == 0) &&
        root) {
        for (int i = 0; i < root->GetCount(); ++i) {
            KFCurveNode* channel = root->Get(i);
            if (!channel) continue;
            if (material && channel->GetCurve() &&
                std::strcmp(channel->GetName(), "Shininess") == 0) {
                // Files keep shininess in percent; a scaled copy is stored, never the scene's
                // curve.
                std::unique_ptr<KFCurveNode> scaled(channel->Clone(false));
                if (KFCurve* curve = scaled->GetCurve()) curve->ScaleValues(false, 100.0f);
                StoreChannel(scaled.get());
                continue;
            }
            StoreChannel(channel);
        }
        StoreRenamedUserChannels(object, root, false);
    }
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteSceneGenericPersistence(KQovScene* scene) {
    const bool characters = mOptions->GetSwitch(KStreamOptionsQov::eCharacters);
    if (scene->GetPoseCount() == 0 && !scene->GetSceneInfo() &&
        !(characters && scene->GetCharacterPoseCount() > 0))
        return;
    KQovWriteBlockBegin(mFile, "SceneGenericPersistence");
    if (characters) WriteCharacterPoses(scene);
    for (int i = 0; i < scene->GetPoseCount(); ++i) {
        KQovPose* pose = scene->GetPose(i);
        if (!pose) continue;
        KQovWriteBlockBegin(mFile, "Pose", pose->GetName());
        WritePoseContent(pose);
        KQovWriteBlockEnd(mFile);
    }
    if (const KQovSceneInfo* info = scene->GetSceneInfo()) KQovWriteSceneInfo(mFile, *info);
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WritePoseContent(KQovPose* pose) {
    mFile->FieldWriteC("Type", pose->IsBindPose() ? "BindPose" : "RestPose");
    KQovWriteIntField(mFile, "NbPoseNodes", pose->GetCount());
    for (int n = 0; n < pose->GetCount(); ++n) {
        KQovWriteBlockBegin(mFile, "PoseNode");
        mFile->FieldWriteC("Node", WrittenPoseName(pose->GetNodeName(n)));
        const KMatrix& m = pose->GetMatrix(n);
        mFile->FieldWriteBegin("Matrix");
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) mFile->FieldWriteD(m[r][c]);
        mFile->FieldWriteEnd();
        if (!pose->IsBindPose()) KQovWriteIntField(mFile, "Local", pose->IsLocalMatrix(n) ? 1 : 0);
        KQovWriteBlockEnd(mFile);
    }
}

bool KQovWriterQov5::HasTemplateNode(KQovNode* node) const {
    for (KQovNode* n : KQovListNodes(node)) {
        const char* name = n->GetName();
        const char* colon = std::strrchr(name, ':');
        if (std::strcmp(colon ? colon + 1 : name, "~qovexport~") == 0) return true;
    }
    return false;
}

void KQovWriterQov5::WriteSummary(KQovScene* scene) {
    KQovFieldFile* f = mFile;
    KStreamOptionsQov& o = *mOptions;
    o.templateFlag = HasTemplateNode(scene->GetRootNode()) ? 1 : 0;
    KQovWriteBlockBegin(f, "Summary");
    KQovWriteIntField(f, "Version", 101);
    KQovWriteIntField(f, "Template", o.templateFlag);
    KQovWriteIntField(f, "PasswordProtection",
                      o.passwordFlag != 0 && !o.password.IsEmpty() ? 1 : 0);
    KQovWriteBlockBegin(f, "ContentCount");
    f->FieldWriteC("Version", "100");
    const int characters = scene->GetCharacterCount();
    const int counts[] = {
        mModelCount >= 0 ? mModelCount : scene->GetRootNode()->GetChildCount(true), 0, characters,
        0, characters, mMediaCount};
    static const char* const kCounts[] = {"Model", "Device",     "Character",
                                          "Actor", "Constraint", "Media"};
    for (int i = 0; i < 6; ++i) KQovWriteIntField(f, kCounts[i], counts[i]);
    KQovWriteBlockEnd(f);
    if (const KQovSceneInfo* info = scene->GetSceneInfo()) KQovWriteSceneInfo(mFile, *info);
    KQovWriteBlockBegin(f, "Takes");
    KQovWriteIntField(f, "Version", 101);
    f->FieldWriteC("Current", WrittenCurrentTake(scene));
    for (size_t i = 0; i < mTakes.size(); ++i) {
        // A take without a record gets one only when the takes were written.
        if (!mTakeExisted[i] && !mTakesWritten) continue;
        const KQovTakeInfo& take = mTakes[i];
        KQovWriteBlockBegin(f, "Take", take.name.Buffer());
        if (!take.comment.IsEmpty()) f->FieldWriteC("Comments", take.comment.Buffer());
        Span(f, "LocalTime", take.localTimeSpan);
        Span(f, "ReferenceTime", take.referenceTimeSpan);
        KQovWriteThumbnail(mFile, take.thumbnail);
        KQovWriteBlockEnd(f);
    }
    KQovWriteBlockEnd(f);
    KQovWriteBlockEnd(f);
}
