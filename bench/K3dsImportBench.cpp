// 3DS meshes into scene meshes and back, beside lib3ds's own load and save of
// the same file: 500,000 faces in 50 objects. BM_Read3dsSceneVsLib3ds is the side-by-side
// row: the whole read into a scene against lib3ds's load, alternating in one run (target:
// ratio at most 1.0), with each side's peak memory in a process of its own.
// BM_Read3dsRotationKeyEachFrame reads one object whose rotation track holds a key at every
// frame, turning about changing axes: twice the frames should cost about twice the time.
#include <benchmark/benchmark.h>
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>
#include <lib3ds/tracks.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/KQovReader3ds.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "formats/geometry/3ds/MeshExport3ds.h"
#include "formats/geometry/3ds/MeshImport3ds.h"
#include "io/KStreamOptionsBase.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

constexpr int kObjects = 50;
constexpr uint16_t kWide = 101, kHigh = 51;  // vertices: 10,000 faces an object

std::string FileName(const char* tag) {
    return KPlatformGetTempFolder() + "/qov_bench_" + tag + qovbench::RunId() + ".3ds";
}

// A grid of quads as triangles, two smoothing groups.
Mesh3ds Grid() {
    Mesh3ds m;
    for (int y = 0; y < kHigh; ++y)
        for (int x = 0; x < kWide; ++x) {
            m.vertices.push_back({float(x), float(y), float((x * y) % 7)});
            m.texVerts.push_back({x / float(kWide), y / float(kHigh)});
        }
    for (int y = 0; y + 1 < kHigh; ++y)
        for (int x = 0; x + 1 < kWide; ++x) {
            const uint16_t a = uint16_t(y * kWide + x), b = uint16_t(a + 1),
                           c = uint16_t(a + kWide), d = uint16_t(c + 1);
            m.faces.push_back({a, b, d, 7});
            m.faces.push_back({a, d, c, 7});
            m.smoothing.push_back(x < kWide / 2 ? 1 : 2);
            m.smoothing.push_back(x < kWide / 2 ? 1 : 2);
        }
    const float axes[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    std::copy(axes, axes + 12, m.localAxes);
    return m;
}

bool Save(const std::vector<Mesh3ds>& meshes, const std::string& name) {
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
    for (const Mesh3ds& m : meshes) PutMesh3ds(ctx, db, &m);
    SaveDatabase3ds(ctx, OpenFile3ds(ctx, name.c_str(), "wb"), db);
    ReleaseDatabase3ds(ctx, &db);
    CloseAllFiles3ds(ctx);
    return !ctx.ErrorPending();
}

const std::string& SourceFile() {
    static const std::string name = [] {
        const std::string file = FileName("src");
        if (qovbench::IsPeakProcess()) return file;  // made by the run that started it
        std::vector<Mesh3ds> meshes(kObjects, Grid());
        for (int i = 0; i < kObjects; ++i) meshes[size_t(i)].name = "G" + std::to_string(i);
        qovbench::RemoveAtExit(file);
        Save(meshes, file);
        return file;
    }();
    return name;
}

void BM_Import3dsIntoMeshes(benchmark::State& state) {
    for (auto _ : state) {
        Context3ds ctx;
        Database3ds* db = nullptr;
        InitDatabase3ds(ctx, &db);
        LoadDatabase3ds(ctx, OpenFile3ds(ctx, SourceFile().c_str(), "rb"), db);
        Mesh3ds* record = nullptr;
        int polygons = 0;
        for (size_t i = 0, n = GetMeshCount3ds(ctx, db); i < n; ++i) {
            GetMeshByIndex3ds(ctx, db, i, &record);
            KQovMesh mesh(nullptr);
            ImportMesh3ds(*record, mesh, {}, {}, {});
            polygons += mesh.GetPolygonCount();
        }
        ReleaseMesh3ds(&record);
        ReleaseDatabase3ds(ctx, &db);
        CloseAllFiles3ds(ctx);
        if (polygons != kObjects * 2 * (kWide - 1) * (kHigh - 1)) state.SkipWithError("lost faces");
    }
}

void BM_Lib3dsLoad(benchmark::State& state) {
    for (auto _ : state) {
        Lib3dsFile* file = lib3ds_file_load(SourceFile().c_str());
        if (!file) state.SkipWithError("lib3ds load failed");
        lib3ds_file_free(file);
    }
}

void BM_Export3dsFromMeshes(benchmark::State& state) {
    KQovMesh mesh(nullptr);
    ImportMesh3ds(Grid(), mesh, {}, {}, {});
    const std::string out = FileName("out");
    for (auto _ : state) {
        std::vector<Mesh3ds> records;
        MeshExportInput3ds in;
        in.mesh = &mesh;
        for (int i = 0; i < kObjects; ++i) {
            records.push_back(std::move(ExportMesh3ds(in)[0].record));
            records.back().name = "G" + std::to_string(i);
        }
        if (!Save(records, out)) state.SkipWithError("save failed");
    }
    KPlatformDeleteFile(out.c_str());
}

void BM_Lib3dsSave(benchmark::State& state) {
    Lib3dsFile* file = lib3ds_file_load(SourceFile().c_str());
    const std::string out = FileName("lib");
    for (auto _ : state)
        if (!lib3ds_file_save(file, out.c_str())) state.SkipWithError("lib3ds save failed");
    lib3ds_file_free(file);
    KPlatformDeleteFile(out.c_str());
}

// The whole read: file into a scene of nodes, meshes and a take.
bool ReadScene(KQovObjectManager& manager, KQovScene*& scene) {
    scene = manager.CreateScene();
    KQovReader3ds reader(&manager);
    KStreamOptions3ds options;
    return reader.FileOpen(SourceFile().c_str()) && reader.Read(scene, &options);
}

bool ReadSceneOnce() {
    KQovObjectManager manager;
    KQovScene* scene = nullptr;
    return ReadScene(manager, scene);
}

bool Lib3dsLoadOnce() {
    Lib3dsFile* file = lib3ds_file_load(SourceFile().c_str());
    lib3ds_file_free(file);
    return file != nullptr;
}

void BM_Read3dsSceneVsLib3ds(benchmark::State& state) {
    SourceFile();
    qovbench::PeakSideBySide(state, "^BM_Read3dsSceneVsLib3ds/", ReadSceneOnce, Lib3dsLoadOnce);
    qovbench::RunSideBySide(state, ReadSceneOnce, Lib3dsLoadOnce);
}

void BM_Read3dsIntoScene(benchmark::State& state) {
    for (auto _ : state) {
        KQovObjectManager manager;
        KQovScene* scene = nullptr;
        if (!ReadScene(manager, scene)) state.SkipWithError("read failed");
    }
}

void BM_Write3dsFromScene(benchmark::State& state) {
    KQovObjectManager manager;
    KQovScene* scene = nullptr;
    if (!ReadScene(manager, scene)) state.SkipWithError("read failed");
    const std::string out = FileName("scene");
    for (auto _ : state) {
        KQovWriter3ds writer(&manager);
        KStreamOptions3ds options;
        if (!writer.FileCreate(out.c_str()) || !writer.Write(scene, &options) ||
            !writer.FileClose())
            state.SkipWithError("write failed");
    }
    KPlatformDeleteFile(out.c_str());
}

// A triangle whose node turns a little at every frame, about X, Y and Z in turn.
std::string KeyEachFrameFile(int frames) {
    const std::string name = FileName(("keys" + std::to_string(frames)).c_str());
    Lib3dsFile* file = lib3ds_file_new();
    file->frames = frames;
    Lib3dsMesh* mesh = lib3ds_mesh_new("W");
    lib3ds_mesh_new_point_list(mesh, 3);
    mesh->pointL[1].pos[0] = mesh->pointL[2].pos[1] = 10;
    lib3ds_mesh_new_face_list(mesh, 1);
    mesh->faceL[0].points[1] = 1;
    mesh->faceL[0].points[2] = 2;
    lib3ds_file_insert_mesh(file, mesh);
    Lib3dsNode* node = lib3ds_node_new_object();
    strcpy(node->name, "W");
    node->parent_id = LIB3DS_NO_PARENT;
    Lib3dsQuatKey** tail = &node->data.object.rot_track.keyL;
    for (int f = 0; f <= frames; ++f) {
        Lib3dsQuatKey* key = lib3ds_quat_key_new();
        key->tcb.frame = f;
        key->angle = f ? 0.01f : 0.0f;
        key->axis[f % 3] = 1;
        *tail = key;  // in order: inserting each would cost a walk of the list
        tail = &key->next;
    }
    lib3ds_file_insert_node(file, node);
    qovbench::RemoveAtExit(name);
    lib3ds_file_save(file, name.c_str());
    lib3ds_file_free(file);
    return name;
}

void BM_Read3dsRotationKeyEachFrame(benchmark::State& state) {
    const std::string name = KeyEachFrameFile(int(state.range(0)));
    for (auto _ : state) {
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        KQovReader3ds reader(&manager);
        KStreamOptions3ds options;
        if (!reader.FileOpen(name.c_str()) || !reader.Read(scene, &options))
            state.SkipWithError("read failed");
    }
}

}  // namespace

BENCHMARK(BM_Read3dsRotationKeyEachFrame)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read3dsSceneVsLib3ds)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_Read3dsIntoScene)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write3dsFromScene)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Import3dsIntoMeshes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lib3dsLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export3dsFromMeshes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lib3dsSave)->Unit(benchmark::kMillisecond);
