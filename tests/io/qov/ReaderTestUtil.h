#pragma once
// A whole QOV file read into a fresh scene, for the reader tests.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "io/KQovExporter.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

inline std::string Golden(const char* name) {
    return std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/" + name;
}

// The scene written by the exporter in file format `id` (version 6: 0 binary, 1 ASCII,
// 2 encrypted with `password`; version 5: 3 binary, 4 ASCII); false when it was not, the
// exporter's error then in `error`.
inline bool Export(KQovScene* scene, const std::string& name, int id, const char* password = "",
                   std::string* error = nullptr) {
    KQovExporter exporter(scene->GetObjectManager());
    if (!exporter.Initialize(name.c_str())) return false;
    exporter.SetFileFormat(id);
    exporter.SetPassword(password);
    const bool ok = exporter.Export(scene, nullptr);
    if (error) *error = exporter.GetLastErrorString() ? exporter.GetLastErrorString() : "";
    return ok;
}

struct Read {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovReaderQov reader{&manager, nullptr};
    bool ok = false;

    explicit Read(const std::string& file) {
        EXPECT_TRUE(reader.FileOpen(file.c_str()));
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
        EXPECT_TRUE(options);
        if (!options) return;
        options->SetSwitch(KStreamOptionsQov::ePivots, true);
        ok = reader.Read(scene, options.get());
        KQovDestroySceneInfo(&manager, options->sceneInfo);
    }
};

}  // namespace
