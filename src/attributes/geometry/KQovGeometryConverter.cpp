#include "attributes/geometry/KQovGeometryConverter.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "animation/KFCurve.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/geometry/KQovNurbTessellator.h"
#include "attributes/geometry/KQovPatchTessellator.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "attributes/geometry/KQovWeightTable.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"

namespace {

// New geometry is made through the manager, which lists it; until it is handed out, a refusal
// destroys it the same way.
struct AttributeDisposer {
    KQovObjectManager* manager;
    void operator()(KQovGeometry* geometry) const { KQovDisposeAttribute(manager, geometry); }
};
template <class T>
using Owned = std::unique_ptr<T, AttributeDisposer>;

Owned<KQovMesh> NewMesh(KQovObjectManager* manager) {
    return Owned<KQovMesh>(manager ? manager->CreateMesh() : new KQovMesh(nullptr),
                           AttributeDisposer{manager});
}

Owned<KQovNurb> NewNurb(KQovObjectManager* manager) {
    return Owned<KQovNurb>(manager ? manager->CreateNurb() : new KQovNurb(nullptr),
                           AttributeDisposer{manager});
}

void Refuse(KQovGeometry& geometry, const char* text = nullptr) {
    if (text)
        geometry.GetError().SetErrorWithText(KQovGeometry::eParameterOutOfRange, text);
    else
        geometry.GetError().SetError(KQovGeometry::eParameterOutOfRange);
}

// The structural copies leave the points of the geometry and of its shapes out.
void CopyControlPoints(KQovGeometry& target, KQovGeometry& source) {
    target.GetControlPoints() = source.GetControlPoints();
    const int shapes = std::min(target.GetShapeCount(), source.GetShapeCount());
    for (int i = 0; i < shapes; ++i)
        target.GetShape(i)->GetControlPoints() = source.GetShape(i)->GetControlPoints();
}

void SetWeightsToOne(KArrayVector4& items) {
    KVector4* v = items.GetArray();
    for (int i = 0; i < items.GetCount(); ++i) v[i][3] = 1.0;
}

void FixWeights(KArrayVector4& items) {
    KVector4* v = items.GetArray();
    for (int i = 0; i < items.GetCount(); ++i)
        if (v[i][3] <= 0.0) v[i][3] = 1.0;
}

// Shape points and normals of weight 0 or less would vanish from a rational surface.
void FixShapeWeights(KQovGeometry& geometry) {
    for (int s = 0; s < geometry.GetShapeCount(); ++s) {
        KQovShape* shape = geometry.GetShape(s);
        FixWeights(shape->GetControlPoints());
        for (int l = 0; l < shape->GetLayerCount(); ++l)
            if (KQovLayerElement* normals = shape->GetLayer(l)->GetNormals())
                FixWeights(normals->GetDirectArray());
    }
}

// One curve of one shape in one take, kept while the node changes attribute.
struct SavedCurve {
    int take;
    int shape;
    std::unique_ptr<KFCurve> curve;
};

std::vector<SavedCurve> SaveShapeCurves(KQovNode& node, KQovGeometry& geometry) {
    std::vector<SavedCurve> saved;
    for (int t = 0; t < node.GetTakeNodeCount(); ++t) {
        for (int k = 0; k < geometry.GetShapeCount(); ++k) {
            // A take without the shape's channel has nothing to keep.
            if (KFCurve* curve = geometry.GetShapeChannel(node.GetTakeNode(t), k))
                saved.push_back({t, k, std::unique_ptr<KFCurve>(curve->Clone())});
        }
    }
    return saved;
}

void RestoreShapeCurves(KQovNode& node, KQovGeometry& geometry,
                        const std::vector<SavedCurve>& saved) {
    for (const SavedCurve& s : saved) {
        if (s.take >= node.GetTakeNodeCount() || s.shape >= geometry.GetShapeCount()) continue;
        if (KFCurve* curve = geometry.GetShapeChannel(node.GetTakeNode(s.take), s.shape))
            curve->CopyFrom(*s.curve, true);
    }
}

// Rebuilds an array so that item k is the old item from[k]; items the old array lacks get
// `missing`.
template <class Array, class Item>
void RemapArray(Array& array, const std::vector<int32_t>& from, const Item& missing) {
    const Array old = array;
    array.Clear();
    if (!array.SetCount(int(from.size()))) return;
    auto* out = array.GetArray();
    const auto* in = old.GetArray();
    for (size_t k = 0; k < from.size(); ++k)
        out[k] = from[k] < old.GetCount() ? in[from[k]] : missing;
}

template <class Element, class Item>
void RemapElement(Element* e, const std::vector<int32_t>& corners,
                  const std::vector<int32_t>& polygons, const Item& missing) {
    if (!e) return;
    const int mode = e->GetMappingMode();
    const std::vector<int32_t>* from = mode == KQovLayer::eByPolygonVertex ? &corners
                                       : mode == KQovLayer::eByPolygon     ? &polygons
                                                                           : nullptr;
    if (!from) return;
    if (e->GetReferenceMode() == KQovLayer::eDirect)
        RemapArray(e->GetDirectArray(), *from, missing);
    else
        RemapArray(e->GetIndexArray(), *from, int32_t(-1));
}

// corners[k]: the source polygon-vertex position of new corner k; polygons[q]: the source
// polygon of new triangle q.
void RemapLayers(KQovLayerContainer& container, const std::vector<int32_t>& corners,
                 const std::vector<int32_t>& polygons) {
    for (int l = 0; l < container.GetLayerCount(); ++l) {
        KQovLayer* layer = container.GetLayer(l);
        RemapElement(layer->GetNormals(), corners, polygons, KVector4());
        RemapElement(layer->GetMaterials(), corners, polygons, static_cast<KQovMaterial*>(nullptr));
        RemapElement(layer->GetTextures(), corners, polygons, static_cast<KQovTexture*>(nullptr));
        RemapElement(layer->GetPolygonGroups(), corners, polygons, int32_t(-1));
        RemapElement(layer->GetUVs(), corners, polygons, KVector2());
        RemapElement(layer->GetVertexColors(), corners, polygons, KColor());
    }
}

// Each vertex's link weight is the sum over the surface's control points of link weight ×
// tessellation weight, both normalised, so a vertex fully covered by links sums to 1.
void ConvertLinks(KQovGeometry& surface, KQovMesh& mesh, KQovWeightTable& tessellation) {
    for (KQovLink* link : mesh.RemoveAllLinks()) KQovDisposeLink(mesh.GetObjectManager(), link);
    const int links = surface.GetLinkCount();
    if (links == 0) return;
    const int mode = surface.GetLink(0)->GetLinkMode();
    const int meshCount = mesh.GetControlPointsCount();
    tessellation.Normalize(1, true);
    KQovWeightTable linkTable(links, surface.GetControlPointsCount());
    for (int i = 0; i < links; ++i) {
        const KQovLink* link = surface.GetLink(i);
        for (int k = 0; k < link->GetControlPointIndicesCount(); ++k)
            linkTable.Add(i, link->GetControlPointIndex(k), link->GetControlPointWeight(k));
    }
    if (mode == 0) linkTable.Normalize(1, true);

    std::vector<double> sums(size_t(meshCount), 0.0);
    std::vector<char> seen(size_t(meshCount), 0);
    std::vector<int32_t> touched;
    for (int i = 0; i < links; ++i) {
        for (int k = 0; k < linkTable.GetEntryCount(0, i); ++k) {
            const KQovWeightEntry* a = linkTable.GetEntry(0, i, k);
            for (int e = 0; e < tessellation.GetEntryCount(0, a->index); ++e) {
                const KQovWeightEntry* b = tessellation.GetEntry(0, a->index, e);
                if (!seen[size_t(b->index)]) touched.push_back(b->index);
                seen[size_t(b->index)] = 1;
                sums[size_t(b->index)] += std::fabs(a->weight * b->weight);
            }
        }
        // The whole link (node, user data, all four transform sets) without its old indices.
        KQovLink* converted = KQovNewLink(mesh.GetObjectManager());
        if (!converted) continue;
        converted->Copy(*surface.GetLink(i));
        converted->KeepControlPointsBelow(0);
        converted->SetLinkMode(mode == 0 ? 2 : mode);
        std::sort(touched.begin(), touched.end());
        for (int32_t m : touched) {
            if (sums[size_t(m)] != 0.0) converted->AddControlPointIndex(m, sums[size_t(m)]);
            sums[size_t(m)] = 0.0;
            seen[size_t(m)] = 0;
        }
        touched.clear();
        mesh.AddLink(converted);
    }
}

double GridCoordinate(int i, int count, bool closed) {
    const int divisor = closed ? count : count - 1;
    return divisor > 0 ? double(i) / divisor : 0.0;
}

// Two triangles per grid cell, with texture coordinates running from 0 to 1 over the grid; a
// closed direction adds the cells joining its last line to its first.
void BuildGridPolygons(KQovMesh& mesh, int w, int h, bool uClosed, bool vClosed) {
    // Layer 0's UVs start empty: the surface's own do not fit the new grid.
    mesh.InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    const int columns = uClosed ? w : w - 1;
    const int rows = vClosed ? h : h - 1;
    for (int j = 0; j < rows; ++j) {
        const double v0 = GridCoordinate(j, h, vClosed), v1 = GridCoordinate(j + 1, h, vClosed);
        const int row = j * w, next = ((j + 1) % h) * w;
        for (int i = 0; i < columns; ++i) {
            const double u0 = GridCoordinate(i, w, uClosed), u1 = GridCoordinate(i + 1, w, uClosed);
            const int i1 = (i + 1) % w;
            const int uv = mesh.AddTextureUV(u0, v0);
            mesh.AddTextureUV(u1, v0);
            mesh.AddTextureUV(u0, v1);
            mesh.AddTextureUV(u1, v1);
            mesh.BeginPolygon(-1, -1, -1);
            mesh.AddPolygonVertex(row + i, uv);
            mesh.AddPolygonVertex(next + i, uv + 2);
            mesh.AddPolygonVertex(row + i1, uv + 1);
            mesh.BeginPolygon(-1, -1, -1);
            mesh.AddPolygonVertex(row + i1, uv + 1);
            mesh.AddPolygonVertex(next + i, uv + 2);
            mesh.AddPolygonVertex(next + i1, uv + 3);
        }
    }
}

// Output arrays for a grid of `count` points with normals by control point, weights 1.
void PrepareOutput(KQovGeometryBase& target, KQovPatchTessellator& t, int count) {
    target.InitControlPoints(count);
    target.InitNormals(count);
    SetWeightsToOne(target.GetControlPoints());
    SetWeightsToOne(*target.GetNormals());
    t.SetOutputPoints(target.GetControlPoints().GetArray());
    t.SetOutputNormals(target.GetNormals()->GetArray());
}

struct Grid {
    int uCount, vCount;
    bool uClosed, vClosed;
};

// The tessellator is set up but for its control points and outputs.
KQovMesh* TessellateSurface(KQovObjectManager* manager, KQovGeometry& surface,
                            KQovPatchTessellator& t, const Grid& grid) {
    const int64_t points = int64_t(grid.uCount) * grid.vCount;
    bool sized = surface.GetControlPointsCount() == points;
    for (int s = 0; s < surface.GetShapeCount(); ++s)
        sized = sized && surface.GetShape(s)->GetControlPointsCount() == points;
    if (!sized) {
        Refuse(surface);
        return nullptr;
    }
    t.SetControlPoints(surface.GetControlPoints().GetArray(), grid.uCount, grid.vCount);
    const int w = t.GetUVertexCount(), h = t.GetVVertexCount();
    Owned<KQovMesh> mesh = NewMesh(manager);
    if (!mesh) return nullptr;
    mesh->CopyLayers(surface);
    mesh->CopyPivot(surface);
    PrepareOutput(*mesh, t, w * h);
    // An empty grid still gets arrays, so that the tessellator names the real reason.
    KVector4 none;
    if (w * h == 0) {
        t.SetOutputPoints(&none);
        t.SetOutputNormals(&none);
    }
    // Sized only for a grid the tessellator accepts, which bounds the control points too.
    const bool linked = surface.GetLinkCount() > 0 && w * h > 0;
    KQovWeightTable table(linked ? int(points) : 0, linked ? w * h : 0);
    if (!t.Tessellate(linked ? &table : nullptr)) {
        Refuse(surface, t.GetError().GetErrorText());
        return nullptr;
    }
    for (int s = 0; s < surface.GetShapeCount(); ++s) mesh->SetShapeNameAside(surface.GetShapeName(s));
    for (int s = 0; s < surface.GetShapeCount(); ++s) {
        KQovShape* source = surface.GetShape(s);
        t.SetControlPoints(source->GetControlPoints().GetArray(), grid.uCount, grid.vCount);
        KQovShape* shape = KQovNewShape(manager);
        if (!shape) continue;
        shape->CopyLayers(*source);
        PrepareOutput(*shape, t, w * h);
        t.Tessellate(nullptr);
        if (mesh->AddShapeRenaming(shape, surface.GetShapeName(s)) < 0)
            KQovDisposeShape(manager, shape);
    }
    mesh->ForgetShapeNamesAside();
    ConvertLinks(surface, *mesh, table);
    BuildGridPolygons(*mesh, w, h, grid.uClosed, grid.vClosed);
    return mesh.release();
}

bool IsClosedForm(int type) {
    return type == KQovNurb::ePeriodic || type == KQovNurb::eClosed;
}

bool KnotsCover(KQovNurb& nurb, int d) {
    const int64_t count = d ? nurb.GetVCount() : nurb.GetUCount();
    const int64_t order = d ? nurb.GetVOrder() : nurb.GetUOrder();
    const bool closed = IsClosedForm(d ? nurb.GetVType() : nurb.GetUType());
    const int have = (d ? nurb.GetVKnotVector() : nurb.GetUKnotVector()).GetCount();
    return have >= (closed ? count + 2 * order - 1 : count + order);
}

// Patch knots as the NURBS of the same shape needs them; m is the direction's knot count.
void FillKnots(KArrayDouble& knots, int patchType) {
    const int m = knots.GetCount();
    double* k = knots.GetArray();
    for (int i = 0; i < m; ++i) {
        if (patchType == KQovPatch::eBezier)
            k[i] = double((std::max(std::min(i, m - 2), 1) - 1) / 3);  // 0, 0, 0, 0, 1, 1, 1, ...
        else if (patchType == KQovPatch::eBSpline)
            k[i] = i;
        else
            k[i] = std::max(0, std::min(i - 1, m - 3));  // 0, 0, 1, ..., m - 4, m - 3, m - 3
    }
}

}  // namespace

