#pragma once
// A text picture of what the reader put into geometries, materials and textures, for the
// reader's golden comparisons; and a golden file with some of its text replaced.

#include <cstring>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "ReaderTestUtil.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovTexture.h"
#include "foundation/KLocale.h"
#include "scene/KQovNode.h"

namespace geotest {

inline std::string Num(double v) { return KFormatC("%g", v); }

inline std::string Ints(const KArrayInt& a) {
    std::string s;
    for (int i = 0; i < a.GetCount(); ++i) s += (i ? "," : "") + std::to_string(a.GetAt(i));
    return s;
}

inline std::string Point(const KVector4& p, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? "," : "") + Num(p[i]);
    return s;
}

inline std::string Name(const KQovObject* o) { return o ? o->GetName() : "null"; }

template <class E, class F>
std::string Element(const char* kind, const E* e, F&& item) {
    if (!e) return "";
    std::string s = std::string(" ") + kind + " " + std::to_string(e->GetMappingMode()) + "/" +
                    std::to_string(e->GetReferenceMode()) + " [";
    for (int i = 0; i < e->GetDirectArray().GetCount(); ++i)
        s += (i ? " " : "") + item(e->GetDirectArray().GetAt(i));
    return s + "] (" + Ints(e->GetIndexArray()) + ")";
}

// One line per layer: each element as kind mapping/reference [direct] (indexes).
inline std::string Layers(const KQovLayerContainer& g) {
    std::string s;
    for (int l = 0; l < g.GetLayerCount(); ++l) {
        const KQovLayer& layer = *g.GetLayer(l);
        s += "  layer " + std::to_string(l) + ":";
        s += Element("normal", layer.GetNormals(), [](const KVector4& v) { return Point(v, 3); });
        s += Element("material", layer.GetMaterials(), [](const KQovMaterial* m) { return Name(m); });
        s += Element("texture", layer.GetTextures(), [](const KQovTexture* t) { return Name(t); });
        if (const KQovLayerElementTexture* t = layer.GetTextures())
            s += " blend " + std::to_string(t->GetBlendMode()) + " alpha " + Num(t->GetAlpha());
        s += Element("group", layer.GetPolygonGroups(), [](int32_t v) { return std::to_string(v); });
        s += Element("uv", layer.GetUVs(),
                     [](const KVector2& v) { return Num(v.mData[0]) + "," + Num(v.mData[1]); });
        s += Element("color", layer.GetVertexColors(), [](const KColor& c) {
            return Num(c.mRed) + "," + Num(c.mGreen) + "," + Num(c.mBlue) + "," + Num(c.mAlpha);
        });
        s += "\n";
    }
    return s;
}

// A mesh's U and V surface settings as extended/closed/top cap/step/count; nothing when it
// has none, as most meshes.
inline std::string MeshSurface(const KQovMesh& mesh) {
    const KQovMeshSurfaceFields& u = mesh.GetUSurface();
    const KQovMeshSurfaceFields& v = mesh.GetVSurface();
    std::string s;
    for (const KQovMeshSurfaceFields* d : {&u, &v})
        s += " " + std::to_string(d->extendedCount) + "/" + std::to_string(d->closed) + "/" +
             std::to_string(d->topCap) + "/" + std::to_string(d->step) + "/" +
             std::to_string(d->count);
    return s == " 0/0/0/0/0 0/0/0/0/0" ? "" : "  surface" + s + "\n";
}

