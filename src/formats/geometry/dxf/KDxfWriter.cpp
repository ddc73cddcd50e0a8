#include "formats/geometry/dxf/KDxfWriter.h"

#include "attributes/KQovLayer.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "formats/geometry/KQovGeometryContent.h"
#include "formats/geometry/dxf/KDxfNames.h"
#include "formats/geometry/dxf/KDxfPalette.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "io/KQovWrittenNames.h"

namespace {

int ColourOf(const KQovMaterial* material) {
    if (!material) return 0;
    const KColor c = material->GetDefaultDiffuse();
    return KDxfRgbToAci(c.mRed, c.mGreen, c.mBlue);
}

// Material of an index from the mesh's index array, null when either is out of range.
const KQovMaterial* MaterialAt(const KQovMesh& mesh, const KArrayInt* indices, int at) {
    if (!indices || at < 0 || at >= indices->GetCount()) return nullptr;
    const int m = indices->GetAt(at);
    if (m < 0 || m >= mesh.GetMaterialCount(0)) return nullptr;
    return mesh.GetMaterial(m, 0);
}

}  // namespace

void KDxfWriter::Group(const char* code, const char* value) {
    mOut += code;
    mOut += '\n';
    mOut += value;
    mOut += '\n';
}

void KDxfWriter::Group(const char* code, int value, const char* format) {
    char buffer[32];
    KSnprintfC(buffer, sizeof buffer, format, value);
    Group(code, buffer);
}

void KDxfWriter::Point(const char* code, double value) {
    if (!KIsFileNumber(value)) mNumberRefused = true;
    char buffer[64];
    KSnprintfC(buffer, sizeof buffer, "%lf", value);
    Group(code, buffer);
}

int KDxfWriter::MeshColour(const KQovMesh& mesh) {
    const int count = mesh.GetMaterialCount(0);
    return count > 0 ? ColourOf(mesh.GetMaterial(count - 1, 0)) : 0;
}

int KDxfWriter::EntryColour(const KDxfMeshEntry& entry, bool& material) {
    material = entry.mesh->GetMaterialCount(0) > 0;
    if (!entry.node) return MeshColour(*entry.mesh);
    const KQovMaterial* first = KQovMaterialCoveringModel(entry.node, material, mStatus);
    if (material) return MeshColour(*entry.mesh);
    material = first != nullptr;
    return first ? ColourOf(first) : 0;
}

std::string KDxfWriter::Compose(const std::vector<KDxfMeshEntry>& meshes, bool tables) {
    mOut.clear();
    mStatus.clear();
    mNumberRefused = false;
    KQovWrittenNames names(KDxfLayerNameTerms());
    std::vector<std::string> layers;
    for (const KDxfMeshEntry& e : meshes) names.SetAside(e.name);
    for (const KDxfMeshEntry& e : meshes) layers.push_back(names.Add(e.name));
    mStatus += names.GetWarnings();
    std::vector<int> colours;
    std::vector<char> material;
    for (const KDxfMeshEntry& e : meshes) {
        bool has = false;
        colours.push_back(EntryColour(e, has));
        material.push_back(has);
    }

    Group("999", "Varnoke Dxf writer for QOV");
    Group("  0", "SECTION");
    Group("  2", "HEADER");
    Group("  9", "$ACADVER");
    Group("  1", "AC1008");
    Group("  9", "$UCSORG");
    Group(" 10", "0.0");
    Group(" 20", "0.0");
    Group(" 30", "0.0");
    Group("  9", "$UCSXDIR");
    Group(" 10", "1.0");
    Group(" 20", "0.0");
    Group(" 30", "0.0");
    Group("  9", "$TILEMODE");
    Group(" 70", "   1");
    Group("  9", "$UCSYDIR");
    Group(" 10", "0.0");
    Group(" 20", "1.0");
    Group(" 30", "0.0");
    Group("  0", "ENDSEC");
    Group("  0", "SECTION");
    Group("  2", "TABLES");
    if (tables) {
        Group("  0", "TABLE");
        Group("  2", "LTYPE");
        Group(" 70", "   1");
        Group("  0", "LTYPE");
        Group("  2", "CONTINUOUS");
        Group(" 70", "   64");
        Group("  3", "Solid line");
        Group(" 72", "   65");
        Group(" 73", "   0");
        Group(" 40", "0.0");
        Group("  0", "ENDTAB");
        Group("  0", "TABLE");
        Group("  2", "LAYER");
        Group(" 70", static_cast<int>(meshes.size()));
        for (size_t i = 0; i < meshes.size(); ++i) {
            const int colour = colours[i];
            Group("  0", "LAYER");
            Group("  2", layers[i].c_str());
            Group(" 70", "   0");
            // A hidden layer needs a colour to carry the sign: 7 without a material.
            Group(" 62", meshes[i].visible ? colour : -(colour > 0 ? colour : 7));
            Group("  6", "CONTINUOUS");
        }
        Group("  0", "ENDTAB");
    }
    Group("  0", "ENDSEC");
    Group("  0", "SECTION");
    Group("  2", "BLOCKS");
    Group("  0", "ENDSEC");
    Group("  0", "SECTION");
    Group("  2", "ENTITIES");
    for (size_t i = 0; i < meshes.size(); ++i)
        Entities(meshes[i], layers[i], colours[i], material[i] != 0);
    Group("  0", "ENDSEC");
    Group("  0", "EOF");
    return std::move(mOut);
}