bool KQovGeometryConverter::ReplaceGeometry(KQovNode& node, KQovGeometry* old,
                                            KQovGeometry* replacement) {
    // Every take, "Default" included: the new shapes get fresh, empty channels.
    const std::vector<SavedCurve> saved = SaveShapeCurves(node, *old);
    node.SetNodeAttribute(replacement);
    RestoreShapeCurves(node, *replacement, saved);
    KQovDisposeAttribute(mManager, old);
    return true;
}

bool KQovGeometryConverter::ConvertToMesh(KQovNode* node) {
    KQovGeometry* old = node ? node->GetGeometry() : nullptr;
    if (!old) return false;
    KQovMesh* mesh = nullptr;
    if (KQovMesh* source = node->GetMesh())
        mesh = TriangulateMesh(source);
    else if (KQovPatch* patch = node->GetPatch())
        mesh = PatchToMesh(patch);
    else if (KQovNurb* nurb = node->GetNurb())
        mesh = NurbToMesh(nurb);
    return mesh && ReplaceGeometry(*node, old, mesh);
}

bool KQovGeometryConverter::ConvertPatchToNurb(KQovNode* node) {
    KQovPatch* patch = node ? node->GetPatch() : nullptr;
    KQovNurb* nurb = patch ? CreateNurbFromPatch(patch) : nullptr;
    return nurb && ReplaceGeometry(*node, patch, nurb);
}

