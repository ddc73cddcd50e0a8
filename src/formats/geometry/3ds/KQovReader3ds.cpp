#include "formats/geometry/3ds/KQovReader3ds.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "formats/geometry/3ds/K3dsNameTable.h"
#include "formats/geometry/3ds/Keyframe3ds.h"
#include "formats/geometry/3ds/LightCamera3ds.h"
#include "formats/geometry/3ds/MaterialConvert3ds.h"
#include "formats/geometry/3ds/MeshImport3ds.h"
#include "formats/geometry/3ds/NodeAnimation3ds.h"
#include "formats/geometry/KTextureCopies.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "io/KQovWrittenNames.h"
#include "io/KStreamOptionsBase.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

// Loads `count` records of one kind through the toolkit's by-index reader.
template <class Record, class Get>
bool LoadAll(Context3ds& ctx, size_t count, std::vector<std::unique_ptr<Record>>& out, Get get) {
    out.reserve(out.size() + count);
    for (size_t i = 0; i < count; ++i) {
        Held3ds<Record> record;
        get(i, record.Slot());
        if (ctx.ErrorPending()) return false;
        out.emplace_back(record.get() ? record.Release() : new Record);
    }
    return true;
}

// One motion per object, named like it, for files without key-frame nodes: `fill` gives it
// the one key of the object's own record.
template <class Motion, class Object, class Fill>
void RecordMotions(const std::vector<std::unique_ptr<Object>>& objects,
                   std::vector<std::unique_ptr<Motion>>& motions, Fill fill) {
    for (const auto& object : objects) {
        motions.emplace_back(new Motion);
        motions.back()->name = object->name;
        fill(*object, *motions.back());
    }
}

template <class V>
void OneKey(Track3ds<V>& track, const V& value) {
    track.keys.assign(1, KeyHeader3ds());
    track.values.assign(1, value);
}

Point3ds ColorPoint(const Color3ds& c) {
    return {c.r, c.g, c.b};
}

}  // namespace

KQovReader3ds::KQovReader3ds(KQovObjectManager* manager) : KQovReader(manager) {}

KQovReader3ds::~KQovReader3ds() {
    Release();
}

bool KQovReader3ds::FileOpen(const char* fileName) {
    FileClose();
    ClearErrors3ds(mCtx);
    mCtx.readError = 0;
    mFile = fileName ? OpenFile3ds(mCtx, fileName, "rb") : nullptr;
    mFolder = fileName ? KExtractNameFolder(fileName).Buffer() : "";
    if (!mFile) {
        if (fileName && OutOfMemory(fileName)) return false;
        ClearErrors3ds(mCtx);
        mError.SetErrorWithText(eFileNotOpened, KOpenForReadError(fileName).c_str());
        return false;
    }
    return true;
}

bool KQovReader3ds::FileClose() {
    if (mFile) CloseFile3ds(mCtx, mFile);
    mFile = nullptr;
    return true;
}

KStreamOptions* KQovReader3ds::GetReadOptions(bool) {
    return KStreamOptions3ds::Create();
}

bool KQovReader3ds::Read(KQovScene* scene, KStreamOptions* options) {
    if (!options || !options->IsA(KStreamOptions3ds::ClassId())) {
        mError.SetError(eStreamOptionsNotSet);
    } else {
        auto* o = static_cast<KStreamOptionsBase*>(options);
        auto on = [o](int index) { return o->GetOptionValue(index) == 1; };
        mFlags = {on(1),  on(7),  on(8),  on(9),  on(10), on(11),
                  on(12), on(13), on(14), on(15), on(16)};
        o->SetTakeName(kTakeName3ds);
    }
    if (!mFile || !scene || !scene->GetRootNode()) {
        mError.SetError(eFileNotOpened);
        Release();
        return false;
    }
    mScale = mFlags.rescale ? 2.54 : 1.0;
    const bool loaded = Load();
    // A scale that takes a stored length past what the scene holds is refused, not stored.
    const bool scaled = !loaded || KIsSceneNumber(LargestLength() * mScale);
    const bool built = loaded && scaled && BuildScene(scene);
    const bool pending = mCtx.ErrorPending() || mCtx.readError != 0;
    if (!scaled && !pending) {
        mError.SetErrorWithText(
            eFileCorrupted,
            KFormatC("File is corrupted: the master scale takes a number beyond 2^120 (chunk "
                     "0x0100 at byte %llu)",
                     static_cast<unsigned long long>(MasterScalePosition()))
                .c_str());
    } else if (!loaded || pending) {
        LoadError();
    }
    Release();
    return built && !pending;
}

