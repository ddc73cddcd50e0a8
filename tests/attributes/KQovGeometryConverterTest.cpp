#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "TessellationTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "scene/KQovNode.h"

namespace {

void Fill(KQovGeometryBase& g, int u, int v, double lift = 0.0) {
    const std::vector<KVector4> cps = WavyGrid(u, v);
    g.InitControlPoints(u * v);
    for (int i = 0; i < u * v; ++i)
        g.GetControlPoints().SetAt(i, cps[size_t(i)] + KVector4(0, 0, lift, 0));
}

std::unique_ptr<KQovPatch> MakePatch(int uType, int vType, int u, int v, bool uClosed,
                                     bool vClosed) {
    auto patch = std::make_unique<KQovPatch>(nullptr);
    patch->InitControlPoints(u, uType, v, vType);
    patch->SetClosed(uClosed, vClosed);
    patch->SetStep(2, 2);
    Fill(*patch, u, v);
    // UVs of the surface's own, which the mesh's grid UVs replace.
    patch->CreateLayer();
    patch->GetLayer(0)->MakeUVs().GetDirectArray().Add(KVector2(9, 9));
    return patch;
}

// Every corner's UV is its grid position, so the UV indices name the entries appended for it.
void ExpectGridUVs(KQovMesh& mesh, int w, int h, bool uClosed, bool vClosed) {
    EXPECT_EQ(mesh.GetPolygonCount(), 2 * (uClosed ? w : w - 1) * (vClosed ? h : h - 1));
    for (int p = 0; p < mesh.GetPolygonCount(); ++p) {
        for (int k = 0; k < 3; ++k) {
            const int vertex = mesh.GetPolygonVertex(p, k), index = mesh.GetTextureUVIndex(p, k);
            ASSERT_TRUE(index >= 0 && index < mesh.GetTextureUVCount()) << p;
            const KVector2 uv = mesh.GetTextureUV()->GetAt(index);
            const double u = double(vertex % w) / (uClosed ? w : w - 1);
            const double v = double(vertex / w) / (vClosed ? h : h - 1);
            EXPECT_TRUE(uv.mData[0] == u || (u == 0 && uv.mData[0] == 1.0)) << p << "," << k;
            EXPECT_TRUE(uv.mData[1] == v || (v == 0 && uv.mData[1] == 1.0)) << p << "," << k;
        }
    }
}

TEST(KQovGeometryConverter, PatchAndNurbRoutesAgree) {
    const int bz = KQovPatch::eBezier, bs = KQovPatch::eBSpline, ln = KQovPatch::eLinear;
    struct Row {
        int uType, vType, u, v;
        bool uClosed, vClosed;
        int nurbW, nurbH;  // spans × step, + 1 when open
    };
    for (const Row& r :
         {Row{bs, bs, 5, 4, false, false, 5, 3}, Row{bz, bz, 7, 4, false, false, 5, 3},
          Row{bs, ln, 5, 3, true, false, 10, 5}, Row{ln, bz, 4, 7, true, false, 8, 5}}) {
        SCOPED_TRACE(r.uType * 10 + r.vType);
        auto patch = MakePatch(r.uType, r.vType, r.u, r.v, r.uClosed, r.vClosed);
        KQovGeometryConverter converter(nullptr);
        std::unique_ptr<KQovMesh> direct(converter.PatchToMesh(patch.get()));
        std::unique_ptr<KQovNurb> nurb(converter.CreateNurbFromPatch(patch.get()));
        ASSERT_TRUE(direct && nurb);
        std::unique_ptr<KQovMesh> routed(converter.NurbToMesh(nurb.get()));
        ASSERT_TRUE(routed);
        // A Bezier segment spans three control-point intervals: the patch samples it three
        // times as densely as the NURBS samples its span.
        const int ru = r.uType == bz ? 3 : 1, rv = r.vType == bz ? 3 : 1;
        const int ou = r.uClosed ? 0 : 1, ov = r.vClosed ? 0 : 1;
        const int pw = (r.nurbW - ou) * ru + ou, ph = (r.nurbH - ov) * rv + ov;
        ASSERT_EQ(routed->GetControlPointsCount(), r.nurbW * r.nurbH);
        ASSERT_EQ(direct->GetControlPointsCount(), pw * ph);
        for (int j = 0; j < r.nurbH; ++j)
            for (int i = 0; i < r.nurbW; ++i)
                ExpectNear3(routed->GetControlPoints().GetAt(j * r.nurbW + i),
                            direct->GetControlPoints().GetAt(j * rv * pw + i * ru), 1e-6);
        ExpectGridUVs(*routed, r.nurbW, r.nurbH, r.uClosed, r.vClosed);
        ExpectGridUVs(*direct, pw, ph, r.uClosed, r.vClosed);
        if (r.uType == bz) {
            const std::vector<double> knots{0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2};
            ASSERT_EQ(nurb->GetUKnotCount(), 11);
            for (int i = 0; i < 11; ++i)
                EXPECT_EQ(nurb->GetUKnotVector().GetAt(i), knots[size_t(i)]);
        }
    }
}

TEST(KQovGeometryConverter, RefusedSurfacesLeaveAnError) {
    KQovGeometryConverter converter(nullptr);
    struct Row {
        int uType, u, v;
    };
    // A basis without a NURBS form, and directions with fewer points than their order.
    for (const Row& r : {Row{KQovPatch::eBezierQuadric, 4, 4}, Row{KQovPatch::eBSpline, 3, 4},
                         Row{KQovPatch::eLinear, 1, 4}}) {
        auto patch = MakePatch(r.uType, KQovPatch::eBSpline, r.u, r.v, false, false);
        EXPECT_EQ(converter.CreateNurbFromPatch(patch.get()), nullptr) << r.uType;
        EXPECT_EQ(patch->GetError().GetErrorCode(), KQovGeometry::eParameterOutOfRange);
    }
    auto patch = MakePatch(KQovPatch::eBSpline, KQovPatch::eBSpline, 4, 4, false, false);
    std::unique_ptr<KQovNurb> nurb(converter.CreateNurbFromPatch(patch.get()));
    nurb->SetOrder(0, 4);
    EXPECT_EQ(converter.NurbToMesh(nurb.get()), nullptr);
    EXPECT_STREQ(nurb->GetError().GetErrorText(), "Order out of range 1 to 4");
    nurb->SetOrder(4, 4);
    nurb->GetVKnotVector().RemoveLast();  // the tessellator would read past it
    EXPECT_EQ(converter.NurbToMesh(nurb.get()), nullptr);
    // A form number other than periodic or closed is open, with the open form's knot count.
    KQovNurb open(nullptr);
    open.SetOrder(2, 2);
    open.InitControlPoints(2, 3, 2, 3);
    for (int i = 0; i < 4; ++i)
        open.GetUKnotVector().SetAt(i, i / 2), open.GetVKnotVector().SetAt(i, i / 2);
    std::unique_ptr<KQovMesh> flat(converter.NurbToMesh(&open));
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->GetPolygonCount(), 2);  // steps of 0 act as 1
    // A shape whose grid differs from the surface's.
    auto* shape = new KQovShape(nullptr);
    Fill(*shape, 3, 3);
    patch->AddShape(shape, "Small");
    EXPECT_EQ(converter.PatchToMesh(patch.get()), nullptr);
}

