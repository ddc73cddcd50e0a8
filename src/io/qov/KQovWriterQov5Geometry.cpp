// Version-5 geometry sections: meshes, NURBS and patches with their materials, textures,
// cluster links, shapes and layers. The geometry is read, never changed: modes that do not fit
// are corrected in what is written only.

#include <vector>

#include "attributes/KQovLayer.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovShadingScene.h"
#include "attributes/KQovTexture.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "foundation/KAffineMatrix.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovNode.h"

namespace {

enum { eNone = 0, eByControlPoint = 1, eByPolygonVertex = 2, eByPolygon = 3, eAllSame = 4 };
enum { eDirect = 0, eIndex = 1, eIndexToDirect = 2 };

void Ints(KQovFieldFile* f, const char* name, std::initializer_list<int> values) {
    f->FieldWriteBegin(name);
    for (int v : values) f->FieldWriteI(v);
    f->FieldWriteEnd();
}

void Matrix(KQovFieldFile* f, const char* name, const KMatrix& m) {
    f->FieldWriteBegin(name);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) f->FieldWriteD(m[r][c]);
    f->FieldWriteEnd();
}

// The pivot's rotation alone, for normals.
KAffineMatrix PivotRotation(const KAffineMatrix& pivot) {
    return KAffineMatrix(KVector4(0.0, 0.0, 0.0), pivot.GetR(), KVector4(1.0, 1.0, 1.0));
}

KVector4 Transformed(const KMatrix& m, const KVector4& p) {
    KVector4 out;
    KMatrixTransformPoint(out, m, p);
    return out;
}

KVector4 Rotated(const KMatrix& m, const KVector4& v) {
    KVector4 out;
    KMatrixRotateVector(out, m, v);
    return out;
}

void Points(KQovFieldFile* f, const char* name, const KArrayVector4& points, const KMatrix& m,
            bool withWeight) {
    f->FieldWriteBegin(name);
    for (int i = 0; i < points.GetCount(); ++i) {
        const KVector4 p = Transformed(m, points.GetAt(i));
        for (int k = 0; k < 3; ++k) f->FieldWriteD(p[k]);
        // The real weight: rational surfaces keep their shape.
        if (withWeight) f->FieldWriteD(points.GetAt(i)[3]);
    }
    f->FieldWriteEnd();
}

// An index that names none of `count` items is written as 0: readers look indices up.
int InRangeOrZero(int index, int count) {
    return index < 0 || index >= count ? 0 : index;
}

int IndexAt(const KArrayInt& indices, int i) {
    return i >= 0 && i < indices.GetCount() ? indices.GetAt(i) : 0;
}

}  // namespace

void KQovWriterQov5::WriteGeometrySection(KQovNode* node) {
    if (KQovMesh* mesh = node->GetMesh()) {
        WriteMesh(mesh);
    } else if (KQovNurb* nurb = node->GetNurb()) {
        WriteNurb(nurb);
    } else if (KQovPatch* patch = node->GetPatch()) {
        WritePatch(patch);
    }
}

void KQovWriterQov5::WriteGeometryCommon(KQovGeometry* geometry, KQovNode* node) {
    for (int i = 0; i < geometry->GetMaterialCount(0); ++i)
        if (KQovMaterial* material = geometry->GetMaterial(i, 0)) WriteMaterial(material);
    WriteMaterialsOfModelOnly(node);
    for (int layer = 0; layer < geometry->GetLayerCount(); ++layer)
        for (int i = 0; i < geometry->GetTextureCount(layer); ++i)
            if (KQovTexture* texture = geometry->GetTexture(i, layer)) WriteTexture(texture);
    WriteTexturesOfModelOnly(node);
    for (int i = 0; i < geometry->GetLinkCount(); ++i)
        if (KQovLink* link = geometry->GetLink(i)) WriteLink(link);
    WriteShapes(geometry);
    WriteGeometryLayers(geometry);
}

