#include "formats/geometry/3ds/Settings3ds.h"

#include <cstring>

namespace {

// A light or spotlight colour: a later colour chunk replaces an earlier one.
void ReadLightColor(Context3ds& ctx, Chunk3ds* chunk, Color3ds& color) {
    Point3ds p;
    Color24_3ds c;
    if (chunk->tag == 0x0010 && ReadValue3ds(ctx, chunk, p)) color = ToColor3ds(p);
    if (chunk->tag == 0x0011 && ReadValue3ds(ctx, chunk, c)) color = ByteColor3ds(c, 255.0f);
}

// A float colour (0x0010) and its gamma twin (0x0013) below a parent.
void AddColorPair(Context3ds& ctx, Chunk3ds* parent, const Color3ds& color) {
    AddValueChunk3ds(ctx, parent, 0x0010, FromColor3ds(color));
    if (!ctx.ErrorPending()) AddValueChunk3ds(ctx, parent, 0x0013, FromColor3ds(color));
}

template <class T>
void ReplaceValue(Context3ds& ctx, Chunk3ds* parent, uint32_t tag, const T& value) {
    Chunk3ds* chunk = nullptr;
    ReplaceOrAddChild3ds(ctx, parent, tag, &chunk);
    if (!ctx.ErrorPending()) *NewChunkData3ds<T>(chunk) = value;
}

bool CheckName(Context3ds& ctx, const std::string& name, size_t max) {
    if (name.size() <= max && name.find('\0') == std::string::npos) return true;
    PushError3ds(ctx, ERR_STRING_TOO_LONG);
    return false;
}

}  // namespace

Color3ds ToColor3ds(const Point3ds& p) {
    return {p.x, p.y, p.z};
}
Point3ds FromColor3ds(const Color3ds& c) {
    return {c.r, c.g, c.b};
}
Color3ds ByteColor3ds(const Color24_3ds& c, float scale) {
    return {c.r / scale, c.g / scale, c.b / scale};
}

// ---- settings ----

void InitMeshSettings3ds(Context3ds& ctx, MeshSettings3ds** settings) {
    InitRecord3ds(ctx, settings);
}
void ReleaseMeshSettings3ds(MeshSettings3ds** settings) {
    ReleaseRecord3ds(settings);
}

void GetMeshSettings3ds(Context3ds& ctx, Database3ds* database, MeshSettings3ds** settings) {
    if (!database || !settings) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds* meshData = FindChunk3ds(database->topChunk, 0x3D3D);
    if (!meshData) return;
    InitMeshSettings3ds(ctx, settings);
    MeshSettings3ds* s = *settings;
    Chunk3ds* first = meshData->child;
    ReadChildValue3ds(ctx, first, 0x0100, s->masterScale);
    ReadChildValue3ds(ctx, first, 0x1400, s->shadowBias);
    ReadChildValue3ds(ctx, first, 0x1460, s->rayBias);
    ReadChildValue3ds(ctx, first, 0x1420, s->shadowMapSize);
    ReadChildValue3ds(ctx, first, 0x1450, s->shadowFilter);
    ReadChildValue3ds(ctx, first, 0x1500, s->constants);
    if (Chunk3ds* ambient = FindNextChunk3ds(first, 0x2100)) {
        // Settings scale byte colours by 1/256.
        Point3ds p;
        Color24_3ds c;
        if (ReadChildValue3ds(ctx, ambient->child, 0x0010, p))
            s->ambient = ToColor3ds(p);
        else if (ReadChildValue3ds(ctx, ambient->child, 0x0011, c))
            s->ambient = ByteColor3ds(c, 256.0f);
        if (ReadChildValue3ds(ctx, ambient->child, 0x0013, p))
            s->ambient = ToColor3ds(p);
        else if (ReadChildValue3ds(ctx, ambient->child, 0x0012, c))
            s->ambient = ByteColor3ds(c, 256.0f);
    }
}

