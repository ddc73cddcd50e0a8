// The takes of the QOV reader: each selected take's channel trees for models, generic nodes,
// textures and materials (from the main file or a take file), with time warps baked in,
// layers merged and rotations filtered; then the take's alignment in time. Also the tail of
// the main read: connections, takes and the finishing passes.

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterConstantKeyReducer.h"
#include "animation/KFCurveFilterTimeShiftAndScale.h"
#include "animation/KFCurveKeysAhead.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveNodeMerge.h"
#include "animation/KFCurveSettings.h"
#include "animation/KFCurveTimeWarpTable.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovGeometry.h"
#include "fieldfile/KQovFieldReader.h"
#include "foundation/KFileStream.h"
#include "foundation/KQuotedText.h"
#include "io/KQovIOHooks.h"
#include "io/qov/KQovReaderQov.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformStdio.h"
#include "scene/KDataType.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeNames.h"
#include "scene/KQovTakeNodeContainer.h"

namespace {

const char* const kSwitcherName = "Camera Switcher";

// The first curve of a time-warp tree.
KFCurve* WarpCurve(const KFCurveNode* warp) {
    if (!warp) return nullptr;
    if (warp->GetCurve()) return warp->GetCurve();
    for (int i = 0; i < warp->GetCount(); ++i)
        if (KFCurve* curve = WarpCurve(warp->Get(i))) return curve;
    return nullptr;
}

// Replaces the channel's keys by samples of it read through the warp: at each frame t of the
// warp's span the key takes the channel's value at the time the warp gives for t.
void ResampleThroughWarp(KFCurveNode* channel, KFCurveNode* warp, int64_t maxSamples) {
    KFCurve* curve = channel->GetCurve();
    KFCurve* warpCurve = WarpCurve(warp);
    if (curve && warpCurve && curve->KeyGetCount() > 1 && warpCurve->KeyGetCount() > 1) {
        const KTime first = warpCurve->KeyGetTime(0);
        const KTime last = warpCurve->KeyGetTime(warpCurve->KeyGetCount() - 1);
        const int64_t period = GetDefaultSamplingPeriod().Get();
        // Keys may lie anywhere in the time range: the span is taken without overflow.
        const uint64_t span = uint64_t(last.Get()) - uint64_t(first.Get());
        const uint64_t samples = span / uint64_t(period) + 1;
        if (samples <= uint64_t(maxSamples)) {
            KFCurve resampled;
            resampled.CopyFrom(*curve, false);
            for (int64_t i = 0; i < int64_t(samples); ++i) {
                const KTime t(first.Get() + i * period);
                KTime source;
                source.SetSecondDouble(warpCurve->Evaluate(t));
                const float value = float(curve->Evaluate(source));
                const int index = resampled.KeyAppendFast(t, value);
                resampled.KeySet(index, t, value, KFCURVE_INTERPOLATION_CUBIC,
                                 KFCURVE_TANGENT_AUTO);
            }
            curve->CopyFrom(resampled, true);
        }
    }
    channel->SetTimeWarp(nullptr);
}

void ApplyFilters(KFCurveNode* channel) {
    ApplyRotationFilter(channel, KTIME_MINUS_INFINITE, KTIME_INFINITE);
    if (GetApplyConstantKeyReducer()) {
        KFCurveFilterConstantKeyReducer reducer;
        reducer.Apply(*channel, true);
    }
}

// The options' first selected take of each name: looked up for every take of the file.
std::unordered_map<std::string, KQovTakeInfo*> SelectedTakes(KStreamOptionsQov& options) {
    std::unordered_map<std::string, KQovTakeInfo*> selected;
    for (int i = 0; i < options.GetTakeCount(); ++i)
        if (KQovTakeInfo* take = options.GetTake(i); take->select)
            selected.emplace(take->name.Buffer(), take);
    return selected;
}

// The object's take node of that name; null when it has none.
KQovTakeNode* FindTakeNode(KQovTakeNodeContainer* object, const char* name) {
    const int index = object->FindTakeNodeIndex(name);
    return index >= 0 ? object->GetTakeNode(index) : nullptr;
}

// Every animated object the alignment moves: the switcher, the nodes, materials, textures.
std::vector<KQovTakeNodeContainer*> AlignedObjects(KQovScene* scene) {
    std::vector<KQovTakeNodeContainer*> objects;
    if (KQovNode* switcher = scene->GetCameraSwitcherNode()) objects.push_back(switcher);
    KQovEntityContainer* entity = scene->GetEntityContainer();
    if (!entity) return objects;
    for (int i = 0; i < entity->GetNodeCount(); ++i)
        if (entity->GetNode(i) != scene->GetCameraSwitcherNode())
            objects.push_back(entity->GetNode(i));
    for (bool texture : {false, true}) {
        const int count = texture ? entity->GetTextureCount() : entity->GetMaterialCount();
        for (int i = 0; i < count; ++i) {
            KQovObject* object = texture ? entity->GetTexture(i) : entity->GetMaterial(i);
            if (auto* container = dynamic_cast<KQovTakeNodeContainer*>(object))
                objects.push_back(container);
        }
    }
    return objects;
}

}  // namespace