KQovNurb* KQovGeometryConverter::CreateNurbFromPatch(KQovPatch* patch) {
    if (!patch) return nullptr;
    int order[2], form[2];
    for (int d = 0; d < 2; ++d) {
        const int type = d ? patch->GetVType() : patch->GetUType();
        const bool closed = d ? patch->GetVClosed() : patch->GetUClosed();
        const int count = d ? patch->GetVCount() : patch->GetUCount();
        order[d] = type == KQovPatch::eLinear ? 2 : 4;
        form[d] = KQovNurb::eOpen;
        if (closed && type == KQovPatch::eBSpline) form[d] = KQovNurb::ePeriodic;
        if (closed && type == KQovPatch::eLinear) form[d] = KQovNurb::eClosed;
        const bool known =
            type == KQovPatch::eBezier || type == KQovPatch::eBSpline || type == KQovPatch::eLinear;
        // Fewer points than the order leave no knot span (and a negative knot count).
        if (!known || count < order[d]) {
            Refuse(*patch);
            return nullptr;
        }
    }
    if (patch->GetControlPointsCount() != int64_t(patch->GetUCount()) * patch->GetVCount()) {
        Refuse(*patch);
        return nullptr;
    }
    Owned<KQovNurb> nurb = NewNurb(mManager);
    if (!nurb) return nullptr;
    nurb->KQovGeometry::Copy(*patch);
    nurb->SetOrder(order[0], order[1]);
    if (!nurb->InitControlPoints(patch->GetUCount(), form[0], patch->GetVCount(), form[1])) {
        Refuse(*patch);
        return nullptr;
    }
    nurb->SetStep(patch->GetUStep(), patch->GetVStep());
    FillKnots(nurb->GetUKnotVector(), patch->GetUType());
    FillKnots(nurb->GetVKnotVector(), patch->GetVType());
    CopyControlPoints(*nurb, *patch);
    SetWeightsToOne(nurb->GetControlPoints());
    FixShapeWeights(*nurb);
    return nurb.release();
}