bool KQovReader3ds::OutOfMemory(const std::string& name) {
    if (!HasError3ds(mCtx, ERR_NO_MEM)) return false;
    // As memory running out is told for every file read.
    try {
        mError.SetErrorWithText(eUnidentifiedError,
                                ("Out of memory while reading " + KQovMessageText(name)).c_str());
    } catch (const std::bad_alloc&) {
        mError.SetErrorWithText(eUnidentifiedError, "Out of memory");
    }
    return true;
}

void KQovReader3ds::LoadError() {
    const std::string name = !mFile ? "" : mFile->temporary ? mFile->originalName : mFile->name;
    if (OutOfMemory(name)) return;
    // A read that failed is the cause, not the chunk it stopped in.
    if (mCtx.readError) {
        mError.SetErrorWithText(eFileNotOpened, KReadFileError(name.c_str(), mCtx.readError).c_str());
        return;
    }
    // A file too short for the first chunk's header has no chunk to name.
    const uint64_t size = mFile ? GetFileSize3ds(mCtx, mFile->slot) : 0;
    if (mFile && mCtx.ErrorCount() > 0 && mCtx.ErrorAt(0).code == ERR_READING_FILE && size < 6) {
        mError.SetErrorWithText(
            eFileCorrupted,
            size == 0 ? "File is corrupted: 3DS file holds no data"
                      : KFormatC("File is corrupted: 3DS file ends within its first chunk "
                                 "header, at byte %d",
                                 int(size))
                            .c_str());
        return;
    }
    // The toolkit's first message tells what went wrong; the chunk tells where.
    const char* what = mCtx.ErrorCount() > 0 ? mCtx.ErrorAt(0).message : nullptr;
    std::string text = "File is corrupted";
    if (mCtx.badNumber)
        text += ": a number that is not finite or is larger than 2^100 (about 1.27e30)";
    else if (what)
        text += std::string(": ") + what;
    uint32_t tag;
    uint64_t position;
    if (mCtx.GetErrorChunk(tag, position))
        text += KFormatC(" (chunk 0x%04X at byte %llu)", unsigned(tag),
                         static_cast<unsigned long long>(position));
    mError.SetErrorWithText(eFileCorrupted, text.c_str());
}

