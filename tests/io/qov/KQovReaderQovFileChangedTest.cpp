// A mapped QOV file that another program cuts or writes anew while it is read: the read fails
// with the field file's "cut short" error rather than giving a part of the scene, with the
// read's threads on and off (also when the only sign is a write seen by the watch on the file,
// with a forked child taking stamps meanwhile); a file replaced by a new one (renamed over it),
// linked or deleted reads whole.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "ReaderTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveKeysAhead.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMesh.h"
#include "common/SceneDump.h"
#include "common/TempTestFolder.h"
#include "fieldfile/KQovFieldReader.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsQov.h"
#include "platform/KPlatformStdio.h"
#include "scene/KQovNode.h"

namespace {

const char* const kCutShort =
    "File is corrupted: Read error: the file was cut short while it was read";

// A mesh of 5,000 quads and two nodes with long curves in two takes.
void Build(KQovObjectManager& manager, KQovScene* scene) {
    KQovMesh* mesh = manager.CreateMesh();
    mesh->InitControlPoints(10000);
    for (int p = 0; p < 5000; ++p) {
        mesh->BeginPolygon();
        for (int k = 0; k < 4; ++k) mesh->AddPolygonVertex((p * 2 + k) % 10000);
    }
    KQovNode* meshNode = manager.CreateNode("Grid");
    meshNode->SetNodeAttribute(mesh);
    scene->GetRootNode()->AddChild(meshNode);
    for (int n = 0; n < 2; ++n) {
        KQovNode* node = manager.CreateNode(("Mover" + std::to_string(n)).c_str());
        scene->GetRootNode()->AddChild(node);
        for (const char* take : {"Run", "Walk"}) {
            node->AddTakeNode(take);
            KQovTakeNode* takeNode = node->GetTakeNode(node->GetTakeNodeCount() - 1);
            for (KFCurve* curve : {takeNode->GetTranslationX(), takeNode->GetRotationY()}) {
                const int keys = 3000;
                curve->ResizeKeyBuffer(keys);
                for (int k = 0; k < keys; ++k)
                    curve->KeySet(k, KTime(int64_t(k + 1) * 1539538600), float(k % 17) - n,
                                  KFCURVE_INTERPOLATION_LINEAR);
                curve->CommitKeys(keys);
            }
        }
    }
}

std::string ReadBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `bytes` into the file itself, as a copy over it does: cut to nothing, then written.
void WriteInPlace(const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
}

// Runs an action once, at the first progress text that begins with `at`.
class CuttingImporter : public KQovImporter {
public:
    using KQovImporter::KQovImporter;
    void Report(int first, const char* text, const char* detail, float percent) override {
        if (action && text && std::strncmp(text, at.c_str(), at.size()) == 0) {
            auto run = std::move(action);
            action = nullptr;
            run();
        }
        KQovImporter::Report(first, text, detail, percent);
    }
    std::string at;
    std::function<void()> action;
};

struct Outcome {
    bool ok = false;
    std::string error;
    std::string scene;
};

// Reads `file` mapped, `during` run at the progress text `at` ("" for after the header pass,
// before the read), the keys decoded ahead on a thread or not.
Outcome ReadWhile(const std::string& file, const std::string& at,
                  const std::function<void()>& during, bool threads) {
    const uint64_t oldMapping = KQovFieldReader::SetMappingFrom(1);
    const int oldFrom = KFCurveKeysAhead::SetFrom(threads ? 1 : INT_MAX);
    const bool oldWait = KFCurveKeysAhead::SetWaitForThread(true);
    Outcome outcome;
    {
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        CuttingImporter importer(&manager);
        importer.at = at;
        importer.action = at.empty() ? nullptr : during;
        KQovReaderQov reader(&manager, &importer);
        EXPECT_TRUE(reader.FileOpen(file.c_str()));
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
        EXPECT_TRUE(options);
        if (options) {
            if (at.empty() && during) during();
            outcome.ok = reader.Read(scene, options.get());
            KQovDestroySceneInfo(&manager, options->sceneInfo);
        }
        outcome.error = reader.GetLastErrorString();
        outcome.scene = SceneDump::NodeTree(*scene->GetRootNode());
        EXPECT_TRUE(importer.action == nullptr) << "never reached " << at;
    }
    KFCurveKeysAhead::SetWaitForThread(oldWait);
    KFCurveKeysAhead::SetFrom(oldFrom);
    KQovFieldReader::SetMappingFrom(oldMapping);
    return outcome;
}

}  // namespace

