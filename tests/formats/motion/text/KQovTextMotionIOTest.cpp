// What the three text marker formats share: opening and creating files, options checks,
// failed and full disks, truncated files, and the exporter's and importer's format table.
#include <gtest/gtest.h>

#include "TextMotionTestUtil.h"
#include "common/TempTestFolder.h"
#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/brd/KQovReaderBrd.h"
#include "formats/motion/brd/KQovWriterBrd.h"
#include "formats/motion/mov/KQovReaderMov.h"
#include "formats/motion/mov/KQovWriterMov.h"
#include "formats/motion/vpm/KQovReaderVpm.h"
#include "formats/motion/vpm/KQovWriterVpm.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsQov.h"

namespace {

using namespace texttest;

struct Format {
    const char* extension;
    int readerId, writerId;
    std::function<KQovReader*(KQovObjectManager*)> reader;
    std::function<KQovWriter*(KQovObjectManager*)> writer;
    std::function<Imported(TestScene&, const std::string&)> import;
    std::function<bool(TestScene&, const std::string&, int, int&)> exportFile;
};

template <class R, class W>
Format Make(const char* extension, int readerId, int writerId) {
    return Format{extension,
                  readerId,
                  writerId,
                  [](KQovObjectManager* m) { return new R(m); },
                  [](KQovObjectManager* m) { return new W(m); },
                  [](TestScene& t, const std::string& path) { return Import<R>(t, path); },
                  [](TestScene& t, const std::string& path, int frames, int& error) {
                      return Export<W>(t, path, frames, 30.0, error);
                  }};
}

const Format kFormats[] = {
    Make<KQovReaderBrd, KQovWriterBrd>("brd", 13, 15),
    Make<KQovReaderMov, KQovWriterMov>("mov", 12, 14),
    Make<KQovReaderVpm, KQovWriterVpm>("vpm", 11, 13),
};

TEST(TextMarkerFormats, ReadersRefuseMissingFilesAndForeignOptions) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    for (const Format& f : kFormats) {
        TestScene t;
        std::unique_ptr<KQovReader> reader(f.reader(&t.manager));
        KStreamOptionsMotion motion;
        EXPECT_FALSE(reader->Read(t.scene, &motion));
        EXPECT_EQ(reader->GetLastErrorID(), KQovReader::eFileNotOpened) << f.extension;
        EXPECT_EQ(reader->GetReadOptions(false), nullptr);
        EXPECT_FALSE(reader->FileOpen((dir / "missing").c_str()));
        EXPECT_EQ(reader->GetLastErrorID(), KQovReader::eFileNotOpened);
        EXPECT_FALSE(reader->IsFileOpen());
        EXPECT_FALSE(reader->FileClose());

        // A good file, read with options of another class.
        const std::string path = dir / (std::string("one.") + f.extension);
        TestScene source;
        BuildMarkers(source, 1, 2, 30.0);
        int error = 0;
        ASSERT_TRUE(f.exportFile(source, path, 2, error)) << f.extension << " " << error;
        ASSERT_TRUE(reader->FileOpen(path.c_str()));
        KStreamOptionsQov foreign;
        EXPECT_FALSE(reader->Read(t.scene, &foreign));
        EXPECT_EQ(reader->GetLastErrorID(), KQovReader::eStreamOptionsNotSet) << f.extension;
        EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0);
        EXPECT_TRUE(reader->FileClose());
    }
}

