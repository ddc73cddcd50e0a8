#include "formats/geometry/3ds/Mesh3ds.h"

#include <cstring>

void InitMesh3ds(Context3ds& ctx, Mesh3ds** mesh, uint16_t vertexCount, uint16_t faceCount,
                 int arrays) {
    InitRecord3ds(ctx, mesh);
    if (!mesh) return;
    Mesh3ds* m = *mesh;
    m->vertices.resize(vertexCount);
    m->faces.resize(faceCount);
    if (arrays & kMeshTexVerts3ds) m->texVerts.resize(vertexCount);
    if (arrays & kMeshVertexFlags3ds) m->vertexFlags.resize(vertexCount);
    if (arrays & kMeshSmoothing3ds) m->smoothing.resize(faceCount);
}

void ReleaseMesh3ds(Mesh3ds** mesh) {
    ReleaseRecord3ds(mesh);
}

void InitMatGroupFaces3ds(Context3ds& ctx, Mesh3ds* mesh, size_t group, uint16_t count) {
    if (!mesh || count == 0) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (group >= mesh->matGroups.size() || mesh->faces.empty())
        return PushError3ds(ctx, ERR_INVALID_DATA);
    mesh->matGroups[group].faces.assign(count, 0);
}

size_t GetMeshCount3ds(Context3ds& ctx, Database3ds* database) {
    return CountNamedObjectsOfType3ds(ctx, database, 0x4100);
}

void GetMeshByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index, Mesh3ds** mesh) {
    if (!database || !mesh) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    if (Chunk3ds* object = FindNamedObjectOfType3ds(ctx, database, 0x4100, index))
        ReadMesh3ds(ctx, object, mesh);
}

uint16_t CountMaterialGroups3ds(Chunk3ds* chunk) {
    uint16_t count = 0;
    for (Chunk3ds* c = FindChunkBelow3ds(chunk, 0x4130); c; c = FindNextChunk3ds(c->next, 0x4130))
        ++count;
    return count;
}

namespace {

// Takes a payload's array over, leaving the payload's empty.
template <class P, class V>
void TakeOver(Context3ds& ctx, Chunk3ds* chunk, std::vector<V> P::*field, std::vector<V>& out) {
    if (P* payload = chunk ? ReadChunkDataAs3ds<P>(ctx, chunk) : nullptr) out.swap(payload->*field);
}

void ReadFaces(Context3ds& ctx, Chunk3ds* faceChunk, Mesh3ds& m) {
    TakeOver(ctx, faceChunk, &FaceList3ds::faces, m.faces);
    if (!faceChunk->child || ctx.ErrorPending()) return;
    m.matGroups.resize(CountMaterialGroups3ds(faceChunk));
    Chunk3ds* group = FindChunkBelow3ds(faceChunk, 0x4130);
    for (MatGroup3ds& entry : m.matGroups) {
        if (auto* payload = ReadChunkDataAs3ds<MaterialGroup3ds>(ctx, group)) {
            entry.name = payload->name;
            entry.faces.swap(payload->faces);
        }
        if (ctx.ErrorPending()) return;
        group = FindNextChunk3ds(group->next, 0x4130);
    }
    TakeOver(ctx, FindNextChunk3ds(faceChunk->child, 0x4150), &Smoothing3ds::masks, m.smoothing);
    BoxMap3ds box;
    if (ReadChildValue3ds(ctx, faceChunk->child, 0x4190, box)) {
        m.boxMapPresent = 1;
        for (int i = 0; i < 6; ++i) m.boxMap[i] = box.names[i];
    }
}

}  // namespace

