#include <gtest/gtest.h>

#include <vector>

#include "attributes/KQovGeometry.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovPatch.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "scene/KPlug.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"

namespace {

// A node with a quad mesh or a 4 × 4 patch, one shape and two links, all made by the manager.
KQovNode* LinkedSurfaceNode(KQovObjectManager& m, bool patch) {
    KQovNode* node = m.CreateNode(patch ? "Patch" : "Quad");
    KQovGeometry* geometry = nullptr;
    const int count = patch ? 16 : 4;
    if (patch) {
        KQovPatch* p = m.CreatePatch();
        p->InitControlPoints(4, KQovPatch::eBSpline, 4, KQovPatch::eBSpline);
        p->SetStep(1, 1);
        geometry = p;
    } else {
        KQovMesh* mesh = m.CreateMesh();
        mesh->InitControlPoints(count);
        mesh->BeginPolygon(-1, -1, -1);
        for (int i = 0; i < count; ++i) mesh->AddPolygonVertex(i, -1);
        geometry = mesh;
    }
    for (int i = 0; i < count; ++i)
        geometry->GetControlPoints().SetAt(i, KVector4(i % 4, i / 4, 0, 1));
    KQovShape* shape = m.CreateShape();
    shape->InitControlPoints(count);
    EXPECT_EQ(geometry->AddShape(shape, "Smile"), 0);
    for (int l = 0; l < 2; ++l) {
        KQovLink* link = m.CreateLink();
        link->SetLink(node);
        link->AddControlPointIndex(l, 1.0);
        geometry->AddLink(link);
    }
    node->SetNodeAttribute(geometry);
    return node;
}

TEST(KQovGeometryOwnership, ConvertedNodesLeaveNothingBehind) {
    for (const bool patch : {false, true}) {
        SCOPED_TRACE(patch);
        const int plugsBefore = KPlug::GetLivePlugCount();
        {
            KQovObjectManager m;
            KQovGeometryConverter* converter = m.CreateGeometryConverter();
            KQovNode* node = LinkedSurfaceNode(m, patch);
            KQovGeometry* old = node->GetGeometry();
            ASSERT_TRUE(converter->ConvertToMesh(node));
            KQovMesh* mesh = node->GetMesh();
            ASSERT_TRUE(mesh && mesh != old);
            EXPECT_EQ(mesh->GetShapeCount(), 1);
            EXPECT_EQ(mesh->GetLinkCount(), 2);
            // The new mesh, its shape and its links are the manager's.
            KQovShape* shape = mesh->GetShape(0);
            KQovLink* link = mesh->GetLink(0);
            ASSERT_TRUE(converter->ConvertToMesh(node));  // converting again replaces them
            EXPECT_FALSE(m.DestroyShape(shape));
            EXPECT_FALSE(m.DestroyLink(link));
            m.DestroyAll();
            EXPECT_EQ(m.GetNodeCount(), 0);
        }
        EXPECT_EQ(KPlug::GetLivePlugCount(), plugsBefore);
    }
}

TEST(KQovGeometryOwnership, ConvertedMeshIsListedByTheManager) {
    KQovObjectManager m;
    KQovNode* node = LinkedSurfaceNode(m, false);
    ASSERT_TRUE(m.CreateGeometryConverter()->ConvertToMesh(node));
    KQovMesh* mesh = node->GetMesh();
    KQovLink* link = mesh->GetLink(1);
    EXPECT_TRUE(m.DestroyNodeAttribute(mesh));
    EXPECT_EQ(node->GetNodeAttribute(), nullptr);
    EXPECT_FALSE(m.DestroyLink(link));  // went with its geometry
}

// Links that count themselves as they come and go.
struct CountedLink : KQovLink {
    static int sLive;
    CountedLink() { ++sLive; }
    ~CountedLink() override { --sLive; }
};
int CountedLink::sLive = 0;

class CountingManager : public KQovObjectManager {
protected:
    KQovLink* ConstructLink() override { return new CountedLink(); }
};

// Which of geometry and manager goes first: each link and shape is freed once (the sanitiser
// reports a second free or a leak). A freed object is never asked about by its address: a
// later allocation may take it.
TEST(KQovGeometryOwnership, LinksAndShapesGoOnceWhicheverOwnerGoesFirst) {
    enum { kGeometryFirst, kDestroyAll, kManagerOnly, kCopyOver, kRemovedLinks };
    for (int order : {kGeometryFirst, kDestroyAll, kManagerOnly, kCopyOver, kRemovedLinks}) {
        SCOPED_TRACE(order);
        ASSERT_EQ(CountedLink::sLive, 0);
        CountingManager m;
        KQovMesh* mesh = m.CreateMesh();
        KQovLink* link = m.CreateLink();
        KQovShape* shape = m.CreateShape();
        ASSERT_EQ(mesh->AddLink(link), 0);
        ASSERT_EQ(mesh->AddShape(shape, "Smile"), 0);
        switch (order) {
            case kGeometryFirst:
                EXPECT_TRUE(m.DestroyNodeAttribute(mesh));
                EXPECT_EQ(CountedLink::sLive, 0);
                // Nothing was made since: no listed object can have these addresses.
                EXPECT_FALSE(m.DestroyLink(link));
                EXPECT_FALSE(m.DestroyShape(shape));
                break;
            case kDestroyAll:
                m.DestroyAll();
                EXPECT_EQ(CountedLink::sLive, 0);
                EXPECT_FALSE(m.DestroyNodeAttribute(mesh));
                break;
            case kCopyOver: {
                KQovMesh* source = m.CreateMesh();
                link->AddControlPointIndex(7, 1.0);
                source->AddLink(m.CreateLink());
                ASSERT_EQ(CountedLink::sLive, 2);
                mesh->Copy(*source);
                ASSERT_EQ(mesh->GetLinkCount(), 1);
                EXPECT_EQ(mesh->GetShapeCount(), 0);
                // The mesh's own link went and a copy of the source's took its place (maybe at
                // the same address).
                EXPECT_EQ(CountedLink::sLive, 2);
                EXPECT_NE(mesh->GetLink(0), source->GetLink(0));
                EXPECT_EQ(mesh->GetLink(0)->GetControlPointIndicesCount(), 0);
                break;
            }
            case kRemovedLinks: {
                const std::vector<KQovLink*> removed = mesh->RemoveAllLinks();
                ASSERT_EQ(removed.size(), 1u);
                EXPECT_EQ(mesh->GetLinkCount(), 0);
                EXPECT_TRUE(m.DestroyLink(removed[0]));  // still listed: the manager's to free
                break;
            }
            default:
                break;  // the manager's destructor takes everything
        }
    }
    EXPECT_EQ(CountedLink::sLive, 0);
}

TEST(KQovGeometryOwnership, GeometryWithoutManagerOwnsWhatItHolds) {
    KQovObjectManager m;
    auto* mesh = new KQovMesh(nullptr);
    mesh->AddLink(new KQovLink());
    mesh->AddShape(new KQovShape(nullptr), "Own");
    KQovMesh copy(nullptr);
    copy.Copy(*mesh);
    delete mesh;
    ASSERT_EQ(copy.GetLinkCount(), 1);
    ASSERT_EQ(copy.GetShapeCount(), 1);
    // A geometry of a manager also frees links it was given that the manager does not list.
    KQovMesh* listed = m.CreateMesh();
    listed->AddLink(new KQovLink());
    listed->AddShape(new KQovShape(&m), "Own");
    EXPECT_TRUE(m.DestroyNodeAttribute(listed));
}

}  // namespace
