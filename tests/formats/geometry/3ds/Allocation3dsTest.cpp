// The toolkit's chunks come from the no-throw heap: a refused allocation is an error of the
// operation, never a null chunk used. The refusing heap refuses the n-th no-throw allocation
// from now, or the n-th of any kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>

#include "Reading3ds.h"
#include "Test3ds.h"
#include "common/RefusingHeap.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"
#include "formats/geometry/3ds/Settings3ds.h"

namespace {

// A mesh with every part PutMesh3ds writes: each is a chunk of its own.
Mesh3ds FullMesh() {
    Mesh3ds m;
    m.name = "Full";
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    m.vertexFlags = {1, 2, 3};
    m.texVerts = {{0, 0}, {1, 0}, {0, 1}};
    m.mappingPresent = 1;
    m.faces = {{0, 1, 2, 7}};
    m.smoothing = {1};
    m.boxMapPresent = 1;
    m.matGroups = {{"Red", {0}}};
    m.procName = "proc";
    m.procData = {1, 2, 3};
    m.flag4010 = m.flag4011 = m.flag4012 = m.flag4013 = m.flag4014 = m.flag4016 = m.flag4017 = 1;
    m.flag4015 = 1;
    return m;
}

bool Pending(const Context3ds& ctx, int code) {
    for (int i = 0; i < 20 && ctx.ErrorAt(i).code; ++i)
        if (ctx.ErrorAt(i).code == code) return true;
    return false;
}

// Each allocation of the put refused in turn: the put reports it (out of memory, and the
// failed put), and the database is still whole enough to release.
TEST(Allocation3ds, PutMeshReportsEveryRefusedChunk) {
    const Mesh3ds mesh = FullMesh();
    int refusals = 0;
    for (long n = 0; n < 200; ++n) {
        SCOPED_TRACE(n);
        Context3ds ctx;
        Database3ds* db = nullptr;
        InitDatabase3ds(ctx, &db);
        CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
        ASSERT_FALSE(ctx.ErrorPending());
        gNoThrowRefuseIn = n;
        PutMesh3ds(ctx, db, &mesh);
        const bool refused = gNoThrowRefuseIn.exchange(-1) < 0;
        if (!refused) {
            // Past the last allocation: the put went through.
            EXPECT_FALSE(ctx.ErrorPending());
            Mesh3ds* back = nullptr;
            GetMeshByIndex3ds(ctx, db, 0, &back);
            ASSERT_TRUE(back);
            EXPECT_EQ(back->vertices.size(), 3u);
            EXPECT_EQ(back->procData, mesh.procData);
            ReleaseMesh3ds(&back);
            ReleaseDatabase3ds(ctx, &db);
            EXPECT_GT(refusals, 10);  // every chunk of the mesh was refused once
            return;
        }
        ++refusals;
        EXPECT_TRUE(ctx.ErrorPending());
        EXPECT_TRUE(Pending(ctx, ERR_NO_MEM));
        EXPECT_TRUE(Pending(ctx, ERR_PUT_FAILED));
        ReleaseDatabase3ds(ctx, &db);
    }
    FAIL() << "the put never went through";
}

std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each allocation of the commit of a written file refused in turn: the old file stays, and the
// context that goes afterwards does not close the stream the commit closed.
TEST(Allocation3ds, ACommitOutOfMemoryClosesItsStreamOnce) {
    TempPath3ds out("kept.3ds");
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 100) << "the commit never went through";
        std::ofstream(out.path, std::ios::binary) << "old";
        bool thrown = false;
        {
            Context3ds ctx;
            File3ds* file = OpenFile3ds(ctx, out.path.c_str(), "wb");
            ASSERT_NE(file, nullptr);
            std::fputs("new", file->stream);
            gThrowIn = n;
            try {
                CloseFile3ds(ctx, file);
            } catch (const std::bad_alloc&) {
                thrown = true;
            }
            gThrowIn = -1;
        }
        EXPECT_EQ(Content(out.path), thrown ? "old" : "new");
        EXPECT_EQ(TempTestFolder::NamesIn(out.folder),
                  (std::vector<std::string>{".", "..", "kept.3ds"}));
        if (!thrown) break;
    }
}

}  // namespace

