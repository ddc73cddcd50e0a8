#include <gtest/gtest.h>

#include <string>

#include "GeometryTestUtil.h"

namespace {

struct Case {
    const char* from;
    const char* to;
    const char* node;
    int error;
    const char* expected;  // a part of the node's dump
};

void Check(const char* golden, const Case* cases, size_t count) {
    qovtest::TempFolder tmp;
    for (size_t i = 0; i < count; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.to);
        Read read(geotest::Variant(tmp, golden, c.from, c.to));
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.reader.GetFieldFile()->GetLastErrorID(), c.error);
        const std::string dump = geotest::Geometry(read.manager.FindNode(c.node)) + "end";
        EXPECT_NE(dump.find(c.expected), std::string::npos) << dump;
    }
}

// "Layer" and "TypedIndex" come from the file: layers are made only up to a bound, and
// negative or unknown positions place nothing. Elements no layer takes are freed (LSan).
TEST(KQovReaderQovLayers, Version6LayersAreBounded) {
    const Case cases[] = {
        {"Layer: 1 {", "Layer: 5 {", "Quad", -1,
         "  layer 4:\n  layer 5: texture 4/2 [] (1) blend 4 alpha 0 uv 1/0"},
        {"Layer: 1 {", "Layer: 32 {", "Quad", KQovFieldFile::eInvalidData, "(0,1,1,1,0,0)\n  shape"},
        {"Layer: 1 {", "Layer: -3 {", "Quad", KQovFieldFile::eInvalidData, "(0,1,1,1,0,0)\n  shape"},
        {"TypedIndex: 0", "TypedIndex: -1", "Quad", -1, "  layer 0: material 3/2 [] (0,1)"},
        {"Layer: 0 {", "Unused: 0 {", "Quad", -1,
         "  polygons (0,1,2) (2,3,0)\n  layer 0:\n  layer 1: texture 4/2"},
        // Colour and UV indexes are read only for index-to-direct elements.
        {"ReferenceInformationType: \"Direct\"\n            Colors: 0,0,1,1",
         "ReferenceInformationType: \"IndexToDirect\"\n            Colors: 0,0,1,1", "Quad", -1,
         "color 1/2 [0,0,1,1] (7)"},
        {"MappingInformationType: \"AllSame\"\n            ReferenceInformationType: \"Direct\"",
         "MappingInformationType: \"AllSame\"\n            ReferenceInformationType: \"Index\"\n"
         "            TextureId: 3",
         "Quad", -1, "texture 4/1 [] (3) blend 2 alpha 0"},
    };
    Check("geo_scene6.qov", cases, sizeof cases / sizeof *cases);
}

// The version-5 texture and UV information of a layer: positions past the model's textures
// or the UVs become 0, modes that do not fit the geometry leave the mapping at 0.
TEST(KQovReaderQovLayers, Version5LayerTextureInfo) {
    const Case cases[] = {
        {"TextureId: 1,1", "TextureId: 1,7", "Quad", -1,
         "layer 1: texture 3/2 [Texture::Stone Texture::Wood] (0,1) blend 1"},
        {"UVId: 0,1,2,2,3,0", "UVId: 0,-1,2,4,3,0", "Quad", -1, "(0,0,2,0,3,0)"},
        {"UVMode: 8", "UVMode: 5", "Quad", -1, "blend 1 alpha 1 uv 0/0 [] ()\n"},
        {"TextureMode: 6", "TextureMode: 2", "Quad", -1, "layer 1: texture 4/2 [Texture::Stone] (0)"},
        {"TextureMode: 6", "TextureMode: 5", "Quad", -1, "layer 1: texture 0/2 [Texture::Stone] (0)"},
        {"MultiplicityV: 2,2",
         "MultiplicityV: 2,2\n    GeometryLayer:  {\n        LayerTextureInfo:  {\n"
         "            UVMode: 7\n            UVCount: 1\n            UV: 0,0\n        }\n    }",
         "Surface", -1, "layer 0: texture 0/2 [] () blend 2 alpha 1 uv 0/0 [] ()\nend"},
        {"MultiplicityV: 2,2",
         "MultiplicityV: 2,2\n    GeometryLayer:  {\n        LayerTextureInfo:  {\n"
         "            UVMode: 4\n            UVCount: 99\n            UV: 0,0,1,1\n"
         "            UVId: 1,0,1,5\n        }\n    }",
         "Surface", -1, "uv 1/2 [0,0 1,1] (1,0,1,0)\nend"},
        {"TextureMode: \"ByPolygon\"", "TextureMode: \"ByPolygon\"\n    Materials: 1,0", "Quad",
         -1, "material 3/2 [Material::Red Material::Blue] (1,0)"},
        // Older geometry: the first layer's textures come from the model's list by position;
        // a position past both the list and the indexes is invalid, never a reason to grow.
        {"GeometryVersion: 124", "GeometryVersion: 100", "Quad", -1,
         "texture 3/2 [Texture::Wood Texture::Stone] (0,1)"},
        {"GeometryVersion: 124", "GeometryVersion: 100\n    TextureId: 0,5000000", "Quad",
         KQovFieldFile::eInvalidData, "texture 3/2 [Texture::Wood] (0,5000000)"},
    };
    Check("geo_scene5.qov", cases, sizeof cases / sizeof *cases);
}

}  // namespace