bool KQovReader3ds::Load() {
    InitDatabase3ds(mCtx, &mDatabase);
    if (mCtx.ErrorPending()) return false;
    LoadDatabase3ds(mCtx, mFile, mDatabase);
    if (mCtx.ErrorPending()) return false;
    Held3ds<MeshSettings3ds, ReleaseMeshSettings3ds> held;
    InitMeshSettings3ds(mCtx, held.Slot());
    if (!mCtx.ErrorPending()) GetMeshSettings3ds(mCtx, mDatabase, held.Slot());
    if (MeshSettings3ds* settings = held.get()) {
        // A scale that is not a number is refused as any such number is; no warning for it.
        if (settings->masterScale > 0)
            mScale *= settings->masterScale;
        else if (settings->masterScale <= 0)
            mStatus += KFormatC(
                           "The master scale (chunk 0x0100 at byte %llu) is 0 or below: it "
                           "is read as 1.\n",
                           static_cast<unsigned long long>(MasterScalePosition()))
                           .c_str();
        mAmbient = settings->ambient;
    }
    if (mCtx.ErrorPending()) return false;
    {
        Held3ds<Background3ds, ReleaseBackground3ds> background;
        GetBackground3ds(mCtx, mDatabase, background.Slot());
        if (background.get()) mBackground = background->solid;
    }
    ClearErrors3ds(mCtx);  // a file without a background still reads
    Held3ds<KfSets3ds, ReleaseKfSets3ds> heldRange;
    GetKfSets3ds(mCtx, mDatabase, heldRange.Slot());
    const KfSets3ds* range = heldRange.get();
    if (mCtx.ErrorPending()) {
        ClearErrors3ds(mCtx);  // the take then spans the keys, as without a range
        mStatus += "The key-frame length and segment are unreadable.\n";
    } else if (range && (range->anim > kLastFrame3ds ||
                         (range->segmentUsed && range->segmentEnd > kLastFrame3ds))) {
        mStatus +=
            "The key-frame length and segment run past the last frame read; the take "
            "spans the keys.\n";
    } else if (range) {
        mRange = *range;
        mHasRange = true;
    }

    Context3ds& c = mCtx;
    Database3ds* db = mDatabase;
    bool ok = LoadAll(c, GetMeshCount3ds(c, db), mMeshes,
                      [&](size_t i, Mesh3ds** m) { GetMeshByIndex3ds(c, db, i, m); });
    if (ok && mFlags.lights) {
        ok = LoadAll(c, GetOmnilightCount3ds(c, db), mOmnis,
                     [&](size_t i, Light3ds** l) { GetOmnilightByIndex3ds(c, db, i, l); }) &&
             LoadAll(c, CountNamedObjectsOfType3ds(c, db, 0x4600, 1), mSpots,
                     [&](size_t i, Light3ds** l) { GetSpotlightByIndex3ds(c, db, i, l); });
    }
    if (ok && mFlags.cameras)
        ok = LoadAll(c, GetCameraCount3ds(c, db), mCameras,
                     [&](size_t i, Camera3ds** r) { GetCameraByIndex3ds(c, db, i, r); });
    if (ok)
        ok = LoadAll(c, GetMaterialCount3ds(c, db), mMaterials,
                     [&](size_t i, Material3ds** m) { GetMaterialByIndex3ds(c, db, i, m); });
    if (!ok) return false;

    // Without key-frame nodes, everything stands where its own record puts it: a mesh at its
    // stored vertices, a camera or light at its position, looking at its target.
    if (size_t n = GetObjectNodeCount3ds(c, db)) {
        ok = LoadAll(c, n, mObjectMotions, [&](size_t i, ObjectMotion3ds** m) {
            GetObjectMotionByIndex3ds(c, db, i, m);
        });
    } else {
        RecordMotions(mMeshes, mObjectMotions, [](const Mesh3ds&, ObjectMotion3ds&) {});
        mMeshesInPlace = true;
    }
    if (ok && mFlags.lights) {
        if (size_t n = GetOmnilightNodeCount3ds(c, db))
            ok = LoadAll(c, n, mOmniMotions, [&](size_t i, OmnilightMotion3ds** m) {
                GetOmnilightMotionByIndex3ds(c, db, i, m);
            });
        else
            RecordMotions(mOmnis, mOmniMotions, [](const Light3ds& l, OmnilightMotion3ds& m) {
                OneKey(m.pos, l.position);
                OneKey(m.color, ColorPoint(l.color));
            });
        if (size_t n = CountNodesOfTag3ds(c, db, 0xB007))
            ok = ok && LoadAll(c, n, mSpotMotions, [&](size_t i, SpotlightMotion3ds** m) {
                     GetSpotlightMotionByIndex3ds(c, db, i, m);
                 });
        else
            RecordMotions(mSpots, mSpotMotions, [](const Light3ds& l, SpotlightMotion3ds& m) {
                OneKey(m.pos, l.position);
                OneKey(m.color, ColorPoint(l.color));
                if (l.spot) OneKey(m.targetPos, l.spot->target);
            });
        // A spotlight without a node keeps its cone: its falloff becomes the one key.
        for (size_t i = 0; i < mSpotMotions.size() && i < mSpots.size(); ++i) {
            Track3ds<float>& falloff = mSpotMotions[i]->falloff;
            if (falloff.keys.empty() && mSpots[i]->spot &&
                mSpotMotions[i]->name == mSpots[i]->name) {
                falloff.keys.emplace_back();
                falloff.values.push_back(mSpots[i]->spot->falloff);
            }
        }
    }
    if (ok && mFlags.cameras) {
        if (size_t n = GetCameraNodeCount3ds(c, db))
            ok = LoadAll(c, n, mCameraMotions, [&](size_t i, CameraMotion3ds** m) {
                GetCameraMotionByIndex3ds(c, db, i, m);
            });
        else
            RecordMotions(mCameras, mCameraMotions, [](const Camera3ds& r, CameraMotion3ds& m) {
                OneKey(m.pos, r.position);
                OneKey(m.targetPos, r.target);
                OneKey(m.fov, r.fov);
                OneKey(m.roll, r.roll);
            });
    }
    if (ok) ReadParents();
    return ok;
}

void KQovReader3ds::ReadParents() {
    Context3ds& c = mCtx;
    Database3ds* db = mDatabase;
    // Each node's parent by the id it names: of nodes of one name, the one meant.
    const auto parents = GetParentNodes3ds(c, db);
    if (parents.empty()) return;
    std::unordered_map<const Chunk3ds*, std::pair<uint32_t, size_t>> where;
    const uint32_t tags[] = {0xB002u, 0xB005u, 0xB007u, 0xB003u};
    for (uint32_t tag : tags)
        for (size_t i = 0, count = CountNodesOfTag3ds(c, db, tag); i < count; ++i)
            where.emplace(FindNodeByIndex3ds(c, db, i, tag), std::make_pair(tag, i));
    // A target node bears its camera's or spotlight's name: only its id tells a node hung on
    // it from one hung on the camera or light.
    for (auto [tag, target] : {std::pair(0xB007u, 0xB006u), std::pair(0xB003u, 0xB004u)})
        for (size_t i = 0, count = CountNodesOfTag3ds(c, db, tag); i < count; ++i)
            if (const Chunk3ds* chunk = FindTargetNodeByIndex3ds(c, db, i, tag))
                where.emplace(chunk, std::make_pair(target, i));
    for (uint32_t tag : tags)
        for (size_t i = 0, count = CountNodesOfTag3ds(c, db, tag); i < count; ++i) {
            const auto parent = parents.find(FindNodeByIndex3ds(c, db, i, tag));
            const auto at = parent == parents.end() ? where.end() : where.find(parent->second);
            if (at != where.end()) mParents.emplace(std::make_pair(tag, i), at->second);
        }
}

