// Geometry fields of the QOV reader: control points, normals, polygons, the version-5 material
// and texture modes, UVs with their indices, polygon groups, and the names of layer-element
// mapping and blend modes. Every index comes from the file and is checked before use.

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "fieldfile/KQovFieldReader.h"
#include "io/qov/KQovReaderQov.h"
#include "platform/KPlatformSystem.h"

namespace {

// Large arrays about to be filled whole ask for large pages: a fault per large page instead
// of one per page. All but their first eighth is made present beside the fill, which is
// slower than the system's zeroing of the pages.
void PreferLargePages(void* at, size_t bytes) {
    constexpr size_t kFrom = size_t(4) << 20;
    if (!at || bytes < kFrom) return;
    KPlatformPreferLargePages(at, bytes);
    KPlatformPrefaultAside(static_cast<char*>(at) + bytes / 8, bytes - bytes / 8);
}

}  // namespace

void KQovReaderQov::InvalidData(const char* text) {
    mFile->GetError().SetErrorWithText(KQovFieldFile::eInvalidData, text);
}

struct KQovReaderQov::VerticesAside {
    KPlatformThread thread;
    KVector4* points = nullptr;
    size_t count = 0;
    int occurrence = -1;  // of the "Vertices" field, opened again to finish it
    size_t done = 0;      // points the thread decoded, up to the first of another type
};

namespace {

int gVerticesAsideFrom = 1 << 18;

KVector4 Point(const double* v) {
    return KVector4(v[0], v[1], v[2], 1.0);
}

}  // namespace

int KQovReaderQov::SetVerticesAsideFrom(int points) {
    const int old = gVerticesAsideFrom;
    gVerticesAsideFrom = points;
    return old;
}

bool KQovReaderQov::ReadVertices(KQovGeometryBase* geometry, VerticesAside* aside) {
    if (!mFile->FieldReadBegin("Vertices")) return true;
    const int count = mFile->FieldReadGetCount() / 3;
    geometry->InitControlPoints(0);
    KArrayVector4& points = geometry->GetControlPoints();
    if (KVector4* at = points.AppendUninitialised(count)) {
        PreferLargePages(at, sizeof(KVector4) * size_t(count));
        size_t size = 0;
        const uint8_t* bytes = aside && count >= gVerticesAsideFrom
                                   ? mFile->FieldReadStoredBytes(size)
                                   : nullptr;
        if (bytes && KQovStoredGroups<3>(*mFile.get(), size_t(count), size) == size_t(count)) {
            // The field stays unread until FinishVertices opens it again: its bytes are not
            // given back while the thread reads them.
            aside->points = at;
            aside->count = size_t(count);
            aside->occurrence = mFile->FieldReadGetOccurrence();
            const bool mapped = mFile->GetTree()->IsMapped();
            aside->thread.Start([aside, bytes, mapped] {
                // A piece at a time; the bytes of a mapping taken go back at once (they come
                // back from the file if read again), rather than beside what the read makes
                // meanwhile.
                constexpr size_t kPiece = size_t(1) << 16;
                size_t done = 0;
                while (done < aside->count) {
                    const size_t want = std::min(kPiece, aside->count - done);
                    const size_t got = KQovDecodeDoubleGroups<3>(
                        bytes + done * 27, want,
                        [at = aside->points + done](size_t i, const double* v) {
                            at[i] = Point(v);
                        });
                    if (mapped)
                        KPlatformDiscardPagesInside(const_cast<uint8_t*>(bytes) + done * 27,
                                                    got * 27);
                    done += got;
                    if (got < want) break;
                }
                aside->done = done;
            });
        } else {
            KQovReadDoubleGroups<3>(*mFile.get(), size_t(count),
                                    [at](size_t i, const double* v) { at[i] = Point(v); });
        }
    }
    mFile->FieldReadEnd();
    return true;
}

