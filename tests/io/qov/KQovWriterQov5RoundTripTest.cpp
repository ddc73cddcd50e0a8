// Round trips of the one-of-everything scene through the exporter's version-5 ids and the
// reader: what comes back equals what was written.

#include "KQovWriterQov5TestUtil.h"
#include "io/KQovExporter.h"

TEST(KQovWriterQov5RoundTrip, EverythingComesBackFromAsciiAndBinary) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything(tmp / "wood.tif");
    const std::string before = v5test::EverythingDump(built.scene);
    for (int id : {4, 3}) {
        SCOPED_TRACE(id);
        KQovExporter exporter(&built.manager);
        const std::string name = tmp / ("everything" + std::to_string(id) + ".qov");
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(id);
        KStreamOptionsQov options;
        v5test::AllOn(options);
        ASSERT_TRUE(exporter.Export(built.scene, &options)) << exporter.GetLastErrorString();
        EXPECT_EQ(v5test::EverythingDump(built.scene), before);
        Read read(name);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(v5test::EverythingDump(read.scene), before);
    }
}