void KQovWriterQov5::WriteMaterialsOfModelOnly(KQovNode* node) {
    // After the layer's materials, whose positions the material indices count.
    for (KQovMaterial* material : KQovShadingScene::MaterialsOfModelOnly(node))
        WriteMaterial(material, true);
}

void KQovWriterQov5::WriteTexturesOfModelOnly(KQovNode* node) {
    // After the layers' textures, whose positions the texture ids count.
    for (KQovTexture* texture : KQovShadingScene::TexturesOfModelOnly(node))
        WriteTexture(texture, true);
}

void KQovWriterQov5::WriteMesh(KQovMesh* mesh) {
    KQovFieldFile* f = mFile;
    WriteGeometryCommon(mesh, mesh->GetNode());
    if (mesh->GetControlPointsCount() == 0) {
        // Nothing of the points to write; the surface settings still go.
        WriteMeshSurfaceFields(mesh);
        return;
    }
    KQovWriteIntField(f, "GeometryVersion", 123);
    const KAffineMatrix pivot = mesh->GetPivot();
    Points(f, "Vertices", mesh->GetControlPoints(), pivot, false);
    KQovLayer* layer0 = mesh->GetLayer(0);
    if (KQovLayerElement* normals = layer0 ? layer0->GetNormals() : nullptr) {
        const KAffineMatrix rotation = PivotRotation(pivot);
        f->FieldWriteBegin("Normals");
        const KArrayVector4& direct = normals->GetDirectArray();
        for (int i = 0; i < direct.GetCount(); ++i) {
            const KVector4 n = Rotated(rotation, direct.GetAt(i));
            for (int k = 0; k < 3; ++k) f->FieldWriteD(n[k]);
        }
        f->FieldWriteEnd();
    }
    WriteMeshMappings(mesh);
    KQovWritePolygonVertexIndex(f, mesh);
    const int polygons = mesh->GetPolygonCount();
    bool grouped = false;
    for (int p = 1; p < polygons; ++p)
        grouped = grouped || mesh->GetPolygon(p).group != mesh->GetPolygon(0).group;
    if (grouped) {
        f->FieldWriteBegin("PolygonGroup");
        for (int p = 0; p < polygons; ++p) f->FieldWriteI(mesh->GetPolygon(p).group);
        f->FieldWriteEnd();
    }
    WriteMeshUVInfo(mesh);
    WriteVertexColors(mesh);
    WriteMeshSurfaceFields(mesh);
}

void KQovWriterQov5::WriteMeshSurfaceFields(KQovMesh* mesh) {
    static const char* const kNames[2][5] = {
        {"UExtendedCount", "UClosed", "UTopCap", "UStep", "UCount"},
        {"VExtendedCount", "VClosed", "VTopCap", "VStep", "VCount"}};
    if (mesh->GetUSurface().count == 0 || mesh->GetVSurface().count == 0) return;
    for (int d = 0; d < 2; ++d) {
        const KQovMeshSurfaceFields& s = d == 0 ? mesh->GetUSurface() : mesh->GetVSurface();
        const char* const* name = kNames[d];
        KQovWriteIntField(mFile, name[0], s.extendedCount);
        KQovWriteIntField(mFile, name[1], s.closed ? 1 : 0);
        KQovWriteIntField(mFile, name[2], s.topCap ? 1 : 0);
        KQovWriteIntField(mFile, name[3], s.step);
        KQovWriteIntField(mFile, name[4], s.count);
    }
}