void KQovReaderQov::FinishVertices(VerticesAside& aside) {
    if (!aside.points) return;
    aside.thread.Join();
    // The points past the first value of another type are read the checked way.
    if (mFile->FieldReadBegin("Vertices", aside.occurrence)) {
        const size_t done = aside.done;
        mFile->FieldReadSkipStored(int(done * 3), done * 27);
        KQovReadDoubleGroups<3>(
            *mFile.get(), aside.count - done,
            [at = aside.points + done](size_t i, const double* v) { at[i] = Point(v); });
        mFile->FieldReadEnd();
    }
    aside.points = nullptr;
}

bool KQovReaderQov::ReadNormals(KQovGeometryBase* geometry) {
    if (!mFile->FieldReadBegin("Normals")) return true;
    const int count = mFile->FieldReadGetCount() / 3;
    // Read straight into the normals; those the field does not give (a count of 0 makes one
    // per control point) are zero.
    if (KVector4* at = geometry->InitNormalsUninitialised(count)) {
        const int made = geometry->GetNormals()->GetCount();
        PreferLargePages(at, sizeof(KVector4) * size_t(made));
        if (made == count)
            KQovReadDoubleGroups<3>(*mFile.get(), size_t(count), [at](size_t i, const double* v) {
                at[i] = KVector4(v[0], v[1], v[2], 1.0);
            });
        else
            std::fill(at, at + made, KVector4());
    }
    mFile->FieldReadEnd();
    return true;
}

bool KQovReaderQov::ReadPolygonVertexIndex(KQovMesh* mesh) {
    if (!mFile->FieldReadBegin("PolygonVertexIndex")) return true;
    const int count = mFile->FieldReadGetCount();
    const int points = mesh->GetControlPointsCount();
    bool dropped = false;
    // The list is decoded in one pass into a list the mesh then takes over as it is, each
    // vertex checked as it comes; ~v marks the last vertex of a polygon (unlike -v - 1 it
    // cannot overflow).
    KQovPolygonList list(points, mesh->GetPolygonCount() == 0 ? count : 0);
    if (list.HasRoom()) {
        // A chunk at a time: from the file's bytes while they are integers as this host stores
        // them, else converted; values the field lacks read as 0.
        int32_t chunk[1024];
        size_t stored = 0;
        const uint8_t* at = mFile->FieldReadStoredBytes(stored);
        const uint8_t* const storedEnd = at ? at + stored / 5 * 5 : nullptr;
        bool endedLast = false;
        for (int i = 0; i < count;) {
            const int want = std::min(count - i, 1024);
            int n = 0;
            if (at) {
                const int whole = int(std::min<ptrdiff_t>(want, (storedEnd - at) / 5));
                for (; n < whole && at[0] == 'I'; ++n, at += 5) std::memcpy(chunk + n, at + 1, 4);
                if (n < want) {
                    mFile->FieldReadSkipStored(i + n, size_t(i + n) * 5);
                    at = nullptr;
                }
            }
            if (n < want) {
                const size_t got = mFile->FieldReadIn(chunk + n, size_t(want - n));
                std::fill(chunk + n + got, chunk + want, 0);
            }
            list.AddMarked(chunk, want);
            endedLast = chunk[want - 1] < 0;
            i += want;
        }
        if (at) mFile->FieldReadSkipStored(count, size_t(count) * 5);
        if (!endedLast) list.EndPolygon();
        dropped = list.HasDropped();
        mesh->SetPolygons(std::move(list));
    } else {
        // Added to polygons the mesh has already, one vertex at a time.
        if (count > 0) mesh->BeginPolygon(-1, -1, -1);
        for (int i = 0; i < count; ++i) {
            const int32_t v = mFile->FieldReadI();
            const int32_t vertex = v < 0 ? ~v : v;
            if (vertex < points)
                mesh->AddPolygonVertex(vertex);
            else
                dropped = true;
            if (v < 0 && i + 1 < count) mesh->BeginPolygon(-1, -1, -1);
        }
    }
    if (dropped) InvalidData("Polygon vertex index out of range (invalid data).");
    mFile->FieldReadEnd();
    return true;
}