TEST(KQovReaderQovFileChanged, ReadFailsWhenTheFileIsCutOrWrittenAnew) {
    TempTestFolder tmp;
    ASSERT_TRUE(tmp.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    Build(manager, scene);
    enum Change {
        eCutHalf,
        eCutLastHundredth,
        eSameSizeOtherBytes,
        eReplacedByRename,
        eLinked,
        eDeleted,
        eWrittenLinkedStampedInChild
    };
    const struct {
        const char* what;
        int id;          // the writer: 0 version 6 binary, 3 version 5 binary
        const char* at;  // "" after the header pass, before the read
        Change change;
        bool fails;
    } kCases[] = {
        {"v6 cut to half before the read", 0, "", eCutHalf, true},
        {"v6 cut to 99% at the takes", 0, "Retrieving take", eCutLastHundredth, true},
        {"v6 cut to half at the takes", 0, "Retrieving take", eCutHalf, true},
        {"v6 written in place, same size, at the takes", 0, "Retrieving take", eSameSizeOtherBytes,
         true},
        {"v6 replaced by a new file at the takes", 0, "Retrieving take", eReplacedByRename, false},
        {"v5 cut to half at the models", 3, "Retrieving models", eCutHalf, true},
        {"v5 cut to 99% at the takes", 3, "Retrieving take", eCutLastHundredth, true},
        {"v5 written in place, same size, at the models", 3, "Retrieving models",
         eSameSizeOtherBytes, true},
        // A link made or removed changes the record's time, and no byte (qovtool's tests write
        // one in place first).
        {"v6 linked at the takes", 0, "Retrieving take", eLinked, false},
        {"v6 deleted at the takes", 0, "Retrieving take", eDeleted, false},
        // Only the watch of the file's writes tells; a forked child's stamp must not take its
        // news.
        {"v6 written in place, time put back, linked, a child stamping it at the takes", 0,
         "Retrieving take", eWrittenLinkedStampedInChild, true},
    };
    for (const auto& c : kCases) {
        const std::string original = tmp / ("whole" + std::to_string(c.id) + ".qov");
        if (ReadBytes(original).empty()) {
            ASSERT_TRUE(Export(scene, original, c.id));
        }
        const std::string bytes = ReadBytes(original);
        for (bool threads : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (threads ? ", keys on a thread" : ""));
            const std::string name = tmp / "in.qov", link = tmp / "link.qov";
            std::remove(name.c_str());
            std::remove(link.c_str());
            ASSERT_NO_FATAL_FAILURE(WriteInPlace(name, bytes));
            // Written well before the read: a write in place changes the time.
            struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), past, 0), 0);
            auto change = [&] {
                switch (c.change) {
                    case eCutHalf:
                        ASSERT_EQ(truncate(name.c_str(), off_t(bytes.size() / 2)), 0);
                        break;
                    case eCutLastHundredth:
                        ASSERT_EQ(truncate(name.c_str(), off_t(bytes.size() * 99 / 100)), 0);
                        break;
                    case eSameSizeOtherBytes: {
                        std::string other = bytes;
                        for (size_t i = other.size() / 3; i < other.size() * 2 / 3; ++i)
                            other[i] = char(other[i] ^ 0x5A);
                        WriteInPlace(name, other);
                        break;
                    }
                    case eReplacedByRename: {
                        const std::string fresh = tmp / "fresh.qov";
                        WriteInPlace(fresh, std::string(100, 'x'));
                        ASSERT_EQ(std::rename(fresh.c_str(), name.c_str()), 0);
                        break;
                    }
                    case eLinked:
                        ASSERT_EQ(::link(name.c_str(), link.c_str()), 0);
                        break;
                    case eDeleted:
                        ASSERT_EQ(unlink(name.c_str()), 0);
                        break;
                    case eWrittenLinkedStampedInChild: {
                        std::string other = bytes;
                        other[other.size() / 2] = char(other[other.size() / 2] ^ 0x5A);
                        WriteInPlace(name, other);
                        ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), past, 0), 0);
                        ASSERT_EQ(::link(name.c_str(), link.c_str()), 0);
                        const pid_t child = fork();
                        ASSERT_GE(child, 0);
                        if (child == 0) {
                            KPlatformFileStamp stamp;
                            const int file = open(name.c_str(), O_RDONLY);
                            _exit(KPlatformGetDescriptorStamp(file, stamp) ? 0 : 1);
                        }
                        int status = -1;
                        ASSERT_EQ(waitpid(child, &status, 0), child);
                        ASSERT_EQ(status, 0);
                        break;
                    }
                }
            };
            const Outcome read = ReadWhile(name, c.at, change, threads);
            if (c.fails) {
                EXPECT_FALSE(read.ok);
                EXPECT_EQ(read.error, kCutShort);
            } else {
                EXPECT_TRUE(read.ok) << read.error;
                const Outcome whole = ReadWhile(original, "", nullptr, threads);
                ASSERT_TRUE(whole.ok) << whole.error;
                EXPECT_EQ(read.scene, whole.scene);
            }
        }
    }
}