namespace {

double Largest(double largest, const Point3ds& p) {
    return std::max(
        {largest, std::fabs(double(p.x)), std::fabs(double(p.y)), std::fabs(double(p.z))});
}

double Largest(double largest, const Track3ds<Point3ds>& track) {
    for (const Point3ds& p : track.values) largest = Largest(largest, p);
    return largest;
}

}  // namespace

double KQovReader3ds::LargestLength() const {
    double largest = 0.0;
    for (const auto& mesh : mMeshes)
        for (const Point3ds& p : mesh->vertices) largest = Largest(largest, p);
    for (const auto& motion : mObjectMotions)
        largest = Largest(Largest(largest, motion->pivot), motion->pos);
    for (const auto* lights : {&mOmnis, &mSpots})
        for (const auto& light : *lights) {
            largest = Largest(largest, light->position);
            if (light->spot) largest = Largest(largest, light->spot->target);
        }
    for (const auto& camera : mCameras) {
        largest = Largest(Largest(largest, camera->position), camera->target);
        // The far plane is ten times the far range.
        largest = std::max({largest, std::fabs(double(camera->nearRange)),
                            std::fabs(double(camera->farRange)) * 10.0});
    }
    for (const auto& motion : mOmniMotions) largest = Largest(largest, motion->pos);
    for (const auto& motion : mSpotMotions)
        largest = Largest(Largest(largest, motion->pos), motion->targetPos);
    for (const auto& motion : mCameraMotions)
        largest = Largest(Largest(largest, motion->pos), motion->targetPos);
    return largest;
}

uint64_t KQovReader3ds::MasterScalePosition() const {
    Chunk3ds* meshData = mDatabase ? FindChunk3ds(mDatabase->topChunk, 0x3D3D) : nullptr;
    Chunk3ds* scale = meshData ? FindNextChunk3ds(meshData->child, 0x0100) : nullptr;
    return scale ? scale->position : 0;
}

void KQovReader3ds::Release() {
    ReleaseDatabase3ds(mCtx, &mDatabase);
    CloseAllFiles3ds(mCtx);
    mFile = nullptr;
    mMeshes.clear();
    mMaterials.clear();
    mOmnis.clear();
    mSpots.clear();
    mCameras.clear();
    mObjectMotions.clear();
    mOmniMotions.clear();
    mSpotMotions.clear();
    mCameraMotions.clear();
    mParents.clear();
    mTexturePairs.clear();
    mNodesByName.clear();
    mReference = nullptr;
    mHasRange = false;
    mMeshesInPlace = false;
}

bool KQovReader3ds::BuildScene(KQovScene* scene) {
    const Color3ds a = mFlags.ambient ? mAmbient : Color3ds{};
    scene->GetGlobalLightSettings().SetAmbientColor(KColor(a.r, a.g, a.b, 1.0));
    KQovGlobalCameraSettings& cameras = scene->GetGlobalCameraSettings();
    for (int p = 0; p < KQovGlobalCameraSettings::eProducerCount; ++p)
        if (KQovCamera* camera = cameras.GetProducerCamera(p))
            camera->SetBackgroundColor(mBackground.r, mBackground.g, mBackground.b);
    if (mFlags.materials && !CreateMaterials()) return false;
    CreateNodeAttributes();
    CreateNodes();
    KQovNode* parent = scene->GetRootNode();
    if (mFlags.referenceNode) {
        mReference = mManager->CreateNode("Qov_Root");
        if (mReference) {
            parent->AddChild(mReference);
            mReference->SetLocalScaling(mScale, mScale, mScale);
            parent = mReference;
        }
    }
    LinkNodes(parent);
    if (!ReadAnimation()) return false;
    StoreTake(scene);
    return true;
}