bool KQovReaderQov::ReadMaterialAndTextureMode(KQovMesh* mesh) {
    if (!mFile->IsVersion5Layout()) return true;
    static const char* const kMaterial[] = {"ByVertice", "ByPolygon", "AllSame", nullptr};
    static const int kMaterialModes[] = {KQovLayer::eByControlPoint, KQovLayer::eByPolygon,
                                         KQovLayer::eAllSame};
    const int m = KQovIndexIn(mFile->FieldReadC("MaterialAssignation", ""), kMaterial, -1);
    if (m >= 0) mesh->InitMaterialIndices(kMaterialModes[m]);
    static const char* const kTexture[] = {"ByPolygon", "ByModel", nullptr};
    const int t = KQovIndexIn(mFile->FieldReadC("TextureMode", ""), kTexture, -1);
    if (t >= 0) mesh->InitTextureIndices(t == 0 ? KQovLayer::eByPolygon : KQovLayer::eAllSame);
    return true;
}

bool KQovReaderQov::ReadMappingInformationType(KQovMesh* mesh) {
    static const char* const kNames[] = {"ByVertice", "ByPolygon", nullptr};
    const int i = KQovIndexIn(mFile->FieldReadC("MappingInformationType", ""), kNames, -1);
    mesh->InitTextureUVIndices(i == 0   ? KQovLayer::eByControlPoint
                               : i == 1 ? KQovLayer::eByPolygonVertex
                                        : KQovLayer::eAllSame);
    return true;
}

bool KQovReaderQov::ReadTextureUV(KQovMesh* mesh) {
    if (!mFile->FieldReadBegin("TextureUV") && !mFile->FieldReadBegin("TexturePUV")) return true;
    const bool byVertex = mesh->GetTextureUVMappingMode() == KQovLayer::eByPolygonVertex;
    const int count = byVertex ? mFile->FieldReadGetCount() / 2 : mesh->GetControlPointsCount();
    mesh->InitTextureUV(0);
    KArrayOf<KVector2>* uvs = mesh->GetTextureUV();
    if (KVector2* at = uvs ? uvs->AppendUninitialised(count) : nullptr) {
        PreferLargePages(at, sizeof(KVector2) * size_t(count));
        // A control-point count larger than the values leaves the rest at zero.
        const int read = std::min(count, mFile->FieldReadGetCount() / 2);
        KQovReadDoubleGroups<2>(*mFile.get(), size_t(std::max(read, 0)),
                                [at](size_t i, const double* v) { at[i] = KVector2(v[0], v[1]); });
        std::fill(at + std::max(read, 0), at + count, KVector2());
    }
    mFile->FieldReadEnd();
    return true;
}

bool KQovReaderQov::ReadTextureUVIndex(KQovMesh* mesh) {
    if (mesh->GetTextureUVMappingMode() != KQovLayer::eByPolygonVertex) return true;
    KQovLayerElementUV* uv = mesh->GetLayer(0) ? mesh->GetLayer(0)->GetUVs() : nullptr;
    if (!uv) return true;
    KArrayInt& indices = uv->GetIndexArray();
    const int uvCount = mesh->GetTextureUVCount();
    if (mFile->FieldReadBegin("TextureVertexIndex") ||
        mFile->FieldReadBegin("TextureUVVerticeIndex")) {
        const int count = mFile->FieldReadGetCount();
        bool invalid = false;
        if (count > 0) indices.Clear();
        if (count > 0 && KQovAppendInts(*mFile.get(), indices, count)) {
            for (int32_t* v = indices.GetArray(); v != indices.GetArray() + count; ++v) {
                // An index past the UVs would be looked up unchecked later on.
                if (*v < 0 || *v >= uvCount) {
                    invalid = true;
                    *v = 0;
                }
            }
        }
        if (invalid) InvalidData("UV index out of range (invalid data).");
        mFile->FieldReadEnd();
    } else if (uvCount > 0 && indices.SetCount(uvCount)) {
        for (int i = 0; i < uvCount; ++i) indices.SetAt(i, i);
    }
    return true;
}