void KQovReaderQov::ReadTimeWarps(KQovFieldFile& file, KFCurveTimeWarpTable& warps) {
    if (!file.FieldReadBegin("TimeWarps")) return;
    if (file.FieldReadBlockBegin()) {
        file.FieldReadI("Version", 0);
        while (file.FieldReadBegin("TW")) {
            const int id = file.FieldReadI();
            if (file.FieldReadBlockBegin()) {
                KFCurveNode* warp = KFCurveNode::Retrieve(file, nullptr, false, true, true);
                // The table's share keeps the node while a channel or the table holds it.
                if (warp) warps.Add(id, warp);
                file.FieldReadBlockEnd();
            }
            file.FieldReadEnd();
        }
        file.FieldReadBlockEnd();
    }
    file.FieldReadEnd();
}

void KQovReaderQov::ProcessChannelTree(KFCurveNode* channel, KFCurveNode* inheritedWarp) {
    if (!channel) return;
    KFCurveNode* warp = channel->GetTimeWarp() ? channel->GetTimeWarp() : inheritedWarp;
    if (!channel->GetNextLayer()) {
        bool done = false;
        if (inheritedWarp) {
            ResampleThroughWarp(channel, warp, kMaxWarpSamples);
            done = true;
        }
        // A warp this channel passes down is baked into its children: left on the channel
        // too it would act twice on every evaluation. The channel then counts as resampled,
        // so that a rotation is filtered as a whole, not axis by axis.
        KFCurveNode::AddShare(warp);
        for (int i = 0; i < channel->GetCount(); ++i) ProcessChannelTree(channel->Get(i), warp);
        if (warp && channel->GetCount() > 0) {
            channel->SetTimeWarp(nullptr);
            done = true;
        }
        KFCurveNode::ReleaseShare(warp);
        if (!done) return;
    } else {
        KFCurveNode* span = warp ? warp : channel;
        KTime start = KTIME_INFINITE, stop = KTIME_MINUS_INFINITE;
        span->GetAnimationInterval(start, stop);
        // The merge samples through the channel's own warp; an inherited one is lent to it.
        // Once baked in, the warp leaves the channel, or it would act twice.
        if (warp && !channel->GetTimeWarp()) channel->SetTimeWarp(warp);
        BakeLayersIntoBase(channel, start, stop);
        channel->SetTimeWarp(nullptr);
    }
    ApplyFilters(channel);
}

void KQovReaderQov::KeepRenamedShapes(KQovNode* node) {
    KQovGeometry* geometry = node->GetGeometry();
    if (!geometry) return;
    mStatus += geometry->TakeShapeWarnings();
    bool renamed = false;
    for (const ReadShape& read : mModelShapes)
        renamed = renamed || read.index >= geometry->GetShapeCount() ||
                  read.fileName != geometry->GetShapeName(read.index);
    if (renamed) mRenamedShapes[node] = RenamedShapes{geometry, mModelShapes};
}

// The take's channels of each file shape name, in file order: a file may name shapes alike (or
// alike but for letter case), and its channels of that name are theirs in turn.
struct KQovReaderQov::ShapeRoutes {
    std::unordered_map<std::string, std::pair<std::vector<KFCurveNode*>, size_t>> byName;

