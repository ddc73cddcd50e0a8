#include "formats/geometry/3ds/KQovWriter3ds.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "attributes/KQovCamera.h"
#include "attributes/KQovLayer.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovShadingScene.h"
#include "attributes/KQovTexture.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "formats/geometry/3ds/Keyframe3ds.h"
#include "formats/geometry/3ds/LightCamera3ds.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/MaterialConvert3ds.h"
#include "formats/geometry/3ds/MeshExport3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"
#include "formats/geometry/3ds/Settings3ds.h"
#include "formats/geometry/3ds/TextureCopy3ds.h"
#include "formats/geometry/KQovGeometryContent.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsBase.h"
#include "platform/KPlatformSignals.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

constexpr double kInchesPerCm = 0.3937007874015748;

template <class Record>
struct Released {
    Record* record = nullptr;
    void (*release)(Record**);
    ~Released() { release(&record); }
};

// UVs that are all (0, 0) map nothing: they are what a file without texture vertices reads as.
bool CarriesMapping(const KArrayOf<KVector2>* uvs) {
    if (!uvs) return false;
    const KVector2* uv = uvs->GetArray();
    for (int i = 0; i < uvs->GetCount(); ++i)
        if (uv[i].mData[0] != 0.0 || uv[i].mData[1] != 0.0) return true;
    return false;
}

// A texture is written only with UV mapping, as the colour map, and with a file.
KQovTexture* Written(KQovTexture* texture) {
    return texture && texture->GetMappingType() == KQovTexture::eMappingUV &&
                   texture->GetTextureUse() == 0 && texture->GetFileName()[0]
               ? texture
               : nullptr;
}

}  // namespace

KQovWriter3ds::KQovWriter3ds(KQovObjectManager* manager) : KQovWriter(manager) {
    // Textured meshes without materials are written with this grey; the scene gains nothing.
    mDefaultMaterial = std::make_unique<KQovMaterial>(nullptr, "Material::Default");
    mDefaultMaterial->SetDefaultAmbient(KColor(0.588, 0.588, 0.588));
    mDefaultMaterial->SetDefaultDiffuse(KColor(0.588, 0.588, 0.588));
    mDefaultMaterial->SetDefaultSpecular(KColor(0, 0, 0));
}

KQovWriter3ds::~KQovWriter3ds() {
    // Only a whole Write puts its file in place.
    MarkAllWritesFailed3ds(mCtx);
    Release();
    RestoreNames();
}

bool KQovWriter3ds::DoFileCreate(const char* fileName) {
    if (!fileName) return false;
    mFileName = fileName;
    // What failed in a file dropped before is no part of this one (and would refuse it).
    ClearErrors3ds(mCtx);
    mFile = OpenFile3ds(mCtx, fileName, "wb");
    if (!mFile) {
        if (HasError3ds(mCtx, ERR_NO_MEM))
            SetOutOfMemory();
        else
            mError.SetErrorWithText(eFileNotCreated, KCreateFileError(fileName).c_str());
        Release();
        return false;
    }
    return true;
}

void KQovWriter3ds::DoFileDiscard() {
    // Also a file whose creation ran out of memory before it was handed back.
    MarkAllWritesFailed3ds(mCtx);
    Release();
    mTextureNames.Drop();
}

KStreamOptions* KQovWriter3ds::GetWriteOptions() {
    return KStreamOptions3ds::Create();
}

void KQovWriter3ds::Release() {
    ReleaseDatabase3ds(mCtx, &mDatabase);
    CloseAllFiles3ds(mCtx);
    mFile = nullptr;
}

