#include <gtest/gtest.h>

#include "Test3ds.h"
#include "formats/geometry/3ds/TextureCopy3ds.h"
#include "platform/KPlatformFile.h"

#include <unistd.h>

#include <cstdio>

namespace {

// An image is copied beside the written file once, whole, and never over another file: a file
// of its name there gets it a name of its own, a dangling link included (nothing is written
// through it). An image that cannot be read is a line of the report and leaves no copy; a
// folder that takes no file fails the write.
TEST(TextureCopy3ds, CopiesOnceAndReportsFailures) {
    TempTestFolder source("tsrc"), target("tdst");
    const std::string image = source / "brick.tga";
    WriteBytes3ds(image, Bytes3ds(3000, 7));  // spans several blocks
    const std::string file3ds = target / "scene.3ds";
    std::string status;
    auto place = [&](const std::string& written, const std::string& path, std::string& report,
                     std::string& failure) {
        TextureNames3ds names;
        names.Reset(written);
        const std::string name = names.Place(path, status);
        EXPECT_EQ(names.Place(path, status), name);
        names.Report(report);
        failure = names.GetFailure();
        names.Keep(report);
        return name;
    };
    std::string report, failure;
    EXPECT_EQ(place(file3ds, image, report, failure), "brick.tga");
    EXPECT_EQ(ReadBytes3ds(target / "brick.tga"), ReadBytes3ds(image));
    EXPECT_EQ(report + failure + status, "");
    // Already there: left alone.
    WriteBytes3ds(target / "brick.tga", Bytes3ds(5, 1));
    EXPECT_EQ(place(file3ds, image, report, failure), "brick~1.tga");
    EXPECT_EQ(ReadBytes3ds(target / "brick.tga").size(), 5u);
    EXPECT_EQ(ReadBytes3ds(target / "brick~1.tga"), ReadBytes3ds(image));
    EXPECT_EQ(report + failure, "");

    const std::string missing = source / "none.tga";
    place(file3ds, missing, report, failure);
    EXPECT_EQ(report, "Unable to locate texture file \"" + missing + "\".\n");
    EXPECT_EQ(failure, "");
    report.clear();
    const std::string nowhere = target / "no/such/folder/scene.3ds";
    place(nowhere, image, report, failure);
    EXPECT_EQ(failure, "Error writing texture file \"" + target / "no/such/folder/brick.tga" +
                           "\": no such file or directory.\n");
    // A source that opens but cannot be read: no copy is left.
    const std::string folder = source / "folder.tga";
    ASSERT_TRUE(KPlatformMakeDirectory(folder.c_str()));
    place(file3ds, folder, report, failure);
    EXPECT_FALSE(KPlatformPathExists((target / "folder.tga").c_str()));
    EXPECT_EQ(report, "Unable to read texture file \"" + folder + "\": is a directory.\n");
    EXPECT_EQ(failure, "");
    // A name that is a dangling link is taken: nothing is written through it.
    const std::string gone = source / "gone.tga";
    WriteBytes3ds(gone, Bytes3ds(10, 3));
    ASSERT_EQ(symlink((target / "elsewhere.tga").c_str(), (target / "gone.tga").c_str()), 0);
    report.clear();
    EXPECT_EQ(place(file3ds, gone, report, failure), "gone~1.tga");
    EXPECT_FALSE(KPlatformPathExists((target / "elsewhere.tga").c_str()));
    EXPECT_EQ(ReadBytes3ds(target / "gone~1.tga"), ReadBytes3ds(gone));
    EXPECT_EQ(report + failure, "");
}

// Copies are made new under their names as the images are placed, before the file names them:
// a name another program takes after the folder was listed moves the image on, and dropping
// the write removes only the copies it made, not a file put in the place of one since.
TEST(TextureCopy3ds, CopiesTakeTheirNamesAsNew) {
    TempTestFolder source("tsrc"), target("tdst");
    const std::string file3ds = target / "scene.3ds";
    for (const char* name : {"a.tga", "late.tga", "swap.tga"})
        WriteBytes3ds(source / name, Bytes3ds(10, name[0]));
    auto bytes = [](size_t n, char c) { return std::vector<char>(n, c); };
    for (const bool kept : {false, true}) {
        SCOPED_TRACE(kept);
        TextureNames3ds names;
        names.Reset(file3ds);
        std::string status;
        EXPECT_EQ(names.Place(source / "a.tga", status), "a.tga");  // the folder is listed
        EXPECT_EQ(ReadBytes3ds(target / "a.tga"), bytes(10, 'a'));
        WriteBytes3ds(target / "late.tga", Bytes3ds(3, 'x'));  // another program's
        EXPECT_EQ(names.Place(source / "late.tga", status), "late~1.tga");
        EXPECT_EQ(names.Place(source / "swap.tga", status), "swap.tga");
        // Another program puts its file in the place of a copy.
        ASSERT_EQ(std::remove((target / "swap.tga").c_str()), 0);
        WriteBytes3ds(target / "swap.tga", Bytes3ds(4, 'y'));
        std::string report;
        names.Report(report);
        EXPECT_EQ(report, "");
        kept ? names.Keep(report) : names.Drop();
        EXPECT_EQ(ReadBytes3ds(target / "late.tga"), bytes(3, 'x'));
        EXPECT_EQ(ReadBytes3ds(target / "swap.tga"), bytes(4, 'y'));
        EXPECT_EQ(ReadBytes3ds(target / "late~1.tga"), bytes(kept ? 10 : 0, 'l'));
        EXPECT_EQ(KPlatformPathExists((target / "a.tga").c_str()), kept);
        for (const char* name : {"late.tga", "late~1.tga", "swap.tga", "a.tga"})
            std::remove((target / name).c_str());
    }
}

}  // namespace