TEST(KQovGeometryConverter, TriangulationKeepsPointsAndLayerData) {
    KQovMesh mesh(nullptr);
    Fill(mesh, 4, 2);
    auto* shape = new KQovShape(nullptr);
    Fill(*shape, 4, 2, 5.0);
    mesh.AddShape(shape, "Up");
    mesh.InitMaterialIndices(KQovLayer::eByPolygon);
    mesh.InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    mesh.InitTextureUV(40);
    // A quad, a 2-corner polygon, a hexagon and a triangle; UV index = 10 + position.
    const std::vector<std::vector<int>> polygons{
        {0, 1, 2, 3}, {4, 5}, {2, 3, 4, 5, 6, 7}, {7, 0, 1}};
    int position = 0;
    for (size_t p = 0; p < polygons.size(); ++p) {
        mesh.BeginPolygon(int(5 + p), -1, -1);
        for (int c : polygons[p]) mesh.AddPolygonVertex(c, 10 + position++);
    }
    mesh.InitNormals(position);
    for (int t = 0; t < position; ++t) mesh.GetNormals()->SetAt(t, KVector4(t, 0, 0));

    std::unique_ptr<KQovMesh> tri(KQovGeometryConverter(nullptr).TriangulateMesh(&mesh));
    ASSERT_TRUE(tri);
    for (int i = 0; i < 8; ++i) {
        ExpectNear3(tri->GetControlPoints().GetAt(i), mesh.GetControlPoints().GetAt(i), 0);
        ExpectNear3(tri->GetShape(0)->GetControlPoints().GetAt(i),
                    shape->GetControlPoints().GetAt(i), 0);
    }
    const std::vector<int> source{0, 0, 2, 2, 2, 2, 3};
    ASSERT_EQ(tri->GetPolygonCount(), int(source.size()));
    std::vector<std::vector<bool>> used(polygons.size());
    for (size_t p = 0; p < polygons.size(); ++p) used[p].assign(polygons[p].size(), false);
    const int firsts[] = {0, 4, 6, 12};
    for (int q = 0; q < tri->GetPolygonCount(); ++q) {
        const int p = source[size_t(q)];
        EXPECT_EQ(tri->GetPolygonSize(q), 3);
        EXPECT_EQ(tri->GetMaterialIndices()->GetAt(q), 5 + p) << q;
        for (int k = 0; k < 3; ++k) {
            // UV index and normal name the same source corner, which holds the same point.
            const int from = tri->GetTextureUVIndex(q, k) - 10;
            KVector4 normal;
            tri->GetPolygonVertexNormal(q, k, normal);
            ASSERT_TRUE(from >= firsts[p] && from < firsts[p] + int(polygons[size_t(p)].size()))
                << q;
            EXPECT_EQ(normal[0], from);
            EXPECT_EQ(tri->GetPolygonVertex(q, k), mesh.GetPolygonVertices().GetAt(from));
            used[size_t(p)][size_t(from - firsts[p])] = true;
        }
    }
    for (size_t p : {0, 2, 3})
        for (bool u : used[p]) EXPECT_TRUE(u) << "a corner of polygon " << p << " is missing";
    EXPECT_EQ(tri->GetPolygonVertex(1, 0), 2);  // the quad's second triangle is (2, 3, 0)
}