void ReadMesh3ds(Context3ds& ctx, Chunk3ds* object, Mesh3ds** mesh) {
    if (!object || !mesh) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!FindNextChunk3ds(object->child, 0x4100)) return PushError3ds(ctx, ERR_WRONG_OBJECT);
    InitMesh3ds(ctx, mesh, 0, 0, 0);
    Mesh3ds* m = *mesh;
    HeldChunk3ds held;
    CopyChunk3ds(ctx, object, held.Slot());
    Chunk3ds* copy = held.get();
    if (!copy) return;
    Text3ds<10> name;
    if (ReadValue3ds(ctx, copy, name)) m->name = name.text;
    Chunk3ds* triangles = FindNextChunk3ds(copy->child, 0x4100);
    for (Chunk3ds* c = triangles->child; c && !ctx.ErrorPending(); c = c->next) {
        switch (c->tag) {
            case 0x4110:
                TakeOver(ctx, c, &PointList3ds::points, m->vertices);
                break;
            case 0x4111:
                TakeOver(ctx, c, &WordList3ds::words, m->vertexFlags);
                break;
            case 0x4140:
                TakeOver(ctx, c, &TexVertList3ds::texverts, m->texVerts);
                break;
            case 0x4182:
                TakeOver(ctx, c, &Raw3ds::bytes, m->procData);
                break;
            case 0x4120:
                ReadFaces(ctx, c, *m);
                break;
            case 0x4160: {
                Matrix3ds axes;
                if (ReadValue3ds(ctx, c, axes)) memcpy(m->localAxes, axes.m, sizeof(axes.m));
                break;
            }
            case 0x4165:
                ReadValue3ds(ctx, c, m->colorIndex);
                break;
            case 0x4170: {
                MapData3ds map;
                m->mappingPresent = 1;
                if (ReadValue3ds(ctx, c, map)) {
                    m->mapType = map.maptype;
                    memcpy(m->mapping, map.values, sizeof(map.values));
                }
                break;
            }
            case 0x4181: {
                Text3ds<12> proc;
                if (ReadValue3ds(ctx, c, proc)) m->procName = proc.text;
                break;
            }
            default:
                break;
        }
    }
    const struct {
        uint32_t tag;
        uint8_t Mesh3ds::*flag;
    } kFlags[] = {{0x4010, &Mesh3ds::flag4010}, {0x4011, &Mesh3ds::flag4011},
                  {0x4012, &Mesh3ds::flag4012}, {0x4013, &Mesh3ds::flag4013},
                  {0x4014, &Mesh3ds::flag4014}, {0x4016, &Mesh3ds::flag4016},
                  {0x4017, &Mesh3ds::flag4017}, {0x4015, &Mesh3ds::flag4015}};
    for (const auto& f : kFlags) m->*f.flag = FindNextChunk3ds(copy->child, f.tag) ? 1 : 0;
}

namespace {

bool CheckMesh(Context3ds& ctx, const Mesh3ds& m) {
    bool fits = m.vertices.size() <= 0xFFFF && m.texVerts.size() <= 0xFFFF &&
                m.vertexFlags.size() <= 0xFFFF && m.faces.size() <= 0xFFFF &&
                m.procData.size() <= 0xFFFFFFF0u;
    for (const MatGroup3ds& g : m.matGroups) fits = fits && g.faces.size() <= 0xFFFF;
    if (!fits) {
        PushError3ds(ctx, ERR_INVALID_DATA);
        return false;
    }
    bool shortNames = m.procName.size() <= 12;
    for (const std::string& name : m.boxMap) shortNames = shortNames && name.size() <= 16;
    for (const MatGroup3ds& g : m.matGroups) shortNames = shortNames && g.name.size() <= 16;
    if (!shortNames) PushError3ds(ctx, ERR_STRING_TOO_LONG);
    return shortNames;
}

template <class P>
P* AddPayload(Context3ds& ctx, Chunk3ds* parent, uint32_t tag) {
    HeldChunk3ds chunk;
    P* payload = InitChunkAndData3ds<P>(ctx, chunk.Slot(), tag);
    return payload && AdoptChild3ds(ctx, parent, chunk) ? payload : nullptr;
}

void WriteFaces(Context3ds& ctx, Chunk3ds* triangles, const Mesh3ds& m) {
    HeldChunk3ds held;
    FaceList3ds* faces = InitChunkAndData3ds<FaceList3ds>(ctx, held.Slot(), 0x4120);
    if (!faces) return;
    faces->faces = m.faces;
    Chunk3ds* faceChunk = AdoptChild3ds(ctx, triangles, held);
    if (!faceChunk) return;
    for (const MatGroup3ds& g : m.matGroups) {
        if (auto* group = AddPayload<MaterialGroup3ds>(ctx, faceChunk, 0x4130))
            *group = {g.name, g.faces};
    }
    if (!m.smoothing.empty()) {
        if (auto* smooth = AddPayload<Smoothing3ds>(ctx, faceChunk, 0x4150)) {
            smooth->masks = m.smoothing;
            smooth->masks.resize(m.faces.size());  // one mask per face
        }
    }
    if (m.boxMapPresent) {
        if (auto* box = AddPayload<BoxMap3ds>(ctx, faceChunk, 0x4190))
            for (int i = 0; i < 6; ++i) box->names[i] = m.boxMap[i];
    }
}

}  // namespace