void KQovWriter3ds::RenameForWrite() {
    // Nodes first, then materials, as names are handed out in that order; a name handed out
    // in an earlier write is free again.
    mNames.Clear();
    mLooseMaterialNotes.clear();
    // Told for the nodes the file holds only: the manager's own cameras, other scenes' nodes
    // and the scene's unwritten ones are named too, but not written; likewise for the
    // materials of the meshes it holds.
    const std::unordered_set<const KQovNode*> written = HeldNodes(*mScene->GetRootNode());
    std::unordered_set<const KQovMaterial*> materials;
    for (const KQovNode* node : written) {
        const auto* geometry =
            mFlags.materials ? dynamic_cast<const KQovLayerContainer*>(node->GetNodeAttribute())
                             : nullptr;
        for (int i = 0; geometry && i < geometry->GetMaterialCount(0); ++i)
            materials.insert(geometry->GetMaterial(i, 0));
        if (!geometry) continue;
        // Those tied to the model alone are told of under the names their owner knows; the
        // first covers a mesh whose layers name none, and is written.
        std::string notes;
        if (KQovMaterial* first =
                KQovMaterialCoveringModel(node, geometry->GetMaterialCount(0) > 0, notes))
            materials.insert(first);
        if (!notes.empty()) mLooseMaterialNotes[node] = std::move(notes);
    }
    auto rename = [this](KQovObject* object, int limit, bool tell, const char* what) {
        mSavedNames.emplace_back(object, object->GetNamePair());
        KQovNamePair names = object->GetNamePair();
        mNames.RenameToLength(names, limit, tell, what);
        object->SetNamePair(std::move(names));
    };
    for (int i = 0; i < mManager->GetNodeCount(); ++i)
        mNames.SetAside(mManager->GetNode(i)->GetNamePair(), kObjectNameBytes3ds);
    for (int i = 0; i < mManager->GetMaterialCount(); ++i)
        mNames.SetAside(mManager->GetMaterial(i)->GetNamePair(), kMaterialNameBytes3ds);
    for (int i = 0; i < mManager->GetNodeCount(); ++i)
        rename(mManager->GetNode(i), kObjectNameBytes3ds,
               mManager->GetNode(i)->GetParent() != nullptr && written.count(mManager->GetNode(i)),
               "Node");
    for (int i = 0; i < mManager->GetMaterialCount(); ++i)
        rename(mManager->GetMaterial(i), kMaterialNameBytes3ds,
               materials.count(mManager->GetMaterial(i)) != 0, "Material");
    mStatus += mNames.GetWarnings().c_str();
}

void KQovWriter3ds::RestoreNames() {
    // Moved back: after the file is in place, nothing here may need memory (an index of
    // names that cannot follow lets go of itself).
    for (auto& saved : mSavedNames) saved.first->SetNamePair(std::move(saved.second));
    mSavedNames.clear();
}

bool KQovWriter3ds::PrepareWrite(KStreamOptions* options) {
    // Each file is written as a new writer writes it: nothing counted or written for an
    // earlier one (a material already written would be left out of this one).
    mFlags = Flags();
    mTakeName.clear();
    mMeshCounter = 0;
    mMaterialSerial = 0;
    mMaterialsWritten.clear();
    if (options && options->IsA(KStreamOptions3ds::ClassId())) {
        auto* o = static_cast<KStreamOptionsBase*>(options);
        auto on = [o](int index) { return o->GetOptionValue(index) == 1; };
        mFlags = {on(1), on(7), on(8), on(9), on(10), on(11), on(12), on(13), on(14), on(17)};
        mTakeName = o->GetTakeName();
    } else {
        mError.SetError(eStreamOptionsNotSet);
    }
    mMasterScale = mFlags.rescale ? kInchesPerCm : 1.0;
    InitDatabase3ds(mCtx, &mDatabase);
    if (Failed()) return false;
    CreateNewDatabase3ds(mCtx, mDatabase, kMeshFile3ds);
    if (Failed()) return false;
    FindTargetsOnly(*mScene->GetRootNode());
    RenameForWrite();
    // Names written as they are come first: no image made short may take one.
    mTextureNames.Reset(mFileName, {mFileName});
    for (int i = 0; i < mManager->GetNodeCount(); ++i) {
        const KQovNode* node = mManager->GetNode(i);
        const auto* mesh = node ? dynamic_cast<const KQovMesh*>(node->GetNodeAttribute()) : nullptr;
        for (int t = 0; mesh && t < mesh->GetTextureCount(0); ++t)
            if (const KQovTexture* texture = mesh->GetTexture(t, 0))
                mTextureNames.Reserve(texture->GetFileName());
    }
    mKeys.animated = mFlags.anim;
    mKeys.createReferenceNode = mFlags.referenceNode;
    KTime start, stop;
    mScene->GetRootNode()->GetAnimationInterval(start, stop);
    if (start == stop || stop < start) {
        mKeys.animated = false;
        stop.SetTime(0, 0, 0, 100, 0);
    }
    mKeys.sceneStop = stop;
    FindDummies(*mScene->GetRootNode());
    // A few bytes of a read file can claim a billion frames.
    if (mKeys.animated && KeysToWrite(*mScene->GetRootNode()) > kMaxKeys) {
        mError.SetErrorWithText(eUnidentifiedError, "Too many animation keys to write");
        return false;
    }
    return true;
}

