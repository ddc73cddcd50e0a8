// Importer and exporter: the scene information the header pass gave reaches the scene, and a
// scene written into an open field file reads back from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"

namespace {

std::string Golden(const char* name) {
    return std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/" + name;
}

TEST(KQovImporterAudit, TheImportersSceneInformationGoesIntoTheScene) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    ASSERT_TRUE(importer.Initialize(Golden("layout6.qov").c_str()));
    ASSERT_EQ(importer.GetTakeCount(), 2);
    // A caller edits what the header pass found; the import carries the edit.
    KStreamOptionsQov edited;
    KQovSceneInfo info;
    info.title = "Edited";
    info.author = "Someone";
    edited.sceneInfo = &info;
    importer.TakeStreamOptions(edited);
    ASSERT_TRUE(importer.Import(scene, nullptr)) << importer.GetLastErrorString();
    ASSERT_NE(scene->GetSceneInfo(), nullptr);
    EXPECT_STREQ(scene->GetSceneInfo()->title.Buffer(), "Edited");
    EXPECT_STREQ(scene->GetSceneInfo()->author.Buffer(), "Someone");
}

TEST(KQovExporterAudit, ASceneWrittenIntoAnOpenFieldFileReadsBack) {
    TempTestFolder tmp("qovaudit_");
    const std::string name = tmp / "nested.qov";
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    scene->GetRootNode()->AddChild(manager.CreateNode("Inner"));
    KQovExporter exporter(&manager);
    KStreamOptionsQov options;
    std::unique_ptr<KQovPropertyFieldFile> file(KQovPropertyFieldFile::Create());
    EXPECT_FALSE(exporter.ExportToFieldFile(scene, nullptr, file.get()));
    EXPECT_EQ(exporter.GetLastErrorID(), KQovIO::eStreamOptionsNotSet);
    EXPECT_FALSE(exporter.ExportToFieldFile(scene, &options, nullptr));
    EXPECT_EQ(exporter.GetLastErrorID(), KQovIO::eFileNotCreated);
    // A field file that is not open cannot take the scene: the writer's own error.
    EXPECT_FALSE(exporter.ExportToFieldFile(scene, &options, file.get()));
    EXPECT_EQ(exporter.GetLastErrorID(), KQovIO::eFileNotCreated);

    ASSERT_TRUE(file->KQovFieldFile::Create(name.c_str(), true, false, nullptr));
    ASSERT_TRUE(exporter.ExportToFieldFile(scene, &options, file.get()))
        << exporter.GetLastErrorString();
    ASSERT_TRUE(file->FieldFileClose());

    std::unique_ptr<KQovPropertyFieldFile> in(KQovPropertyFieldFile::Create());
    ASSERT_TRUE(in->Open(name.c_str(), false, true, nullptr));
    in->SetVersion5Layout(true);  // as the enclosing read decided
    KQovImporter importer(&manager);
    KQovScene* back = manager.CreateScene();
    ASSERT_TRUE(importer.ImportFromFieldFile(back, &options, in.get()))
        << importer.GetLastErrorString();
    ASSERT_EQ(back->GetRootNode()->GetChildCount(), 1);
    EXPECT_STREQ(back->GetRootNode()->GetChild(0)->GetName(), "Model::Inner");
}

TEST(KQovImporterAudit, AFileWithoutModelsStillReportsRetrievingModelsOnce) {
    TempTestFolder tmp("qovaudit_");
    const std::string name = tmp / "empty5.qov";
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(
        "; QOV 5.0.0 project file\nQOVHeaderExtension:  {\n    QOVHeaderVersion: 1003\n"
        "    QOVVersion: 5000\n}\n",
        f);
    std::fclose(f);
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    ASSERT_TRUE(importer.Initialize(name.c_str()));
    KStreamOptionsQov options;
    std::vector<std::string> texts;
    options.SetProgressCallback([&](int, const char* text, float) {
        if (text) texts.push_back(text);
    });
    ASSERT_TRUE(importer.Import(scene, &options)) << importer.GetLastErrorString();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Retrieving models"), 1);
}

}  // namespace