bool KQovReaderQov::ReadPolygonGroup(KQovMesh* mesh) {
    const int polygons = mesh->GetPolygonCount();
    const bool present = mFile->FieldReadBegin("PolygonGroup");
    const bool fits = present && mFile->FieldReadGetCount() == polygons;
    KQovLayerElementPolygonGroup* element = nullptr;
    if (fits) {
        if (mesh->GetLayerCount() == 0) mesh->CreateLayer();
        KQovLayer& layer = *mesh->GetLayer(0);
        if (!layer.GetPolygonGroups())
            layer.SetPolygonGroups(std::make_unique<KQovLayerElementPolygonGroup>());
        element = layer.GetPolygonGroups();
        element->SetMappingMode(KQovLayer::eByPolygon);
        element->SetReferenceMode(KQovLayer::eIndex);
        element->GetIndexArray().SetCount(polygons);
    }
    if (element && element->GetIndexArray().GetCount() == polygons) {
        // The whole list into the element, then onto the polygons.
        int32_t* groups = element->GetIndexArray().GetArray();
        const size_t got = mFile->FieldReadIn(groups, size_t(polygons));
        std::fill(groups + got, groups + polygons, 0);
        for (int p = 0; p < polygons; ++p) mesh->SetPolygonGroup(p, groups[p]);
    } else {
        for (int p = 0; p < polygons; ++p) mesh->SetPolygonGroup(p, fits ? mFile->FieldReadI() : 0);
    }
    if (present) mFile->FieldReadEnd();
    return true;
}

bool KQovReaderQov::ReadVertexColors(KQovMesh* mesh) {
    if (!mFile->FieldReadBegin("VertexColorInfo")) return true;
    if (mesh->GetLayerCount() == 0) mesh->CreateLayer();
    KQovLayer& layer = *mesh->GetLayer(0);
    if (!layer.GetVertexColors()) layer.SetVertexColors(std::make_unique<KQovLayerElementColor>());
    KQovLayerElementColor& element = *layer.GetVertexColors();
    element.SetReferenceMode(KQovLayer::eIndexToDirect);
    KArrayOf<KColor>& colors = element.GetDirectArray();
    KArrayInt& indices = element.GetIndexArray();
    KString mapping;
    if (mFile->FieldReadBlockBegin()) {
        mFile->FieldReadI("Version", 100);
        mapping = mFile->FieldReadC("MappingInformationType", "");
        if (mFile->FieldReadBegin("Colors")) {
            const int count = mFile->FieldReadGetCount() / 4;
            colors.Clear();
            if (KColor* at = colors.AppendUninitialised(count))
                KQovReadDoubleGroups<4>(
                    *mFile.get(), size_t(count),
                    [at](size_t i, const double* v) { at[i] = KColor(v[0], v[1], v[2], v[3]); });
            mFile->FieldReadEnd();
        }
        if (mFile->FieldReadBegin("ColorIndex")) {
            indices.Clear();
            KQovAppendInts(*mFile.get(), indices, mFile->FieldReadGetCount());
            mFile->FieldReadEnd();
        }
        mFile->FieldReadBlockEnd();
    }
    mFile->FieldReadEnd();
    const int mode = MappingModeFromName(mapping.Buffer());
    const bool indexed = indices.GetCount() > 0;
    const int count = indexed ? indices.GetCount() : colors.GetCount();
    bool fits =
        colors.GetCount() > 0 &&
        ((mode == KQovLayer::eByControlPoint && count == mesh->GetControlPointsCount()) ||
         (mode == KQovLayer::eByPolygonVertex && count == mesh->GetPolygonVertices().GetCount()));
    // An index past the colours would be looked up unchecked later on.
    for (int i = 0; fits && indexed && i < count; ++i)
        fits = indices.GetAt(i) >= 0 && indices.GetAt(i) < colors.GetCount();
    if (!fits) {
        colors.Clear();
        indices.Clear();
        return false;
    }
    element.SetMappingMode(mode);
    element.SetReferenceMode(indexed ? KQovLayer::eIndexToDirect : KQovLayer::eDirect);
    return true;
}

