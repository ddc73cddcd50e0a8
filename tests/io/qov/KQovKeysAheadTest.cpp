// The takes' keys a thread decodes ahead of the read make the scene the read alone makes, for
// every binary writer, with all takes read or one, and with lists the thread must leave.

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <string>

#include "ReaderTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveKeysAhead.h"
#include "animation/KQovTakeNode.h"
#include "common/SceneDump.h"
#include "common/TempTestFolder.h"
#include "fieldfile/KQovFieldReader.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// Three nodes with long curves in two takes: plain keys of each kind, a curve with a weighted
// key in the middle (the thread leaves it), and one too short for the thread.
void Build(KQovObjectManager& manager, KQovScene* scene) {
    for (int n = 0; n < 3; ++n) {
        KQovNode* node = manager.CreateNode(("Mover" + std::to_string(n)).c_str());
        scene->GetRootNode()->AddChild(node);
        for (const char* take : {"Run", "Walk"}) {
            node->AddTakeNode(take);
            KQovTakeNode* takeNode = node->GetTakeNode(node->GetTakeNodeCount() - 1);
            const int keys = n == 2 ? 40 : 3000;
            for (KFCurve* curve : {takeNode->GetTranslationX(), takeNode->GetRotationY()}) {
                curve->ResizeKeyBuffer(keys);
                for (int k = 0; k < keys; ++k) {
                    const uint32_t interpolation =
                        k % 3 == 0   ? KFCURVE_INTERPOLATION_LINEAR
                        : k % 3 == 1 ? KFCURVE_INTERPOLATION_CONSTANT
                                     : KFCURVE_INTERPOLATION_CUBIC;
                    curve->KeySet(k, KTime(int64_t(k + 1) * 1539538600), float(k % 17) - n,
                                  interpolation, KFCURVE_TANGENT_AUTO);
                }
                if (n == 1)
                    curve->KeySet(keys / 2, KTime(int64_t(keys / 2 + 1) * 1539538600), 4.0f,
                                  KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 0.5f, -1.0f,
                                  KFCURVE_WEIGHTED_ALL, 0.25f, 0.75f);
                curve->CommitKeys(keys);
            }
        }
    }
}

// The scene read from `file` with keys decoded ahead from `from` keys on, the takes named
// `only` alone when given, the file mapped or read into memory; the lists taken from the
// thread in `taken`.
std::string SceneOf(const std::string& file, int from, const char* only, bool mapped,
                    long& taken) {
    const uint64_t oldMapping = KQovFieldReader::SetMappingFrom(mapped ? 1 : UINT64_MAX);
    const int oldFrom = KFCurveKeysAhead::SetFrom(from);
    const bool oldWait = KFCurveKeysAhead::SetWaitForThread(true);
    const long before = KFCurveKeysAhead::GetTakenTotal();
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovReaderQov reader(&manager, nullptr);
    std::string out = reader.FileOpen(file.c_str()) ? "" : "not open\n";
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    if (options) {
        for (int i = 0; only && i < options->GetTakeCount(); ++i)
            options->GetTake(i)->select = options->GetTake(i)->name == only;
        out += reader.Read(scene, options.get()) ? "" : "not read\n";
        KQovDestroySceneInfo(&manager, options->sceneInfo);
    }
    out += std::string("error ") + reader.GetFieldFile()->GetLastErrorString() + "\n";
    out += SceneDump::NodeTree(*scene->GetRootNode());
    taken = KFCurveKeysAhead::GetTakenTotal() - before;
    KFCurveKeysAhead::SetWaitForThread(oldWait);
    KFCurveKeysAhead::SetFrom(oldFrom);
    KQovFieldReader::SetMappingFrom(oldMapping);
    return out;
}

}  // namespace

TEST(KQovKeysAhead, ScenesReadAsWithoutTheThread) {
    TempTestFolder tmp;
    ASSERT_TRUE(tmp.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    Build(manager, scene);
    // Version 6 binary, version 6 encrypted (read from memory), version 5 binary.
    for (int id : {0, 2, 3}) {
        const std::string name = tmp / ("takes" + std::to_string(id) + ".qov");
        ASSERT_TRUE(Export(scene, name, id));
        for (const char* only : {static_cast<const char*>(nullptr), "Walk"}) {
            long taken = 0;
            const std::string alone = SceneOf(name, INT_MAX, only, false, taken);
            EXPECT_EQ(taken, 0);
            EXPECT_NE(alone.find("error \n"), std::string::npos) << alone.substr(0, 200);
            // A mapping's bytes the thread took go back at once; the read finds them again.
            for (bool mapped : {false, true}) {
                SCOPED_TRACE(std::to_string(id) + (only ? " Walk alone" : " every take") +
                             (mapped ? " mapped" : ""));
                EXPECT_EQ(SceneOf(name, 1, only, mapped, taken), alone);
                // Two curves of the first mover in each take read; the second mover's
                // weighted key leaves its lists to the read. The third mover's lists are too
                // short at 2048.
                const long takes = only ? 1 : 2;
                EXPECT_EQ(taken, 2 * 2 * takes) << "from 1";
                EXPECT_EQ(SceneOf(name, 2048, only, mapped, taken), alone);
                EXPECT_EQ(taken, 2 * takes) << "from 2048";
            }
        }
    }
}
