#include "formats/geometry/3ds/Material3ds.h"

#include <cmath>

namespace {

struct MapChunks {
    uint32_t map, data;  // data 0: the map has no data chunk
};

const MapChunks kMaps[kMaterialMaps3ds] = {
    {0xA200, 0xA320}, {0xA33E, 0xA32A}, {0xA33A, 0xA321}, {0xA340, 0xA32C},
    {0xA210, 0xA322}, {0xA342, 0xA32E}, {0xA230, 0xA324}, {0xA344, 0xA330},
    {0xA204, 0xA325}, {0xA348, 0xA332}, {0xA33C, 0xA326}, {0xA346, 0xA334},
    {0xA33D, 0xA328}, {0xA34A, 0xA336}, {0xA220, 0},      {0xA34C, 0xA338}};
const int kBumpMap = 6;       // map 7: its percent may come from 0xA252
const int kNameOnlyMap = 14;  // map 15: file name and percent only

// A float as an integer, truncated toward zero and kept within the range given.
long Truncate(double value, long low, long high) {
    if (!(value > low)) return low;  // NaN too
    if (value > high) return high;
    return long(value);
}

uint8_t ColorByte(float channel) {
    return uint8_t(Truncate(channel * 255.0, 0, 255));
}

Color24_3ds ColorBytes(const Color3ds& c) {
    return {ColorByte(c.r), ColorByte(c.g), ColorByte(c.b)};
}

// 16-bit hundredths of a percentage chunk.
uint16_t Hundredths(double value) {
    return uint16_t(int16_t(Truncate(value, -32768, 32767)));
}

// Hundredths of a fraction, truncated toward zero. A float that stands for a whole hundredth
// lies a hair off it (0.15f x 100 = 14.9999996): it counts as that hundredth, so what was
// read is written back unchanged.
uint16_t TruncatedHundredths(double fraction) {
    const double hundredths = fraction * 100.0;
    const double whole = std::round(hundredths);
    return Hundredths(std::fabs(hundredths - whole) < 1e-4 ? whole : hundredths);
}

void AddPercent(Context3ds& ctx, Chunk3ds* parent, uint32_t tag, uint16_t hundredths) {
    Chunk3ds* chunk = AddEmptyChunk3ds(ctx, tag, parent);
    if (chunk) AddValueChunk3ds<uint16_t>(ctx, chunk, 0x0030, hundredths);
}

void ReadByteColor(Context3ds& ctx, Chunk3ds* chunk, Color3ds& color) {
    Color24_3ds c;
    if (ReadValue3ds(ctx, chunk, c)) color = ByteColor3ds(c, 255.0f);
}

void ReadMaterialColor(Context3ds& ctx, Chunk3ds* chunk, Color3ds& color) {
    ReadByteColor(ctx, FindNextChunk3ds(chunk->child, 0x0011), color);
    ReadByteColor(ctx, FindNextChunk3ds(chunk->child, 0x0012), color);
}

void AddMaterialColor(Context3ds& ctx, Chunk3ds* entry, uint32_t tag, const Color3ds& color) {
    Chunk3ds* chunk = AddEmptyChunk3ds(ctx, tag, entry);
    if (!chunk) return;
    AddValueChunk3ds(ctx, chunk, 0x0011, ColorBytes(color));
    AddValueChunk3ds(ctx, chunk, 0x0012, ColorBytes(color));
}

uint16_t MapFlags(const TextureMap3ds& m) {
    uint16_t flags = 0;
    if (m.tiling == kTileDecal3ds) flags |= 0x11;
    if (m.tiling == kTileBoth3ds) flags |= 0x01;
    if (m.ignoreAlpha) flags |= 0x100;
    if (m.filter) flags |= 0x20;
    if (m.mirror) flags |= 0x02;
    if (m.negative) flags |= 0x08;
    static const uint16_t kTints[5] = {0, 0x40, 0x80, 0xC0, 0x200};
    if (m.tintSource >= 0 && m.tintSource <= 4) flags |= kTints[m.tintSource];
    return flags;
}

void SetMapFlags(TextureMap3ds& m, uint16_t flags) {
    m.tiling = (flags & 0x10) ? kTileDecal3ds : (flags & 0x01) ? kTileBoth3ds : kTileRepeat3ds;
    m.ignoreAlpha = (flags & 0x100) ? 1 : 0;
    m.filter = (flags & 0x20) ? 1 : 0;
    m.mirror = (flags & 0x02) ? 1 : 0;
    m.negative = (flags & 0x08) ? 1 : 0;
    m.tintSource = (flags & 0xC0) == 0xC0 ? 3
                   : (flags & 0x80)       ? 2
                   : (flags & 0x200)      ? 4
                   : (flags & 0x40)       ? 1
                                          : 0;
}

// The flag chunks of a material entry and their record fields, in writing order.
const struct {
    uint32_t tag;
    uint8_t Material3ds::*flag;
} kFlags[] = {{0xA250, &Material3ds::flagA250}, {0xA240, &Material3ds::flagA240},
              {0xA080, &Material3ds::flagA080}, {0xA083, &Material3ds::flagA083},
              {0xA085, &Material3ds::flagA085}, {0xA08E, &Material3ds::flagA08E},
              {0xA088, &Material3ds::flagA088}, {0xA08C, &Material3ds::flagA08C},
              {0xA081, &Material3ds::flagA081}};

// Reads one child of a material entry; false for a tag a material does not know.
bool ReadMaterialChild(Context3ds& ctx, Chunk3ds* c, Material3ds& m, bool& negateFalloff) {
    switch (c->tag) {
        case 0xA000: {
            Text3ds<16> name;
            if (ReadValue3ds(ctx, c, name)) m.name = name.text;
            return true;
        }
        case 0xA010:
            ReadMaterialColor(ctx, c, m.ambient);
            return true;
        case 0xA020:
            ReadMaterialColor(ctx, c, m.diffuse);
            return true;
        case 0xA030:
            ReadMaterialColor(ctx, c, m.specular);
            return true;
        case 0xA040:
            m.shininess = ReadPercentage3ds(ctx, c);
            return true;
        case 0xA041:
            m.shineStrength = ReadPercentage3ds(ctx, c);
            return true;
        case 0xA053:
            m.reflectionBlur = ReadPercentage3ds(ctx, c);
            return true;
        case 0xA050:
            m.transparency = ReadPercentage3ds(ctx, c);
            return true;
        case 0xA052:
            m.transparencyFalloff = ReadPercentage3ds(ctx, c);
            return true;
        case 0xA084:
            m.selfIllumination = ReadPercentage3ds(ctx, c);
            return true;
        case 0xA087:
            ReadValue3ds(ctx, c, m.wireSize);
            return true;
        case 0xA08A:
            negateFalloff = true;
            return true;  // the writer's sign of the falloff
        case 0xA100: {
            uint16_t shading = 0;
            if (ReadValue3ds(ctx, c, shading)) m.shading = shading;
            return true;
        }
        case 0xA310: {
            AutoReflection3ds v;
            m.autoReflectionPresent = 1;
            if (ReadValue3ds(ctx, c, v)) {
                m.autoReflectionFlags[0] = (v.word & 0x09) == 0x09;
                m.autoReflectionFlags[1] = (v.word & 0x11) == 0x11;
                m.autoReflectionSize = v.size;
                m.autoReflectionFrames = v.frames;
            }
            return true;
        }
        default:
            break;
    }
    for (const auto& f : kFlags) {
        if (c->tag != f.tag) continue;
        m.*f.flag = 1;
        if (c->tag == 0xA085) m.shading = 0;
        return true;
    }
    for (int i = 0; i < kMaterialMaps3ds; ++i) {
        if (c->tag == kMaps[i].map) {
            ReadTextureMap3ds(ctx, c, &m.maps[i]);
            // A map that gives no amount shows in full, as other readers of the format take it.
            if (!FindNextChunk3ds(c->child, 0x0030) && !FindNextChunk3ds(c->child, 0x0031))
                m.maps[i].percent = 1.0f;
            uint16_t hundredths = 0;
            if (i == kBumpMap && ReadChildValue3ds(ctx, c->child, 0xA252, hundredths))
                m.maps[i].percent = int16_t(hundredths) * 0.01f;
            return true;
        }
        if (kMaps[i].data && c->tag == kMaps[i].data) {
            if (auto* raw = ReadChunkDataAs3ds<Raw3ds>(ctx, c)) m.maps[i].data.swap(raw->bytes);
            return true;
        }
    }
    return false;
}

}  // namespace

