#pragma once
// 3DS materials and texture maps to and from scene materials and textures.

#include <string>

#include "attributes/KQovMaterial.h"
#include "attributes/KQovTexture.h"
#include "formats/geometry/3ds/Material3ds.h"

// Reading: colours, shininess, emission and opacity of the 3DS material.
void ApplyMaterial3ds(const Material3ds& record, KQovMaterial& material);
// Reading: placement, wrap and alpha of a map; the first map also sets the material use.
void ApplyTextureMap3ds(const TextureMap3ds& map, KQovTexture& texture, bool first);

// Writing: the material's colours and factors into the record.
void FillMaterial3ds(const KQovMaterial& material, Material3ds& record);
// Writing: the texture into a map named `name` (see TextureNames3ds), shown at its alpha (the
// second map's halved under blend mode 1).
void FillTextureMap3ds(const KQovTexture& texture, const std::string& name, bool second,
                       TextureMap3ds& map);
// Name of the material written for a mesh, a material and one or two textures
// (-1 none); names past the 3DS limit fall back to "$MAT" and `serial`.
std::string MaterialName3ds(int meshCounter, int material, int first, int second, int serial);