void PutMesh3ds(Context3ds& ctx, Database3ds* database, const Mesh3ds* mesh) {
    if (!mesh) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    if (!CheckMesh(ctx, *mesh)) return;
    const Mesh3ds& m = *mesh;
    HeldChunk3ds xdata;
    Chunk3ds* object = PutNamedObject3ds(ctx, database, m.name, xdata.Slot());
    if (!object) return PushError3ds(ctx, ERR_PUT_FAILED);
    Chunk3ds* triangles = AddEmptyChunk3ds(ctx, 0x4100, object);
    if (!triangles) return PushError3ds(ctx, ERR_PUT_FAILED);
    // A chunk the heap refuses ends the put with an error; what was built stays in the tree.
    auto refused = [&](const void* payload) {
        if (payload) return false;
        PushError3ds(ctx, ERR_PUT_FAILED);
        return true;
    };
    if (!m.vertices.empty()) {
        auto* points = AddPayload<PointList3ds>(ctx, triangles, 0x4110);
        if (refused(points)) return;
        points->points = m.vertices;
    }
    if (!m.texVerts.empty()) {
        auto* texVerts = AddPayload<TexVertList3ds>(ctx, triangles, 0x4140);
        if (refused(texVerts)) return;
        texVerts->texverts = m.texVerts;
    }
    if (m.mappingPresent) {
        MapData3ds* map = AddPayload<MapData3ds>(ctx, triangles, 0x4170);
        if (refused(map)) return;
        map->maptype = m.mapType;
        memcpy(map->values, m.mapping, sizeof(m.mapping));
    }
    if (!m.vertexFlags.empty()) {
        auto* flags = AddPayload<WordList3ds>(ctx, triangles, 0x4111);
        if (refused(flags)) return;
        flags->words = m.vertexFlags;
    }
    auto* axes = AddPayload<Matrix3ds>(ctx, triangles, 0x4160);
    if (refused(axes)) return;
    memcpy(axes->m, m.localAxes, sizeof(m.localAxes));
    auto* colorIndex = AddPayload<uint8_t>(ctx, triangles, 0x4165);
    if (refused(colorIndex)) return;
    *colorIndex = m.colorIndex;
    if (!m.faces.empty()) WriteFaces(ctx, triangles, m);
    if (!m.procData.empty()) {
        auto* procName = AddPayload<Text3ds<12>>(ctx, triangles, 0x4181);
        if (refused(procName)) return;
        procName->text = m.procName;
        auto* procData = AddPayload<Raw3ds>(ctx, triangles, 0x4182);
        if (refused(procData)) return;
        procData->bytes = m.procData;
    }
    const struct {
        uint32_t tag;
        uint8_t value;
    } kFlags[] = {{0x4010, m.flag4010}, {0x4011, m.flag4011}, {0x4013, m.flag4013},
                  {0x4012, m.flag4012}, {0x4014, m.flag4014}, {0x4017, m.flag4017},
                  {0x4016, m.flag4016}};
    for (const auto& f : kFlags)
        if (f.value) AddEmptyChunk3ds(ctx, f.tag, object);
    if (m.flag4015 == 1 && !m.procData.empty()) AddEmptyChunk3ds(ctx, 0x4015, object);
    if (xdata.get()) AdoptChild3ds(ctx, triangles, xdata);
    if (ctx.ErrorPending()) PushError3ds(ctx, ERR_PUT_FAILED);
}