void KQovWriterQov5::WriteMeshMappings(KQovMesh* mesh) {
    KQovFieldFile* f = mFile;
    KQovLayer* layer0 = mesh->GetLayer(0);
    const int mode = mesh->GetMaterialMappingMode();
    const int entries = mode == eByControlPoint ? mesh->GetControlPointsCount()
                        : mode == eByPolygon    ? mesh->GetPolygonCount()
                                                : 1;
    f->FieldWriteC("MaterialAssignation", mode == eByControlPoint ? "ByVertice"
                                          : mode == eByPolygon    ? "ByPolygon"
                                                                  : "AllSame");
    const int materials = mesh->GetMaterialCount(0);
    KQovLayerElementMaterial* element = layer0 ? layer0->GetMaterials() : nullptr;
    const bool last = element && (element->GetReferenceMode() == eDirect ||
                                  element->GetIndexArray().GetCount() == 0);
    f->FieldWriteBegin("Materials");
    for (int i = 0; i < entries; ++i) {
        int value = 0;
        if (materials > 0 && (last || !element))
            value = materials - 1;
        else if (materials > 0)
            value = IndexAt(element->GetIndexArray(), i);
        f->FieldWriteI(value);
    }
    f->FieldWriteEnd();

    KQovLayerElementTexture* textures = layer0 ? layer0->GetTextures() : nullptr;
    if (!textures) return;
    if (textures->GetMappingMode() == eByPolygon) {
        f->FieldWriteC("TextureMode", "ByPolygon");
        f->FieldWriteBegin("TextureId");
        for (int p = 0; p < mesh->GetPolygonCount(); ++p) {
            f->FieldWriteI(InRangeOrZero(IndexAt(textures->GetIndexArray(), p),
                                         textures->GetDirectArray().GetCount()));
        }
        f->FieldWriteEnd();
    } else if (textures->GetMappingMode() == eAllSame) {
        f->FieldWriteC("TextureMode", "ByModel");
    }
}

void KQovWriterQov5::WriteMeshUVInfo(KQovMesh* mesh) {
    KQovFieldFile* f = mFile;
    KQovWriteBlockBegin(f, "GeometryUVInfo");
    KQovWriteIntField(f, "Version", 240);
    KQovLayer* layer0 = mesh->GetLayer(0);
    KQovLayerElementUV* uvs = layer0 ? layer0->GetUVs() : nullptr;
    const int mode = uvs ? uvs->GetMappingMode() : eNone;
    if (uvs && uvs->GetDirectArray().GetCount() > 0 &&
        (mode == eByControlPoint || mode == eByPolygonVertex)) {
        f->FieldWriteC("MappingInformationType",
                       mode == eByControlPoint ? "ByVertice" : "ByPolygon");
        f->FieldWriteBegin("TextureUV");
        for (int i = 0; i < uvs->GetDirectArray().GetCount(); ++i) {
            const KVector2& uv = uvs->GetDirectArray().GetAt(i);
            f->FieldWriteD(uv.mData[0]);
            f->FieldWriteD(uv.mData[1]);
        }
        f->FieldWriteEnd();
        if (mode == eByPolygonVertex && uvs->GetIndexArray().GetCount() > 0) {
            f->FieldWriteBegin("TextureUVVerticeIndex");
            const int count = uvs->GetDirectArray().GetCount();
            for (int i = 0; i < uvs->GetIndexArray().GetCount(); ++i)
                f->FieldWriteI(InRangeOrZero(uvs->GetIndexArray().GetAt(i), count));
            f->FieldWriteEnd();
        }
    } else {
        f->FieldWriteC("MappingInformationType", "NoMappingInformation");
    }
    KQovWriteBlockEnd(f);
}