// 4 × 4 BSpline patch, optionally as a NURBS whose weights are not all 1.
KQovGeometry* MakeSurface(KQovGeometryConverter& converter, bool asNurb, int u = 4) {
    auto patch = MakePatch(KQovPatch::eBSpline, KQovPatch::eBSpline, u, 4, false, false);
    if (!asNurb) return patch.release();
    KQovNurb* nurb = converter.CreateNurbFromPatch(patch.get());
    nurb->GetControlPoints().GetArray()[5][3] = 3.0;
    return nurb;
}

TEST(KQovGeometryConverter, ConvertToMeshKeepsShapeCurvesOfEveryTake) {
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        KQovGeometryConverter converter(nullptr);
        KQovGeometry* geometry =
            kind == 2 ? new KQovMesh(nullptr) : MakeSurface(converter, kind == 1);
        if (kind == 2) Fill(*geometry, 4, 4);
        for (const char* name : {"Smile", "Frown"}) {
            auto* shape = new KQovShape(nullptr);
            Fill(*shape, 4, 4, 1.0);
            geometry->AddShape(shape, name);
        }
        KQovNode node(nullptr, "Model::Face");
        node.AddTakeNode("Walk");
        node.AddTakeNode("Run");
        node.SetNodeAttribute(geometry);
        for (int t = 0; t < 3; ++t)
            for (int k = 0; k < 2; ++k)
                geometry->GetShapeChannel(node.GetTakeNode(t), k)
                    ->KeyAppendFast(KTime(t), float(10 * t + k + 1));
        KFCurveNode* run = node.GetTakeNode(2)->GetRoot();
        run->DeleteChild(run->Get(run->FindIndexByName("Frown")));  // skipped, not a failure

        ASSERT_TRUE(converter.ConvertToMesh(&node));
        std::unique_ptr<KQovMesh> mesh(node.GetMesh());
        ASSERT_TRUE(mesh && mesh.get() != geometry);
        ASSERT_EQ(mesh->GetShapeCount(), 2);
        for (int t = 0; t < 3; ++t) {
            for (int k = 0; k < 2; ++k) {
                KFCurve* curve = mesh->GetShapeChannel(node.GetTakeNode(t), k);
                ASSERT_TRUE(curve);
                const bool missing = t == 2 && k == 1;
                ASSERT_EQ(curve->KeyGetCount(), missing ? 0 : 1) << t << k;
                if (!missing) {
                    EXPECT_EQ(curve->KeyGetValue(0), float(10 * t + k + 1));
                }
            }
        }
        node.SetNodeAttribute(nullptr);
    }
    KQovNode bare(nullptr, "Model::Bare");
    EXPECT_FALSE(KQovGeometryConverter(nullptr).ConvertToMesh(&bare));
}

