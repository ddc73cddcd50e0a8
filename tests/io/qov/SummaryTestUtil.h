#pragma once
// Reading never writes: a caller that wants the scan kept appends it as a Summary part of
// its own, through a field file opened for update.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fieldfile/KQovFieldFile.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovObjectManager.h"

namespace {

inline void AppendScannedSummary(const std::string& name) {
    KQovObjectManager manager;
    std::unique_ptr<KStreamOptionsQov> options;
    {
        KQovReaderQov scan(&manager, nullptr);
        ASSERT_TRUE(scan.FileOpen(name.c_str()));
        options.reset(scan.ReadHeaderInfo(nullptr, true));
        ASSERT_TRUE(options);
    }
    KQovFieldFile f;
    ASSERT_TRUE(f.Open(name.c_str(), false, false, nullptr, true));
    ASSERT_TRUE(f.FieldFileAppendPart(false));
    KQovWriteSummary(&f, *options);
    ASSERT_TRUE(f.FieldFileClose());
    KQovDestroySceneInfo(&manager, options->sceneInfo);
}

}  // namespace