void PutMeshSettings3ds(Context3ds& ctx, Database3ds* database, const MeshSettings3ds* settings) {
    if (!settings) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    Chunk3ds* meshData = FindOrAddMeshData3ds(ctx, database);
    if (ctx.ErrorPending()) return;
    ReplaceValue<uint32_t>(ctx, meshData, 0x3D3E, 3);
    ReplaceValue(ctx, meshData, 0x0100, settings->masterScale);
    ReplaceValue(ctx, meshData, 0x1400, settings->shadowBias);
    ReplaceValue(ctx, meshData, 0x1420, settings->shadowMapSize);
    ReplaceValue(ctx, meshData, 0x1450, settings->shadowFilter);
    ReplaceValue(ctx, meshData, 0x1460, settings->rayBias);
    if (ctx.ErrorPending()) return;
    Chunk3ds* ambient = nullptr;
    ReplaceOrAddChild3ds(ctx, meshData, 0x2100, &ambient);
    if (!ctx.ErrorPending()) AddColorPair(ctx, ambient, settings->ambient);
    if (!ctx.ErrorPending()) ReplaceValue(ctx, meshData, 0x1500, settings->constants);
}

// ---- background ----

void InitBackground3ds(Context3ds& ctx, Background3ds** background) {
    InitRecord3ds(ctx, background);
}
void ReleaseBackground3ds(Background3ds** background) {
    ReleaseRecord3ds(background);
}

void GetBackground3ds(Context3ds& ctx, Database3ds* database, Background3ds** background) {
    if (!database || !background) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds* meshData = FindChunk3ds(database->topChunk, 0x3D3D);
    if (!meshData) return;
    InitBackground3ds(ctx, background);
    Background3ds* b = *background;
    Text3ds<12> bitmap;
    if (ReadValue3ds(ctx, FindChunk3ds(meshData, 0x1100), bitmap)) b->bitmap = bitmap.text;
    Point3ds p;
    if (Chunk3ds* solid = FindChunk3ds(meshData, 0x1200)) {
        if (ReadValue3ds(ctx, FindChunk3ds(solid, 0x0010), p)) b->solid = ToColor3ds(p);
        if (ReadValue3ds(ctx, FindChunk3ds(solid, 0x0013), p)) b->solid = ToColor3ds(p);
    }
    if (Chunk3ds* gradient = FindChunk3ds(meshData, 0x1300)) {
        ReadValue3ds(ctx, gradient, b->gradientMid);
        for (uint32_t tag : {0x0010u, 0x0013u}) {
            Chunk3ds* c = FindChunk3ds(gradient, tag);
            for (int i = 0; i < 3 && c; ++i, c = FindNextChunk3ds(c->next, tag))
                if (ReadValue3ds(ctx, c, p)) b->gradient[i] = ToColor3ds(p);
        }
    }
    b->use = FindChunk3ds(meshData, 0x1101)   ? kBitmapBackground3ds
             : FindChunk3ds(meshData, 0x1201) ? kSolidBackground3ds
             : FindChunk3ds(meshData, 0x1301) ? kGradientBackground3ds
                                              : kNoBackground3ds;
}

void PutBackground3ds(Context3ds& ctx, Database3ds* database, const Background3ds* background) {
    if (!background) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    if (!CheckName(ctx, background->bitmap, 12)) return;
    Chunk3ds* meshData = FindOrAddMeshData3ds(ctx, database);
    if (ctx.ErrorPending()) return;
    ReplaceValue(ctx, meshData, 0x1100, Text3ds<12>{background->bitmap});
    Chunk3ds* solid = nullptr;
    ReplaceOrAddChild3ds(ctx, meshData, 0x1200, &solid);
    if (!ctx.ErrorPending()) AddColorPair(ctx, solid, background->solid);
    Chunk3ds* gradient = nullptr;
    if (!ctx.ErrorPending()) ReplaceOrAddChild3ds(ctx, meshData, 0x1300, &gradient);
    if (ctx.ErrorPending()) return;
    *NewChunkData3ds<float>(gradient) = background->gradientMid;
    for (const Color3ds& color : background->gradient) {
        AddColorPair(ctx, gradient, color);
        if (ctx.ErrorPending()) return;
    }
    Chunk3ds* use = nullptr;
    for (Chunk3ds* c = meshData->child; c && !use; c = c->next)
        if (c->tag == 0x1101 || c->tag == 0x1201 || c->tag == 0x1301) use = c;
    if (use) ReleaseChunk3ds(use);  // an emptied chunk is not written
    if (background->use == kNoBackground3ds) return;
    uint32_t tag = background->use == kSolidBackground3ds      ? 0x1201
                   : background->use == kGradientBackground3ds ? 0x1301
                                                               : 0x1101;
    if (use)
        use->tag = tag;
    else
        AddEmptyChunk3ds(ctx, tag, meshData);
}

// ---- named objects ----