// Points, polygons, surface settings, layers, links and shapes of a node's geometry.
inline std::string Geometry(KQovNode* node) {
    KQovGeometry* g = node ? node->GetGeometry() : nullptr;
    if (!g) return "no geometry\n";
    std::string s = std::string(node->GetName()) + " points";
    for (int i = 0; i < g->GetControlPointsCount(); ++i)
        s += " " + Point(g->GetControlPoints().GetAt(i), 4);
    s += "\n";
    if (KQovMesh* mesh = node->GetMesh()) {
        s += "  polygons";
        for (int p = 0; p < mesh->GetPolygonCount(); ++p) {
            s += " (";
            for (int k = 0; k < mesh->GetPolygonSize(p); ++k)
                s += (k ? "," : "") + std::to_string(mesh->GetPolygonVertex(p, k));
            s += ")";
        }
        s += "\n";
        s += MeshSurface(*mesh);
    }
    if (KQovNurb* nurb = node->GetNurb())
        s += "  nurb order " + std::to_string(nurb->GetUOrder()) + "," +
             std::to_string(nurb->GetVOrder()) + " count " + std::to_string(nurb->GetUCount()) +
             "," + std::to_string(nurb->GetVCount()) + " form " + std::to_string(nurb->GetUType()) +
             "," + std::to_string(nurb->GetVType()) + " step " + std::to_string(nurb->GetUStep()) +
             "," + std::to_string(nurb->GetVStep()) + " display " +
             std::to_string(nurb->GetSurfaceDisplay()) + " multiplicity " +
             Ints(nurb->GetUMultiplicityVector()) + "\n";
    if (KQovPatch* patch = node->GetPatch())
        s += "  patch type " + std::to_string(patch->GetUType()) + "," +
             std::to_string(patch->GetVType()) + " count " + std::to_string(patch->GetUCount()) +
             "," + std::to_string(patch->GetVCount()) + " step " + std::to_string(patch->GetUStep()) +
             "," + std::to_string(patch->GetVStep()) + " closed " +
             std::to_string(patch->GetUClosed()) + std::to_string(patch->GetVClosed()) +
             " capped " + std::to_string(patch->GetUCapped(0)) +
             std::to_string(patch->GetUCapped(1)) + std::to_string(patch->GetVCapped(0)) +
             std::to_string(patch->GetVCapped(1)) + "\n";
    s += Layers(*g);
    for (int l = 0; l < g->GetLinkCount(); ++l) {
        KQovLink* link = g->GetLink(l);
        s += "  link " + std::string(link->GetLinkName().Buffer()) + " mode " +
             std::to_string(link->GetLinkMode()) + " user " + link->GetUserDataID().Buffer() + "=" +
             link->GetUserData().Buffer() + " points";
        for (int i = 0; i < link->GetControlPointIndicesCount(); ++i)
            s += " " + std::to_string(link->GetControlPointIndex(i)) + ":" +
                 Num(link->GetControlPointWeight(i));
        s += " t " + Point(link->GetT(KQovLink::eTransform), 3) + " link t " +
             Point(link->GetT(KQovLink::eTransformLink), 3) + " associate " +
             link->GetAssociateModelName().Buffer() + " t " +
             Point(link->GetT(KQovLink::eTransformAssociateModel), 3) + " parent " +
             std::to_string(link->HasTransformParent()) + "\n";
    }
    for (int i = 0; i < g->GetShapeCount(); ++i) {
        KQovShape* shape = g->GetShape(i);
        s += "  shape " + std::string(g->GetShapeName(i)) + " points";
        for (int p = 0; p < shape->GetControlPointsCount(); ++p)
            s += " " + Point(shape->GetControlPoints().GetAt(p), 3);
        s += "\n" + Layers(*shape);
    }
    return s;
}

// Reads a file into a new scene of `manager` with some content switches off.
inline bool ReadWithout(KQovObjectManager& manager, const std::string& file,
                        std::initializer_list<int> off) {
    KQovReaderQov reader(&manager, nullptr);
    if (!reader.FileOpen(file.c_str())) return false;
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    if (!options) return false;
    for (int s : off) options->SetSwitch(s, false);
    const bool ok = reader.Read(manager.CreateScene(), options.get());
    KQovDestroySceneInfo(&manager, options->sceneInfo);
    return ok;
}

// The golden file with `from` replaced by `to` (each must occur), written into `folder`.
inline std::string Variant(const qovtest::TempFolder& folder, const char* golden,
                           const char* from, const char* to) {
    std::string text = qovtest::ReadAll(Golden(golden));
    if (*from) {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, std::strlen(from), to);
    }
    const std::string path = folder / "variant.qov";
    qovtest::WriteAll(path, text);
    return path;
}

// `file` with connections that let geo_scene6's skin deform the quad through its cluster,
// written into `folder`.
inline std::string WithSkinOnQuad(const qovtest::TempFolder& folder, const std::string& file) {
    std::string text = qovtest::ReadAll(file);
    text += "Connections:  {\n"
            "    Connect: \"OO\", \"SubDeformer::Cluster\", \"Deformer::Skin\"\n"
            "    Connect: \"OO\", \"Deformer::Skin\", \"Model::Quad\"\n"
            "    Connect: \"OO\", \"Model::Quad\", \"SubDeformer::Cluster\"\n"
            "}\n";
    const std::string path = folder / "connected.qov";
    qovtest::WriteAll(path, text);
    return path;
}

}  // namespace geotest
