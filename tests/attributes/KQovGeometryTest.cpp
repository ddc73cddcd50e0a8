#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ShadingDoubles.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"

namespace {

using namespace attributes_test;

KFCurveNode* Channel(KQovNode& node, int take, const char* name) {
    KFCurveNode* root = node.GetTakeNode(take)->GetRoot();
    const int i = root->FindIndexByName(name);
    return i < 0 ? nullptr : root->Get(i);
}

TEST(KQovGeometry, ShapesOnANodeWithTwoTakes) {
    KQovNode node(nullptr, "Model::Face");
    node.AddTakeNode("Walk");
    auto* mesh = new KQovMesh(nullptr);
    node.SetNodeAttribute(mesh);
    for (int i = 0; i < 21; ++i) {
        const std::string name = i == 0 ? "Smile" : "S" + std::to_string(i);
        ASSERT_EQ(mesh->AddShape(new KQovShape(nullptr), name.c_str()), i);
    }
    KProperty* smile = node.GetNodeProperties()->FindProperty("Smile");
    ASSERT_NE(smile, nullptr);
    EXPECT_TRUE(smile->IsAnimatable());
    EXPECT_EQ(smile->GetUserFlags() & 8u, 8u);
    struct Row {
        const char* name;
        float r, g, b;
    };
    for (const Row& row : {Row{"Smile", 1, 0, 0}, Row{"S1", 0, 1, 0}, Row{"S20", 1, 0, 0}}) {
        for (int take = 0; take < 2; ++take) {
            KFCurveNode* channel = Channel(node, take, row.name);
            ASSERT_TRUE(channel && channel->GetCurve()) << row.name << take;
            const float* color = channel->GetCurve()->GetColor();
            EXPECT_EQ(color[0], row.r) << row.name;
            EXPECT_EQ(color[1], row.g) << row.name;
            EXPECT_EQ(color[2], row.b) << row.name;
        }
    }
    Channel(node, 0, "S1")->GetCurve()->SetValue(0.75f);
    EXPECT_DOUBLE_EQ(mesh->GetDefaultShapeChannelValue(1), 0.75);
    // Detaching removes the channels from every take.
    node.SetNodeAttribute(nullptr);
    EXPECT_EQ(Channel(node, 1, "Smile"), nullptr);
    delete mesh;
}

// Each shape has a channel of its own under the take's root: a name that a channel of the node
// (or another shape's, letter case aside) holds is refused, or renamed with a warning.
TEST(KQovGeometry, EachShapeHasAChannelOfItsOwn) {
    KQovNode node(nullptr, "Model::Face");
    auto* mesh = new KQovMesh(nullptr);
    // Attached with a shape the node's visibility channel names: renamed, told.
    ASSERT_EQ(mesh->AddShape(new KQovShape(nullptr), "visibility"), 0);
    node.SetNodeAttribute(mesh);
    EXPECT_STREQ(mesh->GetShapeName(0), "visibility 1");
    EXPECT_NE(mesh->TakeShapeWarnings().Find("\"visibility\" is named \"visibility 1\""), -1);
    EXPECT_TRUE(mesh->TakeShapeWarnings().IsEmpty());
    KQovShape refused(nullptr);
    for (const char* taken : {"Visibility", "Transform", "Lcl Rotation", "VISIBILITY 1"}) {
        EXPECT_EQ(mesh->AddShape(&refused, taken), -1) << taken;
        EXPECT_EQ(mesh->GetError().GetErrorCode(), KQovGeometry::eShapeNameUsed) << taken;
    }
    // Names a path or a deeper channel would find: the shape's own channel all the same.
    struct Row {
        const char* name;
        const char* given;
    };
    for (const Row& row : {Row{"X", "X"}, Row{"a/b", "a/b"}, Row{"x", "x 1"}, Row{"", "Shape"},
                           Row{"Transform", "Transform 1"}}) {
        const int index = mesh->AddShapeRenaming(new KQovShape(nullptr), row.name);
        ASSERT_GE(index, 0) << row.name;
        EXPECT_STREQ(mesh->GetShapeName(index), row.given);
        EXPECT_EQ(mesh->TakeShapeWarnings().IsEmpty(), std::strcmp(row.name, row.given) == 0);
        KFCurve* curve = mesh->GetShapeChannel(node.GetDefaultTakeNode(), index);
        ASSERT_EQ(curve, Channel(node, 0, row.given)->GetCurve()) << row.name;
        curve->SetValue(float(index));
        EXPECT_DOUBLE_EQ(mesh->GetDefaultShapeChannelValue(index), double(index));
    }
    KFCurve* t[3];
    KFCurve* r[3];
    KFCurve* s[3];
    ASSERT_TRUE(node.GetDefaultTakeNode()->GetRoot()->GetTransformCurves(t, r, s));
    EXPECT_NE(t[0], mesh->GetShapeChannel(node.GetDefaultTakeNode(), 1));
    node.SetNodeAttribute(nullptr);
    delete mesh;
}

// A pivot-set conversion moves the points out of the source geometric transform
// (turned, then shifted) and back out of the target's; the hierarchy pass only
// shifts the pivot.
TEST(KQovGeometry, PivotConversionMovesThePoints) {
    struct Row {
        bool inHierarchy;
        double x, y, z;  // the point (1, 0, 0) afterwards
        double tx, ty, tz;  // the pivot's translation afterwards
    };
    for (const Row& row : {Row{false, 1, -1, 0, 1, -2, 0}, Row{true, 1, 0, 0, 0, 0, 4}}) {
        KQovNode node(nullptr, "Model::Box");
        KQovMesh mesh(nullptr);
        node.SetNodeAttribute(&mesh);
        mesh.InitControlPoints(1);
        mesh.GetControlPoints().GetArray()[0] = KVector4(1, 0, 0, 1);
        node.SetPivotState(0, 0);
        node.SetGeometricTranslation(0, 1, 0, 0);
        node.SetGeometricRotation(0, 0, 0, 90);
        node.SetRotationPivot(0, 0, 0, -8);
        node.SetLocalScaling(1, 1, 2);
        node.SetPivotState(1, 0);
        node.SetGeometricTranslation(1, 0, 2, 0);
        if (row.inHierarchy) {
            node.ConvertPivotAnimationInHierarchy(1, 30.0, false);
        } else {
            node.ConvertPivotAnimation(1, 30.0, false);
        }
        const KVector4& p = mesh.GetControlPoints().GetArray()[0];
        const KVector4 t = mesh.GetPivot().GetT();
        const double got[6] = {p[0], p[1], p[2], t[0], t[1], t[2]};
        const double want[6] = {row.x, row.y, row.z, row.tx, row.ty, row.tz};
        for (int i = 0; i < 6; ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << row.inHierarchy << i;
        node.SetNodeAttribute(nullptr);
    }
}

// Many shapes of one name are numbered in turn; a number freed by a shape that left is given
// again.
TEST(KQovGeometry, ShapesOfOneNameAreNumbered) {
    KQovObjectManager manager;
    KQovMesh* mesh = manager.CreateMesh();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(mesh->AddShapeRenaming(manager.CreateShape(), "s"), i);
    EXPECT_STREQ(mesh->GetShapeName(19), "s 19");
    ASSERT_TRUE(manager.DestroyShape(mesh->GetShape(3)));
    ASSERT_EQ(mesh->AddShapeRenaming(manager.CreateShape(), "S"), 19);
    EXPECT_STREQ(mesh->GetShapeName(19), "S 3");
    ASSERT_EQ(mesh->AddShapeRenaming(manager.CreateShape(), "s"), 20);
    EXPECT_STREQ(mesh->GetShapeName(20), "s 20");
}

// Shape names set aside before the shapes are added: a renamed shape never takes a name a
// later shape has, letter case aside; an empty name gives way too.
TEST(KQovGeometry, ShapeNamesSetAsideKeepTheirOwn) {
    KQovObjectManager manager;
    KQovMesh* mesh = manager.CreateMesh();
    const char* const names[] = {"Smile", "smile", "Smile 1", "", "Shape", "Shape 1"};
    for (const char* name : names) mesh->SetShapeNameAside(name);
    for (const char* name : names) ASSERT_GE(mesh->AddShapeRenaming(manager.CreateShape(), name), 0);
    mesh->ForgetShapeNamesAside();
    const char* const given[] = {"Smile", "smile 2", "Smile 1", "Shape 2", "Shape", "Shape 1"};
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(mesh->GetShapeName(i), given[i]) << i;
    // The warnings name the old and the new name.
    const std::string warnings = mesh->TakeShapeWarnings().Buffer();
    EXPECT_NE(warnings.find("\"smile\""), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("\"smile 2\""), std::string::npos) << warnings;
}

TEST(KQovGeometry, AddShapeErrorsChangeNothing) {
    KQovMesh mesh(nullptr);
    auto* smile = new KQovShape(nullptr);
    ASSERT_EQ(mesh.AddShape(smile, "Smile"), 0);
    KQovShape other(nullptr);
    struct Row {
        KQovShape* shape;
        const char* name;
        int error;
    };
    for (const Row& row : {Row{nullptr, "X", KQovGeometry::eParameterIsNull},
                           Row{smile, "Other", KQovGeometry::eShapeAlreadyAdded},
                           Row{&other, "   ", KQovGeometry::eShapeNameInvalid},
                           Row{&other, nullptr, KQovGeometry::eShapeNameInvalid},
                           Row{&other, "Smile", KQovGeometry::eShapeNameUsed},
                           Row{&other, "sMILE", KQovGeometry::eShapeNameUsed}}) {
        EXPECT_EQ(mesh.AddShape(row.shape, row.name), -1) << row.error;
        EXPECT_EQ(mesh.GetError().GetErrorCode(), row.error);
        EXPECT_EQ(mesh.GetShapeCount(), 1);
    }
    EXPECT_EQ(mesh.GetShapeName(5), nullptr);
    EXPECT_EQ(mesh.GetError().GetErrorCode(), KQovGeometry::eParameterOutOfRange);
    EXPECT_EQ(mesh.GetShapeChannel(nullptr, 0), nullptr);
    EXPECT_EQ(mesh.GetError().GetErrorCode(), KQovGeometry::eNoShapeCurve);
}

TEST(KQovGeometry, ChannelNames) {
    struct Row {
        const char* in;
        const char* out;
    };
    for (const Row& row : {Row{"Smile  ", "Smile (Shape)"}, Row{"Smile (Shape)", "Smile (Shape)"},
                           Row{"", " (Shape)"}})
        EXPECT_STREQ(KQovGeometry::MakeShapeChannelName(row.in).Buffer(), row.out) << row.in;
    EXPECT_STREQ(KQovGeometry::MakeDefaultShapeChannelName(0).Buffer(), "Shape 01 (Shape)");
    EXPECT_STREQ(KQovGeometry::MakeDefaultShapeChannelName(11).Buffer(), "Shape 12 (Shape)");
    EXPECT_STREQ(KQovGeometry::MakeDefaultShapeChannelName(-1).Buffer(), "");
}

// Version-5 renaming over three takes, then restoring, leaves names and channels as before: the
// very channels, in their places. A shape destroyed in between leaves with its channels; one
// added keeps its own, and a take removed in between takes its channels with it.
TEST(KQovGeometry, Version5RenameAndRestoreOverThreeTakes) {
    struct Row {
        bool nurb;
        const char* written;
        const char* channel;
        bool destroyA;
        const char* between;  // "add": a shape added; "remove": the last take removed
    };
    for (const Row& row : {Row{true, "Shape 03", "Shape 03 (Shape)", false, ""},
                           Row{false, "Blink", "Blink (Shape)", false, ""},
                           Row{false, "Blink", "Blink (Shape)", true, ""},
                           Row{false, "Blink", "Blink (Shape)", true, "add"},
                           Row{true, "Shape 03", "Shape 03 (Shape)", false, "remove"}}) {
        const std::string between = row.between;
        KQovNode node(nullptr, "Model::Lid");
        node.AddTakeNode("Walk");
        node.AddTakeNode("Run");
        KQovGeometry* g = row.nurb ? static_cast<KQovGeometry*>(new KQovNurb(nullptr))
                                   : static_cast<KQovGeometry*>(new KQovMesh(nullptr));
        node.SetNodeAttribute(g);
        for (const char* name : {"A", "B", "Blink"}) g->AddShape(new KQovShape(nullptr), name);
        std::vector<const KFCurveNode*> blinks;
        for (int take = 0; take < 3; ++take) {
            Channel(node, take, "Blink")->GetCurve()->SetValue(float(take));
            blinks.push_back(Channel(node, take, "Blink"));
        }
        const int blinkAt = node.GetTakeNode(1)->GetRoot()->FindIndexByName("Blink");
        g->ClearSavedShapeNames();
        for (int take = 0; take < 3; ++take) g->RenameShapeChannelsForVersion5(node.GetTakeNode(take));
        EXPECT_STREQ(g->GetShapeName(2), row.written);
        for (int take = 0; take < 3; ++take) {
            ASSERT_NE(Channel(node, take, row.channel), nullptr) << take;
            EXPECT_EQ(Channel(node, take, "Blink"), nullptr);
        }
        if (row.destroyA) delete g->GetShape(0);
        if (between == "add") g->AddShape(new KQovShape(nullptr), "Late");
        if (between == "remove") node.RemoveTakeNode(2);
        g->RestoreShapeChannels();
        g->ClearSavedShapeNames();
        const int blink = row.destroyA ? 1 : 2;
        ASSERT_EQ(g->GetShapeCount(), (row.destroyA ? 2 : 3) + (between == "add"));
        ASSERT_EQ(node.GetTakeNodeCount(), between == "remove" ? 2 : 3);
        EXPECT_STREQ(g->GetShapeName(blink), "Blink");
        EXPECT_EQ(node.GetTakeNode(1)->GetRoot()->FindIndexByName("Blink"), blinkAt - row.destroyA);
        for (int take = 0; take < node.GetTakeNodeCount(); ++take) {
            KFCurveNode* channel = Channel(node, take, "Blink");
            ASSERT_TRUE(channel && channel->GetCurve()) << take;
            EXPECT_EQ(channel, blinks[size_t(take)]);
            EXPECT_EQ(channel->GetCurve()->GetValue(), float(take));
            EXPECT_EQ(Channel(node, take, row.channel), nullptr);
            EXPECT_EQ(Channel(node, take, "A") == nullptr, row.destroyA);
            EXPECT_NE(Channel(node, take, "B"), nullptr);
            EXPECT_EQ(Channel(node, take, "Late") != nullptr, between == "add");
        }
        node.SetNodeAttribute(nullptr);
        delete g;
    }
}

TEST(KQovGeometry, ConvertsOlderChannelNames) {
    KQovNode node(nullptr, "Model::Lid");
    KQovNurb nurb(nullptr);
    node.SetNodeAttribute(&nurb);
    nurb.AddShape(new KQovShape(nullptr), "Blink");
    KFCurveNode* old = node.GetTakeNode(0)->GetRoot()->FindOrCreateChild("Shape 01 (Shape)", true);
    old->GetCurve()->SetValue(0.5f);
    nurb.ConvertShapeChannels(node.GetTakeNode(0));
    EXPECT_EQ(Channel(node, 0, "Shape 01 (Shape)"), nullptr);
    EXPECT_EQ(Channel(node, 0, "Blink")->GetCurve()->GetValue(), 0.5f);
    node.SetNodeAttribute(nullptr);
}

TEST(KQovGeometry, NodeSceneRegistersGeometryAndShapeLayers) {
    ShadingWorld world;
    KQovEntityContainer* scene = world.NewScene();
    KQovMaterial* m = world.Material("m");
    KQovTexture* t = world.Texture("t");
    KQovNode* node = world.NodeOf(scene, "A");
    KQovMesh mesh(nullptr);
    mesh.AddMaterial(m, 0);
    auto* shape = new KQovShape(nullptr);
    shape->AddTexture(t, 0);
    mesh.AddShape(shape, "S");
    node->SetNodeAttribute(&mesh);
    EXPECT_EQ(Uses(scene, m), 1);
    EXPECT_EQ(Uses(scene, t), 1);
    KQovMesh copy(nullptr);
    KQovNode* other = world.NodeOf(scene, "B");
    other->SetNodeAttribute(&copy);
    copy.Copy(mesh);
    EXPECT_EQ(Uses(scene, m), 2);
    EXPECT_EQ(Uses(scene, t), 2);
    node->SetNodeAttribute(nullptr);
    other->SetNodeAttribute(nullptr);
    EXPECT_EQ(Uses(scene, m), 0);
    EXPECT_EQ(Uses(scene, t), 0);
}

TEST(KQovGeometry, CopyTakesLinksShapesPivotNotPoints) {
    KQovMesh source(nullptr);
    source.InitControlPoints(8);
    auto* link = new KQovLink();
    link->AddControlPointIndex(3, 0.5);
    source.AddLink(link);
    source.AddShape(new KQovShape(nullptr), "S");
    source.SetPivot(KAffineMatrix(KVector4(1, 2, 3), KVector4(), KVector4(1, 1, 1)));
    KQovMesh target(nullptr);
    target.Copy(source);
    target.Copy(target);
    EXPECT_EQ(target.GetControlPointsCount(), 0);
    ASSERT_EQ(target.GetLinkCount(), 1);
    EXPECT_NE(target.GetLink(0), link);
    EXPECT_EQ(target.GetLink(0)->GetControlPointIndex(0), 3);
    EXPECT_STREQ(target.GetShapeName(0), "S");
    EXPECT_NE(target.GetShape(0), source.GetShape(0));
    EXPECT_EQ(target.GetPivot().GetT()[2], 3.0);
    std::vector<KQovLink*> removed = target.RemoveAllLinks();
    EXPECT_EQ(removed.size(), 1u);
    EXPECT_EQ(target.GetLinkCount(), 0);
    for (KQovLink* l : removed) delete l;  // made without a manager: the caller's now
}

TEST(KQovGeometry, NormalsAndPivot) {
    KQovMesh mesh(nullptr);
    mesh.InitControlPoints(8);
    struct Row {
        int count, size, mapping;
    };
    for (const Row& row : {Row{0, 8, 1}, Row{24, 24, 2}, Row{8, 8, 1}}) {
        mesh.InitNormals(row.count);
        EXPECT_EQ(mesh.GetNormals()->GetCount(), row.size) << row.count;
        EXPECT_EQ(mesh.GetLayer(0)->GetNormals()->GetMappingMode(), row.mapping) << row.count;
    }
    mesh.SetControlPointAt(KVector4(1, 1, 1), KVector4(0, 1, 0), 0);
    mesh.SetControlPointAt(KVector4(9, 9, 9), KVector4(), -1);  // refused
    EXPECT_EQ(mesh.GetControlPointsCount(), 8);
    mesh.SetPivot(KAffineMatrix(KVector4(1, 0, 0), KVector4(), KVector4(2, 2, 2)));
    mesh.ApplyPivot();
    const KVector4 p = mesh.GetControlPoints().GetAt(0), n = mesh.GetNormals()->GetAt(0);
    EXPECT_DOUBLE_EQ(p[0], 3.0);
    EXPECT_DOUBLE_EQ(p[1], 2.0);
    EXPECT_DOUBLE_EQ(p[2], 2.0);
    EXPECT_NEAR(n[0], 0.0, 1e-12);
    EXPECT_NEAR(n[1], 1.0, 1e-12);
    // A quarter turn about Z carries the normal along.
    mesh.SetPivot(KAffineMatrix(KVector4(), KVector4(0, 0, 90), KVector4(3, 3, 3)));
    mesh.ApplyPivot();
    EXPECT_NEAR(mesh.GetNormals()->GetAt(0)[0], -1.0, 1e-12);
}

TEST(KQovLink, MatrixRoundTrips) {
    struct Row {
        KVector4 t, r, s;
    };
    const Row rows[] = {
        {KVector4(1, 2, 3), KVector4(0, 90, 0), KVector4(2, 2, 2)},
        {KVector4(-4, 0, 7), KVector4(30, 45, 60), KVector4(1, 2, 3)},
        {KVector4(), KVector4(), KVector4(0.5, 1, 4)},
    };
    for (const Row& row : rows) {
        const KAffineMatrix m(row.t, row.r, row.s);
        KQovLink link;
        link.SetTransformMatrix(m);
        link.SetTransformLinkMatrix(m);
        link.SetTransformAssociateModelMatrix(m);
        link.SetTransformParentMatrix(m);
        for (const KAffineMatrix& back : {link.GetTransformMatrix(), link.GetTransformLinkMatrix(),
                                          link.GetTransformAssociateModelMatrix(),
                                          link.GetTransformParentMatrix()}) {
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j) EXPECT_NEAR(back[i][j], m[i][j], 1e-9) << i << j;
        }
        EXPECT_TRUE(link.HasTransformParent());
    }
}

TEST(KQovLink, ResetLinkUserDataAndIndices) {
    KQovLink link;
    EXPECT_EQ(link.GetLinkMode(), 1);
    EXPECT_FALSE(link.HasTransformParent());
    EXPECT_EQ(link.GetS(KQovLink::eTransformLink)[0], 1.0);
    KQovNode bone(nullptr, "Model::Bone");
    link.SetLink(&bone);
    link.SetLink(nullptr);
    EXPECT_EQ(link.GetLink(), &bone);
    EXPECT_STREQ(link.GetLinkName().Buffer(), "Model::Bone");
    link.SetUserData("id", "x");
    EXPECT_STREQ(link.GetUserData("ID").Buffer(), "x");
    EXPECT_STREQ(link.GetUserData("other").Buffer(), "");
    link.AddControlPointIndex(-1, 0.5);
    EXPECT_EQ(link.GetControlPointIndicesCount(), 0);
    for (int i : {7, 2, 9, 1}) link.AddControlPointIndex(i, i / 10.0);
    link.KeepControlPointsBelow(5);
    ASSERT_EQ(link.GetControlPointIndicesCount(), 2);
    EXPECT_EQ(link.GetControlPointIndex(1), 1);
    EXPECT_DOUBLE_EQ(link.GetControlPointWeight(0), 0.2);
    KQovLink copy;
    copy.Copy(link);
    copy.Copy(copy);
    EXPECT_EQ(copy.GetLink(), &bone);
    EXPECT_EQ(copy.GetControlPointIndicesCount(), 2);
}

}  // namespace

TEST(KQovGeometry, MeshCopyCarriesTheSurfaceFieldsAndResetClearsThem) {
    KQovMesh source(nullptr);
    source.GetUSurface() = KQovMeshSurfaceFields{2, true, false, 4, 3};
    source.GetVSurface() = KQovMeshSurfaceFields{1, false, true, 6, 5};
    KQovMesh target(nullptr);
    target.Copy(source);
    for (const KQovMesh* mesh : {&source, &target}) {
        const KQovMeshSurfaceFields& u = mesh->GetUSurface();
        const KQovMeshSurfaceFields& v = mesh->GetVSurface();
        EXPECT_EQ(u.extendedCount * 10000 + u.closed * 1000 + u.topCap * 100 + u.step * 10 +
                      u.count,
                  21043);
        EXPECT_EQ(v.extendedCount * 10000 + v.closed * 1000 + v.topCap * 100 + v.step * 10 +
                      v.count,
                  10165);
    }
    target.Reset();
    EXPECT_EQ(target.GetUSurface().count, 0);
    EXPECT_FALSE(target.GetUSurface().closed);
    EXPECT_EQ(target.GetVSurface().step, 0);
    EXPECT_FALSE(target.GetVSurface().topCap);
}
