// Version-6 mesh geometry: the raw control points and polygons, the layer elements each with
// its own mapping and reference, the "Layer" records placing them, and the shapes.

#include <cstring>
#include <string>

#include "attributes/KQovLayer.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov6.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovNode.h"

namespace {

// The kinds of element in the order the file lists them, with the "Layer" type names.
const struct {
    int kind;
    const char* name;
} kElementKinds[] = {{KQovLayer::eNormal, "LayerElementNormal"},
                     {KQovLayer::eVertexColor, "LayerElementColor"},
                     {KQovLayer::ePolygonGroup, "LayerElementPolygonGroup"},
                     {KQovLayer::eUV, "LayerElementUV"}};

// `count` groups of `Width` doubles, each filled by get(group, values): the bytes
// KQovWriteDoubleGroups writes, encoded here ('D' and the value) straight into the file's
// output buffer where the file takes encoded values, so that each value is handled once on
// its way to the file.
template <int Width, class Get>
void WriteDoubles(KQovFieldFile& f, size_t count, Get get) {
    constexpr size_t kGroups = 512, kItem = 9;
    double values[Width];
    for (size_t done = 0; done < count;) {
        const size_t n = count - done < kGroups ? count - done : kGroups;
        uint8_t* const begin = f.FieldWriteEncodedRoom(n * Width * kItem);
        if (!begin) {
            KQovWriteDoubleGroups<Width>(f, count - done,
                                         [&](size_t i, double* out) { get(done + i, out); });
            return;
        }
        uint8_t* at = begin;
        for (size_t g = 0; g < n; ++g) {
            get(done + g, values);
            for (int k = 0; k < Width; ++k, at += kItem) {
                at[0] = 'D';
                std::memcpy(at + 1, &values[k], 8);
            }
        }
        if (!f.FieldWriteEncodedCommit(size_t(at - begin), n * Width)) return;
        done += n;
    }
}

void IntList(KQovFieldFile* f, const char* name, const KArrayInt& values) {
    f->FieldWriteBegin(name);
    f->FieldWriteIn(values.GetArray(), size_t(values.GetCount()));
    f->FieldWriteEnd();
}

// A normal element's vectors, indexed ones expanded: the file keeps normals direct.
void WriteNormals(KQovFieldFile* f, const KQovLayerElement& e) {
    const KArrayVector4& direct = e.GetDirectArray();
    const KArrayInt& index = e.GetIndexArray();
    const bool indexed = e.GetReferenceMode() != KQovLayer::eDirect;
    const int count = indexed ? index.GetCount() : direct.GetCount();
    const KVector4* vectors = direct.GetArray();
    const int32_t* indices = index.GetArray();
    const int directCount = direct.GetCount();
    f->FieldWriteBegin("Normals");
    WriteDoubles<3>(*f, size_t(count), [&](size_t i, double* out) {
        const int at = indexed ? indices[i] : int(i);
        const KVector4 n = at >= 0 && at < directCount ? vectors[at] : KVector4();
        for (int k = 0; k < 3; ++k) out[k] = n[k];
    });
    f->FieldWriteEnd();
}

}  // namespace

void KQovWriterQov6::WriteGeometrySection(KQovNode* node) {
    if (KQovMesh* mesh = node->GetMesh())
        WriteMeshGeometry(node, mesh);
    else if (node->GetNurb() || node->GetPatch())
        WriteSurfaceGeometry(node, node->GetGeometry());
}

void KQovWriterQov6::WriteMeshGeometry(KQovNode* node, KQovMesh* mesh) {
    KQovFieldFile* f = mFile;
    KQovWriteIntField(f, "GeometryVersion", 124);
    const KArrayVector4& points = mesh->GetControlPoints();
    const KVector4* point = points.GetArray();
    f->FieldWriteBegin("Vertices");
    WriteDoubles<3>(*f, size_t(points.GetCount()), [point](size_t i, double* out) {
        for (int k = 0; k < 3; ++k) out[k] = point[i][k];
    });
    f->FieldWriteEnd();
    KQovWritePolygonVertexIndex(f, mesh);
    WriteShadingElements(node, mesh);
    WriteLayerElements(mesh);
    WriteLayers(mesh);
    if (mOptions->GetSwitch(KStreamOptionsQov::eShapes)) WriteShapes(mesh);
    WriteMeshSurfaceFields(mesh);
}

