#pragma once
// Test helpers of the conversion tests: a scene written through the exporter with its options
// filled from the scene (and the Acclaim pair written as a pair), read back through the
// reader of its extension, and the world positions, face corners and occlusion compared.

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLayerContainer.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "character/KQovSceneBridge.h"
#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "foundation/KMatrix.h"
#include "foundation/KPath.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovReader.h"
#include "io/KQovWriteOptions.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "io/KStreamOptionsQov.h"
#include "formats/motion/MotionTestHelpers.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace conversiontest {

using motiontest::TestScene;

struct Vec {
    double x = 0, y = 0, z = 0;
};

inline double Distance(const Vec& a, const Vec& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
}

// A point of a node's space in the scene's (row vectors: the translation is the last row).
inline Vec ToWorld(const KMatrix& m, double x, double y, double z) {
    return {x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0],
            x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1],
            x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2]};
}

inline Vec Position(KQovNode* node, KTime time) {
    return ToWorld(node->GetGlobalMatrixAtTime(time), 0, 0, 0);
}

inline void CollectNodes(KQovNode* node, std::vector<KQovNode*>& out) {
    std::vector<KQovNode*> pending{node};
    while (!pending.empty()) {
        KQovNode* n = pending.back();
        pending.pop_back();
        out.push_back(n);
        for (int i = n->GetChildCount(); i-- > 0;) pending.push_back(n->GetChild(i));
    }
}

inline KQovNode* FindByName(KQovNode* root, const char* name) {
    std::vector<KQovNode*> nodes;
    CollectNodes(root, nodes);
    for (KQovNode* node : nodes)
        if (node->GetNameWithoutPrefix() == name) return node;
    return nullptr;
}

inline KQovNode* FindByAttribute(KQovNode* root, int type) {
    std::vector<KQovNode*> nodes;
    CollectNodes(root, nodes);
    for (KQovNode* node : nodes)
        if (node->GetNodeAttribute() && node->GetNodeAttribute()->GetAttributeType() == type)
            return node;
    return nullptr;
}

// Unseen at `time`: the node's "Occlusion" curve above one half there.
inline bool Occluded(KQovNode* node, KTime time) {
    KQovTakeNode* take = node->GetCurrentTakeNode();
    KFCurve* curve = take ? take->GetOcclusion() : nullptr;
    return curve && curve->KeyGetCount() > 0 && curve->Evaluate(time) > 0.5;
}

// One face corner as a viewer sees it.
struct Corner {
    Vec position;
    double u = 0, v = 0;
    bool hasUV = false;
    double r = -1, g = -1, b = -1;  // the face's material colour, -1 without one
    std::string texture;            // the face's texture file without its folder
};
using Corners = std::vector<Corner>;

inline Corners CollectCorners(KQovScene& scene, KTime time) {
    Corners corners;
    std::vector<KQovNode*> nodes;
    CollectNodes(scene.GetRootNode(), nodes);
    for (KQovNode* node : nodes) {
        auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute());
        if (!mesh) continue;
        const KMatrix m = node->GetGlobalMatrixAtTime(time);
        const KArrayInt* materials = mesh->GetMaterialIndices();
        const KArrayInt* textures = mesh->GetTextureIndices();
        const int materialMode = mesh->GetMaterialMappingMode();
        const int textureMode = mesh->GetTextureMappingMode();
        auto indexOf = [](const KArrayInt* indices, int mode, int p) {
            if (!indices || indices->GetCount() == 0) return -1;
            if (mode == KQovLayer::eAllSame) return indices->GetAt(0);
            return p < indices->GetCount() ? indices->GetAt(p) : -1;
        };
        for (int p = 0; p < mesh->GetPolygonCount(); ++p) {
            Corner face;
            const int material = indexOf(materials, materialMode, p);
            if (KQovMaterial* mat = material >= 0 ? mesh->GetMaterial(material, 0) : nullptr) {
                const KColor c = mat->GetDefaultDiffuse();
                face.r = c.mRed;
                face.g = c.mGreen;
                face.b = c.mBlue;
            }
            const int texture = indexOf(textures, textureMode, p);
            if (KQovTexture* tex = texture >= 0 ? mesh->GetTexture(texture, 0) : nullptr)
                face.texture = KExtractFileName(tex->GetFileName(), true).Buffer();
            for (int k = 0; k < mesh->GetPolygonSize(p); ++k) {
                Corner corner = face;
                const KVector4 point = mesh->GetControlPoints().GetAt(mesh->GetPolygonVertex(p, k));
                corner.position = ToWorld(m, point[0], point[1], point[2]);
                const int uv = mesh->GetTextureUVIndex(p, k);
                if (uv >= 0 && uv < mesh->GetTextureUVCount()) {
                    const KVector2 value = mesh->GetTextureUV()->GetAt(uv);
                    corner.u = value.mData[0];
                    corner.v = value.mData[1];
                    corner.hasUV = true;
                }
                corners.push_back(corner);
            }
        }
    }
    return corners;
}