void KQovWriterQov5::WriteVertexColors(KQovMesh* mesh) {
    KQovLayer* layer0 = mesh->GetLayer(0);
    KQovLayerElementColor* colors = layer0 ? layer0->GetVertexColors() : nullptr;
    if (!colors) return;
    const int mode = colors->GetMappingMode();
    const int reference = colors->GetReferenceMode();
    const int target = mode == eByControlPoint    ? mesh->GetControlPointsCount()
                       : mode == eByPolygonVertex ? mesh->GetPolygonVertices().GetCount()
                                                  : -1;
    const int count = reference == eDirect          ? colors->GetDirectArray().GetCount()
                      : reference == eIndexToDirect ? colors->GetIndexArray().GetCount()
                                                    : -2;
    if (target < 0 || count != target) return;
    KQovFieldFile* f = mFile;
    KQovWriteBlockBegin(f, "VertexColorInfo");
    KQovWriteIntField(f, "Version", 100);
    f->FieldWriteC("MappingInformationType",
                   mode == eByControlPoint ? "ByVertice" : "ByPolygonVertex");
    f->FieldWriteBegin("Colors");
    for (int i = 0; i < colors->GetDirectArray().GetCount(); ++i) {
        const KColor& c = colors->GetDirectArray().GetAt(i);
        for (double v : {c.mRed, c.mGreen, c.mBlue, c.mAlpha}) f->FieldWriteD(v);
    }
    f->FieldWriteEnd();
    if (reference == eIndexToDirect) {
        f->FieldWriteBegin("ColorIndex");
        for (int i = 0; i < colors->GetIndexArray().GetCount(); ++i)
            f->FieldWriteI(InRangeOrZero(colors->GetIndexArray().GetAt(i),
                                         colors->GetDirectArray().GetCount()));
        f->FieldWriteEnd();
    }
    KQovWriteBlockEnd(f);
}

void KQovWriterQov5::WriteGeometryLayers(KQovGeometry* geometry) {
    const bool mesh = geometry->GetAttributeType() == KQovNodeAttribute::eMesh;
    bool first = true;
    int index = 0;
    // The model's textures are written layer after layer (WriteGeometryCommon), and a reader
    // takes a layer's ids as positions among them all.
    std::unordered_map<const KQovTexture*, int> written;
    for (int l = 0, at = 0; l < geometry->GetLayerCount(); ++l)
        for (int i = 0; i < geometry->GetTextureCount(l); ++i)
            if (const KQovTexture* texture = geometry->GetTexture(i, l))
                written.try_emplace(texture, at), ++at;
    for (int l = 0; l < geometry->GetLayerCount(); ++l) {
        KQovLayer* layer = geometry->GetLayer(l);
        if (!layer || !layer->GetTextures()) continue;
        // A mesh's first texture layer went into "TextureMode", "TextureId" and "GeometryUVInfo".
        if (mesh && first) {
            first = false;
            continue;
        }
        first = false;
        KQovWriteBlockBegin(mFile, "GeometryLayer");
        KQovWriteIntField(mFile, "LayerIndex", index++);
        WriteLayerTextureInfo(geometry, layer, written);
        KQovWriteBlockEnd(mFile);
    }
}

