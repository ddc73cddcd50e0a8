#pragma once
// A whole QOV file read into a fresh scene, for the reader tests.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "io/qov/KQovReaderQov.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

inline std::string Golden(const char* name) {
    return std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/" + name;
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