void KDxfWriter::Face(const std::string& layer, const int* corners, int size, int colour,
                      bool extra) {
    Group("  0", "VERTEX");
    Group("  8", layer.c_str());
    if (colour > 0) Group(" 62", colour, extra ? " %d" : "   %d");
    Group(" 10", "0.0");
    Group(" 20", "0.0");
    Group(" 30", "0.0");
    Group(" 70", "   128");
    static const char* const kCodes[4] = {" 71", " 72", " 73", " 74"};
    for (int k = 0; k < size; ++k) Group(kCodes[k], corners[k] + 1);
}

void KDxfWriter::Entities(const KDxfMeshEntry& entry, const std::string& layer, int colour,
                          bool material) {
    const KQovMesh& mesh = *entry.mesh;
    const int points = mesh.GetControlPointsCount();
    const int polygons = mesh.GetPolygonCount();
    const int mapping = mesh.GetMaterialMappingMode();
    const KArrayInt* indices = mesh.GetMaterialIndices();
    // The face count of the header counts the records written, fans included.
    int records = 0;
    for (int j = 0; j < polygons; ++j) {
        const int s = mesh.GetPolygonSize(j);
        records += s > 4 ? s - 2 : s > 0 ? 1 : 0;
    }
    Group("  0", "POLYLINE");
    Group("  8", layer.c_str());
    if (material) Group(" 62", colour);
    else if (!entry.visible) Group(" 62", 256);  // by layer: the layer's 7 is no material
    Group(" 66", "   1");
    Group(" 10", "0.0");
    Group(" 20", "0.0");
    Group(" 30", "0.0");
    Group(" 70", "   64");
    Group(" 71", points);
    Group(" 72", records);
    const bool baked = entry.points.size() == size_t(points);
    const KVector4* p = baked ? entry.points.data() : mesh.GetControlPoints().GetArray();
    for (int i = 0; i < points; ++i) {
        const KVector4 w = entry.global.MultT(p[i]);
        Group("  0", "VERTEX");
        Group("  8", layer.c_str());
        if (mapping == KQovLayer::eByControlPoint)
            if (const KQovMaterial* m = MaterialAt(mesh, indices, i)) Group(" 62", ColourOf(m));
        Point(" 10", w[0]);
        Point(" 20", -w[2]);
        Point(" 30", w[1]);
        Group(" 70", "   192");
    }
    std::vector<int> corners;
    // Convex polygons fan around their first corner; concave ones are cut along their outline.
    KQovPolygonTriangulation cut(KQovPolygonTriangulation::eFan);
    for (int j = 0; j < polygons; ++j) {
        const int s = mesh.GetPolygonSize(j);
        if (s <= 0) continue;
        corners.resize(s);
        for (int k = 0; k < s; ++k) corners[k] = mesh.GetPolygonVertex(j, k);
        int c = colour;
        if (mapping == KQovLayer::eByPolygon && mesh.GetMaterialCount(0) > 0)
            c = ColourOf(MaterialAt(mesh, indices, j));
        if (s <= 4) {
            Face(layer, corners.data(), s, c, false);
            continue;
        }
        bool extra = false;
        for (const KQovPolygonTriangulation::Triangle& t : cut.Cut(p, points, corners.data(), s)) {
            const int triangle[3] = {corners[t[0]], corners[t[1]], corners[t[2]]};
            Face(layer, triangle, 3, c, extra);
            extra = true;
        }
    }
    if (cut.GetFallbackCount() > 0)
        mStatus +=
            KQovPolygonTriangulation::FallbackMessage(cut.GetFallbackCount(), entry.name.c_str(),
                                                      KQovPolygonTriangulation::eFan);
    Group("  0", "SEQEND");
}

bool KDxfWriter::Write(KFileStream& stream, const std::vector<KDxfMeshEntry>& meshes, bool tables) {
    const std::string text = Compose(meshes, tables);
    if (mNumberRefused) return false;
    size_t done = 0;
    while (done < text.size()) {
        const uint32_t part = static_cast<uint32_t>(std::min<size_t>(text.size() - done, 1u << 30));
        if (stream.Write(text.data() + done, part) != part) return false;
        done += part;
    }
    // The buffered tail goes out here, so that a full disk shows here and not at close.
    return stream.Flush();
}