void InitTextureMap3ds(TextureMap3ds* map) {
    if (map) *map = TextureMap3ds();
}

void InitMaterial3ds(Context3ds& ctx, Material3ds** material) {
    InitRecord3ds(ctx, material);
}
void ReleaseMaterial3ds(Material3ds** material) {
    ReleaseRecord3ds(material);
}

size_t GetMaterialCount3ds(Context3ds& ctx, Database3ds* database) {
    if (!database) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return 0;
    }
    UpdateMaterialIndex3ds(ctx, database);
    return database->matList.size();
}

void GetMaterialByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                           Material3ds** material) {
    if (!database || !material) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (Chunk3ds* chunk = GetMaterialChunkByIndex3ds(ctx, database, index))
        ReadMaterial3ds(ctx, chunk, material);
}

float ReadPercentage3ds(Context3ds& ctx, Chunk3ds* chunk) {
    uint16_t hundredths = 0;
    float value = 0;
    if (ReadValue3ds(ctx, FindChunk3ds(chunk, 0x0030), hundredths))
        return int16_t(hundredths) * 0.01f;
    if (ReadValue3ds(ctx, FindChunk3ds(chunk, 0x0031), value)) return value;
    return 0;
}

void ReadTextureMap3ds(Context3ds& ctx, Chunk3ds* chunk, TextureMap3ds* map) {
    if (!chunk || !map) return PushError3ds(ctx, ERR_INVALID_ARG);
    for (Chunk3ds* c = chunk->child; c && !ctx.ErrorPending(); c = c->next) {
        switch (c->tag) {
            case 0x0030:
            case 0x0031:
                map->percent = ReadPercentage3ds(ctx, c);
                break;
            case 0xA300: {
                Text3ds<16> name;
                if (ReadValue3ds(ctx, c, name)) map->name = name.text;
                break;
            }
            case 0xA351: {
                uint16_t flags = 0;
                if (ReadValue3ds(ctx, c, flags)) SetMapFlags(*map, flags);
                break;
            }
            case 0xA353:
                ReadValue3ds(ctx, c, map->blur);
                break;
            case 0xA354:
                ReadValue3ds(ctx, c, map->uScale);
                break;
            case 0xA356:
                ReadValue3ds(ctx, c, map->vScale);
                break;
            case 0xA358:
                ReadValue3ds(ctx, c, map->uOffset);
                break;
            case 0xA35A:
                ReadValue3ds(ctx, c, map->vOffset);
                break;
            case 0xA35C:
                ReadValue3ds(ctx, c, map->rotation);
                break;
            case 0xA360:
                ReadByteColor(ctx, c, map->tint1);
                break;
            case 0xA362:
                ReadByteColor(ctx, c, map->tint2);
                break;
            case 0xA364:
                ReadByteColor(ctx, c, map->redTint);
                break;
            case 0xA366:
                ReadByteColor(ctx, c, map->greenTint);
                break;
            case 0xA368:
                ReadByteColor(ctx, c, map->blueTint);
                break;
            default:
                break;
        }
    }
}