void KQovWriterQov6::WriteLayerElements(KQovGeometry* mesh) {
    KQovFieldFile* f = mFile;
    for (const auto& kind : kElementKinds) {
        int number = 0;
        for (int l = 0; l < mesh->GetLayerCount(); ++l) {
            const KQovLayer* layer = mesh->GetLayer(l);
            if (!layer || !layer->GetLayerElement(kind.kind)) continue;
            switch (kind.kind) {
                case KQovLayer::eNormal: {
                    const KQovLayerElement& e = *layer->GetNormals();
                    KQovWriteElementBegin(f, kind.name, number, e.GetMappingMode(),
                                          KQovLayer::eDirect);
                    WriteNormals(f, e);
                    break;
                }
                case KQovLayer::eVertexColor: {
                    const KQovLayerElementColor& e = *layer->GetVertexColors();
                    KQovWriteElementBegin(f, kind.name, number, e.GetMappingMode(),
                                          e.GetReferenceMode());
                    const KColor* colors = e.GetDirectArray().GetArray();
                    f->FieldWriteBegin("Colors");
                    WriteDoubles<4>(*f, size_t(e.GetDirectArray().GetCount()),
                                    [colors](size_t i, double* out) {
                                        const KColor& c = colors[i];
                                        out[0] = c.mRed;
                                        out[1] = c.mGreen;
                                        out[2] = c.mBlue;
                                        out[3] = c.mAlpha;
                                    });
                    f->FieldWriteEnd();
                    if (e.GetReferenceMode() == KQovLayer::eIndexToDirect)
                        IntList(f, "ColorIndex", e.GetIndexArray());
                    break;
                }
                case KQovLayer::ePolygonGroup: {
                    const KQovLayerElementPolygonGroup& e = *layer->GetPolygonGroups();
                    KQovWriteElementBegin(f, kind.name, number, e.GetMappingMode(),
                                          e.GetReferenceMode());
                    IntList(f, "PolygonGroup", e.GetIndexArray());
                    break;
                }
                case KQovLayer::eUV: {
                    const KQovLayerElementUV& e = *layer->GetUVs();
                    KQovWriteElementBegin(f, kind.name, number, e.GetMappingMode(),
                                          e.GetReferenceMode());
                    const KVector2* uvs = e.GetDirectArray().GetArray();
                    f->FieldWriteBegin("UV");
                    WriteDoubles<2>(*f, size_t(e.GetDirectArray().GetCount()),
                                    [uvs](size_t i, double* out) {
                                        out[0] = uvs[i].mData[0];
                                        out[1] = uvs[i].mData[1];
                                    });
                    f->FieldWriteEnd();
                    if (e.GetReferenceMode() == KQovLayer::eIndexToDirect)
                        IntList(f, "UVIndex", e.GetIndexArray());
                    break;
                }
            }
            KQovWriteBlockEnd(f);
            ++number;
        }
    }
}

bool KQovWriterQov6::HasTextureIds(const KQovLayer* layer) const {
    const KQovLayerElementTexture* e = layer->GetTextures();
    return e && e->GetIndexArray().GetCount() > 0;
}

void KQovWriterQov6::WriteLayers(KQovGeometry* mesh) {
    KQovFieldFile* f = mFile;
    int numbers[sizeof(kElementKinds) / sizeof(kElementKinds[0])] = {};
    int materials = 0, textures = 0;
    auto entry = [f](const char* type, int& number) {
        KQovWriteBlockBegin(f, "LayerElement");
        f->FieldWriteC("Type", type);
        KQovWriteIntField(f, "TypedIndex", number++);
        KQovWriteBlockEnd(f);
    };
    for (int l = 0; l < mesh->GetLayerCount(); ++l) {
        const KQovLayer* layer = mesh->GetLayer(l);
        if (!layer) continue;
        f->FieldWriteBegin("Layer");
        f->FieldWriteI(l);
        f->FieldWriteBlockBegin();
        KQovWriteIntField(f, "Version", 100);
        if (layer->GetMaterials() && mOptions->GetSwitch(KStreamOptionsQov::eMaterials))
            entry("LayerElementMaterial", materials);
        if (HasTextureIds(layer) && mOptions->GetSwitch(KStreamOptionsQov::eTexturesAndMedia))
            entry("LayerElementTexture", textures);
        int k = 0;
        for (const auto& kind : kElementKinds) {
            if (layer->GetLayerElement(kind.kind)) entry(kind.name, numbers[k]);
            ++k;
        }
        KQovWriteBlockEnd(f);
    }
}