void KQovWriter3ds::FillRange(KfSets3ds& sets) const {
    // The take the options name sets the length and the segment (its local span, which may
    // start past frame 0); without one the length is where the animation ends.
    const KQovTakeInfo* take = mTakeName.empty() ? nullptr : mScene->FindTakeInfo(mTakeName.c_str());
    const KTimeSpan* span = take ? &take->localTimeSpan : nullptr;
    if (!span || span->GetStop() <= span->GetStart() || span->GetStop() <= KTIME_ZERO) {
        sets.anim = uint32_t(std::clamp<int64_t>(mKeys.sceneStop.GetFrame(true), 0, UINT32_MAX));
        return;
    }
    // Whole frames at the rate of the keys, covering the span.
    const int64_t frame = KTime::GetFrameLength(KTime::eFRAMES30);
    auto framesUp = [frame](KTime t) {
        const int64_t f = t.Get() / frame + (t.Get() % frame > 0);
        return std::clamp<int64_t>(f, 0, UINT32_MAX);
    };
    const int64_t start = std::clamp<int64_t>(span->GetStart().Get() / frame, 0, UINT32_MAX);
    const int64_t stop = framesUp(span->GetStop());
    const KTimeSpan& reference = take->referenceTimeSpan;
    const int64_t length = reference.GetStop() > reference.GetStart()
                               ? std::max(stop, framesUp(reference.GetStop()))
                               : stop;
    sets.anim = uint32_t(length);
    sets.segmentUsed = true;
    sets.segmentStart = uint32_t(start);
    sets.segmentEnd = uint32_t(stop);
}

int64_t KQovWriter3ds::KeysToWrite(KQovNode& root) {
    int64_t keys = 0;
    for (KQovNode* node : KQovListNodes(&root)) {
        // The root is written only as a reference node.
        if (node->GetParent() || mFlags.referenceNode) keys += KeyCount3ds(*node, mKeys);
        // A spotlight's target track is keyed over its target's frames.
        if (KQovNode* target = node->GetLookAtTarget()) keys += KeyCount3ds(*target, mKeys);
        if (keys > kMaxKeys) break;
    }
    return keys;
}