namespace {

bool IsOfType(Chunk3ds* object, uint32_t typeTag, int spot) {
    if (!FindChunk3ds(object, typeTag)) return false;
    if (spot == 0) return true;
    return (FindChunk3ds(object, 0x4610) != nullptr) == (spot > 0);
}

}  // namespace

Chunk3ds* FindNamedObjectOfType3ds(Context3ds& ctx, Database3ds* database, uint32_t typeTag,
                                   size_t index, int spot) {
    UpdateNamedObjectIndex3ds(ctx, database);
    const ChunkListEntry3ds* entry = FindNthEntry3ds(
        database->objList, database->objCursor, typeTag, spot, index,
        [&](const ChunkListEntry3ds& e) { return IsOfType(e.chunk, typeTag, spot); });
    return entry ? entry->chunk : nullptr;
}

size_t CountNamedObjectsOfType3ds(Context3ds& ctx, Database3ds* database, uint32_t typeTag,
                                  int spot) {
    if (!database) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return 0;
    }
    UpdateNamedObjectIndex3ds(ctx, database);
    size_t count = 0;
    for (const ChunkListEntry3ds& entry : database->objList)
        count += IsOfType(entry.chunk, typeTag, spot);
    return count;
}

Chunk3ds* PutNamedObject3ds(Context3ds& ctx, Database3ds* database, const std::string& name,
                            Chunk3ds** xdata) {
    *xdata = nullptr;
    if (!CheckName(ctx, name, 10)) return nullptr;
    Chunk3ds* meshData = FindOrAddMeshData3ds(ctx, database);
    if (ctx.ErrorPending()) return nullptr;
    Chunk3ds* existing = nullptr;
    FindNamedObject3ds(ctx, database, name.c_str(), &existing);
    if (ctx.ErrorPending()) return nullptr;
    Chunk3ds* object = ReplaceNamedChunk3ds(ctx, meshData, existing, 0x4000, xdata);
    if (ctx.ErrorPending()) return nullptr;
    NewChunkData3ds<Text3ds<10>>(object)->text = name;
    if (existing)
        DirtyNamedObjectIndex3ds(database);
    else
        NoteNamedObjectAdded3ds(database, meshData, name, object);
    return object;
}

// ---- cameras ----

void InitCamera3ds(Context3ds& ctx, Camera3ds** camera) {
    InitRecord3ds(ctx, camera);
}
void ReleaseCamera3ds(Camera3ds** camera) {
    ReleaseRecord3ds(camera);
}

size_t GetCameraCount3ds(Context3ds& ctx, Database3ds* database) {
    return CountNamedObjectsOfType3ds(ctx, database, 0x4700);
}

void GetCameraByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index, Camera3ds** camera) {
    if (!database || !camera) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (Chunk3ds* object = FindNamedObjectOfType3ds(ctx, database, 0x4700, index))
        ReadCamera3ds(ctx, object, camera);
}

void ReadCamera3ds(Context3ds& ctx, Chunk3ds* object, Camera3ds** camera) {
    if (!object || !camera) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (object->tag != 0x4000 || !FindNextChunk3ds(object->child, 0x4700))
        return PushError3ds(ctx, ERR_WRONG_OBJECT);
    InitCamera3ds(ctx, camera);
    Camera3ds* c = *camera;
    HeldChunk3ds held;
    CopyChunk3ds(ctx, object, held.Slot());
    Chunk3ds* copy = held.get();
    if (!copy) return;
    Text3ds<10> name;
    if (ReadValue3ds(ctx, copy, name)) c->name = name.text;
    Chunk3ds* data = FindNextChunk3ds(copy->child, 0x4700);
    CameraData3ds v;
    if (ReadValue3ds(ctx, data, v)) {
        c->position = v.position;
        c->target = v.target;
        c->roll = v.roll;
        c->fov = v.lens > 0 ? 2400.0f / v.lens : 45.0f;  // no lens: the default view
    }
    c->showCone = FindNextChunk3ds(data->child, 0x4710) != nullptr;
    Floats2_3ds ranges;
    if (ReadChildValue3ds(ctx, data->child, 0x4720, ranges)) {
        c->nearRange = ranges.v[0];
        c->farRange = ranges.v[1];
    }
}