    KFCurveNode* operator()(const std::string& name) {
        const auto at = byName.find(name);
        if (at == byName.end() || at->second.second >= at->second.first.size()) return nullptr;
        return at->second.first[at->second.second++];
    }
};

// Null when the node's shapes all kept the file's names.
std::unique_ptr<KQovReaderQov::ShapeRoutes> KQovReaderQov::RoutesOfShapes(KQovNode* node,
                                                                         KQovTakeNode* takeNode) {
    const auto found = node && takeNode ? mRenamedShapes.find(node) : mRenamedShapes.end();
    KQovGeometry* geometry = node ? node->GetGeometry() : nullptr;
    if (found == mRenamedShapes.end() || geometry != found->second.geometry) return nullptr;
    KFCurveNode* root = takeNode->GetRoot();
    KQovNodeProperties* set = node->GetNodeProperties();
    const KDataType* shapeType = KDataType::FindByName("Shape");
    auto routes = std::make_unique<ShapeRoutes>();
    for (const ReadShape& read : found->second.shapes) {
        if (!root || read.index >= geometry->GetShapeCount() ||
            geometry->GetShape(read.index) != read.shape)
            continue;
        // A name the node's own channels use stays theirs, as it always was.
        const KProperty* property = set ? set->FindProperty(read.fileName.c_str()) : nullptr;
        if (property && property->GetDataType() != shapeType) continue;
        if (KFCurveNode* channel = root->FindChildByName(geometry->GetShapeName(read.index)))
            routes->byName[read.fileName].first.push_back(channel);
    }
    return routes;
}

std::function<KFCurveNode*(const std::string&)> KQovReaderQov::RouteOfShapes(
    KQovNode* node, KQovTakeNode* takeNode) {
    std::shared_ptr<ShapeRoutes> routes = RoutesOfShapes(node, takeNode);
    if (!routes) return {};
    return [routes](const std::string& name) { return (*routes)(name); };
}

std::unordered_map<std::string, std::vector<std::string>> KQovReaderQov::ShapeNameTurns(
    KQovNode* node) {
    std::unordered_map<std::string, std::vector<std::string>> turns;
    const auto found = mRenamedShapes.find(node);
    KQovGeometry* geometry = node->GetGeometry();
    if (found == mRenamedShapes.end() || geometry != found->second.geometry) return turns;
    for (const ReadShape& read : found->second.shapes)
        if (read.index < geometry->GetShapeCount() && geometry->GetShape(read.index) == read.shape)
            turns[read.fileName].push_back(geometry->GetShapeName(read.index));
    return turns;
}