bool KQovReaderQov::ReadPatchSurfaceFields(KQovMesh* mesh) {
    static const char* const kNames[2][5] = {
        {"UExtendedCount", "UClosed", "UTopCap", "UStep", "UCount"},
        {"VExtendedCount", "VClosed", "VTopCap", "VStep", "VCount"}};
    for (int d = 0; d < 2; ++d) {
        KQovMeshSurfaceFields& s = d == 0 ? mesh->GetUSurface() : mesh->GetVSurface();
        const char* const* name = kNames[d];
        int32_t value = 0;
        if (ReadInts(name[0], &value, 1)) s.extendedCount = value;
        if (ReadInts(name[1], &value, 1)) s.closed = value == 1;
        if (ReadInts(name[2], &value, 1)) s.topCap = value == 1;
        if (ReadInts(name[3], &value, 1)) s.step = value;
        if (ReadInts(name[4], &value, 1)) s.count = value;
    }
    return true;
}

int32_t KQovReaderQov::ReadPatchType() {
    static const char* const kNames[] = {"Bezier", "BezierQuadric", "Cardinal", "BSpline"};
    const char* text = mFile->FieldReadC();
    for (int i = 0; i < 4; ++i)
        if (strcasecmp(text, kNames[i]) == 0) return i;
    return KQovPatch::eLinear;
}

int32_t KQovReaderQov::MappingModeFromName(const char* name) {
    static const char* const kNames[] = {"",          "ByVertice", "ByPolygonVertex",
                                         "ByPolygon", "AllSame",   nullptr};
    return KQovIndexIn(name ? name : "", kNames, 0);
}

int32_t KQovReaderQov::BlendModeFromName(const char* name) {
    static const char* const kNames[] = {"", "Add", "Modulate", "Modulate2", "MaxBlend", nullptr};
    return KQovIndexIn(name ? name : "", kNames, 0);
}

int32_t KQovReaderQov::FindNameInList(const char* name, const std::vector<KString>& list) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == name) return int32_t(i);
    return -1;
}

void KQovReaderQov::ReadGeometry(KQovMesh* mesh) {
    const int32_t version = ReadInt("GeometryVersion", 0);
    VerticesAside aside;
    ReadVertices(mesh, &aside);
    ReadPolygonVertexIndex(mesh);
    FinishVertices(aside);
    if (!mFile->IsVersion5Layout()) {
        ReadSurfaceTail(mesh);
        ReadPatchSurfaceFields(mesh);
        return;
    }
    ReadNormals(mesh);
    ReadPolygonGroup(mesh);
    ReadVertexColors(mesh);
    ReadModelMaterials(mesh);
    ReadModelTextures(mesh);
    ReadLinks(mesh);
    ReadShapes(mesh);
    ReadGeometryLayers(mesh);
    ReadMaterialAndTextureMode(mesh);
    ReadMaterialIndexes(mesh);
    ReadTextureIds(mesh);
    ReadPatchSurfaceFields(mesh);
    if (OpenBlock("GeometryUVInfo")) {
        ReadMappingInformationType(mesh);
        ReadTextureUV(mesh);
        ReadTextureUVIndex(mesh);
        CloseBlock();
    }
    if (version < 124) FixOldTextureReferences(mesh);
}