void KQovReader3ds::StoreTake(KQovScene* scene) {
    KQovTakeInfo take;
    take.name = kTakeName3ds;
    // The file's range: its segment as the take's span within the key-frame length, frame 0
    // to the length without a segment. An empty range says nothing.
    const bool segment = mHasRange && mRange.segmentUsed && mRange.segmentStart < mRange.segmentEnd;
    if (segment || (mHasRange && mRange.anim > 0)) {
        const KTime length = FrameTime3ds(mRange.anim);
        if (segment)
            take.localTimeSpan.Set(FrameTime3ds(mRange.segmentStart),
                                   FrameTime3ds(mRange.segmentEnd));
        else
            take.localTimeSpan.Set(KTIME_ZERO, length);
        if (mRange.anim > 0)
            take.referenceTimeSpan.Set(KTIME_ZERO, length);
        else
            take.referenceTimeSpan = take.localTimeSpan;
    } else {
        KTime start = KTIME_INFINITE, stop = KTIME_MINUS_INFINITE;
        scene->GetRootNode()->GetAnimationInterval(start, stop);
        if (stop == KTIME_MINUS_INFINITE || start == KTIME_INFINITE) {
            start = FrameTime3ds(0);
            stop = FrameTime3ds(150);
        }
        take.localTimeSpan.Set(start, stop);
        take.referenceTimeSpan.Set(start, stop);
    }
    scene->SetTakeInfo(take);
    scene->SetCurrentTake(kTakeName3ds);
}

bool KQovReader3ds::CreateMaterials() {
    // Texture names taken by this file; a clash appends the material's index.
    std::unordered_set<std::string> taken;
    std::string imageFailure;
    auto makeTexture = [&](const std::string& file, const std::string& clash) -> KQovTexture* {
        const std::string name = taken.count(file) ? file + clash : file;
        KQovTexture* texture = mManager->CreateTexture(name.c_str());
        if (!texture) {
            mStatus += ("Unable to load texture file: " + KQovMessageText(file) + " .\n").c_str();
            return nullptr;
        }
        taken.insert(texture->GetNameWithoutPrefix().Buffer());
        // A map names its image relative to the file: it is kept by its path there.
        const std::string found = KFindFileBeside(mFolder.c_str(), file.c_str()).Buffer();
        if (KIsRelativePath(file.c_str()) && !KFileExists(found.c_str()) && imageFailure.empty()) {
            // Not found for a cause of the system (too many open files, a failing disk): the
            // read fails rather than name the image as missing.
            errno = 0;
            FILE* image = KPlatformOpenFile(found.c_str(), "rb");
            const int error = image ? 0 : errno;
            if (image) {
                fclose(image);
            } else if (error == ENOMEM) {
                throw std::bad_alloc();
            } else if (!KIsImageInputProblem(error)) {
                imageFailure = "Unable to read texture file \"" + KQovMessageText(found) +
                               "\": " + KImageProblemCause(error);
            }
        }
        texture->SetFileName(found.c_str());
        NoteFileRead(texture->GetFileName());
        return texture;
    };
    for (size_t i = 0; i < mMaterials.size(); ++i) {
        const Material3ds& record = *mMaterials[i];
        KQovMaterial* material = mManager->CreateMaterial(record.name.c_str());
        if (!material) return false;
        ApplyMaterial3ds(record, *material);
        TexturePair pair;
        const TextureMap3ds& map1 = record.maps[0];
        const TextureMap3ds& map2 = record.maps[1];
        if (mFlags.textures && !map1.name.empty()) {
            const std::string n = std::to_string(i);
            if ((pair.first = makeTexture(map1.name, "-" + n)))
                ApplyTextureMap3ds(map1, *pair.first, true);
            if (!map2.name.empty() && (pair.second = makeTexture(map2.name, "-" + n + ".2")))
                ApplyTextureMap3ds(map2, *pair.second, false);
        }
        mTexturePairs.emplace(record.name, pair);
    }
    if (!imageFailure.empty()) {
        mError.SetErrorWithText(eFileNotOpened, imageFailure.c_str());
        return false;
    }
    return true;
}

void KQovReader3ds::CreateNodeAttributes() {
    // The first material of each name, for the meshes' material groups.
    mMaterialsByName.clear();
    if (mFlags.materials)
        for (int m = 0; m < mManager->GetMaterialCount(); ++m)
            mMaterialsByName.emplace(mManager->GetMaterial(m)->GetNameWithoutPrefix().Buffer(),
                                     mManager->GetMaterial(m));
    for (const auto& record : mMeshes) {
        KQovMesh* mesh = mManager->CreateMesh();
        if (mesh && !record->faces.empty()) BuildMesh(*record, *mesh);
        mMeshAttributes.push_back(mesh);
    }
    mMeshBound.assign(mMeshes.size(), false);
    for (const auto& record : mOmnis) {
        KQovLight* light = mManager->CreateLight();
        if (light) SetupLight3ds(*record, *light);
        mOmniLights.push_back(light);
    }
    for (const auto& record : mSpots) {
        KQovLight* light = mManager->CreateLight();
        if (light) SetupLight3ds(*record, *light);
        mSpotLights.push_back(light);
        mSpotTargets.push_back(mManager->CreateMarker());
    }
    for (const auto& record : mCameras) {
        KQovCamera* camera = mManager->CreateCamera();
        if (camera) SetupCamera3ds(*record, *camera, mScale, mBackground);
        mCameraAttributes.push_back(camera);
        mCameraTargets.push_back(mManager->CreateMarker());
    }
}