bool KQovWriter3ds::DoWrite(KQovScene* scene, KStreamOptions* options) {
    if (!scene || !scene->GetRootNode() || !mFile) {
        mError.SetError(eFileNotOpened);
        FileDiscard();
        return false;
    }
    mScene = scene;
    bool ok = RefuseMeshesMissingPoints(scene->GetRootNode()) && PrepareWrite(options) &&
              HoldsWritableNodes(*scene->GetRootNode()) && ExportNode(*scene->GetRootNode());
    if (ok) {
        Released<MeshSettings3ds> settings{nullptr, ReleaseMeshSettings3ds};
        InitMeshSettings3ds(mCtx, &settings.record);
        if (MeshSettings3ds* s = settings.record) {
            const KColor a = mFlags.ambient ? scene->GetGlobalLightSettings().GetAmbientColor()
                                            : KColor(0, 0, 0);
            s->ambient = {float(a.mRed), float(a.mGreen), float(a.mBlue)};
            s->masterScale = float(mFlags.rescale ? mMasterScale : 1.0);
            s->shadowMapSize = 500;
            s->rayBias = 3.0f;
            s->shadowFilter = 3.0f;
            s->spare = 0;
            PutMeshSettings3ds(mCtx, mDatabase, s);
        }
        Released<KfSets3ds> sets{nullptr, ReleaseKfSets3ds};
        InitKfSets3ds(mCtx, &sets.record);
        if (sets.record && !Failed()) {
            FillRange(*sets.record);
            PutKfSets3ds(mCtx, mDatabase, sets.record);
        }
        if (!Failed()) SaveDatabase3ds(mCtx, mFile, mDatabase);
        ok = !Failed();
        // The images are beside the file already, copied as they were placed.
        if (ok) {
            std::string problems;
            mTextureNames.Report(problems);
            mStatus += problems.c_str();
            std::string failure = mTextureNames.GetFailure();
            while (!failure.empty() && failure.back() == '\n') failure.pop_back();
            if (!failure.empty()) {
                mError.SetErrorWithText(eFileNotCreated, failure.c_str());
                ok = false;
            }
        }
    }
    // A refused or failed write leaves the old file as it was.
    if (!ok) MarkWriteFailed3ds(mCtx, mFile, true);
    if (!ok && mError.GetErrorCode() < 0) {
        // Memory running out and a refused disk are told as every writer tells them (the
        // exporter adds the file and, when there was room, the cause); anything else by the
        // toolkit's first message.
        const char* what = mCtx.ErrorCount() > 0 ? mCtx.ErrorAt(0).message : nullptr;
        if (mCtx.badNumber)
            mError.SetErrorWithText(eUnidentifiedError, kFileNumberError);
        else if (HasError3ds(mCtx, ERR_NO_MEM))
            SetOutOfMemory();
        else if (HasError3ds(mCtx, ERR_WRITING_FILE))
            mError.SetError(eOutOfDiskSpace);
        else if (what)
            mError.SetErrorWithText(eUnidentifiedError,
                                    (std::string("Unidentified error: ") + what).c_str());
        else
            mError.SetError(eUnidentifiedError);
    }
    // The file stays begun, its images with it, until FileClose puts them in place.
    ReleaseDatabase3ds(mCtx, &mDatabase);
    RestoreNames();
    if (!ok) FileDiscard();
    return ok;
}

bool KQovWriter3ds::DoFileClose() {
    if (!mFile) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    std::string unkept;
    {
        // The file takes its place here; its images stay with it, and a signal held
        // meanwhile ends the process with both in place.
        KPlatformSignalsHeld held;
        Release();
        if (!ClosingFailed()) mTextureNames.Keep(unkept);
    }
    if (!ClosingFailed()) {
        try {
            mStatus += unkept.c_str();
        } catch (const std::bad_alloc&) {
            // The file is in place; only the word about a copy is lost.
        }
        return true;
    }
    mTextureNames.Drop();
    mError.SetError(eOutOfDiskSpace);
    return false;
}

void KQovWriter3ds::SetOutOfMemory() {
    try {
        mError.SetErrorWithText(
            eUnidentifiedError,
            ("Out of memory while writing " + KQovMessageText(mFileName)).c_str());
    } catch (const std::bad_alloc&) {
        mError.SetErrorWithText(eUnidentifiedError, "Out of memory");
    }
}

bool KQovWriter3ds::ClosingFailed() const {
    for (int i = 0; i < mCtx.ErrorCount(); ++i)
        if (mCtx.ErrorAt(i).code == ERR_CLOSING_FILE) return true;
    return false;
}

bool KQovWriter3ds::HoldsWritableNodes(KQovNode& root) {
    if (mFlags.geometries && KQovHoldsWritableGeometry(&root)) return true;
    for (KQovNode* node : KQovListNodes(&root)) {
        const KQovNodeAttribute* attribute = node->GetNodeAttribute();
        const int type = attribute ? attribute->GetAttributeType() : -1;
        if (type == KQovNodeAttribute::eCamera && mFlags.cameras) return true;
        // Omni lights and spotlights: the file has no other kind.
        if (type == KQovNodeAttribute::eLight && mFlags.lights) {
            const int kind = static_cast<const KQovLight*>(attribute)->GetLightType();
            if (kind == 0 || kind == 2) return true;
        }
    }
    return FailNothingToWrite("a 3DS", "meshes, cameras and lights");
}

