#pragma once
// A small QOV text file of either layout, written to a temporary folder and read into a fresh
// scene with every switch on unless the caller changes the options first.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fieldfile/FieldFileTestUtil.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace qovtest {

// A hand-written file of tests/io/qov/golden/.
inline std::string GoldenText(const char* name) {
    return ReadAll(std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/" + name);
}

// The header of an ASCII file of version 5000 or 6000; a version-6 file lists `types`.
inline std::string QovText(int version, const std::string& body, const std::string& types = "") {
    std::string text = "; QOV " + std::to_string(version / 1000) +
                       ".0.0 project file\nQOVHeaderExtension:  {\n    QOVHeaderVersion: 1003\n"
                       "    QOVVersion: " +
                       std::to_string(version) + "\n}\n";
    if (version >= 6000) {
        text += "Definitions:  {\n    Version: 100\n";
        size_t at = 0;
        while (at < types.size()) {
            size_t end = types.find(',', at);
            if (end == std::string::npos) end = types.size();
            text += "    ObjectType: \"" + types.substr(at, end - at) + "\" {\n    }\n";
            at = end + 1;
        }
        text += "}\n";
    }
    return text + body;
}

struct TextRead {
    TempFolder folder;
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovReaderQov reader{&manager, nullptr};
    std::unique_ptr<KStreamOptionsQov> options;
    bool ok = false;

    // `files`: further files of the folder, name and text by turns.
    TextRead(const std::string& text,
             const std::function<void(KStreamOptionsQov&)>& adjust = nullptr,
             const std::vector<std::string>& files = {},
             const std::function<void(KQovScene&)>& prepare = nullptr) {
        const std::string name = folder / "scene.qov";
        WriteAll(name, text);
        for (size_t i = 0; i + 1 < files.size(); i += 2) WriteAll(folder / files[i], files[i + 1]);
        EXPECT_TRUE(reader.FileOpen(name.c_str()));
        options.reset(reader.ReadHeaderInfo(nullptr, true));
        EXPECT_TRUE(options);
        if (!options) return;
        for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options->SetSwitch(i, true);
        if (adjust) adjust(*options);
        if (prepare) prepare(*scene);
        ok = reader.Read(scene, options.get());
    }
    ~TextRead() {
        if (options) KQovDestroySceneInfo(&manager, options->sceneInfo);
    }
};

// The tree below `node` as names without prefix, each node's children in brackets.
inline std::string NameTree(const KQovNode* node) {
    std::string out;
    for (int i = 0; i < node->GetChildCount(); ++i) {
        const KQovNode* child = node->GetChild(i);
        out += std::string(i ? " " : "") + child->GetNameWithoutPrefix().Buffer();
        if (child->GetChildCount() > 0) out += "(" + NameTree(child) + ")";
    }
    return out;
}

}  // namespace qovtest
