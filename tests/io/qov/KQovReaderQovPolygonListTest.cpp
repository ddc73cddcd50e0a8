// The polygon list of a file read whole into the mesh: polygon ends, lists without a last
// end, and vertices past the control points (the same as the reader gave one at a time).

#include <gtest/gtest.h>

#include <string>

#include "GeometryTestUtil.h"
#include "ReaderTestUtil.h"
#include "attributes/KQovMesh.h"
#include "scene/KQovNode.h"

namespace {

std::string PolygonsOf(KQovObjectManager& manager) {
    KQovNode* node = manager.FindNode("Quad");
    KQovMesh* mesh = node ? node->GetMesh() : nullptr;
    if (!mesh) return "no mesh";
    std::string s;
    for (int p = 0; p < mesh->GetPolygonCount(); ++p) {
        s += "(";
        for (int k = 0; k < mesh->GetPolygonSize(p); ++k)
            s += (k ? "," : "") + std::to_string(mesh->GetPolygonVertex(p, k));
        s += ")";
    }
    return s;
}

}  // namespace

TEST(KQovReaderQovPolygonList, ListsReadWhole) {
    // The quad of the golden file has 4 control points.
    const struct {
        const char* list;
        const char* polygons;
        bool invalid;
    } kCases[] = {
        {"0,1,-3,2,3,-1", "(0,1,2)(2,3,0)", false},
        {"0,1,2,3", "(0,1,2,3)", false},  // the last polygon needs no end
        {"-1,-2,-3", "(0)(1)(2)", false},
        {"0,7,-3,2,3,-1", "(0,2)(2,3,0)", true},
        {"0,1,-5,2,3", "(0,1)(2,3)", true},  // the end stays an end when its vertex goes
        {"-2147483648", "()", true},
        {"3,-2147483648,1,-3", "(3)(1,2)", true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.list);
        qovtest::TempFolder tmp;
        const std::string ascii =
            geotest::Variant(tmp, "mesh6.qov", "PolygonVertexIndex: 0,1,-3,2,3,-1",
                             (std::string("PolygonVertexIndex: ") + c.list).c_str());
        Read read(ascii);
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(PolygonsOf(read.manager), c.polygons);
        const std::string error = read.reader.GetFieldFile()->GetLastErrorString();
        EXPECT_EQ(error.find("Polygon vertex index out of range") != std::string::npos, c.invalid)
            << error;
    }
}
