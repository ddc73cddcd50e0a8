#include <gtest/gtest.h>

#include "ObjTestFiles.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "common/PolygonTable.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "io/KStreamOptionsBase.h"

namespace {

bool WriteObj(KQovObjectManager& manager, KQovScene* scene, const std::string& path,
              KString& status) {
    KQovExporter exporter(&manager);
    exporter.Initialize(path.c_str());
    exporter.SetFileFormat(18);
    KStreamOptionsObj options;
    options.SetOptionValue(2, 1);  // Force Triangulation: the converter's cut
    const bool ok = exporter.Export(scene, &options);
    status = exporter.GetStatusText();
    return ok;
}

// The OBJ writer's forced triangulation (the converter's cut, checked with the polygon table
// in the converter's and the DXF writer's tests) reports outlines it could not follow.
TEST(PolygonCutObj, CrossingOutlineIsCutPlainlyWithAMessage) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    AddPolygonNode(manager, scene, "Cross", CrossingPolygon());
    KString status;
    ASSERT_TRUE(WriteObj(manager, scene, folder / "cross.obj", status));
    EXPECT_EQ(std::string(status.Buffer()), KQovPolygonTriangulation::FallbackMessage(1, "Cross"));
    EXPECT_EQ(ReadText(folder / "cross.obj").find("f 1 2 3 4 5 6"), std::string::npos);
}

}  // namespace