bool KQovWriter3ds::WritesOwnNode(const KQovNode& node) const {
    if (mTargetsOnly.count(&node)) return false;
    const KQovNodeAttribute* attribute = node.GetNodeAttribute();
    switch (attribute ? attribute->GetAttributeType() : -1) {
        case KQovNodeAttribute::eMesh:
        case KQovNodeAttribute::eNurb:
        case KQovNodeAttribute::ePatch:
            return mFlags.geometries;
        case KQovNodeAttribute::eLight: {
            const int kind = static_cast<const KQovLight*>(attribute)->GetLightType();
            return mFlags.lights && (kind == 0 || kind == 2);
        }
        case KQovNodeAttribute::eCamera:
            return mFlags.cameras;
        default: {
            // Any other node is a dummy, but for the extra root node and the scene's root.
            const std::string name = node.GetNameWithoutPrefix().Buffer();
            return name.compare(0, 7, kQovRootCut3ds) != 0 &&
                   (node.GetParent() || mFlags.referenceNode);
        }
    }
}

std::unordered_set<const KQovNode*> KQovWriter3ds::HeldNodes(KQovNode& root) const {
    // Children before parents: a node holds a written node when it or a child does.
    std::unordered_set<const KQovNode*> holding;
    const std::vector<KQovNode*> nodes = KQovListNodes(&root);
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        const KQovNode& node = **it;
        bool below = WritesOwnNode(node);
        for (int i = 0; i < node.GetChildCount() && !below; ++i)
            below = holding.count(node.GetChild(i)) > 0;
        if (below) holding.insert(&node);
    }
    return holding;
}

void KQovWriter3ds::FindTargetsOnly(KQovNode& root) {
    mTargetsOnly.clear();
    mKeys.targetsOnly = &mTargetsOnly;
    // A target looked at by one written camera or spotlight alone is that node's target; one
    // shared, or looked at by a node written otherwise, keeps a node of its own.
    const std::vector<KQovNode*> nodes = KQovListNodes(&root);
    const std::unordered_set<const KQovNode*> inTree(nodes.begin(), nodes.end());
    std::unordered_map<const KQovNode*, int> lookers;
    std::unordered_set<const KQovNode*> candidates;
    for (const KQovNode* node : nodes) {
        const KQovNode* target = node->GetLookAtTarget();
        if (!target) continue;
        ++lookers[target];
        const KQovNodeAttribute* a = node->GetNodeAttribute();
        const int type = a ? a->GetAttributeType() : -1;
        const bool written =
            (type == KQovNodeAttribute::eCamera && mFlags.cameras) ||
            (type == KQovNodeAttribute::eLight && mFlags.lights &&
             static_cast<const KQovLight*>(a)->GetLightType() == 2);
        if (inTree.count(target) && TargetOnly3ds(*node, *target, written))
            candidates.insert(target);
    }
    for (const KQovNode* target : candidates)
        if (lookers[target] == 1) mTargetsOnly.insert(target);
}

void KQovWriter3ds::FindDummies(KQovNode& root) {
    mDummies.clear();
    mKeys.dummies = &mDummies;
    mLackedTurns.clear();
    mKeys.lackedTurns = &mLackedTurns;
    // Held without a node of its own: written as a dummy.
    for (const KQovNode* node : HeldNodes(root))
        if (!WritesOwnNode(*node) && IsMeshLightOrCamera3ds(*node)) mDummies.insert(node);
}

void KQovWriter3ds::PutDummy(KQovNode& node) {
    Released<ObjectMotion3ds> m{BuildObjectMotion3ds(mCtx, node, mKeys), ReleaseObjectMotion3ds};
    if (!m.record) return;
    MakeDummy3ds(*m.record, node);
    PutObjectMotion3ds(mCtx, mDatabase, m.record);
}

bool KQovWriter3ds::ExportNode(KQovNode& root) {
    // Parents before children, from a list: a deep tree must not recurse.
    for (KQovNode* node : KQovListNodes(&root))
        if (!ExportOneNode(*node)) return false;
    return true;
}