void KQovReader3ds::BuildMesh(const Mesh3ds& record, KQovMesh& mesh) {
    const size_t faces = record.faces.size();
    std::vector<int> faceMaterials(faces, 0), faceTextures(faces, -1), faceSeconds;
    if (mFlags.materials) {
        for (const MatGroup3ds& group : record.matGroups) {
            const auto pair = mTexturePairs.find(group.name);
            const auto named = mMaterialsByName.find(group.name);
            KQovMaterial* material = named != mMaterialsByName.end() ? named->second : nullptr;
            if (!material) continue;
            // Groups may share a material: it is listed once and they share its index.
            mesh.AddMaterial(material, 0);
            int materialIndex = 0;
            while (mesh.GetMaterial(materialIndex, 0) != material) ++materialIndex;
            // Only a loaded 3DS material lends its maps to the group.
            int first = -1, second = -1;
            if (pair != mTexturePairs.end() && pair->second.first && !record.texVerts.empty() &&
                mFlags.textures) {
                first = mesh.AddTexture(pair->second.first, 0);
                if (pair->second.second) second = mesh.AddTexture(pair->second.second, 0);
            }
            if (second >= 0 && faceSeconds.empty()) faceSeconds.assign(faces, -1);
            for (uint16_t f : group.faces) {
                if (f >= faces) continue;
                faceMaterials[f] = materialIndex;
                faceTextures[f] = first;
                if (!faceSeconds.empty()) faceSeconds[f] = second;
            }
        }
    }
    MeshImportOptions3ds options;
    options.scale = mFlags.referenceNode ? 1.0 : mScale;
    options.smoothGroups = mFlags.smoothGroups;
    options.storedPlace = mMeshesInPlace;
    if (!ImportMesh3ds(record, mesh, options, faceMaterials, faceTextures)) {
        mStatus += ("Mesh " + KQovMessageText(record.name) + " names a vertex it does not have.\n")
                       .c_str();
        return;
    }
    if (!faceSeconds.empty()) AddSecondTextureLayer3ds(mesh, faceSeconds);
}

KQovNode* KQovReader3ds::NewNode(const std::string& name) {
    KQovNode* node = mManager->CreateNode(name.c_str());
    if (node) mNodesByName.emplace(name, node);
    return node;
}

namespace {

// The records of each name whose attribute was made, in file order. Objects may share a
// name: the k-th key-frame node of a name takes the k-th of them, a node past their count
// (an instance) the first.
class RecordsByName {
public:
    template <class Record, class Attribute>
    RecordsByName(const std::vector<std::unique_ptr<Record>>& records,
                  const std::vector<Attribute*>& made) {
        for (size_t i = 0; i < records.size() && i < made.size(); ++i)
            if (made[i]) mIndices[records[i]->name].push_back(i);
    }

    // The record for the next node of `name`; -1 for none.
    long Next(const std::string& name) {
        const auto found = mIndices.find(name);
        if (found == mIndices.end()) return -1;
        const size_t k = mUsed[name]++;
        return long(k < found->second.size() ? found->second[k] : found->second.front());
    }

private:
    std::unordered_map<std::string, std::vector<size_t>> mIndices;
    std::unordered_map<std::string, size_t> mUsed;
};

}  // namespace