void KQovWriterQov5::WriteLayerTextureInfo(
    KQovGeometry* geometry, KQovLayer* layer,
    const std::unordered_map<const KQovTexture*, int>& written) {
    KQovFieldFile* f = mFile;
    const bool isMesh = geometry->GetAttributeType() == KQovNodeAttribute::eMesh;
    KQovMesh* mesh = isMesh ? static_cast<KQovMesh*>(geometry) : nullptr;
    KQovLayerElementTexture* textures = layer->GetTextures();
    const int mapping = textures->GetMappingMode();
    const KArrayInt& ids = textures->GetIndexArray();
    const bool indexed = textures->GetReferenceMode() == eIndexToDirect;
    const bool usable =
        indexed && (mapping == eNone || (mapping == eAllSame && ids.GetCount() <= 1) ||
                    (mesh && mapping == eByPolygon && ids.GetCount() == mesh->GetPolygonCount()));
    if (!usable) return;
    KQovWriteBlockBegin(f, "LayerTextureInfo");
    KQovWriteIntField(f, "TextureBlendMode", textures->GetBlendMode());
    KQovWriteIntField(f, "TextureMode", mapping == eNone ? 0 : mapping == eByPolygon ? 6 : 2);
    KQovWriteIntField(f, "TextureIdCount", ids.GetCount());
    const int textureCount = textures->GetDirectArray().GetCount();
    f->FieldWriteBegin("TextureId");
    for (int i = 0; i < ids.GetCount(); ++i) {
        const int id = ids.GetAt(i);
        const auto at =
            textureCount == 0
                ? written.end()
                : written.find(textures->GetDirectArray().GetAt(InRangeOrZero(id, textureCount)));
        f->FieldWriteI(at == written.end() ? 0 : at->second);
    }
    f->FieldWriteEnd();
    if (KQovLayerElementUV* uvs = layer->GetUVs()) {
        // The modes as they can be written; the element itself is left as it is.
        int uvMapping = uvs->GetMappingMode();
        const int uvReference = uvs->GetReferenceMode();
        const int uvCount = uvs->GetDirectArray().GetCount();
        const int idCount = uvs->GetIndexArray().GetCount();
        const int given = uvReference == eDirect ? uvCount : idCount;
        if (uvMapping < eNone || uvMapping > eByPolygonVertex) uvMapping = eNone;
        if (uvReference != eDirect && uvReference != eIndexToDirect) uvMapping = eNone;
        if (uvMapping == eByControlPoint && given != geometry->GetControlPointsCount())
            uvMapping = eNone;
        if (uvMapping == eByPolygonVertex &&
            (!mesh || given != mesh->GetPolygonVertices().GetCount()))
            uvMapping = eNone;
        const bool direct = uvReference == eDirect;
        KQovWriteIntField(f, "UVMode",
                          uvMapping == eNone             ? 0
                          : uvMapping == eByControlPoint ? (direct ? 3 : 4)
                                                         : (direct ? 7 : 8));
        if (uvMapping != eNone) {
            KQovWriteIntField(f, "UVCount", uvCount);
            f->FieldWriteBegin("UV");
            for (int i = 0; i < uvCount; ++i) {
                const KVector2& uv = uvs->GetDirectArray().GetAt(i);
                f->FieldWriteD(uv.mData[0]);
                f->FieldWriteD(uv.mData[1]);
            }
            f->FieldWriteEnd();
            if (!direct) {
                KQovWriteIntField(f, "UVIdCount", idCount);
                f->FieldWriteBegin("UVId");
                // Every index names a UV: one past them, or below 0, would be read unchecked.
                for (int i = 0; i < idCount; ++i) {
                    const int id = uvs->GetIndexArray().GetAt(i);
                    f->FieldWriteI(InRangeOrZero(id, uvCount));
                }
                f->FieldWriteEnd();
            }
        }
    }
    KQovWriteBlockEnd(f);
}