bool KQovWriter3ds::ExportOneNode(KQovNode& node) {
    if (mTargetsOnly.count(&node)) return true;  // written with its camera or spotlight
    if (mDummies.count(&node)) {
        PutDummy(node);
        return !Failed();
    }
    KQovNodeAttribute* attribute = node.GetNodeAttribute();
    const int type = attribute ? attribute->GetAttributeType() : -1;
    if (type == KQovNodeAttribute::eMesh) {
        if (mFlags.geometries && !ExportMesh(node, *static_cast<KQovMesh*>(attribute)))
            return false;
    } else if (type == KQovNodeAttribute::eNurb || type == KQovNodeAttribute::ePatch) {
        if (mFlags.geometries && !ExportSurface(node, *attribute)) return false;
    } else if (type == KQovNodeAttribute::eLight) {
        auto& light = *static_cast<KQovLight*>(attribute);
        const int kind = light.GetLightType();
        if (mFlags.lights && (kind == 0 || kind == 2)) {
            Released<Light3ds> record{nullptr, ReleaseLight3ds};
            if (kind == 2)
                InitSpotlight3ds(mCtx, &record.record);
            else
                InitLight3ds(mCtx, &record.record);
            if (Failed()) return false;
            const KVector4 t = TransformAtStart3ds(node, 'T');
            FillLight3ds(light, t, NodeName3ds(node), *record.record);
            PutLight3ds(mCtx, mDatabase, record.record);
            if (kind == 2) {
                Released<SpotlightMotion3ds> m{BuildSpotlightMotion3ds(mCtx, node, mKeys),
                                               ReleaseSpotlightMotion3ds};
                if (m.record) PutSpotlightMotion3ds(mCtx, mDatabase, m.record);
            } else {
                Released<OmnilightMotion3ds> m{BuildOmnilightMotion3ds(mCtx, node, mKeys),
                                               ReleaseOmnilightMotion3ds};
                if (m.record) PutOmnilightMotion3ds(mCtx, mDatabase, m.record);
            }
        }
    } else if (type == KQovNodeAttribute::eCamera) {
        if (mFlags.cameras) {
            Released<Camera3ds> record{nullptr, ReleaseCamera3ds};
            InitCamera3ds(mCtx, &record.record);
            if (Failed()) return false;
            const KVector4 t = TransformAtStart3ds(node, 'T');
            FillCamera3ds(t, NodeName3ds(node), *record.record);
            PutCamera3ds(mCtx, mDatabase, record.record);
            if (const KQovCamera* camera = node.GetCamera()) {
                // The file has one background: the camera's colour, shown as a solid one.
                Released<Background3ds> background{nullptr, ReleaseBackground3ds};
                InitBackground3ds(mCtx, &background.record);
                if (Failed()) return false;
                const KColor c = camera->GetDefaultBackgroundColor();
                background.record->solid = {float(c.mRed), float(c.mGreen), float(c.mBlue)};
                background.record->use = kSolidBackground3ds;
                PutBackground3ds(mCtx, mDatabase, background.record);
            }
            Released<CameraMotion3ds> m{BuildCameraMotion3ds(mCtx, node, mKeys),
                                        ReleaseCameraMotion3ds};
            if (m.record) PutCameraMotion3ds(mCtx, mDatabase, m.record);
        }
    } else {
        const std::string name = node.GetNameWithoutPrefix().Buffer();
        const bool qovRoot = name.compare(0, 7, kQovRootCut3ds) == 0;
        if (qovRoot) {
            KVector4 s;
            node.GetLocalScaling(s);
            mMasterScale = s[0] * kInchesPerCm;
        }
        if (!qovRoot && (node.GetParent() || mFlags.referenceNode)) PutDummy(node);
    }
    return !Failed();
}

std::string KQovWriter3ds::PutMaterial(const KQovMesh& mesh, const FaceCombination3ds& c) {
    KQovMaterial* material = c.material >= 0 ? mesh.GetMaterial(c.material, 0) : nullptr;
    if (!material) material = mDefaultMaterial.get();
    KQovTexture* first = Written(c.first >= 0 ? mesh.GetTexture(c.first, 0) : nullptr);
    KQovTexture* second = Written(c.second >= 0 ? mesh.GetTexture(c.second, 0) : nullptr);
    int a = c.first, b = c.second;
    if (!first) first = second, a = b;  // both maps then show the second texture
    if (!second) b = -1;
    std::string name;
    if (!first)
        name = material ? material->GetNameWithoutPrefix().Left(15).Buffer() : "";
    else
        name = MaterialName3ds(mMeshCounter, c.material, a, b, mMaterialSerial++);
    if (!mMaterialsWritten.insert(name).second) return name;
    Released<Material3ds> record{nullptr, ReleaseMaterial3ds};
    InitMaterial3ds(mCtx, &record.record);
    if (!record.record) return name;
    record.record->name = name;
    if (material) FillMaterial3ds(*material, *record.record);
    int slot = 0;
    for (KQovTexture* texture : {first, second}) {
        if (!texture) continue;
        std::string status;
        const std::string mapName = mTextureNames.Place(texture->GetFileName(), status);
        FillTextureMap3ds(*texture, mapName, slot == 1, record.record->maps[slot]);
        ++slot;
        mStatus += status.c_str();
    }
    PutMaterial3ds(mCtx, mDatabase, record.record);
    return name;
}