void KQovReader3ds::CreateNodes() {
    const double s = mFlags.referenceNode ? 1.0 : mScale;
    RecordsByName meshes(mMeshes, mMeshAttributes);
    for (const auto& motion : mObjectMotions) {
        std::string name = motion->name;
        if (!motion->instance.empty()) name += "." + motion->instance;
        KQovNode* node = NewNode(name);
        mObjectNodes.push_back(node);
        if (!node || !mFlags.geometries) continue;
        const long found = meshes.Next(motion->name);
        if (found >= 0) {
            const size_t m = size_t(found);
            KQovMesh* mesh = mMeshAttributes[m];
            if (mMeshBound[m]) {
                // A later instance gets its own mesh, so each pivot is subtracted once.
                mesh = mManager->CreateMesh();
                if (mesh && !mMeshes[m]->faces.empty()) BuildMesh(*mMeshes[m], *mesh);
            }
            mMeshBound[m] = true;
            if (!mesh) continue;
            const KVector4 pivot =
                ScenePoint3ds(motion->pivot.x, motion->pivot.y, motion->pivot.z, s);
            KVector4* points = mesh->GetControlPoints().GetArray();
            for (int c = 0; c < mesh->GetControlPointsCount(); ++c) {
                double* p = points[c].mData;
                p[0] -= pivot[0];
                p[1] -= pivot[1];
                p[2] -= pivot[2];
            }
            node->SetNodeAttribute(mesh);
            if (mesh->GetTextureCount(0) > 0) node->SetShadingMode(4);
        }
    }
    // A node takes the attribute of its record of that name, when it has one; its target
    // the marker of the same record.
    auto bind = [this](const std::string& name, long record, const auto& attributes,
                       bool on) -> KQovNode* {
        KQovNode* node = NewNode(name);
        if (node && on && record >= 0 && attributes[size_t(record)])
            node->SetNodeAttribute(attributes[size_t(record)]);
        return node;
    };
    RecordsByName omnis(mOmnis, mOmniLights), spots(mSpots, mSpotLights),
        cameras(mCameras, mCameraAttributes);
    for (const auto& motion : mOmniMotions)
        mOmniNodes.push_back(
            bind(motion->name, omnis.Next(motion->name), mOmniLights, mFlags.lights));
    for (const auto& motion : mSpotMotions) {
        const long record = spots.Next(motion->name);
        mSpotNodes.push_back(bind(motion->name, record, mSpotLights, mFlags.lights));
        mSpotTargetNodes.push_back(
            bind(motion->name + ".Target", record, mSpotTargets, mFlags.lights));
    }
    for (const auto& motion : mCameraMotions) {
        const long record = cameras.Next(motion->name);
        mCameraNodes.push_back(bind(motion->name, record, mCameraAttributes, mFlags.cameras));
        mCameraTargetNodes.push_back(
            bind(motion->name + ".Target", record, mCameraTargets, mFlags.cameras));
    }
    // After binding: a light's intensity lives on its node's default take.
    for (size_t i = 0; i < mOmnis.size() && i < mOmniLights.size(); ++i)
        if (mOmniLights[i]) SetupLightLevel3ds(*mOmnis[i], *mOmniLights[i]);
    for (size_t i = 0; i < mSpots.size() && i < mSpotLights.size(); ++i)
        if (mSpotLights[i]) SetupLightLevel3ds(*mSpots[i], *mSpotLights[i]);
}

void KQovReader3ds::LinkNodes(KQovNode* defaultParent) {
    // Under the named parent when it exists and takes the node, else the default parent.
    auto link = [&](KQovNode* node, const std::string& parentName) -> KQovNode* {
        if (!node) return nullptr;
        const auto found = parentName.empty() ? mNodesByName.end() : mNodesByName.find(parentName);
        if (found != mNodesByName.end() && found->second != node && found->second->AddChild(node))
            return found->second;
        defaultParent->AddChild(node);
        return nullptr;
    };
    auto nodeAt = [this](std::pair<uint32_t, size_t> at) -> KQovNode* {
        const std::vector<KQovNode*>* nodes = at.first == 0xB002   ? &mObjectNodes
                                              : at.first == 0xB005 ? &mOmniNodes
                                              : at.first == 0xB007 ? &mSpotNodes
                                              : at.first == 0xB006 ? &mSpotTargetNodes
                                              : at.first == 0xB003 ? &mCameraNodes
                                              : at.first == 0xB004 ? &mCameraTargetNodes
                                                                   : nullptr;
        return nodes && at.second < nodes->size() ? (*nodes)[at.second] : nullptr;
    };
    // The name the file gives the node at `at`: a target's is its camera's or light's.
    auto fileName = [this](std::pair<uint32_t, size_t> at, const KQovNode& node) -> std::string {
        if (at.first == 0xB006 && at.second < mSpotMotions.size())
            return mSpotMotions[at.second]->name;
        if (at.first == 0xB004 && at.second < mCameraMotions.size())
            return mCameraMotions[at.second]->name;
        return node.GetNameWithoutPrefix().Buffer();
    };
    // Under the parent its id names when that one bears the parent's name (another node of
    // that name than the first); else by name.
    auto linkById = [&](KQovNode* node, std::pair<uint32_t, size_t> self,
                        const std::string& parentName) -> KQovNode* {
        const auto found = mParents.find(self);
        KQovNode* parent = found == mParents.end() ? nullptr : nodeAt(found->second);
        if (node && parent && parent != node && parentName == fileName(found->second, *parent) &&
            parent->AddChild(node))
            return parent;
        return link(node, parentName);
    };
    for (size_t i = 0; i < mObjectNodes.size(); ++i)
        linkById(mObjectNodes[i], {0xB002, i}, mObjectMotions[i]->parent);
    for (size_t i = 0; i < mOmniNodes.size(); ++i)
        linkById(mOmniNodes[i], {0xB005, i}, mOmniMotions[i]->parent);
    auto linkTargeted = [&](KQovNode* node, KQovNode* target, std::pair<uint32_t, size_t> self,
                            const NodePart3ds& motion, const TargetPart3ds& targetPart, bool spot) {
        KQovNode* parent = linkById(node, self, motion.parent);
        if (!target) return;
        // A parent that refuses the target (the node hangs on the target, or below it by ids
        // that go round) leaves it under the default parent, not out of the scene.
        if (!targetPart.parent.empty())
            link(target, targetPart.parent);
        else if (!parent || !parent->AddChild(target))
            defaultParent->AddChild(target);
        if (!node) return;
        node->SetLookAtTarget(target);
        if (spot) node->SetPostTargetRotation(0, 0, 90, 0);
    };
    for (size_t i = 0; i < mSpotNodes.size(); ++i)
        linkTargeted(mSpotNodes[i], mSpotTargetNodes[i], {0xB007, i}, *mSpotMotions[i],
                     mSpotMotions[i]->target, true);
    for (size_t i = 0; i < mCameraNodes.size(); ++i)
        linkTargeted(mCameraNodes[i], mCameraTargetNodes[i], {0xB003, i}, *mCameraMotions[i],
                     mCameraMotions[i]->target, false);
}