KQovNurb* KQovGeometryConverter::CopyNurbForWriting(KQovNurb* nurb) {
    if (!nurb) return nullptr;
    Owned<KQovNurb> copy = NewNurb(mManager);
    if (!copy) return nullptr;
    copy->Copy(*nurb);
    CopyControlPoints(*copy, *nurb);
    return copy.release();
}

KQovMesh* KQovGeometryConverter::TriangulateMesh(KQovMesh* source) {
    mFallbacks = 0;
    if (!source) return nullptr;
    Owned<KQovMesh> mesh = NewMesh(mManager);
    if (!mesh) return nullptr;
    const int32_t* vertices = source->GetPolygonVertices().GetArray();
    const int vertexCount = source->GetPolygonVertices().GetCount();
    std::vector<int32_t> corners, polygons;
    KQovPolygonTriangulation cut(KQovPolygonTriangulation::eStrip);
    const KVector4* points = source->GetControlPoints().GetArray();
    const int pointCount = source->GetControlPointsCount();
    for (int p = 0; p < source->GetPolygonCount(); ++p) {
        const KQovPolygon polygon = source->GetPolygon(p);
        const int n = polygon.size;
        // Fewer than three corners make no triangle.
        if (n < 3 || polygon.first < 0 || int64_t(polygon.first) + n > vertexCount) continue;
        for (const KQovPolygonTriangulation::Triangle& t :
             cut.Cut(points, pointCount, vertices + polygon.first, n)) {
            mesh->BeginPolygon(-1, -1, polygon.group);
            polygons.push_back(p);
            for (int c : t) {
                const int32_t position = polygon.first + c;
                mesh->AddPolygonVertex(vertices[position], -1);
                corners.push_back(position);
            }
        }
    }
    // Copied after the polygons are built, which would otherwise write into the copied layers.
    mesh->KQovGeometry::Copy(*source);
    CopyControlPoints(*mesh, *source);
    RemapLayers(*mesh, corners, polygons);
    for (int s = 0; s < mesh->GetShapeCount(); ++s)
        RemapLayers(*mesh->GetShape(s), corners, polygons);
    mFallbacks = cut.GetFallbackCount();
    return mesh.release();
}