TEST(TextMarkerFormats, WritersReportFilesThatCannotBeWritten) {
    for (const Format& f : kFormats) {
        TestScene t;
        BuildMarkers(t, 2, 3, 30.0);
        std::unique_ptr<KQovWriter> writer(f.writer(&t.manager));
        // A failed create keeps no file object to write into.
        EXPECT_FALSE(writer->FileCreate("/nonexistent-folder/x.txt"));
        EXPECT_STREQ(writer->GetLastErrorString(),
                     "Cannot open file \"/nonexistent-folder/x.txt\" for writing. The folder "
                     "/nonexistent-folder does not exist.");
        EXPECT_FALSE(writer->IsFileOpen());
        std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
        EXPECT_FALSE(writer->Write(t.scene, options.get()));
        EXPECT_EQ(writer->GetLastErrorID(), KQovWriter::eFileNotOpened) << f.extension;
        EXPECT_FALSE(writer->FileClose());

        ASSERT_TRUE(writer->FileCreate("/dev/null"));
        EXPECT_FALSE(writer->Write(t.scene, nullptr));
        EXPECT_EQ(writer->GetLastErrorID(), KQovWriter::eStreamOptionsNotSet) << f.extension;

        // A full disk is error 3, never success: from Write itself, since the exporter
        // deletes the writer without closing it.
        ASSERT_TRUE(writer->FileCreate("/dev/full"));
        auto* motion = static_cast<KStreamOptionsMotion*>(options.get());
        motion->SetFrameCount(3);
        EXPECT_FALSE(writer->Write(t.scene, motion)) << f.extension;
        EXPECT_EQ(writer->GetLastErrorID(), KQovWriter::eOutOfDiskSpace) << f.extension;
        EXPECT_FALSE(writer->FileClose());
        EXPECT_EQ(writer->GetLastErrorID(), KQovWriter::eOutOfDiskSpace) << f.extension;

        // Rates whose frames no reader would keep: refused, with the reason.
        for (const double rate : {1e30, 2e6, 1e-8}) {
            ASSERT_TRUE(writer->FileCreate("/dev/null"));
            motion->SetFrameRate(0, rate);
            EXPECT_FALSE(writer->Write(t.scene, motion)) << f.extension << " " << rate;
            EXPECT_EQ(std::string(writer->GetLastErrorString()).rfind("The rate of ", 0), 0u);
            writer->FileDiscard();
        }
        // The fastest rate is written, and what its reader makes of six-digit times is written
        // again.
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir / (std::string("fast.") + f.extension);
        ASSERT_TRUE(writer->FileCreate(path.c_str()));
        motion->SetFrameRate(0, 1e6);
        EXPECT_TRUE(writer->Write(t.scene, motion) && writer->FileClose()) << f.extension;
        TestScene back;
        const Imported in = f.import(back, path);
        ASSERT_TRUE(in.parent) << f.extension << " " << in.error;
        EXPECT_EQ(in.options->GetFrameRate(), 1e6) << f.extension;
        EXPECT_EQ(KMotionUnwritableRate(*in.options, true), "") << f.extension;
    }
}

TEST(TextMarkerFormats, TruncatedFilesReadWhatTheyHoldOrFailCleanly) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    for (const Format& f : kFormats) {
        const std::string path = dir / (std::string("whole.") + f.extension);
        TestScene source;
        BuildMarkers(source, 2, 4, 30.0);
        int error = 0;
        ASSERT_TRUE(f.exportFile(source, path, 4, error)) << error;
        const std::string whole = ReadText(path);
        for (const double part : {0.1, 0.33, 0.5, 0.77, 0.95}) {
            const std::string cut = dir / (std::string("cut.") + f.extension);
            ASSERT_TRUE(WriteText(cut, whole.substr(0, size_t(whole.size() * part))));
            TestScene t;
            const Imported in = f.import(t, cut);
            if (!in.parent) {
                EXPECT_EQ(in.error, KQovReader::eFileCorrupted) << f.extension << " " << part;
                EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0);
                continue;
            }
            // Whatever was read is whole: every marker keyed at least once, but the segment of
            // a VPM file that ends inside its first frame line, kept without frames.
            const int count = in.parent->GetChildCount();
            for (int k = 0; k < count; ++k) {
                const int keys =
                    in.parent->GetChild(k)->GetCurrentTakeNode()->GetTranslationX()->KeyGetCount();
                if (k + 1 < count || std::string(f.extension) != "vpm") {
                    EXPECT_GT(keys, 0);
                }
            }
        }
    }
}

TEST(TextMarkerFormats, ExporterAndImporterCarryMarkersThroughEachFormat) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    for (const Format& f : kFormats) {
        const std::string path = dir / (std::string("scene.") + f.extension);
        TestScene source;
        BuildMarkers(source, 2, 4, 30.0);
        KStreamOptionsMotion options;
        options.SetFrameRate(0, 30.0);
        options.SetFrameCount(4);
        for (int s : {0, 1, 2, 11}) options.SetSetting(s, 1);
        KQovExporter exporter(&source.manager);
        ASSERT_TRUE(exporter.Initialize(path.c_str()));
        exporter.SetFileFormat(f.writerId);
        ASSERT_TRUE(exporter.Export(source.scene, &options))
            << f.extension << " " << exporter.GetLastErrorString();
        // The exporter deletes its writer without closing it: a full disk shows in Write.
        ASSERT_TRUE(exporter.Initialize("/dev/full"));
        exporter.SetFileFormat(f.writerId);
        EXPECT_FALSE(exporter.Export(source.scene, &options)) << f.extension;

        TestScene back;
        KQovImporter importer(&back.manager);
        ASSERT_TRUE(importer.Initialize(path.c_str()));
        EXPECT_EQ(importer.GetFileFormat(), f.readerId);
        ASSERT_TRUE(importer.Import(back.scene, nullptr))
            << f.extension << " " << importer.GetLastErrorString();
        KQovNode* root = back.scene->GetRootNode();
        ASSERT_EQ(root->GetChildCount(), 1);
        KQovNode* parent = root->GetChild(0);
        ASSERT_EQ(parent->GetChildCount(), 2) << f.extension;
        const Pose got = Evaluate(parent->GetChild(1), FrameTime(3, 30.0));
        const Pose want = SourcePose(1, 3);
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(got.t[a], want.t[a], 1e-4) << f.extension;
    }
}

}  // namespace
