#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterUnroll.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "scene/KDataType.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KPlugHandlePool.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

// The heap of this test program can be told to refuse its n-th allocation from now.
namespace {
std::atomic<long> gRefuseIn{-1};  // allocations until the refused one; -1: none refused
std::atomic<bool> gRefuseAll{false};
void* Take(std::size_t size) {
    if (gRefuseAll.load()) return nullptr;
    if (gRefuseIn.load() >= 0 && gRefuseIn.fetch_sub(1) == 0) return nullptr;
    return std::malloc(size ? size : 1);
}
void* TakeOrThrow(std::size_t size) {
    if (void* p = Take(size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return TakeOrThrow(size);
}
void* operator new[](std::size_t size) {
    return TakeOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Take(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Take(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// What a refused allocation leaves unfreed on the way out is not what the tests below check
// (bad accesses and escaping exceptions are).
struct LeaksNotChecked {
#if defined(__SANITIZE_ADDRESS__)
    LeaksNotChecked() {
        __lsan_disable();
    }
    ~LeaksNotChecked() {
        __lsan_enable();
    }
#endif
};

struct DocumentedRow {
    const char* name;
    const char* kind;
    bool animatable;
    const char* dataType;
    std::initializer_list<double> value;
};

const DocumentedRow kDocumented[] = {
#include "attributes/CameraPropertyRows.inc"
};

int TypeCodeOf(const std::string& kind) {
    if (kind == "bool") return KProperty::eBOOL;
    if (kind == "double") return KProperty::eDOUBLE;
    if (kind == "enum") return KProperty::eENUM;
    if (kind == "int") return KProperty::eINT;
    if (kind == "ColorRGB") return KProperty::eCOLORRGB;
    return -1;
}

TEST(KQovCameraProperties, ListMatchesTheDocumentedTableAfterAReset) {
    KQovCamera camera(nullptr);
    KQovCameraProperties* set = camera.GetCameraProperties();
    ASSERT_EQ(set->GetPropertyCount(), 65);
    ASSERT_EQ(std::size(kDocumented), 65u);
    int animatable = 0;
    for (int i = 0; i < 65; ++i) {
        const DocumentedRow& row = kDocumented[i];
        KProperty* p = set->GetProperty(i);
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(p->GetName(), row.name);
        EXPECT_EQ(p->GetTypeCode(), TypeCodeOf(row.kind));
        // Flags 2 and 8 together on exactly the animatable rows.
        EXPECT_EQ(p->IsAnimatable(), row.animatable);
        EXPECT_EQ(p->GetUserFlags(), row.animatable ? 8u : 0u);
        if (*row.dataType) {
            ASSERT_NE(p->GetDataType(), nullptr);
            EXPECT_STREQ(p->GetDataType()->GetName(), row.dataType);
        }
        animatable += p->IsAnimatable();
        double values[4] = {};
        ASSERT_EQ(KQovGetPropertyNumbers(p, values), int(row.value.size()));
        int c = 0;
        for (double expected : row.value) EXPECT_DOUBLE_EQ(values[c++], expected);
    }
    EXPECT_EQ(animatable, 12);
    EXPECT_STREQ(set->GetClassName(), "KQovCameraProperties");
    EXPECT_TRUE(set->IsA(KObject::ClassId()));
}

TEST(KQovCameraProperties, EnumLabelsEndWhereTheirListsEnd) {
    KQovCamera camera(nullptr);
    // Each enum's last label; the value after it has none.
    const std::pair<const char*, const char*> lasts[] = {
        {"ResolutionMode", "Fixed Height Resolution"},
        {"ApertureMode", "Vertical"},
        {"CameraFormat", "Full Screen"},
        {"FilmFormatIndex", "Imax"},
        {"ViewFrustumBackPlaneMode", "When Media"},
        {"BackPlaneDistanceMode", "Relative to Camera"},
        {"BackgroundMode", "Background & Forground"},
        {"SafeAreaDisplayStyle", "Square Safe Area"},
        {"CameraProjectionType", "Orthographic"},
        {"FocusSource", "Specific Distance"}};
    const int lastValue[] = {4, 2, 10, 11, 2, 1, 2, 1, 1, 1};
    for (size_t i = 0; i < std::size(lasts); ++i) {
        KProperty* p = camera.GetCameraProperties()->FindProperty(lasts[i].first);
        ASSERT_NE(p, nullptr) << lasts[i].first;
        EXPECT_STREQ(p->GetEnumName(lastValue[i]), lasts[i].second);
        EXPECT_EQ(p->GetEnumName(lastValue[i] + 1), nullptr) << lasts[i].first;
        EXPECT_EQ(p->GetEnumName(-1), nullptr) << lasts[i].first;
    }
    KProperty* format = camera.GetCameraProperties()->FindProperty("CameraFormat");
    EXPECT_STREQ(format->GetEnumName(8), "320x240");
    EXPECT_EQ(format->GetEnumName(9), nullptr);
}

}  // namespace

// Each allocation of making a camera, a texture and a material (their property sets above all)
// refused in turn: the failure reaches the caller whole, nothing half-built is taken apart (the
// sanitizers see no bad access and no leak), and the manager goes on making objects.
TEST(KQovCameraProperties, EachRefusedAllocationOfASetLeavesNothingHalfBuilt) {
    for (const std::string kind : {"camera", "texture", "material"}) {
        long n = 0;
        for (;; ++n) {
            SCOPED_TRACE(kind + ", allocation " + std::to_string(n));
            KQovObjectManager manager;
            auto make = [&]() -> void* {
                if (kind == "texture") return manager.CreateTexture("t");
                if (kind == "material") return manager.CreateMaterial("m");
                return manager.CreateCamera();
            };
            void* made = nullptr;
            gRefuseIn = n;
            try {
                made = make();
            } catch (const std::bad_alloc&) {
            }
            if (gRefuseIn.exchange(-1) >= 0) {
                ASSERT_NE(made, nullptr);  // past the last allocation
                break;
            }
            EXPECT_NE(make(), nullptr);
        }
        EXPECT_GT(n, 20);
    }
}

// A scene read and written (meshes, materials, textures, and the videos a QOV write makes and
// drops) and a skeleton's take, then taken apart with every allocation refused: teardown allocates nothing, so a
// program that ran out of memory still gets its objects destroyed, never std::terminate.
TEST(KQovCameraProperties, TeardownAllocatesNothing) {
    const std::string input = std::string(QOV_TESTDATA_DIR) + "/obj/spider.obj";
    ASSERT_TRUE(std::ifstream(input).good()) << "the OBJ test data is missing: " << input;
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    auto manager = std::make_unique<KQovObjectManager>();
    KQovScene* scene = manager->CreateScene();
    KQovImporter* importer = manager->CreateImporter();
    ASSERT_TRUE(importer->Initialize(input.c_str()));
    ASSERT_TRUE(importer->Import(scene, nullptr)) << importer->GetLastErrorString();
    KQovExporter* exporter = manager->CreateExporter();
    ASSERT_TRUE(exporter->Initialize((out / "spider.qov").c_str()));
    ASSERT_TRUE(exporter->Export(scene, nullptr)) << exporter->GetLastErrorString();
    ASSERT_GT(manager->GetMaterialCount(), 0);
    // A skeleton with its take beside it.
    const std::string motion = std::string(QOV_TESTDATA_DIR) + "/bvh/sinusoidal.bvh";
    KQovImporter* motionImporter = manager->CreateImporter();
    ASSERT_TRUE(motionImporter->Initialize(motion.c_str())) << "missing: " << motion;
    ASSERT_TRUE(motionImporter->Import(manager->CreateScene(), nullptr));
    gRefuseAll = true;
    manager.reset();
    gRefuseAll = false;
}

// A camera on a node links its channels' curves to its properties: each allocation refused in
// turn, no link is left that its curve was not told of (it would be read after the curve
// goes, as the manager goes).
TEST(KQovCameraProperties, ALinkedCameraOutOfMemoryLeavesNoLinkToAGoneCurve) {
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        LeaksNotChecked leaks;
        KQovObjectManager manager;
        KQovNode* node = manager.CreateNode("n");
        KQovCamera* camera = manager.CreateCamera();
        gRefuseIn = n;
        try {
            node->SetNodeAttribute(camera);
        } catch (const std::bad_alloc&) {
        }
        if (gRefuseIn.exchange(-1) >= 0) break;
    }
    EXPECT_GT(n, 20);
}

// The unroll filter lends the caller's three rotation curves to a node of its own: each
// allocation refused in turn, the curves come back to the caller (the node would
// otherwise delete them, and a motion read that ran out of memory took its scene apart by
// reading freed curves).
TEST(KQovCameraProperties, AnUnrollOutOfMemoryLeavesTheCurvesToTheirOwner) {
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        std::unique_ptr<KFCurve> curves[3];
        KFCurve* lent[3];
        for (int i = 0; i < 3; ++i) {
            curves[i].reset(KFCurve::Create());
            for (int k = 0; k < 4; ++k)
                curves[i]->KeyAppendFast(KTime(k) * 1000, float(170 * k * (i + 1)));
            lent[i] = curves[i].get();
        }
        KFCurveFilterUnroll filter;
        LeaksNotChecked leaks;
        gRefuseIn = n;
        try {
            filter.Apply(lent, 3);
        } catch (const std::bad_alloc&) {
        }
        const bool done = gRefuseIn.exchange(-1) >= 0;
        for (auto& curve : curves) {
            // Still the caller's to read and delete (a refused filter may have emptied it).
            const int keys = curve->KeyGetCount();
            if (done) {
                EXPECT_EQ(keys, 4);
            }
        }
        if (done) break;
    }
    EXPECT_GT(n, 3);
}

// Making the writer and its file is part of the export: each allocation of a QOV export
// refused in turn, Export says "Out of memory" through the exporter's error, never throws.
TEST(KQovCameraProperties, AnExportOutOfMemoryIsTheExportersError) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    scene->GetRootNode()->AddChild(manager.CreateNode("n"));
    long n = 0;
    for (;; n += 1 + n / 64) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        KQovExporter exporter(&manager);
        ASSERT_TRUE(exporter.Initialize((out / "o.qov").c_str()));
        bool ok = false;
        LeaksNotChecked leaks;
        gRefuseIn = n;
        EXPECT_NO_THROW(ok = exporter.Export(scene, nullptr));
        const bool done = gRefuseIn.exchange(-1) >= 0;
        if (!ok) {
            EXPECT_NE(std::strstr(exporter.GetLastErrorString(), "Out of memory"), nullptr)
                << exporter.GetLastErrorString();
        }
        if (done) {
            EXPECT_TRUE(ok);
            break;
        }
    }
    EXPECT_GT(n, 20);
}

// Every plug takes a handle slot; a new block of slots is listed beside the others. Slots taken
// until the list of blocks itself must grow, and that growth refused: the next plug still gets
// a slot (the free list did point into the block freed as the refusal left, SIGSEGV).
TEST(KQovCameraProperties, APlugSlotBlockThatCannotBeListedLeavesThePoolWhole) {
    KPlugHandlePool::AddRef();
    std::vector<KPlugHandle*> taken;
    int object = 0;
    KPlug* owner = reinterpret_cast<KPlug*>(&object);
    bool refused = false;
    for (int i = 0; i < 1 << 22 && !refused; ++i) {
        KPlugHandle* handle = nullptr;
        gRefuseIn = 1;  // a new block is taken; only the list's growth is refused
        try {
            handle = KPlugHandlePool::Acquire(owner, 7);
        } catch (const std::bad_alloc&) {
            refused = true;
        }
        gRefuseIn = -1;
        if (handle) taken.push_back(handle);
    }
    EXPECT_TRUE(refused);
    KPlugHandle* next = KPlugHandlePool::Acquire(owner, 7);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->serial, 7u);
    taken.push_back(next);
    for (KPlugHandle*& handle : taken) KPlugHandlePool::Release(owner, handle);
    KPlugHandlePool::Release();
}