bool KQovWriter3ds::ExportSurface(KQovNode& node, KQovNodeAttribute& surface) {
    KQovGeometryConverter* converter = mManager->CreateGeometryConverter();
    KQovMesh* working = nullptr;
    if (converter) {
        working = surface.GetAttributeType() == KQovNodeAttribute::eNurb
                      ? converter->NurbToMesh(static_cast<KQovNurb*>(&surface))
                      : converter->PatchToMesh(static_cast<KQovPatch*>(&surface));
        mManager->DestroyGeometryConverter(converter);
    }
    if (!working) {
        mStatus += KString("Unable to convert \"") +
                   KQovMessageText(node.GetNameWithoutPrefix().Buffer()).c_str() + "\" to a mesh\n";
        return ExportMesh(node, KQovMesh(nullptr));  // the node alone
    }
    // Tessellated surfaces are written without textures; those tied to the model alone are
    // told of, as a mesh's would be.
    const bool textures = mFlags.textures;
    if (textures) {
        std::string told;
        KQovTextureCoveringModel(&node, true, told);
        mStatus += told.c_str();
    }
    mFlags.textures = false;
    const bool ok = ExportMesh(node, *working);
    mFlags.textures = textures;
    // Whether the manager lists converter output or leaves it to the caller, it goes once.
    if (!mManager->DestroyNodeAttribute(working)) delete working;
    return ok;
}

namespace {

// The element names its first item on every polygon.
template <class Element>
void NameFirstOnAll(Element& e) {
    e.SetMappingMode(KQovLayer::eAllSame);
    e.SetReferenceMode(KQovLayer::eIndexToDirect);
    e.GetIndexArray().Clear();
    e.GetIndexArray().Add(0);
}

}  // namespace

bool KQovWriter3ds::CoverWithShadingOfModel(KQovNode& node, const KQovMesh& mesh, KQovMesh& copy) {
    // A mesh whose layers name no material (no texture) takes the first one tied to the model
    // alone on every polygon (on a copy); any other such one has no place.
    if (mesh.GetPolygonCount() == 0) return false;
    KQovMaterial* material = nullptr;
    if (mFlags.materials) {
        const bool layered = mesh.GetMaterialCount(0) > 0;
        const std::vector<KQovMaterial*> loose = KQovShadingScene::MaterialsOfModelOnly(&node);
        const auto notes = mLooseMaterialNotes.find(&node);
        if (notes != mLooseMaterialNotes.end()) mStatus += notes->second.c_str();
        if (!layered && !loose.empty()) material = loose.front();
    }
    KQovTexture* texture = nullptr;
    if (mFlags.textures) {
        std::string told;
        texture = KQovTextureCoveringModel(&node, mesh.GetTextureCount(0) > 0, told);
        mStatus += told.c_str();
    }
    if (!material && !texture) return false;
    copy.Copy(mesh);
    // A mesh's copy takes its polygons and layers, not its points.
    copy.GetControlPoints() = mesh.GetControlPoints();
    if (copy.GetControlPointsCount() != mesh.GetControlPointsCount() ||
        (material && copy.AddMaterial(material, 0) < 0) ||
        (texture && copy.AddTexture(texture, 0) < 0))
        return false;
    if (material) NameFirstOnAll(*copy.GetLayer(0)->GetMaterials());
    if (texture) NameFirstOnAll(*copy.GetLayer(0)->GetTextures());
    return true;
}

