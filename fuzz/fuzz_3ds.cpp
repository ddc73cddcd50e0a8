// Feeds arbitrary bytes to the 3DS toolkit as a file: the chunk scan, every payload,
// the object-level records and a save must all end cleanly. The same bytes then go through
// the scene reader, and a scene it read through the scene writer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "formats/geometry/3ds/KQovReader3ds.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"
#include "io/KStreamOptions.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

std::string TempName(const char* suffix) {
    return "/tmp/fuzz3ds-" + std::to_string(getpid()) + suffix;
}

void ReadAllPayloads(Context3ds& ctx, Chunk3ds* chunk) {
    for (; chunk && !ctx.ErrorPending(); chunk = chunk->next) {
        ReadChunkData3ds(ctx, chunk);
        ReadAllPayloads(ctx, chunk->child);
    }
}

void ReadRecords(Context3ds& ctx, Database3ds* db) {
    Mesh3ds* mesh = nullptr;
    for (size_t i = 0; i < GetMeshCount3ds(ctx, db) && !ctx.ErrorPending(); ++i)
        GetMeshByIndex3ds(ctx, db, i, &mesh);
    ReleaseMesh3ds(&mesh);
    Material3ds* material = nullptr;
    for (size_t i = 0; i < GetMaterialCount3ds(ctx, db) && !ctx.ErrorPending(); ++i)
        GetMaterialByIndex3ds(ctx, db, i, &material);
    ReleaseMaterial3ds(&material);
    Camera3ds* camera = nullptr;
    for (size_t i = 0; i < GetCameraCount3ds(ctx, db) && !ctx.ErrorPending(); ++i)
        GetCameraByIndex3ds(ctx, db, i, &camera);
    ReleaseCamera3ds(&camera);
    Light3ds* light = nullptr;
    for (size_t i = 0; i < GetOmnilightCount3ds(ctx, db) && !ctx.ErrorPending(); ++i)
        GetOmnilightByIndex3ds(ctx, db, i, &light);
    GetSpotlightByIndex3ds(ctx, db, 0, &light);
    ReleaseLight3ds(&light);
    ObjectMotion3ds* object = nullptr;
    for (size_t i = 0; i < GetObjectNodeCount3ds(ctx, db) && !ctx.ErrorPending(); ++i)
        GetObjectMotionByIndex3ds(ctx, db, i, &object);
    ReleaseObjectMotion3ds(&object);
    CameraMotion3ds* cameraMotion = nullptr;
    GetCameraMotionByIndex3ds(ctx, db, 0, &cameraMotion);
    ReleaseCameraMotion3ds(&cameraMotion);
    SpotlightMotion3ds* spot = nullptr;
    GetSpotlightMotionByIndex3ds(ctx, db, 0, &spot);
    ReleaseSpotlightMotion3ds(&spot);
    MeshSettings3ds* settings = nullptr;
    GetMeshSettings3ds(ctx, db, &settings);
    ReleaseMeshSettings3ds(&settings);
    Background3ds* background = nullptr;
    GetBackground3ds(ctx, db, &background);
    ReleaseBackground3ds(&background);
}

constexpr int64_t kMaxAnimatedFrames = 2000;
constexpr int kAnimOption = 9;

// A scene costs more to make than most inputs to read: one is kept and cleared between
// inputs, and the manager (with the materials and textures it keeps) renewed now and then.
struct SceneHolder {
    std::unique_ptr<KQovObjectManager> manager;
    KQovScene* scene = nullptr;
    int uses = 0;

    KQovScene* Next() {
        if (!manager || ++uses % 64 == 0) {
            manager.reset();
            manager = std::make_unique<KQovObjectManager>();
            scene = manager->CreateScene();
        }
        scene->Clear();
        return scene;
    }
};

void ReadAndWriteScene(const std::string& input, const std::string& output) {
    // Never destroyed: static lists of the library may be gone by then.
    static SceneHolder& holder = *new SceneHolder;
    KQovScene* scene = holder.Next();
    KQovObjectManager* manager = holder.manager.get();
    KQovReader3ds reader(manager);
    if (!reader.FileOpen(input.c_str())) return;
    std::unique_ptr<KStreamOptions> readOptions(reader.GetReadOptions(false));
    const bool read = reader.Read(scene, readOptions.get());
    reader.FileClose();
    if (!read) return;
    KQovWriter3ds writer(manager);
    if (!writer.FileCreate(output.c_str())) return;
    std::unique_ptr<KStreamOptions> writeOptions(writer.GetWriteOptions());
    // The writer keys every frame of every node: a file claiming a million frames is slow by
    // design, not by fault, so such scenes are written without their animation.
    KTime start, stop;
    scene->GetRootNode()->GetAnimationInterval(start, stop);
    if (stop.GetFrame(true) - start.GetFrame(true) > kMaxAnimatedFrames)
        static_cast<KStreamOptionsBase*>(writeOptions.get())->SetOptionValue(kAnimOption, 0);
    writer.Write(scene, writeOptions.get());
    writer.FileClose();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = TempName(".3ds"), output = TempName("-out.3ds");
    FILE* f = fopen(input.c_str(), "wb");
    if (!f) return 0;
    if (size) fwrite(data, 1, size, f);
    fclose(f);

    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    LoadDatabase3ds(ctx, OpenFile3ds(ctx, input.c_str(), "rb"), db);
    if (!ctx.ErrorPending()) {
        ReadRecords(ctx, db);
        if (!ctx.ErrorPending()) ReadAllPayloads(ctx, db->topChunk);
        if (!ctx.ErrorPending()) SaveDatabase3ds(ctx, OpenFile3ds(ctx, output.c_str(), "wb"), db);
    }
    ReleaseDatabase3ds(ctx, &db);
    CloseAllFiles3ds(ctx);
    ReadAndWriteScene(input, output);
    return 0;
}