bool KQovReader3ds::ReadAnimation() {
    TrackReading3ds reading;
    reading.animate = mFlags.anim;
    reading.reduceKeys = mFlags.reduceKeys;
    reading.scale = mFlags.referenceNode ? 1.0 : mScale;
    // A key is believed as far as a range is: a flipped bit must not make a few bytes a take
    // of millions of frames. Keys a little past the file's own range are kept (a length
    // shortened after keying); those past twice its end are not.
    const int64_t end =
        mHasRange ? std::max<int64_t>(mRange.anim, mRange.segmentUsed ? mRange.segmentEnd : 0) : 0;
    reading.lastFrame = uint32_t(end > 0 ? std::min(2 * end, kLastFrame3ds) : kLastFrame3ds);
    size_t past = 0;
    reading.keysPast = &past;
    // Following rotations between keys costs a few evaluations a frame, and samples some.
    int64_t rotationFrames = int64_t(1) << 20;
    size_t unfollowed = 0;
    reading.rotationFrames = &rotationFrames;
    reading.rotationsUnfollowed = &unfollowed;
    const bool ok = ReadTracks(reading);
    if (unfollowed > 0)
        mStatus += KFormatC("%zu rotation track%s joined between keys as Euler curves, not as the "
                            "file turns: following more would take past 1048576 frames.\n",
                            unfollowed, unfollowed == 1 ? " is" : "s are")
                       .c_str();
    if (past > 0)
        mStatus += KFormatC(past == 1 ? "%zu key past frame %u is not read.\n"
                                      : "%zu keys past frame %u are not read.\n",
                            past, reading.lastFrame)
                       .c_str();
    return ok;
}

bool KQovReader3ds::ReadTracks(const TrackReading3ds& reading) {
    for (size_t i = 0; i < mObjectNodes.size(); ++i)
        if (mObjectNodes[i] &&
            !ReadObjectAnimation3ds(*mObjectNodes[i], *mObjectMotions[i], reading))
            return false;
    for (size_t i = 0; i < mOmniNodes.size(); ++i)
        if (mOmniNodes[i] && !ReadOmnilightAnimation3ds(*mOmniNodes[i], *mOmniMotions[i], reading))
            return false;
    for (size_t i = 0; i < mSpotNodes.size(); ++i)
        if (mSpotNodes[i] && !ReadSpotlightAnimation3ds(*mSpotNodes[i], mSpotTargetNodes[i],
                                                        *mSpotMotions[i], reading))
            return false;
    for (size_t i = 0; i < mCameraNodes.size(); ++i)
        if (mCameraNodes[i] && !ReadCameraAnimation3ds(*mCameraNodes[i], mCameraTargetNodes[i],
                                                       *mCameraMotions[i], reading))
            return false;
    return true;
}

KQovNameTerms KQovReader3ds::NameTerms() {
    KQovNameTerms terms;
    terms.format = "3DS";
    terms.splitters = "";
    terms.controls = false;
    terms.empty = "";
    terms.reserved = {kRootNodeCut3ds, kDummyName3ds};
    return terms;
}