KQovMesh* KQovGeometryConverter::PatchToMesh(KQovPatch* patch) {
    if (!patch) return nullptr;
    const int uType = patch->GetUType(), vType = patch->GetVType();
    if (uType < KQovPatch::eBezier || uType > KQovPatch::eLinear || vType < KQovPatch::eBezier ||
        vType > KQovPatch::eLinear) {
        Refuse(*patch);
        return nullptr;
    }
    auto t = CreatePatchTessellator(uType, vType);
    t->SetUClosed(patch->GetUClosed() ? 1 : 0);
    t->SetVClosed(patch->GetVClosed() ? 1 : 0);
    t->SetUStep(patch->GetUStep());
    t->SetVStep(patch->GetVStep());
    const Grid grid{patch->GetUCount(), patch->GetVCount(), patch->GetUClosed(),
                    patch->GetVClosed()};
    return TessellateSurface(mManager, *patch, *t, grid);
}

KQovMesh* KQovGeometryConverter::NurbToMesh(KQovNurb* nurb) {
    if (!nurb) return nullptr;
    // Forms other than periodic and closed are open: their knot vectors are the shorter ones.
    const Grid grid{nurb->GetUCount(), nurb->GetVCount(), IsClosedForm(nurb->GetUType()),
                    IsClosedForm(nurb->GetVType())};
    if (!KnotsCover(*nurb, 0) || !KnotsCover(*nurb, 1)) {
        Refuse(*nurb);
        return nullptr;
    }
    auto t = CreateNurbTessellator(nurb->GetUOrder(), nurb->GetVOrder());
    t->SetUClosed(grid.uClosed ? 1 : 0);
    t->SetVClosed(grid.vClosed ? 1 : 0);
    t->SetUStep(nurb->GetUStep());
    t->SetVStep(nurb->GetVStep());
    std::vector<double> weights(size_t(nurb->GetControlPointsCount()));
    for (size_t i = 0; i < weights.size(); ++i)
        weights[i] = nurb->GetControlPoints().GetArray()[i][3];
    t->SetParameter(KQovNurbTessellator::eUKnots, nurb->GetUKnotVector().GetArray());
    t->SetParameter(KQovNurbTessellator::eVKnots, nurb->GetVKnotVector().GetArray());
    t->SetParameter(KQovNurbTessellator::eWeights, weights.data());
    return TessellateSurface(mManager, *nurb, *t, grid);
}