bool KQovReaderQov::ReadTakeContent(KQovFieldFile& file, KQovScene* scene, KQovTakeInfo& take) {
    KFCurveTimeWarpTable warps;
    ReadTimeWarps(file, warps);
    KFCurveTimeWarpTable* outer = GetTimeWarpTable();
    SetTimeWarpTable(&warps);

    const std::string progress = "Retrieving take " + KQovMessageText(take.name.Buffer());
    const int total = file.FieldReadGetOccurrenceCount("Model") +
                      file.FieldReadGetOccurrenceCount("Texture") +
                      file.FieldReadGetOccurrenceCount("Material");
    int handled = 0;
    auto report = [&]() {
        if (KFCurveKeysAhead* ahead = KFCurveKeysAhead::Of(*mFile.get())) ahead->JoinIfDone();
        Report(handled == 0 ? progress.c_str() : nullptr,
               total > 0 ? float(handled) * 100.0f / float(total) : 0.0f);
        ++handled;
    };
    if (KQovThumbnail* thumbnail = ReadThumbnail()) take.thumbnail = thumbnail;

    const bool channelTrees = mOptions->GetSwitch(KStreamOptionsQov::eTakeChannelTrees);
    const bool old = mFile->IsVersion5Layout();
    // Adds the take to the object, reads its channels into it, and goes back to the first take.
    auto readInto = [&](KQovTakeNodeContainer* object, KQovNode* node, bool process) {
        if (!object) return;
        if (!object->AddTakeNode(take.name.Buffer()) && !FindTakeNode(object, take.name.Buffer()))
            return;
        object->SetCurrentTakeNode(take.name.Buffer());
        KQovTakeNode* takeNode = object->GetCurrentTakeNode();
        if (file.FieldReadBlockBegin()) {
            KFCurveNode* root = takeNode ? takeNode->GetRoot() : nullptr;
            const auto route = RouteOfShapes(node, takeNode);
            while (root && KFCurveNode::Retrieve(file, root, false, false, true, route)) {
            }
            if (node && old)
                if (KQovGeometry* geometry = node->GetGeometry())
                    geometry->ConvertShapeChannels(takeNode);
            if (process && channelTrees && root) ProcessChannelTree(root, nullptr);
            file.FieldReadBlockEnd();
        }
        object->SetCurrentTakeNode(0);
    };

    KQovNode* sceneRoot = scene->GetRootNode();
    // Filled at the first model: reading takes changes no parent.
    FirstByName<KQovNode> nodes;
    bool nodesAdded = false;
    while (file.FieldReadBegin("Model")) {
        report();
        const KString name = file.FieldReadC();
        KQovNode* node = nullptr;
        if (name == kSwitcherName || name == KString("Model::") + kSwitcherName) {
            node = scene->GetCameraSwitcherNode();
        } else if (sceneRoot) {
            if (!nodesAdded) AddNodesUnder(sceneRoot, nodes);
            nodesAdded = true;
            node = nodes.Find("Model::" + std::string(KQovStripPrefix(name.Buffer()).Buffer()));
        }
        readInto(node, node, true);
        file.FieldReadEnd();
    }
    KQovEntityContainer* entity = scene->GetEntityContainer();
    FirstByName<KQovGenericNode> genericNodes;
    for (int i = 0; entity && i < entity->GetGenericNodeCount(); ++i)
        genericNodes.Add(entity->GetGenericNode(i));
    while (file.FieldReadBegin("GenericNode")) {
        const KString name = KMakePrefixedName("GenericNode::", file.FieldReadC());
        readInto(genericNodes.Find(name.Buffer()), nullptr, false);
        file.FieldReadEnd();
    }
    for (bool texture : {true, false}) {
        const char* field = texture ? "Texture" : "Material";
        FirstByName<KQovTakeNodeContainer, KQovObject> objects;
        const int count = !entity   ? 0
                          : texture ? entity->GetTextureCount()
                                    : entity->GetMaterialCount();
        for (int i = 0; i < count; ++i)
            objects.Add(texture ? static_cast<KQovObject*>(entity->GetTexture(i))
                                : static_cast<KQovObject*>(entity->GetMaterial(i)));
        while (file.FieldReadBegin(field)) {
            report();
            const KString name =
                KMakePrefixedName(texture ? "Texture::" : "Material::", file.FieldReadC());
            readInto(objects.Find(name.Buffer()), nullptr, true);
            file.FieldReadEnd();
        }
    }
    SetTimeWarpTable(outer);
    warps.Clear();
    return true;
}

bool KQovReaderQov::AlignTakeTime(KQovScene* scene, KQovTakeInfo& take) {
    scene->SetCurrentTake(take.name.Buffer());
    KTime offset = take.offset;
    const std::vector<KQovTakeNodeContainer*> objects = AlignedObjects(scene);
    if (!take.offsetGiven) {
        KTime start = KTIME_INFINITE, stop = KTIME_MINUS_INFINITE;
        bool any = false;
        for (KQovTakeNodeContainer* object : objects)
            if (KQovTakeNode* takeNode = FindTakeNode(object, take.name.Buffer()))
                any = takeNode->GetAnimationInterval(start, stop) || any;
        // Without any key there is no start to align to: the take stays where it is.
        offset = any ? take.offset - start : KTime(0);
    }
    if (offset.Get() != 0) {
        KFCurveFilterTimeShiftAndScale shift;
        shift.SetShift(offset);
        shift.SetStart(KTIME_MINUS_INFINITE);
        shift.SetStop(KTIME_INFINITE);
        // Only the take's own animation moves: an object without the take keeps "Default".
        for (KQovTakeNodeContainer* object : objects) {
            KQovTakeNode* takeNode = FindTakeNode(object, take.name.Buffer());
            if (takeNode && takeNode->GetRoot()) shift.Apply(*takeNode->GetRoot(), true);
        }
        take.localTimeSpan.Set(take.localTimeSpan.GetStart() + offset,
                               take.localTimeSpan.GetStop() + offset);
    }
    scene->SetCurrentTake("Default");
    return true;
}