// Every corner of `expected` has a match in `got` and every corner of `got` one in
// `expected` (a format may split or triangulate faces, so corners repeat), each match within
// `tolerance` and, as asked, of the same UV (all, or only where the face has a texture),
// colour and texture.
enum UVCheck { eNoUVs, eAllUVs, eTexturedUVs };
inline void MatchCorners(const Corners& expected, const Corners& got, double tolerance, UVCheck uvs,
                         bool materials, bool textures) {
    auto same = [&](const Corner& a, const Corner& b) {
        if (Distance(a.position, b.position) > tolerance) return false;
        const bool uv = uvs == eAllUVs || (uvs == eTexturedUVs && !a.texture.empty());
        if (uv && (!b.hasUV || std::fabs(a.u - b.u) > 1e-4 || std::fabs(a.v - b.v) > 1e-4))
            return false;
        if (materials && (std::fabs(a.r - b.r) > 1e-3 || std::fabs(a.g - b.g) > 1e-3 ||
                          std::fabs(a.b - b.b) > 1e-3))
            return false;
        return !textures || a.texture == b.texture;
    };
    auto describe = [](const Corner& c) {
        return std::to_string(c.position.x) + " " + std::to_string(c.position.y) + " " +
               std::to_string(c.position.z) + " uv " + std::to_string(c.u) + " " +
               std::to_string(c.v) + " rgb " + std::to_string(c.r) + " " + std::to_string(c.g) +
               " " + std::to_string(c.b) + " " + c.texture;
    };
    int missing = 0, extra = 0;
    std::string first;
    for (const Corner& a : expected)
        if (std::none_of(got.begin(), got.end(), [&](const Corner& b) { return same(a, b); })) {
            if (!missing++) first = "missing " + describe(a);
        }
    for (const Corner& b : got)
        if (std::none_of(expected.begin(), expected.end(),
                         [&](const Corner& a) { return same(a, b); })) {
            if (!extra++ && first.empty()) first = "extra " + describe(b);
        }
    EXPECT_EQ(missing, 0) << first;
    EXPECT_EQ(extra, 0) << first;
}

// Writing ids by extension, as qovtool convert picks them.
inline int WriterId(const std::string& extension) {
    static const char* const kExtensions[] = {"qov", "",    "",    "",    "",    "bvh", "htr",
                                              "trc", "asf", "amc", "c3d", "aoa", "mcd", "vpm",
                                              "mov", "brd", "dxf", "3ds", "obj"};
    for (int id = 0; id < KQovExporter::kWritingIdCount; ++id)
        if (extension == kExtensions[id]) return id;
    return -1;
}

// The scene written as qovtool convert writes it: options from the writer, filled from the
// scene; an Acclaim motion file writes its skeleton file too.
// `status`, when given, gets the writer's warnings.
inline bool WriteScene(TestScene& t, const std::string& path, std::string& error,
                       std::string* status = nullptr) {
    const int id = WriterId(KExtractFileExtension(path.c_str()).Buffer());
    std::unique_ptr<KStreamOptions> options;
    if (id == 0) {
        auto* qov = new KStreamOptionsQov;
        options.reset(qov);
        KQovExporter(&t.manager).FillStreamOptions(*qov);
    } else {
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(id, &t.manager));
        if (!writer) return error = "no writer", false;
        options.reset(writer->GetWriteOptions());
    }
    KQovFillWriteOptions(*t.scene, *options);
    KQovExporter exporter(&t.manager);
    exporter.Initialize(path.c_str());
    exporter.SetFileFormat(id);
    if (!exporter.Export(t.scene, options.get()))
        return error = path + ": " + exporter.GetLastErrorString(), false;
    if (status) *status = exporter.GetStatusText().Buffer();
    return true;
}

// The file read back through the reader of its extension, with the reader's own options
// (returned); an Acclaim motion file after the skeleton file beside it.
inline bool ReadScene(TestScene& t, const std::string& path,
                      std::unique_ptr<KStreamOptions>& options, std::string& error) {
    KQovImporter importer(&t.manager);
    if (!importer.Initialize(path.c_str())) return error = importer.GetLastErrorString(), false;
    const int id = importer.GetFileFormat();
    if (id <= 2) {
        importer.GetTakeCount();
        if (!importer.Import(t.scene, nullptr)) return error = importer.GetLastErrorString(), false;
        return true;
    }
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(id, &t.manager));
    if (!reader || !reader->FileOpen(path.c_str())) return error = "cannot open", false;
    options.reset(reader->GetReadOptions(true));
    if (!options) return error = reader->GetLastErrorString(), false;
    if (id == 7) {
        std::unique_ptr<KQovReader> skeleton(KQovMakeFormatReader(6, &t.manager));
        const KString asf = KQovAcclaimSkeletonBeside(path.c_str());
        if (!skeleton->FileOpen(asf.Buffer()) || !skeleton->Read(t.scene, options.get()))
            return error = std::string("skeleton: ") + skeleton->GetLastErrorString(), false;
    }
    if (!reader->Read(t.scene, options.get())) return error = reader->GetLastErrorString(), false;
    return true;
}

}  // namespace conversiontest
