#pragma once
// Materials of a 3DS database (material entries 0xAFFF) and their sixteen maps.

#include <string>
#include <vector>

#include "formats/geometry/3ds/Settings3ds.h"

enum MapTiling3ds { kTileRepeat3ds = 1, kTileDecal3ds = 2, kTileBoth3ds = 3 };

struct TextureMap3ds {
    std::string name;   // at most 16 characters
    float percent = 0;  // 1.0 = 100 %
    int tiling = kTileRepeat3ds;
    uint8_t ignoreAlpha = 0;
    int filter = 0;
    float blur = 0;
    uint8_t mirror = 0, negative = 0;
    float uScale = 1.0f, vScale = 1.0f;
    float uOffset = 0, vOffset = 0;
    float rotation = 0;
    int tintSource = 0;  // 0 to 4
    Color3ds tint1{0, 0, 0}, tint2{1, 1, 1};
    Color3ds redTint{1, 0, 0}, greenTint{0, 1, 0}, blueTint{0, 0, 1};
    std::vector<uint8_t> data;  // the map's data chunk
};

constexpr int kMaterialMaps3ds = 16;

struct Material3ds {
    std::string name;  // at most 16 characters
    Color3ds ambient, diffuse, specular;
    float shininess = 0, shineStrength = 0, reflectionBlur = 0;
    float transparency = 0, transparencyFalloff = 0, selfIllumination = 0;
    float wireSize = 1.0f;
    int shading = 3;
    uint8_t flagA250 = 0, flagA240 = 0, flagA081 = 0, flagA080 = 0, flagA083 = 0, flagA085 = 0,
            flagA08E = 0, flagA088 = 0, flagA08C = 0;
    TextureMap3ds maps[kMaterialMaps3ds];
    uint32_t autoReflectionPresent = 0;
    uint8_t autoReflectionFlags[2] = {0, 0};
    uint32_t autoReflectionSize = 100, autoReflectionFrames = 1;
};

void InitTextureMap3ds(TextureMap3ds* map);
void InitMaterial3ds(Context3ds& ctx, Material3ds** material);
void ReleaseMaterial3ds(Material3ds** material);
size_t GetMaterialCount3ds(Context3ds& ctx, Database3ds* database);
void GetMaterialByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                           Material3ds** material);
void ReadMaterial3ds(Context3ds& ctx, Chunk3ds* chunk, Material3ds** material);
void PutMaterial3ds(Context3ds& ctx, Database3ds* database, const Material3ds* material);
void ReadTextureMap3ds(Context3ds& ctx, Chunk3ds* chunk, TextureMap3ds* map);
void WriteTextureMap3ds(Context3ds& ctx, Chunk3ds* parent, const TextureMap3ds* map);
float ReadPercentage3ds(Context3ds& ctx, Chunk3ds* chunk);