namespace {

// Each allocation of the toolkit in a whole read and a whole write refused in turn (some 100
// of each): the failure is memory running out, naming the file, as for any file (not a toolkit
// code, not a missing or corrupted file), and a refused write leaves the old file as it was.
TEST(Allocation3ds, ARefusedChunkIsOutOfMemoryNamingTheFile) {
    const std::string input = std::string(QOV_TESTDATA_DIR) + "/3ds/test1.3ds";
    TempPath3ds out("oom.3ds");
    Reading3ds source;
    ASSERT_TRUE(source.Read(input)) << source.error;
    const auto refusals = [](const std::function<bool(bool checked)>& run) {
        long step = 1, n = 0;
        for (int runs = 0;; ++runs, n += step) {
            SCOPED_TRACE(n);
            ASSERT_LT(runs, 1000) << "never went through";
            gNoThrowRefuseIn = n;
            const bool ok = run(true);
            const bool refused = gNoThrowRefuseIn.exchange(-1) < 0;
            EXPECT_FALSE(refused && ok);  // never a success without what was refused
            if (!refused) {
                EXPECT_TRUE(ok);
                EXPECT_GT(runs, 10);
                return;
            }
            if (n == 0) {
                gNoThrowRefuseIn = 1L << 40;
                run(false);
                step = std::max(1L, ((1L << 40) - gNoThrowRefuseIn.exchange(-1)) / 100);
            }
        }
    };
    refusals([&](bool checked) {
        KQovObjectManager manager;
        KQovReader3ds reader(&manager);
        std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(false));
        const bool ok = reader.FileOpen(input.c_str()) &&
                        reader.Read(manager.CreateScene(), options.get());
        if (checked && !ok) {
            EXPECT_STREQ(reader.GetLastErrorString(),
                         ("Out of memory while reading " + input).c_str());
        }
        return ok;
    });
    refusals([&](bool checked) {
        std::ofstream(out.path, std::ios::binary) << "old";
        KQovWriter3ds writer(&source.manager);
        std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
        const bool ok = writer.FileCreate(out.path.c_str()) &&
                        writer.Write(source.scene, options.get()) && writer.FileClose();
        if (checked && !ok) {
            EXPECT_STREQ(writer.GetLastErrorString(),
                         ("Out of memory while writing " + out.path).c_str());
            EXPECT_TRUE(Content(out.path) == "old");
        }
        return ok;
    });
}

}  // namespace

namespace {

// Every kind of record with the parts its put writes as chunks of their own.
struct Records3ds {
    Records3ds() {
        camera.name = "Cam";
        light.name = "Spot";
        light.excludes = {"Full"};
        light.spot = std::make_unique<Spotlight3ds>();
        light.spot->localShadowFlag = 1;
        material.name = "Red";
        material.maps[0].name = "wood.tga";
        material.maps[0].data = {1, 2};
        Context3ds ctx;
        ObjectMotion3ds* o = &object;
        InitObjectMotion3ds(ctx, &o, 3, 3, 3, 1, 1);
        object.name = "Full";
        CameraMotion3ds* c = &cameraMotion;
        InitCameraMotion3ds(ctx, &c, 2, 2, 2, 2);
        cameraMotion.name = "Cam";
        SpotlightMotion3ds* s = &spotMotion;
        InitSpotlightMotion3ds(ctx, &s, 2, 2, 2, 2, 2, 2);
        spotMotion.name = "Spot";
    }
    void Put(Context3ds& ctx, Database3ds* db) const {
        PutCamera3ds(ctx, db, &camera);
        PutLight3ds(ctx, db, &light);
        PutMesh3ds(ctx, db, &mesh);
        PutMaterial3ds(ctx, db, &material);
        PutObjectMotion3ds(ctx, db, &object);
        PutCameraMotion3ds(ctx, db, &cameraMotion);
        PutSpotlightMotion3ds(ctx, db, &spotMotion);
    }
    // The first of each kind, released at once.
    template <class Record>
    static void GetFirst(Context3ds& ctx, Database3ds* db,
                         void (*get)(Context3ds&, Database3ds*, size_t, Record**)) {
        Held3ds<Record> record;
        get(ctx, db, 0, record.Slot());
    }
    static void Get(Context3ds& ctx, Database3ds* db) {
        GetFirst(ctx, db, GetCameraByIndex3ds);
        GetFirst(ctx, db, GetSpotlightByIndex3ds);
        GetFirst(ctx, db, GetMeshByIndex3ds);
        GetFirst(ctx, db, GetMaterialByIndex3ds);
        GetFirst(ctx, db, GetObjectMotionByIndex3ds);
        GetFirst(ctx, db, GetCameraMotionByIndex3ds);
        GetFirst(ctx, db, GetSpotlightMotionByIndex3ds);
    }
    Camera3ds camera;
    Light3ds light;
    Mesh3ds mesh = FullMesh();
    Material3ds material;
    ObjectMotion3ds object;
    CameraMotion3ds cameraMotion;
    SpotlightMotion3ds spotMotion;
};

}  // namespace

// Each allocation of the puts and gets refused in turn as the throwing heap refuses it: the
// operation ends with memory running out (thrown, or the toolkit's error), and the records,
// chunks and copies it had made are freed on the way out: LeakSanitizer finds nothing left.
TEST(Allocation3ds, ARefusalThrownLeavesNoRecordOrChunk) {
    const Records3ds records;
    for (const bool get : {false, true}) {
        SCOPED_TRACE(get ? "get" : "put");
        for (long n = 0;; ++n) {
            ASSERT_LT(n, 5000) << "never went through";
            Context3ds ctx;
            Database3ds* db = nullptr;
            InitDatabase3ds(ctx, &db);
            CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
            if (get) records.Put(ctx, db);
            ASSERT_FALSE(ctx.ErrorPending());
            bool thrown = false;
            gThrowIn = n;
            try {
                get ? Records3ds::Get(ctx, db) : records.Put(ctx, db);
            } catch (const std::bad_alloc&) {
                thrown = true;
            }
            const bool refused = gThrowIn.exchange(-1) < 0;
            if (refused) {
                EXPECT_TRUE(thrown || Pending(ctx, ERR_NO_MEM)) << n;
            }
            ReleaseDatabase3ds(ctx, &db);
            if (!refused) break;
        }
    }
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}