void KQovWriterQov5::WriteLink(KQovLink* link) {
    KQovNode* linked = link->GetLink();
    if (!linked) return;
    KQovWriteBlockBegin(mFile, "Link", linked->GetName());
    WriteClusterFields(link);
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteClusterFields(KQovLink* link) {
    KQovFieldFile* f = mFile;
    if (link->GetLinkMode() == 1) f->FieldWriteC("Mode", "Additive");
    if (link->GetLinkMode() == 2) f->FieldWriteC("Mode", "Total1");
    f->FieldWriteBegin("UserData");
    f->FieldWriteC(link->GetUserDataID().Buffer());
    f->FieldWriteC(link->GetUserData().Buffer());
    f->FieldWriteEnd();
    f->FieldWriteBegin("Indexes");
    for (int i = 0; i < link->GetControlPointIndicesCount(); ++i)
        f->FieldWriteI(link->GetControlPointIndex(i));
    f->FieldWriteEnd();
    f->FieldWriteBegin("Weights");
    for (int i = 0; i < link->GetControlPointIndicesCount(); ++i)
        f->FieldWriteD(link->GetControlPointWeight(i));
    f->FieldWriteEnd();
    const KAffineMatrix linkMatrix = link->GetTransformLinkMatrix();
    KMatrix relative;
    KMatrixMultiplyInverse(relative, link->GetTransformMatrix(), linkMatrix);
    Matrix(f, "Transform", relative);
    Matrix(f, "TransformLink", linkMatrix);
    if (KQovNode* associate = link->GetAssociateModel()) {
        KQovWriteBlockBegin(f, "AssociateModel", WrittenName(associate));
        KMatrixMultiplyInverse(relative, link->GetTransformAssociateModelMatrix(), linkMatrix);
        Matrix(f, "Transform", relative);
        KQovWriteBlockEnd(f);
    }
    if (link->HasTransformParent()) Matrix(f, "TransformParent", link->GetTransformParentMatrix());
}

void KQovWriterQov5::WriteShapes(KQovGeometry* geometry) {
    KQovFieldFile* f = mFile;
    const KAffineMatrix pivot = geometry->GetPivot();
    const KAffineMatrix rotation = PivotRotation(pivot);
    const bool mesh = geometry->GetAttributeType() == KQovNodeAttribute::eMesh;
    const KArrayVector4& base = geometry->GetControlPoints();
    const KArrayVector4* baseNormals = mesh ? geometry->GetNormals() : nullptr;
    for (int s = 0; s < geometry->GetShapeCount(); ++s) {
        KQovShape* shape = geometry->GetShape(s);
        if (!shape) continue;
        const KArrayVector4& points = shape->GetControlPoints();
        const KArrayVector4* normals = shape->GetNormals();
        const int count = std::min(points.GetCount(), base.GetCount());
        // Normals move with the points only when both are kept per control point.
        const bool withNormals = baseNormals && normals &&
                                 baseNormals->GetCount() == base.GetCount() &&
                                 normals->GetCount() == points.GetCount();
        // Only the points the shape moves, as offsets from the base (the reader adds them).
        std::vector<int> moved;
        std::vector<KVector4> offsets, normalOffsets;
        for (int i = 0; i < count; ++i) {
            KVector4 d = Transformed(pivot, points.GetAt(i)) - Transformed(pivot, base.GetAt(i));
            KVector4 n;
            if (withNormals)
                n = Rotated(rotation, normals->GetAt(i)) - Rotated(rotation, baseNormals->GetAt(i));
            if (d[0] == 0.0 && d[1] == 0.0 && d[2] == 0.0 && n[0] == 0.0 && n[1] == 0.0 &&
                n[2] == 0.0)
                continue;
            moved.push_back(i);
            offsets.push_back(d);
            normalOffsets.push_back(n);
        }
        KQovWriteBlockBegin(f, "Shape", geometry->GetShapeName(s));
        f->FieldWriteBegin("Indexes");
        for (int i : moved) f->FieldWriteI(i);
        f->FieldWriteEnd();
        for (const auto* list : {&offsets, &normalOffsets}) {
            if (list == &normalOffsets && !withNormals) break;
            f->FieldWriteBegin(list == &offsets ? "Vertices" : "Normals");
            for (const KVector4& v : *list)
                for (int k = 0; k < 3; ++k) f->FieldWriteD(v[k]);
            f->FieldWriteEnd();
        }
        KQovWriteBlockEnd(f);
    }
}

void KQovWriterQov5::WriteGeometryMaterialIndices(KQovGeometry* geometry) {
    KQovLayer* layer0 = geometry->GetLayer(0);
    KQovLayerElementMaterial* element = layer0 ? layer0->GetMaterials() : nullptr;
    mFile->FieldWriteBegin("Materials");
    if (element)
        for (int i = 0; i < element->GetIndexArray().GetCount(); ++i)
            mFile->FieldWriteI(element->GetIndexArray().GetAt(i));
    mFile->FieldWriteEnd();
}

void KQovWriterQov5::WriteNurb(KQovNurb* original) {
    // The surface as converted for writing; the scene's own stays untouched.
    KQovGeometryConverter converter(mManager);
    KQovNurb* copy = converter.CopyNurbForWriting(original);
    KQovNurb* nurb = copy ? copy : original;
    mFile->FieldWriteC("Type", "Nurb");
    // The copy belongs to no node: the textures tied to the model are the original's.
    WriteGeometryCommon(nurb, original->GetNode());
    WriteNurbFields(nurb);
    WriteGeometryMaterialIndices(nurb);
    if (copy) KQovDisposeAttribute(mManager, copy);
}

void KQovWriterQov5::WriteNurbFields(KQovNurb* nurb) {
    KQovFieldFile* f = mFile;
    KQovWriteIntField(f, "NurbVersion", 100);
    Ints(f, "SurfaceDisplay", {nurb->GetSurfaceDisplay(), nurb->GetUStep(), nurb->GetVStep()});
    Ints(f, "NurbOrder", {nurb->GetUOrder(), nurb->GetVOrder()});
    Ints(f, "Dimensions", {nurb->GetUCount(), nurb->GetVCount()});
    Ints(f, "Step", {nurb->GetUStep(), nurb->GetVStep()});
    auto form = [](int type) {
        return type == KQovNurb::ePeriodic ? "Periodic"
               : type == KQovNurb::eClosed ? "Closed"
                                           : "Open";
    };
    f->FieldWriteBegin("Form");
    f->FieldWriteC(form(nurb->GetUType()));
    f->FieldWriteC(form(nurb->GetVType()));
    f->FieldWriteEnd();
    Points(f, "Points", nurb->GetControlPoints(), nurb->GetPivot(), true);
    for (int d = 0; d < 2; ++d) {
        KArrayInt& multiplicity =
            d == 0 ? nurb->GetUMultiplicityVector() : nurb->GetVMultiplicityVector();
        f->FieldWriteBegin(d == 0 ? "MultiplicityU" : "MultiplicityV");
        for (int i = 0; i < multiplicity.GetCount(); ++i) f->FieldWriteI(multiplicity.GetAt(i));
        f->FieldWriteEnd();
    }
    for (int d = 0; d < 2; ++d) {
        KArrayDouble& knots = d == 0 ? nurb->GetUKnotVector() : nurb->GetVKnotVector();
        f->FieldWriteBegin(d == 0 ? "KnotVectorU" : "KnotVectorV");
        for (int i = 0; i < knots.GetCount(); ++i) f->FieldWriteD(knots.GetAt(i));
        f->FieldWriteEnd();
    }
}

void KQovWriterQov5::WritePatch(KQovPatch* patch) {
    mFile->FieldWriteC("Type", "Patch");
    WriteGeometryCommon(patch, patch->GetNode());
    WritePatchFields(patch);
    WriteGeometryMaterialIndices(patch);
}

void KQovWriterQov5::WritePatchFields(KQovPatch* patch) {
    KQovFieldFile* f = mFile;
    KQovWriteIntField(f, "PatchVersion", 100);
    Ints(f, "SurfaceDisplay", {patch->GetSurfaceDisplay(), patch->GetUStep(), patch->GetVStep()});
    static const char* const kTypes[] = {"Bezier", "BezierQuadric", "Cardinal", "BSpline",
                                         "Linear"};
    f->FieldWriteBegin("PatchType");
    for (int type : {patch->GetUType(), patch->GetVType()})
        if (type >= 0 && type <= 4) f->FieldWriteC(kTypes[type]);
    f->FieldWriteEnd();
    Ints(f, "Dimensions", {patch->GetUCount(), patch->GetVCount()});
    Ints(f, "Step", {patch->GetUStep(), patch->GetVStep()});
    Ints(f, "Closed", {patch->GetUClosed() ? 1 : 0, patch->GetVClosed() ? 1 : 0});
    Ints(f, "UCapped", {patch->GetUCapped(0) ? 1 : 0, patch->GetUCapped(1) ? 1 : 0});
    Ints(f, "VCapped", {patch->GetVCapped(0) ? 1 : 0, patch->GetVCapped(1) ? 1 : 0});
    Points(f, "Points", patch->GetControlPoints(), patch->GetPivot(), false);
}
