// Values an OBJ file gives that must not be trusted: surface degrees (any int, negative or at
// the ends of the range, drops the surface with a message) and material library names (one
// that leads to an endless device is refused, not read into memory without end).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "formats/geometry/obj/KObjParser.h"

namespace {

// Four control points on a 2 x 2 net; the u knots are `uKnots`.
std::string Surface(const std::string& degrees, const std::string& uKnots) {
    return "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\ncstype rat bspline\ndeg " + degrees +
           "\nsurf 0 1 0 1 1 2 3 4\nparm u " + uKnots + "\nparm v 0 0 1 1\nend\n";
}

TEST(KObjSurfaceDegree, OnlyDegreesThatFitTheKnotsKeepTheSurface) {
    struct Row {
        const char* degrees;
        const char* uKnots;
        bool kept;
    } rows[] = {
        {"1 1", "0 0 1 1", true},
        {"2 1", "0 0 1 1", false},  // one point across for a degree of two
        {"0 1", "0 1 2", true},
        {"-1 1", "0 1", false},
        {"1 -1", "0 0 1 1", false},
        {"-2147483647 1", "0 1", false},
        {"-2147483648 1", "0 0 1 1", false},
        {"2147483647 1", "0 0 1 1", false},
        {"1 2147483647", "0 0 1 1", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.degrees);
        KObjParser parser;
        ASSERT_EQ(parser.ReadText(Surface(row.degrees, row.uKnots), "x.obj"), KObjParser::eRead);
        ASSERT_EQ(parser.GetSurfaces().size(), row.kept ? 1u : 0u);
        if (row.kept) {
            EXPECT_EQ(
                size_t(parser.GetSurfaces()[0].CountU()) * size_t(parser.GetSurfaces()[0].CountV()),
                4u);
        } else {
            EXPECT_NE(parser.GetStatus().find("do not fit its knots"), std::string::npos);
        }
    }
}

TEST(KObjMaterialLibrary, AnEndlessLibraryIsRefused) {
    if (!std::ifstream("/dev/zero")) GTEST_SKIP() << "no endless device here";
    KObjParser parser;
    const std::string text = "mtllib /dev/zero\nusemtl red\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    ASSERT_EQ(parser.ReadText(text, "/nonexistent/x.obj"), KObjParser::eRead);
    EXPECT_NE(parser.GetStatus().find("Unable to load material library"), std::string::npos);
    EXPECT_TRUE(parser.HasMaterialLibrary());
    ASSERT_EQ(parser.GetMaterials().size(), 1u);
    EXPECT_FALSE(parser.GetMaterials()[0].defined);
    EXPECT_EQ(parser.GetGroups().at("default").faces.size(), 1u);
}

}  // namespace