bool KQovReaderQov::ReadTake(KQovScene* scene, KQovTakeInfo& take) {
    KQovPropertyFieldFile* file = mFile.get();
    bool ok = true;
    if (file->FieldReadBegin("FileName")) {
        const KString stored = file->FieldReadC();
        const KString path = file->GetAbsoluteMediaPath(stored.Buffer());
        file->FieldReadEnd();
        std::unique_ptr<KQovPropertyFieldFile> takeFile(KQovPropertyFieldFile::Create());
        if (takeFile->FieldFileOpenFile(path.Buffer(), false, true, nullptr)) {
            // A file the read used: a write is not to replace it.
            NoteFileRead(takeFile->GetOpenedName());
            takeFile->SetVersion5Layout(file->IsVersion5Layout());
            // The section readers read the take file while it is read.
            KQovPropertyFieldFile* lent = mLent;
            mLent = takeFile.get();
            ok = ReadTakeContent(*takeFile, scene, take);
            mLent = lent;
            if (ok && !takeFile->CheckFileUnchanged()) {
                // A read the system failed is its error; a file cut or changed is corrupted.
                const std::string cause = takeFile->GetLastErrorString();
                if (!TakeFileRefused(*takeFile, path.Buffer()))
                    mError.SetErrorWithText(eFileCorrupted,
                                            ("File is corrupted: " + cause).c_str());
                ok = false;
            }
            takeFile->FieldFileClose();
        } else if (!stored.IsEmpty() && TakeFileRefused(*takeFile, path.Buffer())) {
            return false;
        } else if (file->GetFileVersion() >= 2000) {
            ok = ReadTakeContent(*file, scene, take);
        } else {
            const int code = takeFile->GetLastErrorID();
            mError.SetErrorWithText(code == 0 || code == eFileNotOpened ? code : eUnidentifiedError,
                                    takeFile->GetLastErrorString());
            return false;
        }
    } else {
        ok = ReadTakeContent(*file, scene, take);
    }
    return ok && AlignTakeTime(scene, take);
}

bool KQovReaderQov::TakeFileRefused(const KQovFieldFile& takeFile, const char* path) {
    // A read the system failed: its cause, never a corrupted file.
    if (const int error = takeFile.GetSystemReadError()) {
        mError.SetErrorWithText(eFileNotOpened, KReadFileError(path, error).c_str());
        return true;
    }
    if (takeFile.GetLastErrorID() != KQovFieldFile::eFileNotOpened) return false;
    // A pipe or a device at the name is there, but is no file to read a take from.
    if (KIsSpecialFile(path)) {
        mError.SetErrorWithText(eFileNotOpened, KOpenForReadError(path).c_str());
        return true;
    }
    // 0: it opens now, the failure was not the system's.
    const int error = KPlatformReadOpenError(path);
    if (error == 0 || KPlatformNoFileThere(error)) return false;
    mError.SetErrorWithText(eFileNotOpened, KOpenForReadError(path).c_str());
    return true;
}

// True when the take of `block` names a file of its own that is there: the take is read from
// it (ReadTake).
bool KQovReaderQov::TakeFileExists(KQovFieldReader& tree, int32_t block) {
    const int32_t name = tree.FindName(block, "FileName");
    if (name < 0) return false;
    KQovFieldReader::Record record = tree.GetRecord(tree.GetBlock(block).names[size_t(name)].first);
    KQovFieldReader::Value value;
    if (!tree.NextValue(record, value)) return false;
    const KString path = mFile->GetAbsoluteMediaPath(tree.ToText(value));
    return KPlatformPathExists(path.Buffer()) && !KPlatformIsDirectory(path.Buffer());
}