void ReadMaterial3ds(Context3ds& ctx, Chunk3ds* chunk, Material3ds** material) {
    if (!chunk || !material) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (chunk->tag != 0xAFFF) return PushError3ds(ctx, ERR_INVALID_CHUNK);
    InitMaterial3ds(ctx, material);
    Material3ds& m = **material;
    bool negateFalloff = false;
    for (Chunk3ds* child = chunk->child; child && !ctx.ErrorPending(); child = child->next) {
        if ((child->tag & 0xFF00) == 0x8000) continue;  // XDATA
        HeldChunk3ds copy;
        CopyChunk3ds(ctx, child, copy.Slot());
        if (!copy.get()) return;
        // Children a material does not know are passed over.
        ReadMaterialChild(ctx, copy.get(), m, negateFalloff);
    }
    if (negateFalloff) m.transparencyFalloff = -m.transparencyFalloff;
}

void WriteTextureMap3ds(Context3ds& ctx, Chunk3ds* parent, const TextureMap3ds* map) {
    if (!parent || !map) return PushError3ds(ctx, ERR_INVALID_ARG);
    const TextureMap3ds& m = *map;
    if (m.name.empty()) return;
    AddValueChunk3ds<uint16_t>(ctx, parent, 0x0030, Hundredths(m.percent * 100.0 + 0.5));
    AddValueChunk3ds(ctx, parent, 0xA300, Text3ds<16>{m.name});
    AddValueChunk3ds<uint16_t>(ctx, parent, 0xA351, MapFlags(m));
    if (m.uScale != 1.0f || m.vScale != 1.0f) {
        AddFloatChunk3ds(ctx, parent, 0xA354, m.uScale);
        AddFloatChunk3ds(ctx, parent, 0xA356, m.vScale);
    }
    if (m.uOffset != 0 || m.vOffset != 0) {
        AddFloatChunk3ds(ctx, parent, 0xA358, m.uOffset);
        AddFloatChunk3ds(ctx, parent, 0xA35A, m.vOffset);
    }
    if (m.rotation != 0) AddFloatChunk3ds(ctx, parent, 0xA35C, m.rotation);
    if (m.blur != 0) AddFloatChunk3ds(ctx, parent, 0xA353, m.blur);
    if (m.tintSource == 2 || m.tintSource == 3) {
        AddValueChunk3ds(ctx, parent, 0xA360, ColorBytes(m.tint1));
        AddValueChunk3ds(ctx, parent, 0xA362, ColorBytes(m.tint2));
    }
    if (m.tintSource == 4) {
        AddValueChunk3ds(ctx, parent, 0xA364, ColorBytes(m.redTint));
        AddValueChunk3ds(ctx, parent, 0xA366, ColorBytes(m.greenTint));
        AddValueChunk3ds(ctx, parent, 0xA368, ColorBytes(m.blueTint));
    }
}