namespace {

const char* const kPointsMessage = "Control point definition error (wrong number of data).";

// Points of a `uCount` x `vCount` grid, or -1 when negative or more than the `values` a file
// gives for them (each point needs at least one value): sizes come from the file.
int64_t GridPoints(int32_t uCount, int32_t vCount, int values) {
    const int64_t points = int64_t(uCount) * int64_t(vCount);
    return uCount < 0 || vCount < 0 || points > values ? -1 : points;
}

// Sets the surface up by "Dimensions" (and the two types) unless that is refused; the number
// of "Points" values, whose field is left open, or -1 without one.
template <class Surface>
int SetUpGrid(KQovFieldFile& file, Surface* surface, const int* types) {
    int32_t uv[2] = {0, 0};
    const bool sized = file.FieldReadBegin("Dimensions");
    if (sized) {
        uv[0] = file.FieldReadI();
        uv[1] = file.FieldReadI();
        file.FieldReadEnd();
    }
    const int values = file.FieldReadBegin("Points") ? file.FieldReadGetCount() : -1;
    if (sized && GridPoints(uv[0], uv[1], std::max(values, 0)) < 0)
        file.GetError().SetErrorWithText(KQovFieldFile::eCountError, kPointsMessage);
    else if (sized)
        surface->InitControlPoints(uv[0], types[0], uv[1], types[1]);
    return values;
}

// "SurfaceDisplay" (mode, U step, V step) and "Step" (U step, V step).
template <class Surface>
void ReadDisplay(KQovFieldFile& file, Surface* surface) {
    if (file.FieldReadBegin("SurfaceDisplay")) {
        surface->SetSurfaceDisplay(file.FieldReadI());
        const int32_t u = file.FieldReadI();
        surface->SetStep(u, file.FieldReadI());
        file.FieldReadEnd();
    }
    if (file.FieldReadBegin("Step")) {
        const int32_t u = file.FieldReadI();
        surface->SetStep(u, file.FieldReadI());
        file.FieldReadEnd();
    }
}

}  // namespace

// Layers, links and shapes of a surface after its own fields (a mesh's too, in version 6).
void KQovReaderQov::ReadSurfaceTail(KQovGeometry* geometry) {
    if (!mFile->IsVersion5Layout()) {
        ReadLayers(geometry);
        ReadLinks(geometry);
        ReadShapes(geometry);
        return;
    }
    ReadModelMaterials(geometry);
    ReadModelTextures(geometry);
    ReadLinks(geometry);
    ReadShapes(geometry);
    ReadGeometryLayers(geometry);
}

bool KQovReaderQov::ReadNurb(KQovNurb* nurb) {
    bool ok = true;
    ReadInt("NurbVersion", 0);
    if (mFile->FieldReadBegin("NurbOrder")) {
        const int32_t u = mFile->FieldReadI();
        nurb->SetOrder(u, mFile->FieldReadI());
        mFile->FieldReadEnd();
    }
    int form[2] = {0, 0};
    if (mFile->FieldReadBegin("Form")) {
        static const char* const kForms[] = {"Periodic", "Closed", "Open"};
        for (int d = 0; d < 2; ++d) {
            const char* text = mFile->FieldReadC();
            int found = -1;
            for (int f = 0; f < 3; ++f)
                if (strcasecmp(text, kForms[f]) == 0) found = f;
            if (found < 0) {
                InvalidData("Type of nurb unknown (invalid data).");
                ok = false;
            } else {
                form[d] = found;
            }
        }
        mFile->FieldReadEnd();
    }
    ReadDisplay(*mFile.get(), nurb);
    const int values = SetUpGrid(*mFile.get(), nurb, form);
    const int64_t points = nurb->GetControlPointsCount();
    if (values >= 0 && values != 4 * points) {
        CountError(kPointsMessage);
    } else if (values >= 0) {
        KVector4* p = nurb->GetControlPoints().GetArray();
        for (int64_t i = 0; i < points; ++i) {
            double xyzw[4];
            mFile->FieldReadDn(xyzw, 4);
            p[i] = KVector4(xyzw[0], xyzw[1], xyzw[2], xyzw[3]);
            if (!(xyzw[3] > 0.00001)) {
                InvalidData("Weight of control point must be greater than 0 (invalid data).");
                ok = false;
            }
        }
    }
    if (values >= 0) mFile->FieldReadEnd();
    ReadIntVector("MultiplicityU", nurb->GetUMultiplicityVector(),
                  "Multiplicity U definition error (wrong number of data).");
    ReadIntVector("MultiplicityV", nurb->GetVMultiplicityVector(),
                  "Multiplicity V definition error (wrong number of data).");
    ReadDoubleVector("KnotVectorU", nurb->GetUKnotVector(),
                     "U knot vector definition error (wrong number of data).");
    ReadDoubleVector("KnotVectorV", nurb->GetVKnotVector(),
                     "V knot vector definition error (wrong number of data).");
    ReadSurfaceTail(nurb);
    return ok;
}