void KQovReaderQov::StartKeysAhead() {
    KQovPropertyFieldFile* file = mFile.get();
    KQovFieldReader* tree = file ? file->GetTree() : nullptr;
    if (!tree || tree->GetRoot() < 0 || !file->HasTypedValues() || !mOptions ||
        !mOptions->GetSwitch(KStreamOptionsQov::eAnimation))
        return;
    const int32_t root = tree->GetRoot();
    const int32_t takesName = tree->FindName(root, "Takes");
    if (takesName < 0) return;
    const int32_t takes = tree->GetRecord(tree->GetBlock(root).names[size_t(takesName)].first).child;
    const int32_t takeName = takes >= 0 ? tree->FindName(takes, "Take") : -1;
    if (takeName < 0) return;
    auto ahead = std::make_unique<KFCurveKeysAhead>();
    const auto selected = SelectedTakes(*mOptions);
    KQovTakeNames unique;
    const uint32_t count = tree->GetBlock(takes).names[size_t(takeName)].count;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t index = tree->GetOccurrence(takes, takeName, i);
        if (index == KQovFieldReader::kNoRecord) break;
        KQovFieldReader::Record record = tree->GetRecord(index);
        KQovFieldReader::Value value;
        if (tree->NextValue(record, value)) unique.SetAside(tree->ToText(value));
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t index = tree->GetOccurrence(takes, takeName, i);
        if (index == KQovFieldReader::kNoRecord) break;
        KQovFieldReader::Record record = tree->GetRecord(index);
        KQovFieldReader::Value value;
        if (record.child < 0 || !tree->NextValue(record, value)) continue;
        KQovTakeNames::Clash clash;
        const std::string name = unique.Add(tree->ToText(value), clash);
        if (selected.count(name) && !TakeFileExists(*tree, record.child))
            ahead->Add(*file, record.child);
    }
    if (ahead->GetListCount() == 0) return;
    ahead->Start();
    file->SetReadAhead(std::move(ahead));
}

bool KQovReaderQov::ReadTakes(KQovScene* scene) {
    bool ok = true;
    if (!OpenBlock("Takes")) return ok;
    const auto selected = SelectedTakes(*mOptions);
    // Named as the take list names them (ReadTakeList): every take under a name of its own.
    KQovTakeNames unique;
    const int takes = SetTakeNamesAside(*mFile.get(), unique);
    for (bool more = takes > 0 && mFile->FieldReadBegin("Take", 0); more;
         more = mFile->FieldReadBegin("Take")) {
        const KString name = mFile->FieldReadC();
        KQovTakeNames::Clash clash;
        const std::string made = unique.Add(name.Buffer(), clash);
        const auto found = selected.find(made);
        KQovTakeInfo* record = found == selected.end() ? nullptr : found->second;
        if (record && mFile->FieldReadBlockBegin()) {
            if (ReadTake(scene, *record)) {
                scene->SetTakeInfo(*record);
                if (clash != KQovTakeNames::eNone)
                    mStatus += KQovTakeNames::Warning("read", name.Buffer(), made, clash).c_str();
            } else {
                ok = false;
            }
            mFile->FieldReadBlockEnd();
            KQovIOHooks::GetInstance().StepDone();
        }
        mFile->FieldReadEnd();
    }
    CloseBlock();
    if (scene->TakeExists(mOptions->currentTakeName.Buffer()))
        scene->SetCurrentTake(mOptions->currentTakeName.Buffer());
    return ok;
}

void KQovReaderQov::ReadConnectionsAndTakes(KQovScene* scene, bool& ok) {
    const bool old = mFile->IsVersion5Layout();
    if (!old) {
        ReadConnections();
        WarnModelsLeftOut(scene);
        SetCharacterInputsFromConnections(scene);
    }
    if (mOptions->GetSwitch(KStreamOptionsQov::eAnimation) && mOptions->GetTakeCount() > 0)
        ok = ReadTakes(scene);
    if (!ok) return;
    if (!old) {
        scene->FillLayerMaterials();
        scene->FillLayerTextures();
        // Duplicate textures and materials are merged after this (FinishShading), once the
        // layer elements hold what the connections gave them.
        scene->CreateLinksFromDeformers();
        // The deformers go: their names must no longer lead to them.
        KQovEntityContainer* entity = scene->GetEntityContainer();
        for (int i = 0; entity && i < entity->GetDeformerCount(); ++i) {
            KQovDeformer* deformer = entity->GetDeformer(i);
            if (mFile->FindObject(deformer->GetName()) == deformer->GetPropertyHandler())
                mFile->UnregisterObject(deformer->GetName());
        }
        scene->DestroyDeformers();
    }
}