void PutCamera3ds(Context3ds& ctx, Database3ds* database, const Camera3ds* camera) {
    if (!camera) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D)) return;
    HeldChunk3ds xdata;
    Chunk3ds* object = PutNamedObject3ds(ctx, database, camera->name, xdata.Slot());
    if (!object) return;
    HeldChunk3ds held;
    CameraData3ds* v = InitChunkAndData3ds<CameraData3ds>(ctx, held.Slot(), 0x4700);
    if (!v) return;
    v->position = camera->position;
    v->target = camera->target;
    v->roll = camera->roll;
    v->lens = 2400.0f / (camera->fov > 0 ? camera->fov : 45.0f);
    Chunk3ds* data = AdoptChild3ds(ctx, object, held);
    if (!data) return;
    if (camera->showCone) AddEmptyChunk3ds(ctx, 0x4710, data);
    AddValueChunk3ds(ctx, data, 0x4720, Floats2_3ds{{camera->nearRange, camera->farRange}});
    if (xdata.get()) AddChildLast3ds(ctx, data, xdata.Release());
}

// ---- lights ----

void InitLight3ds(Context3ds& ctx, Light3ds** light) {
    InitRecord3ds(ctx, light);
}

void InitSpotlight3ds(Context3ds& ctx, Light3ds** light) {
    InitLight3ds(ctx, light);
    if (light && *light) (*light)->spot.reset(new Spotlight3ds);
}

void ReleaseLight3ds(Light3ds** light) {
    ReleaseRecord3ds(light);
}

size_t GetOmnilightCount3ds(Context3ds& ctx, Database3ds* database) {
    return CountNamedObjectsOfType3ds(ctx, database, 0x4600, -1);
}

void GetOmnilightByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                            Light3ds** light) {
    if (!database || !light) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    if (Chunk3ds* object = FindNamedObjectOfType3ds(ctx, database, 0x4600, index, -1))
        ReadLight3ds(ctx, object, light);
}

void GetSpotlightByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                            Light3ds** light) {
    if (!database || !light) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    if (Chunk3ds* object = FindNamedObjectOfType3ds(ctx, database, 0x4600, index, 1))
        ReadLight3ds(ctx, object, light);
}

