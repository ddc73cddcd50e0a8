// Normals made for the caller to write take the mapping and count InitNormals gives, and
// InitNormals still gives zero normals.

#include <gtest/gtest.h>

#include <string>

#include "attributes/KQovLayer.h"
#include "attributes/KQovMesh.h"

TEST(KQovGeometryNormals, UninitialisedNormalsAreShapedAsInitNormalsShapesThem) {
    const struct {
        int points, count;
        int mapping, made;
    } kCases[] = {
        {4, 4, KQovLayer::eByControlPoint, 4},  {4, 0, KQovLayer::eByControlPoint, 4},
        {4, -3, KQovLayer::eByControlPoint, 4}, {4, 6, KQovLayer::eByPolygonVertex, 6},
        {4, 1, KQovLayer::eByPolygonVertex, 1}, {0, 0, KQovLayer::eByControlPoint, 0},
        {0, 5, KQovLayer::eByPolygonVertex, 5},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.points) + " points, " + std::to_string(c.count));
        KQovMesh zeroed(nullptr), open(nullptr);
        for (KQovMesh* mesh : {&zeroed, &open}) {
            mesh->InitControlPoints(c.points);
            mesh->InitNormals(2);  // something to replace
            mesh->GetNormals()->GetArray()[0] = KVector4(1, 2, 3, 4);
        }
        zeroed.InitNormals(c.count);
        KVector4* at = open.InitNormalsUninitialised(c.count);
        EXPECT_EQ(at != nullptr, c.made > 0);
        for (KQovMesh* mesh : {&zeroed, &open}) {
            ASSERT_TRUE(mesh->GetNormals());
            EXPECT_EQ(mesh->GetNormals()->GetCount(), c.made);
            EXPECT_EQ(mesh->GetLayer(0)->GetNormals()->GetMappingMode(), c.mapping);
            EXPECT_EQ(mesh->GetLayer(0)->GetNormals()->GetReferenceMode(), KQovLayer::eDirect);
        }
        EXPECT_EQ(at, c.made > 0 ? open.GetNormals()->GetArray() : nullptr);
        for (int i = 0; i < c.made; ++i) {
            const KVector4 n = zeroed.GetNormals()->GetAt(i);
            for (int k = 0; k < 4; ++k) EXPECT_EQ(n[k], 0.0) << i;
        }
    }
}