bool KQovWriter3ds::ExportMesh(KQovNode& node, const KQovMesh& given) {
    // A copy of the same manager, which does not list it.
    KQovMesh covered(given.GetObjectManager());
    const KQovMesh& mesh = CoverWithShadingOfModel(node, given, covered) ? covered : given;
    MeshExportInput3ds input;
    input.mesh = &mesh;
    // Vertices sit where the node's key-frames put the mesh at frame 0.
    input.translation = TransformAtStart3ds(node, 'T');
    input.rotation = TransformAtStart3ds(node, 'R');
    input.scaling = TransformAtStart3ds(node, 'S');
    // Textures decide the maps and material names; texture vertices are written for the UVs
    // a mesh has, with a texture or without one.
    const bool textured = mFlags.textures && mesh.GetTextureCount(0) > 0;
    // The maps of the first layer are written, no other layer's (a bump map's among them).
    std::unordered_set<const KQovTexture*> firstLayer;
    for (int i = 0; mesh.GetLayerCount() > 1 && i < mesh.GetTextureCount(0); ++i)
        firstLayer.insert(mesh.GetTexture(i, 0));
    for (int l = 1; mFlags.textures && l < mesh.GetLayerCount(); ++l)
        for (int i = 0; i < mesh.GetTextureCount(l); ++i) {
            const KQovTexture* texture = mesh.GetTexture(i, l);
            if (texture && !firstLayer.count(texture))
                mStatus +=
                    ("Texture \"" + KQovMessageText(texture->GetNameWithoutPrefix().Buffer()) +
                     "\" of \"" + KQovMessageText(node.GetNameWithoutPrefix().Buffer()) +
                     "\" is not written: 3DS takes the first layer's maps only\n")
                        .c_str();
        }
    input.textured = textured || (mFlags.textures && CarriesMapping(mesh.GetTextureUV()));
    // UVs by polygon vertex fit 3DS texture vertices once every corner is a vertex of its own;
    // polygons keep their order, so groups still come from the scene's mesh.
    KQovMesh split(nullptr);
    if (input.textured && mFlags.uvPerPolygon &&
        mesh.GetTextureUVMappingMode() == KQovLayer::eByPolygonVertex) {
        SplitPolygonVertices3ds(mesh, split);
        input.mesh = &split;
    }
    int fallbacks = 0;
    input.fallbacks = &fallbacks;
    std::vector<MeshPiece3ds> pieces = ExportMesh3ds(input);
    if (fallbacks > 0)
        mStatus += KQovPolygonTriangulation::FallbackMessage(fallbacks,
                                                             node.GetNameWithoutPrefix().Buffer())
                       .c_str();
    if (!pieces.empty()) ++mMeshCounter;
    const std::string name = NodeName3ds(node);
    auto putMotion = [&](const std::string& objectName) {
        Released<ObjectMotion3ds> m{BuildObjectMotion3ds(mCtx, node, mKeys),
                                    ReleaseObjectMotion3ds};
        if (!m.record) return;
        m.record->name = objectName;
        PutObjectMotion3ds(mCtx, mDatabase, m.record);
    };
    // A mesh without polygons writes no record, but its node keeps its place in the tree.
    if (pieces.empty()) putMotion(name);
    for (size_t p = 0; p < pieces.size() && !Failed(); ++p) {
        Mesh3ds& record = pieces[p].record;
        if (p == 0) {
            record.name = name;
        } else {
            // Further pieces of a large mesh take numbered names of their own.
            KQovNamePair pair(name.c_str());
            mNames.RenameToLength(pair, kObjectNameBytes3ds);
            record.name = pair.currentName.Buffer();
        }
        if (mFlags.materials && (mesh.GetMaterialCount(0) > 0 || textured)) {
            for (FaceCombination3ds& c : FaceCombinations3ds(mesh, pieces[p], textured)) {
                MatGroup3ds group;
                group.name = PutMaterial(mesh, c);
                group.faces = std::move(c.faces);
                record.matGroups.push_back(std::move(group));
            }
        }
        PutMesh3ds(mCtx, mDatabase, &record);
        if (!Failed()) putMotion(record.name);
    }
    return !Failed();
}