void PutMaterial3ds(Context3ds& ctx, Database3ds* database, const Material3ds* material) {
    if (!material) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D, 0x3DAA)) return;
    const Material3ds& m = *material;
    bool shortNames = m.name.size() <= 16;
    for (const TextureMap3ds& map : m.maps) shortNames = shortNames && map.name.size() <= 16;
    if (!shortNames) return PushError3ds(ctx, ERR_STRING_TOO_LONG);
    Chunk3ds* parent = database->topChunk;
    if (parent->tag != 0x3DAA) parent = FindOrAddMeshData3ds(ctx, database);
    if (ctx.ErrorPending()) return;
    Chunk3ds* existing = nullptr;
    FindMaterial3ds(ctx, database, m.name.c_str(), &existing);
    if (ctx.ErrorPending()) return;
    HeldChunk3ds xdata;
    Chunk3ds* entry = ReplaceNamedChunk3ds(ctx, parent, existing, 0xAFFF, xdata.Slot());
    if (!entry) return;
    Chunk3ds* nameChunk = AddValueChunk3ds(ctx, entry, 0xA000, Text3ds<16>{m.name});
    if (existing || !nameChunk)
        DirtyMaterialIndex3ds(database);
    else
        NoteMaterialAdded3ds(database, parent, m.name, entry);
    AddMaterialColor(ctx, entry, 0xA010, m.ambient);
    AddMaterialColor(ctx, entry, 0xA020, m.diffuse);
    AddMaterialColor(ctx, entry, 0xA030, m.specular);
    AddPercent(ctx, entry, 0xA040, TruncatedHundredths(m.shininess));
    AddPercent(ctx, entry, 0xA041, TruncatedHundredths(m.shineStrength));
    AddPercent(ctx, entry, 0xA050, TruncatedHundredths(m.transparency));
    double falloff = m.transparencyFalloff * 100.0;
    AddPercent(ctx, entry, 0xA052, Hundredths(std::fabs(falloff) + 0.5));
    if (falloff < 0) AddEmptyChunk3ds(ctx, 0xA08A, entry);
    AddPercent(ctx, entry, 0xA053, TruncatedHundredths(m.reflectionBlur));
    AddValueChunk3ds<uint16_t>(ctx, entry, 0xA100, uint16_t(m.shading));
    AddPercent(ctx, entry, 0xA084, TruncatedHundredths(m.selfIllumination));
    if (m.flagA081) AddEmptyChunk3ds(ctx, 0xA081, entry);
    AddFloatChunk3ds(ctx, entry, 0xA087, m.wireSize);
    for (const auto& f : kFlags)
        if (f.tag != 0xA081 && m.*f.flag) AddEmptyChunk3ds(ctx, f.tag, entry);
    for (int i = 0; i < kMaterialMaps3ds && !ctx.ErrorPending(); ++i) {
        const TextureMap3ds& map = m.maps[i];
        if (map.name.empty()) continue;
        Chunk3ds* mapChunk = AddEmptyChunk3ds(ctx, kMaps[i].map, entry);
        if (!mapChunk) break;
        if (i == kNameOnlyMap) {
            AddValueChunk3ds(ctx, mapChunk, 0xA300, Text3ds<16>{map.name});
            AddValueChunk3ds<uint16_t>(ctx, mapChunk, 0x0030,
                                       Hundredths(map.percent * 100.0 + 0.5));
            continue;
        }
        WriteTextureMap3ds(ctx, mapChunk, &map);
        if (i == kBumpMap)
            AddValueChunk3ds<uint16_t>(ctx, mapChunk, 0xA252,
                                       Hundredths(map.percent * 100.0 + 0.5));
        if (!map.data.empty()) AddValueChunk3ds(ctx, entry, kMaps[i].data, Raw3ds{map.data});
    }
    if (m.autoReflectionPresent) {
        AutoReflection3ds v;
        v.word =
            uint16_t((m.autoReflectionFlags[0] ? 0x09 : 0) | (m.autoReflectionFlags[1] ? 0x11 : 0));
        v.size = m.autoReflectionSize;
        v.frames = m.autoReflectionFrames;
        AddValueChunk3ds(ctx, entry, 0xA310, v);
    }
    if (xdata.get()) AddChildLast3ds(ctx, entry, xdata.Release());
}