// Out of memory at each allocation of linking a node or attaching its mesh: the mesh counts its
// uses where its node is, or the call throws and the node holds it nowhere.
TEST(KQovShadingScene, JoiningOutOfMemoryLeavesNoUncountedMesh) {
    for (const bool link : {true, false})
        for (long at = 0;; ++at) {
            KQovObjectManager manager;
            KQovEntityContainer* into = manager.CreateScene()->GetEntityContainer();
            KQovNode* node = manager.CreateNode("n");
            KQovMesh* mesh = manager.CreateMesh();
            mesh->AddMaterial(manager.CreateMaterial("m"), 0);
            mesh->AddTexture(manager.CreateTexture("t"), 1);
            if (link) node->SetNodeAttribute(mesh);
            if (!link) into->GetRootNode()->AddChild(node);
            bool threw = false;
            gRefuseIn = at;
            try {
                if (link) into->GetRootNode()->AddChild(node);
                if (!link) node->SetNodeAttribute(mesh);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            gRefuseIn = -1;
            ASSERT_EQ(mesh->GetScene(), mesh->GetNode() ? node->GetEntityContainer() : nullptr) << at;
            EXPECT_EQ(into->GetMaterialCount(), mesh->GetScene() ? 1 : 0) << at;
            if (!threw) break;
        }
}