namespace {

void ReadSpot(Context3ds& ctx, Chunk3ds* spotChunk, Spotlight3ds& s) {
    Spot3ds v;
    if (ReadValue3ds(ctx, spotChunk, v)) {
        s.target = v.target;
        s.hotspot = v.hotspot;
        s.falloff = v.falloff;
    }
    for (Chunk3ds* c = spotChunk->child; c && !ctx.ErrorPending(); c = c->next) {
        switch (c->tag) {
            case 0x4656:
                ReadValue3ds(ctx, c, s.roll);
                break;
            case 0x4657:
                ReadValue3ds(ctx, c, s.aspect);
                break;
            case 0x4630:
            case 0x4640:
                s.shadowFlag = 1;
                break;
            case 0x4627:
                s.coneFlag = 1;
                break;
            case 0x4641: {
                LocalShadow3ds local;
                s.localShadowFlag = 1;
                if (ReadValue3ds(ctx, c, local)) {
                    s.localShadowBias = local.bias;
                    s.localShadowFilter = local.filter;
                    s.localShadowMapSize = local.mapsize;
                }
                break;
            }
            case 0x4658:
                ReadValue3ds(ctx, c, s.rayBias);
                break;
            case 0x4651:
                s.flag4651 = 1;
                break;
            case 0x4650:
                s.flag4650 = 1;
                break;
            case 0x4652:
                s.flag4652 = 1;
                break;
            case 0x4653: {
                Text3ds<12> name;
                s.projectorFlag = 1;
                if (ReadValue3ds(ctx, c, name)) s.projectorName = name.text;
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace

void ReadLight3ds(Context3ds& ctx, Chunk3ds* object, Light3ds** light) {
    if (!object || !light) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds* lightChunk = FindNextChunk3ds(object->child, 0x4600);
    if (!lightChunk) return PushError3ds(ctx, ERR_WRONG_OBJECT);
    if (FindChunk3ds(lightChunk, 0x4610))
        InitSpotlight3ds(ctx, light);
    else
        InitLight3ds(ctx, light);
    Light3ds* l = *light;
    HeldChunk3ds held;
    CopyChunk3ds(ctx, object, held.Slot());
    Chunk3ds* copy = held.get();
    if (!copy) return;
    Text3ds<10> name;
    if (ReadValue3ds(ctx, copy, name)) l->name = name.text;
    Chunk3ds* data = FindNextChunk3ds(copy->child, 0x4600);
    ReadValue3ds(ctx, data, l->position);
    for (Chunk3ds* c = data->child; c && !ctx.ErrorPending(); c = c->next) {
        switch (c->tag) {
            case 0x0010:
            case 0x0011:
                ReadLightColor(ctx, c, l->color);
                break;
            case 0x4620:
                l->off = 1;
                break;
            case 0x4625:
                l->attenuation = 1;
                break;
            case 0x4654: {
                Text3ds<10> excluded;
                if (ReadValue3ds(ctx, c, excluded)) l->excludes.push_back(excluded.text);
                break;
            }
            case 0x4659:
                ReadValue3ds(ctx, c, l->innerRange);
                break;
            case 0x465A:
                ReadValue3ds(ctx, c, l->outerRange);
                break;
            case 0x465B:
                ReadValue3ds(ctx, c, l->multiplier);
                break;
            case 0x4610:
                if (l->spot) ReadSpot(ctx, c, *l->spot);
                break;
            default:
                break;
        }
    }
}

void AddFloatChunk3ds(Context3ds& ctx, Chunk3ds* parent, uint32_t tag, float value) {
    AddValueChunk3ds(ctx, parent, tag, value);
}

namespace {

void WriteSpot(Context3ds& ctx, Chunk3ds* lightChunk, const Spotlight3ds& s) {
    HeldChunk3ds held;
    Spot3ds* v = InitChunkAndData3ds<Spot3ds>(ctx, held.Slot(), 0x4610);
    if (!v) return;
    *v = {s.target, s.hotspot, s.falloff};
    Chunk3ds* spot = AdoptChild3ds(ctx, lightChunk, held);
    if (!spot) return;
    AddFloatChunk3ds(ctx, spot, 0x4656, s.roll);
    if (s.aspect != 1.0f) AddFloatChunk3ds(ctx, spot, 0x4657, s.aspect);
    if (s.shadowFlag == 1) AddEmptyChunk3ds(ctx, 0x4630, spot);
    if (s.coneFlag == 1) AddEmptyChunk3ds(ctx, 0x4627, spot);
    AddFloatChunk3ds(ctx, spot, 0x4658, s.rayBias);
    if (s.localShadowFlag == 1) {
        AddEmptyChunk3ds(ctx, 0x4640, spot);
        AddValueChunk3ds(
            ctx, spot, 0x4641,
            LocalShadow3ds{s.localShadowBias, s.localShadowFilter, s.localShadowMapSize});
    }
    if (s.flag4651 == 1) AddEmptyChunk3ds(ctx, 0x4651, spot);
    if (s.flag4650 == 1) AddEmptyChunk3ds(ctx, 0x4650, spot);
    if (s.flag4652 == 1) AddEmptyChunk3ds(ctx, 0x4652, spot);
    if (s.projectorFlag == 1) AddValueChunk3ds(ctx, spot, 0x4653, Text3ds<12>{s.projectorName});
}

void WriteLight3ds(Context3ds& ctx, Database3ds* database, const Light3ds* light) {
    for (const std::string& name : light->excludes)
        if (!CheckName(ctx, name, 10)) return;
    if (light->spot && !CheckName(ctx, light->spot->projectorName, 12)) return;
    HeldChunk3ds xdata;
    Chunk3ds* object = PutNamedObject3ds(ctx, database, light->name, xdata.Slot());
    if (!object) return;
    Chunk3ds* data = AddValueChunk3ds(ctx, object, 0x4600, light->position);
    if (!data) return;
    AddValueChunk3ds(ctx, data, 0x0010, FromColor3ds(light->color));
    AddFloatChunk3ds(ctx, data, 0x465A, light->outerRange);
    AddFloatChunk3ds(ctx, data, 0x4659, light->innerRange);
    AddFloatChunk3ds(ctx, data, 0x465B, light->multiplier);
    if (light->off == 1) AddEmptyChunk3ds(ctx, 0x4620, data);
    if (light->attenuation == 1) AddEmptyChunk3ds(ctx, 0x4625, data);
    for (const std::string& name : light->excludes)
        AddValueChunk3ds(ctx, data, 0x4654, Text3ds<10>{name});
    if (light->spot) WriteSpot(ctx, data, *light->spot);
    if (xdata.get()) AddChildLast3ds(ctx, data, xdata.Release());
}

}  // namespace

void PutLight3ds(Context3ds& ctx, Database3ds* database, const Light3ds* light) {
    if (!light) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    WriteLight3ds(ctx, database, light);
}