TEST(KQovGeometryConverter, ConvertedLinkWeightsSumToOnePerVertex) {
    for (bool asNurb : {false, true}) {
        KQovGeometryConverter converter(nullptr);
        std::unique_ptr<KQovGeometry> surface(MakeSurface(converter, asNurb, 5));
        auto* a = new KQovLink;
        auto* b = new KQovLink;
        a->SetLinkMode(0);
        for (int i = 0; i < 20; ++i) {
            if (i < 12) a->AddControlPointIndex(i, 2.0);
            if (i >= 8) b->AddControlPointIndex(i, 3.0);
        }
        KAffineMatrix parent;
        parent.SetT(KVector4(1, 2, 3, 1));
        b->SetTransformParentMatrix(parent);
        surface->AddLink(a);
        surface->AddLink(b);
        std::unique_ptr<KQovMesh> mesh(
            asNurb ? converter.NurbToMesh(static_cast<KQovNurb*>(surface.get()))
                   : converter.PatchToMesh(static_cast<KQovPatch*>(surface.get())));
        ASSERT_TRUE(mesh);
        ASSERT_EQ(mesh->GetLinkCount(), 2);
        std::vector<double> sums(size_t(mesh->GetControlPointsCount()), 0.0);
        for (int l = 0; l < 2; ++l) {
            KQovLink* link = mesh->GetLink(l);
            EXPECT_EQ(link->GetLinkMode(), 2);
            for (int k = 0; k < link->GetControlPointIndicesCount(); ++k)
                sums[size_t(link->GetControlPointIndex(k))] += link->GetControlPointWeight(k);
        }
        for (double s : sums) EXPECT_NEAR(s, 1.0, 1e-9) << asNurb;
        EXPECT_TRUE(mesh->GetLink(1)->HasTransformParent());
        EXPECT_EQ(mesh->GetLink(1)->GetT(KQovLink::eTransformParent)[2], 3.0);
    }
}

TEST(KQovGeometryConverter, CopyNurbForWritingKeepsThePoints) {
    KQovGeometryConverter converter(nullptr);
    std::unique_ptr<KQovGeometry> nurb(MakeSurface(converter, true));
    auto* shape = new KQovShape(nullptr);
    Fill(*shape, 4, 4, 2.0);
    nurb->AddShape(shape, "Lift");
    std::unique_ptr<KQovNurb> copy(
        converter.CopyNurbForWriting(static_cast<KQovNurb*>(nurb.get())));
    ASSERT_TRUE(copy);
    ASSERT_EQ(copy->GetControlPointsCount(), 16);
    for (int i = 0; i < 16; ++i) {
        const KVector4 p = copy->GetControlPoints().GetAt(i), q = nurb->GetControlPoints().GetAt(i);
        ExpectNear3(p, q, 0);
        EXPECT_EQ(p[3], q[3]);
        ExpectNear3(copy->GetShape(0)->GetControlPoints().GetAt(i),
                    shape->GetControlPoints().GetAt(i), 0);
    }
    EXPECT_EQ(copy->GetUKnotVector().GetAt(7), 7.0);
}

}  // namespace