void KQovReaderQov::CountError(const char* text) {
    mFile->GetError().SetErrorWithText(KQovFieldFile::eCountError, text);
}

// The field must hold exactly as many values as the vector has entries.
void KQovReaderQov::ReadIntVector(const char* name, KArrayInt& out, const char* message) {
    if (!mFile->FieldReadBegin(name)) return;
    if (mFile->FieldReadGetCount() != out.GetCount())
        CountError(message);
    else if (out.GetCount() > 0)
        mFile->FieldReadIn(out.GetArray(), size_t(out.GetCount()));
    mFile->FieldReadEnd();
}

void KQovReaderQov::ReadDoubleVector(const char* name, KArrayDouble& out, const char* message) {
    if (!mFile->FieldReadBegin(name)) return;
    if (mFile->FieldReadGetCount() != out.GetCount())
        CountError(message);
    else if (out.GetCount() > 0)
        mFile->FieldReadDoubles(out.GetArray(), size_t(out.GetCount()));
    mFile->FieldReadEnd();
}

bool KQovReaderQov::ReadPatch(KQovPatch* patch) {
    ReadInt("PatchVersion", 100);
    int type[2] = {KQovPatch::eLinear, KQovPatch::eLinear};
    if (mFile->FieldReadBegin("PatchType")) {
        type[0] = ReadPatchType();
        type[1] = ReadPatchType();
        mFile->FieldReadEnd();
    }
    const int values = SetUpGrid(*mFile.get(), patch, type);
    if (values >= 0) {
        // Points the field does not hold stay as they were set up.
        const int count = std::min(patch->GetControlPointsCount(), values / 3);
        KVector4* p = patch->GetControlPoints().GetArray();
        for (int i = 0; i < count; ++i) {
            double xyz[3];
            mFile->FieldReadDn(xyz, 3);
            p[i] = KVector4(xyz[0], xyz[1], xyz[2], 1.0);
        }
        mFile->FieldReadEnd();
    }
    ReadDisplay(*mFile.get(), patch);
    int32_t pair[2];
    if (ReadInts("Closed", pair, 2)) patch->SetClosed(pair[0] != 0, pair[1] != 0);
    if (ReadInts("UCapped", pair, 2)) patch->SetUCapped(pair[0] != 0, pair[1] != 0);
    if (ReadInts("VCapped", pair, 2)) patch->SetVCapped(pair[0] != 0, pair[1] != 0);
    ReadSurfaceTail(patch);
    return true;
}

bool KQovReaderQov::ReadInts(const char* name, int32_t* out, int count) {
    if (!mFile->FieldReadBegin(name)) return false;
    for (int i = 0; i < count; ++i) out[i] = mFile->FieldReadI();
    mFile->FieldReadEnd();
    return true;
}
