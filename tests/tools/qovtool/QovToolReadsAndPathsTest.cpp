// qovtool convert on files it cannot read anything from (UTF-16 text, OBJ files of lines and
// points only) or write nothing of, on text files that begin with a byte-order mark, and on
// paths whose folders hold ':' and blanks, absolute and relative, through every writer and back
// through `info`.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "tools/qovtool/QovToolRun.h"
#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"

namespace {

using qovtoolrun::Data;
using qovtoolrun::Exists;
using qovtoolrun::ReadFile;
using qovtoolrun::Result;
using qovtoolrun::Tool;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// UTF-16 little-endian with its mark, or big-endian without.
std::string Wide(const std::string& text, bool bigEndian) {
    std::string out = bigEndian ? "" : "\xFF\xFE";
    for (char c : text) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

class QovToolReads : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Exists(Tool())) << "qovtool not built at " << Tool();
        ASSERT_TRUE(mTemp.ok());
    }
    // qovtool run in the folder `cwd`; the arguments quoted (they hold blanks).
    Result Run(const std::string& cwd, const std::vector<std::string>& arguments) {
        return qovtoolrun::RunProgram(Tool(), arguments, cwd);
    }
    TempTestFolder mTemp{"qovtoolr"};
};

const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
const char* const kSmallBvh =
    "HIERARCHY\nROOT hips\n{\n OFFSET 0 0 0\n CHANNELS 6 Xposition Yposition Zposition "
    "Zrotation Xrotation Yrotation\n JOINT knee\n {\n  OFFSET 0 -4 0\n  CHANNELS 3 Zrotation "
    "Xrotation Yrotation\n  End Site\n  {\n   OFFSET 0 -4 0\n  }\n }\n}\nMOTION\nFrames: 2\n"
    "Frame Time: 0.04\n0 0 0 0 0 0 0 0 0\n1 0 0 0 0 0 10 0 0\n";
const char* const kDxfTriangle =
    "0\nSECTION\n2\nENTITIES\n0\n3DFACE\n8\n0\n10\n0\n20\n0\n30\n0\n11\n1\n21\n0\n31\n0\n"
    "12\n0\n22\n1\n32\n0\n13\n0\n23\n1\n33\n0\n0\nENDSEC\n0\nEOF\n";

}  // namespace

// Blocks nested five deep, each placing the next ten times, a face at the bottom: more
// instances than a file of this size may place.
std::string NestedBlocks() {
    std::string text = "0\nSECTION\n2\nBLOCKS\n";
    for (int level = 0; level < 5; ++level) {
        text += "0\nBLOCK\n2\nB" + std::to_string(level) + "\n";
        for (int k = 0; level < 4 && k < 10; ++k)
            text += "0\nINSERT\n2\nB" + std::to_string(level + 1) + "\n10\n" +
                    std::to_string(k) + "\n";
        if (level == 4)
            text += "0\n3DFACE\n8\n0\n10\n0\n20\n0\n30\n0\n11\n1\n21\n0\n31\n0\n12\n0\n22\n1\n"
                    "32\n0\n13\n0\n23\n1\n33\n0\n";
        text += "0\nENDBLK\n";
    }
    return text + "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n2\nB0\n0\nENDSEC\n0\nEOF\n";
}

// A file from which nothing could be read gives no output file and a non-zero exit, with what
// was skipped or why the file was refused; an empty file reads as an empty scene, which a QOV
// file holds and an OBJ file does not.
TEST_F(QovToolReads, NothingReadIsNoSuccess) {
    std::string lines = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int i = 0; i < 12; ++i) lines += "l 1 2 3\n";
    for (int i = 0; i < 4; ++i) lines += "p 1\n";
    const std::string bvh = ReadFile(Data("bvh/sinusoidal.bvh"));
    ASSERT_FALSE(bvh.empty()) << "test data missing: " << Data("bvh/sinusoidal.bvh");
    const std::string trc = ReadFile(Data("trc/test_file_01.trc"));
    ASSERT_FALSE(trc.empty()) << "test data missing: " << Data("trc/test_file_01.trc");
    const std::string refused =
        ": File not read: the file is UTF-16 text, which is not read; "
        "save it as ASCII or UTF-8 text";
    const std::string nothing = ": nothing was read from this file; nothing written";
    const std::string noMeshes =
        ": Nothing to write: an OBJ file holds meshes only, and the scene holds none";
    struct Case {
        std::string name;
        std::string bytes;
        int status;
        std::vector<std::string> messages;  // after "qovtool: IN"
        int objStatus = -1;                 // when the OBJ writer refuses what was read: 1
    } cases[] = {
        {"lines.obj",
         lines,
         1,
         {": warning: 12 line and 4 point elements are not read",
          ": warning: No geometry read: the file holds 3 vertices and no face or surface",
          nothing}},
        {"points.obj",
         "v 0 0 0\nv 1 0 0\n",
         1,
         {": warning: No geometry read: the file holds 2 vertices and no face or surface",
          nothing}},
        {"comment.obj", "# nothing here\n", 1, {nothing}},
        {"wide.obj", Wide(kTriangle, false), 1, {refused}},
        {"widebe.obj", Wide(kTriangle, true), 1, {refused}},
        {"wide.dxf", Wide(kDxfTriangle, false), 1, {refused}},
        {"wide.bvh", Wide(bvh, false), 1, {refused}},
        {"wide.trc", Wide(trc, false), 1, {refused}},
        {"widebe.trc", Wide(trc, true), 1, {refused}},
        {"wide.aoa", Wide("Frames=1 Markers=1\n0.0 0.0 0.0\n", false), 1, {refused}},
        {"empty.dxf", "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n", 1, {nothing}},
        {"zero.obj", "", 0, {}, 1},
        {"zero.3ds", "", 1, {": File is corrupted: 3DS file holds no data"}},
        {"some.obj",
         std::string(kTriangle) + "l 1 2\n",
         0,
         {": warning: 1 line element is not read"}},
        {"some.dxf", kDxfTriangle, 0, {}},
        {"blocks.dxf", NestedBlocks(), 0, {": warning: Too many block instances; the rest are skipped"}},
        {"solids.dxf",
         "0\nSECTION\n2\nENTITIES\n0\n3DSOLID\n0\nBODY\n0\nLINE\n67\n1\n11\n1\n0\nENDSEC\n0\nEOF\n",
         1,
         {": warning: 1 3DSOLID entity is not read: this reader does not take its surfaces",
          ": warning: 1 BODY entity is not read: this reader does not take its surfaces",
          ": warning: 1 entity of paper space (group 67) is left out: only model space is read",
          nothing}},
        // Numbers no reader takes back, refused where they stand.
        {"huge.obj",
         "v 0 0 0\nv 1e308 0 0\nv 0 1 0\nf 1 2 3\n",
         1,
         {": File is corrupted: line 2: v 1e308 0 0 (Line 2 is corrupted: v 1e308 0 0)"}},
        {"nan.dxf",
         std::string(kDxfTriangle).replace(std::string(kDxfTriangle).find("20\n0\n"), 5, "20\nnan\n"),
         1,
         {": File is corrupted: a number that is not finite or is larger than 2^100 (about "
          "1.27e30), line 12"}},
        {"inf.aoa",
         "frames = 1 markers = 1 Hz = 50\n1 2 inf\n",
         1,
         {": File is corrupted: frame 1 cannot be read (line 2)"}},
        {"plain.bvh", bvh, 0, {}, 1},
        {"plain.trc", trc, 0, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = mTemp / c.name;
        Write(in, c.bytes);
        for (const std::string extension : {"qov", "obj"}) {
            const std::string out = mTemp / (c.name + "." + extension);
            const Result result = Run(mTemp.path(), {"convert", in, out});
            const bool refused = extension == "obj" && c.objStatus == 1;
            const int status = refused ? 1 : c.status;
            EXPECT_EQ(result.status, status) << result.err;
            for (const std::string& message : c.messages)
                EXPECT_TRUE(HasLine(result.err, "qovtool: " + in + message)) << result.err;
            if (refused) {
                EXPECT_TRUE(HasLine(result.err, "qovtool: " + out + noMeshes)) << result.err;
            }
            EXPECT_EQ(Exists(out), status == 0) << out;
        }
        // `info` reads as convert does and tells the same, but for what convert did not write.
        const Result info = Run(mTemp.path(), {"info", in});
        for (const std::string& message : c.messages) {
            if (message == nothing) continue;
            EXPECT_TRUE(HasLine(info.err, "qovtool: " + in + message)) << info.err;
        }
    }
    // A QOV file may hold any double; a writer of another format refuses what its reader
    // would refuse, and writes nothing.
    const std::string triangle = mTemp / "triangle.obj", ascii = mTemp / "triangle.qov";
    Write(triangle, kTriangle);
    ASSERT_EQ(Run(mTemp.path(), {"convert", triangle, ascii, "--ascii"}).status, 0);
    std::string qov = ReadFile(ascii);
    const size_t at = qov.find("Vertices: 0,");
    ASSERT_NE(at, std::string::npos);
    Write(ascii, qov.replace(at + 10, 1, "nan"));
    for (const char* extension : {"obj", "dxf", "3ds"}) {
        const std::string out = mTemp / (std::string("refused.") + extension);
        const Result result = Run(mTemp.path(), {"convert", ascii, out});
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_TRUE(HasLine(result.err, "qovtool: " + out +
                                            ": A number that is not finite or is larger than 2^100 "
                                            "(about 1.27e30) cannot be written"))
            << result.err;
        EXPECT_FALSE(Exists(out));
    }

    // The real UTF-16 file of the OBJ test data.
    const Result real =
        Run(mTemp.path(), {"convert", Data("obj/box_UTF16BE.obj"), mTemp / "b.qov"});
    EXPECT_EQ(real.status, 1);
    EXPECT_NE(real.err.find("UTF-16"), std::string::npos) << real.err;
    EXPECT_FALSE(Exists(mTemp / "b.qov"));
}

// A read the system fails (here the process's own memory at address 0, which gives EIO) fails
// the read of every format with its cause, never taken for the end of the file or damage; the
// old output stays. An OBJ file's material library too.
TEST_F(QovToolReads, AFailedReadIsNoEndOfFile) {
    if (!Exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem";
    const std::string skeleton = Data("asf/11.asf");
    ASSERT_TRUE(Exists(skeleton)) << "test data missing: " << skeleton;
    for (const char* extension : {"obj", "dxf", "3ds", "qov", "bvh", "htr", "trc", "asf", "amc",
                                  "c3d", "aoa", "mcd", "vpm", "mov", "brd"}) {
        SCOPED_TRACE(extension);
        const std::string in = mTemp / (std::string("failing.") + extension);
        ASSERT_EQ(symlink("/proc/self/mem", in.c_str()), 0);
        const std::string out = mTemp / (std::string(extension) == "qov" ? "old.obj" : "old.qov");
        Write(out, "old");
        std::vector<std::string> arguments = {"convert", in, out};
        if (std::string(extension) == "amc") arguments.insert(arguments.end(), {"--skeleton", skeleton});
        const Result result = Run(mTemp.path(), arguments);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find(": File not read: "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("failing." + std::string(extension) + ": Input/output error"),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(result.err.find("corrupted"), std::string::npos) << result.err;
        EXPECT_EQ(ReadFile(out), "old");
    }
    // Files a read looks at beside its own: a TRC file's time code, the header of an AMC file
    // looked at for its skeleton's name. A failed read there is no file missing.
    const std::string trc = ReadFile(Data("trc/test_file_01.trc"));
    ASSERT_FALSE(trc.empty()) << "test data missing: " << Data("trc/test_file_01.trc");
    Write(mTemp / "timed.trc", trc);
    ASSERT_EQ(symlink("/proc/self/mem", (mTemp / "timed.tc").c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/mem", (mTemp / "alone.amc").c_str()), 0);
    for (const char* name : {"timed.trc", "alone.amc"}) {
        SCOPED_TRACE(name);
        const Result result = Run(mTemp.path(), {"convert", mTemp / name, mTemp / "beside.qov"});
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find(std::string(name) == "timed.trc" ? "timed.tc: Input/output error"
                                                                 : "alone.amc: Input/output error"),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(result.err.find("no skeleton file"), std::string::npos) << result.err;
        EXPECT_FALSE(Exists(mTemp / "beside.qov"));
    }
    const std::string obj = mTemp / "lib.obj";
    Write(obj, "mtllib failing.mtl\n" + std::string(kTriangle));
    ASSERT_EQ(symlink("/proc/self/mem", (mTemp / "failing.mtl").c_str()), 0);
    const Result result = Run(mTemp.path(), {"convert", obj, mTemp / "lib.qov"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_TRUE(HasLine(result.err, "qovtool: " + obj +
                                        ": Unable to load material library \"failing.mtl\": "
                                        "input/output error"))
        << result.err;
    EXPECT_FALSE(Exists(mTemp / "lib.qov"));
}

// A scene with nothing the output format holds is not written: exit 1, the reason, an old
// file of that name kept whole and no other file left beside it.
TEST_F(QovToolReads, NothingToWriteIsNoSuccess) {
    const std::string trc = ReadFile(Data("trc/test_file_01.trc"));
    ASSERT_FALSE(trc.empty()) << "test data missing: " << Data("trc/test_file_01.trc");
    Write(mTemp / "mesh.obj", kTriangle);
    Write(mTemp / "clip.bvh", kSmallBvh);
    Write(mTemp / "marks.trc", trc);
    Write(mTemp / "mesh.dxf", kDxfTriangle);
    Write(mTemp / "zero.obj", "");
    const std::string mesh3ds = ReadFile(Data("3ds/cube_with_diffuse_texture.3DS"));
    ASSERT_FALSE(mesh3ds.empty()) << "test data missing: cube_with_diffuse_texture.3DS";
    Write(mTemp / "mesh.3ds", mesh3ds);
    const std::string out = mTemp / "out";
    ASSERT_TRUE(KCreatePath((out + "/").c_str()));
    const std::string markers = "markers only, and the scene holds none";
    const std::string meshes = "meshes only, and the scene holds none";
    const std::string skeletons = "skeletons only, and the scene holds none";
    struct Case {
        std::string source;
        std::vector<std::pair<std::string, std::string>> targets;  // extension, format named
        std::string holds;
    } cases[] = {
        {"mesh.obj",
         {{"trc", "a TRC"}, {"c3d", "a C3D"}, {"aoa", "an AOA"}, {"mcd", "an MCD"},
          {"vpm", "a VPM"}, {"mov", "a MOV"}, {"brd", "a BRD"}},
         markers},
        {"clip.bvh",
         {{"trc", "a TRC"}, {"c3d", "a C3D"}, {"vpm", "a VPM"}, {"brd", "a BRD"}},
         markers},
        {"clip.bvh", {{"obj", "an OBJ"}, {"dxf", "a DXF"}}, meshes},
        {"clip.bvh", {{"3ds", "a 3DS"}}, "meshes, cameras and lights only, and the scene holds none"},
        {"marks.trc", {{"obj", "an OBJ"}, {"dxf", "a DXF"}}, meshes},
        {"marks.trc", {{"3ds", "a 3DS"}}, "meshes, cameras and lights only, and the scene holds none"},
        // A mesh would be written as joints standing still at the origin. An Acclaim motion
        // file is refused with its skeleton file, which is written first, in its own name.
        {"mesh.obj", {{"bvh", "a BVH"}, {"htr", "an HTR"}, {"asf", "an ASF"}}, skeletons},
        {"mesh.obj", {{"amc", "an AMC"}}, "skeleton motion only, and the scene holds none"},
        {"zero.obj", {{"htr", "an HTR"}}, skeletons},
        {"mesh.dxf", {{"asf", "an ASF"}}, skeletons},
        {"mesh.3ds", {{"bvh", "a BVH"}}, skeletons},
    };
    for (const Case& c : cases)
        for (const auto& target : c.targets) {
            const std::string path = out + "/old." + target.first;
            SCOPED_TRACE(c.source + " -> " + path);
            Write(path, "old");
            const std::vector<std::string> before = TempTestFolder::NamesIn(out);
            const Result result = Run(mTemp.path(), {"convert", mTemp / c.source, path});
            EXPECT_EQ(result.status, 1) << result.err;
            EXPECT_TRUE(HasLine(result.err, "qovtool: " + path + ": Nothing to write: " +
                                                target.second + " file holds " + c.holds))
                << result.err;
            EXPECT_EQ(ReadFile(path), "old");
            EXPECT_EQ(TempTestFolder::NamesIn(out), before);
        }
}

// A UTF-8 byte-order mark before the first line is skipped by every text reader: each file
// reads with one as it does without (the first line kept), here through `info`.
TEST_F(QovToolReads, AByteOrderMarkIsNoText) {
    const std::string row = " 1 2 3 10 20 30 100 100 100\n";
    const std::string asf =
        ":version 1.10\n:name t\n:units\n  mass 1.0\n  length 1.0\n  angle deg\n:root\n  "
        "order TX TY TZ RX RY RZ\n  axis XYZ\n  position 0 0 0\n  orientation 0 0 0\n"
        ":bonedata\n  begin\n    id 1\n    name hip\n    direction 0 0 1\n    length 10\n"
        "    axis 0 0 0 XYZ\n    dof rx ry rz\n  end\n:hierarchy\n  begin\n    root hip\n  end\n";
    const std::string htr =
        "[Header]\nFileType htr\nDataType HTRS\nFileVersion 1\nNumSegments 2\nNumFrames 2\n"
        "DataFrameRate 30\nEulerRotationOrder ZYX\nCalibrationUnits mm\nRotationUnits Degrees\n"
        "GlobalAxisofGravity Y\nBoneLengthAxis Y\nScaleFactor 1.00\n"
        "[SegmentNames&Hierarchy]\nhip\tGLOBAL\nknee\thip\n[BasePosition]\n"
        "hip\t0\t80\t0\t0\t0\t0\t10\nknee\t0\t10\t0\t0\t0\t0\t8\n"
        "[hip]\n1\t0\t0\t0\t0\t0\t0\t1\n2\t1\t0\t0\t0\t0\t0\t1\n"
        "[knee]\n1\t0\t0\t0\t0\t0\t0\t1\n2\t0\t0\t0\t5\t0\t0\t1\n[EndOfFile]\n";
    const std::string aoa = "frames = 2 markers = 2 Hz = 60\n1 2 3\n4 5 6\n1 2 3\n4 5 6\n";
    const std::string trc = ReadFile(Data("trc/test_file_01.trc"));
    ASSERT_FALSE(trc.empty()) << "test data missing: " << Data("trc/test_file_01.trc");
    const std::string quad = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";
    struct Case {
        std::string read;  // the file `info` reads
        std::vector<std::pair<std::string, std::string>> files;  // the first gets the mark
    } cases[] = {
        {"t.obj", {{"t.obj", quad + "f 1 2 3 4\n"}}},
        {"m.obj",
         {{"m.mtl", "newmtl Red\nKd 1 0 0\n"},
          {"m.obj", "mtllib m.mtl\n" + quad + "usemtl Red\nf 1 2 3 4\n"}}},
        {"t.dxf", {{"t.dxf", kDxfTriangle}}},
        {"t.bvh", {{"t.bvh", kSmallBvh}}},
        {"t.htr", {{"t.htr", htr}}},
        {"t.asf", {{"t.asf", asf}}},
        {"t.amc",
         {{"t.amc", ":FULLY-SPECIFIED\n:DEGREES\n1\nroot 0 0 0 0 0 0\nhip 0 0 0\n2\n"
                    "root 1 0 0 0 0 0\nhip 10 0 0\n"},
          {"t.asf", asf}}},
        {"t.mov", {{"t.mov", "0" + row + "0.04" + row + "0.08" + row}}},
        {"t.brd",
         {{"t.brd", "0\t1\tP\t1\t2\t3\tQ\t0\t0\t0\t1\t0\t0\n"
                    "1\t1\tP\t1\t2\t3\tQ\t0\t0\t0\t1\t0.01\t0\n"}}},
        {"t.vpm",
         {{"t.vpm", "Segment:\tball\nFrames:\t3\nFrame Time:\t0.04\n"
                    "XTRAN YTRAN ZTRAN XROT YROT ZROT XSCALE YSCALE ZSCALE\n"
                    "INCHES INCHES INCHES DEGREES DEGREES DEGREES PERCENT PERCENT PERCENT\n"
                    "1" + row + "2" + row + "3" + row}}},
        {"t.trc", {{"t.trc", trc}}},
        {"t.aoa", {{"t.aoa", aoa}}},
        {"t.mcd", {{"t.mcd", aoa}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.front().first + " with a mark, read as " + c.read);
        Result results[2];
        for (int marked = 0; marked < 2; ++marked) {
            const std::string folder = mTemp / (c.read + (marked ? ".bom" : ".plain"));
            ASSERT_TRUE(KCreatePath((folder + "/").c_str()));
            for (const auto& file : c.files)
                Write(folder + "/" + file.first,
                      (marked && &file == &c.files.front() ? "\xEF\xBB\xBF" : "") + file.second);
            results[marked] = Run(mTemp.path(), {"info", folder + "/" + c.read});
        }
        EXPECT_EQ(results[0].status, 0) << results[0].err;
        EXPECT_EQ(results[0].err, "");
        EXPECT_EQ(results[1].status, 0) << results[1].err;
        EXPECT_EQ(results[1].err, "");
        EXPECT_EQ(results[1].out, results[0].out);
    }
}

// Folders whose names hold ':' and blanks, absolute paths and relative ones, and names as long
// as the folder takes: every writer puts its file where the path says (not below the working
// folder), and every reader reads it back.
TEST_F(QovToolReads, PathsWithColonsAndBlanks) {
    const std::string in = mTemp / "in:1 a/d:x y";
    const std::string out = mTemp / "out:2 b/e:z w";
    const std::string work = mTemp / "work";
    // The same folders as relative ones below the working folder: what a path taken for a
    // drive path used to be written to.
    const std::string twin = work + "/" + out.substr(1);
    for (const std::string& folder : {in, out, twin})
        ASSERT_TRUE(KCreatePath((folder + "/").c_str())) << folder;
    ASSERT_TRUE(Exists(Data("trc/test_file_01.trc"))) << "test data missing";
    Write(in + "/motion.bvh", ReadFile(Data("bvh/sinusoidal.bvh")));
    Write(in + "/markers.trc", ReadFile(Data("trc/test_file_01.trc")));
    Write(in + "/tex.png", "not really an image");
    Write(in + "/mesh.mtl", "newmtl Blue Steel\nKd 0 0 1\nmap_Kd " + in + "/tex.png\n");
    Write(in + "/mesh.obj",
          "mtllib mesh.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
          "vt 0 1\nusemtl Blue Steel\nf 1/1 2/2 3/3 4/4\n");

    struct Case {
        std::string source, target;
        std::vector<std::string> flags;
        std::vector<std::string> infoLines;
    } cases[] = {
        {"mesh.obj", "b.qov", {"--binary"}, {"meshes: 1", "materials: 1", "textures: 1"}},
        {"mesh.obj", "a.qov", {"--ascii"}, {"meshes: 1", "materials: 1", "textures: 1"}},
        {"mesh.obj", "e.qov", {"--encrypted", "--password", "pw"}, {"meshes: 1"}},
        {"mesh.obj", "v5.qov", {"--v5"}, {"meshes: 1", "materials: 1"}},
        {"mesh.obj", "m.obj", {}, {"meshes: 1", "materials: 1", "textures: 1"}},
        // Its library's name holds the blank too: read back whole.
        {"mesh.obj", "m n.obj", {}, {"meshes: 1", "materials: 1", "textures: 1"}},
        {"mesh.obj", "m.3ds", {}, {"meshes: 1", "materials: 1", "textures: 1"}},
        {"mesh.obj", "m.dxf", {}, {"meshes: 1"}},
        {"motion.bvh", "s.qov", {}, {"takes: 1"}},
        {"motion.bvh", "s.bvh", {}, {"takes: 1"}},
        {"motion.bvh", "s.htr", {}, {"takes: 1"}},
        {"motion.bvh", "s.amc", {}, {}},  // read back below, with its skeleton
        {"markers.trc", "k.trc", {}, {"takes: 1", "  marker: 2"}},
        {"markers.trc", "k.c3d", {}, {"takes: 1", "  marker: 2"}},
        {"markers.trc", "k.aoa", {}, {"takes: 1", "  marker: 2"}},
        {"markers.trc", "k.mcd", {}, {"takes: 1", "  marker: 2"}},
        {"markers.trc", "k.vpm", {}, {"takes: 1", "  marker: 2"}},
        {"markers.trc", "k.mov", {}, {"takes: 1", "  marker: 2"}},
        {"markers.trc", "k.brd", {}, {"takes: 1", "  marker: 2"}},
        // Names as long as a folder takes: the hidden new file's name is made to fit.
        {"mesh.obj", std::string(251, 'o') + ".obj", {}, {"meshes: 1", "materials: 1"}},
        {"motion.bvh", std::string(251, 'l') + ".qov", {"--ascii"}, {"takes: 1"}},
        {"motion.bvh", std::string(251, 'p') + ".amc", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        std::vector<std::string> arguments = {"convert", in + "/" + c.source, out + "/" + c.target};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        const Result converted = Run(work, arguments);
        EXPECT_EQ(converted.status, 0) << converted.err;
        EXPECT_TRUE(Exists(out + "/" + c.target));
        if (c.infoLines.empty()) continue;
        std::vector<std::string> info = {"info", out + "/" + c.target};
        if (c.flags.size() == 3) info.insert(info.end(), {"--password", "pw"});
        const Result read = Run(work, info);
        EXPECT_EQ(read.status, 0) << read.err;
        for (const std::string& line : c.infoLines)
            EXPECT_TRUE(HasLine(read.out, line)) << "no line \"" << line << "\" in\n" << read.out;
    }
    // The files beside the targets: the OBJ file's materials, its copied texture, the skeleton
    // of the AMC file.
    EXPECT_TRUE(Exists(out + "/m.mtl"));
    EXPECT_EQ(ReadFile(out + "/tex.png"), "not really an image");
    EXPECT_TRUE(Exists(out + "/s.asf"));
    EXPECT_TRUE(Exists(out + "/" + std::string(251, 'p') + ".asf"));
    EXPECT_TRUE(Exists(out + "/" + std::string(251, 'o') + ".mtl"));
    for (const std::string& name : TempTestFolder::NamesIn(out))
        EXPECT_TRUE(name == "." || name == ".." || name[0] != '.') << "left behind: " << name;
    const Result amc = Run(work, {"convert", out + "/s.amc", out + "/s2.bvh"});
    EXPECT_EQ(amc.status, 0) << amc.err;
    EXPECT_NE(ReadFile(out + "/s2.bvh").find("Frames:\t120"), std::string::npos);
    EXPECT_NE(ReadFile(out + "/m.mtl").find("newmtl Blue_Steel\n"), std::string::npos);

    // Relative paths whose folders hold ':' (not a drive: more than a letter before it).
    const Result relative =
        Run(mTemp.path(), {"convert", "in:1 a/d:x y/mesh.obj", "out:2 b/e:z w/r.qov"});
    EXPECT_EQ(relative.status, 0) << relative.err;
    EXPECT_TRUE(Exists(out + "/r.qov"));
    const Result back = Run(mTemp.path(), {"convert", "out:2 b/e:z w/r.qov", "out:2 b/r.obj"});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_NE(ReadFile(mTemp / "out:2 b/r.obj").find("\nf "), std::string::npos);

    // Bare output names: the OBJ file's material library and texture land in the working
    // folder beside them, with no warning.
    const std::string bare = mTemp / "bare";
    ASSERT_TRUE(KCreatePath((bare + "/").c_str()));
    for (const char* target : {"t.obj", "t.3ds"}) {
        const Result r = Run(bare, {"convert", in + "/mesh.obj", target});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("texture"), std::string::npos) << target << ": " << r.err;
    }
    EXPECT_EQ(ReadFile(bare + "/tex.png"), "not really an image");
    EXPECT_TRUE(Exists(bare + "/t.mtl"));

    // Nothing went below the working folder.
    FILE* list = popen(("find '" + work + "' -type f").c_str(), "r");
    ASSERT_NE(list, nullptr);
    std::string stray;
    char name[4096];
    while (std::fgets(name, sizeof name, list)) stray += name;
    pclose(list);
    EXPECT_EQ(stray, "");
}

// Materials that name their images relative to the material library (a bare name, ".\x.jpg"
// with a backslash, a subfolder): the images travel with every OBJ and 3DS output, named
// bare or in another folder, run from a folder that is not the input's (and holds a library
// of the input's library's name), and the written
// files name images that lie beside them. A 3DS output read again finds its images too.
TEST_F(QovToolReads, RelativeTextureNamesTravelWithTheOutput) {
    const std::string in = mTemp / "in", out = mTemp / "out", bare = mTemp / "bare",
                      work = mTemp / "work", again = mTemp / "again";
    for (const std::string& folder : {in + "/sub", out, bare, work, again})
        ASSERT_TRUE(KCreatePath((folder + "/").c_str())) << folder;
    const std::vector<std::pair<std::string, std::string>> images = {
        {"tex.png", "bare name"}, {"x.jpg", "backslash"}, {"y.png", "subfolder"}};
    Write(in + "/tex.png", images[0].second);
    Write(in + "/x.jpg", images[1].second);
    Write(in + "/sub/y.png", images[2].second);
    Write(in + "/mesh.mtl",
          "newmtl A\nKd 1 0 0\nmap_Kd tex.png\nnewmtl B\nKd 0 1 0\nmap_Kd .\\x.jpg\n"
          "newmtl C\nKd 0 0 1\nmap_Kd sub/y.png\n");
    std::string obj = "mtllib mesh.mtl\nvt 0 0\nvt 1 0\nvt 1 1\n";
    for (int q = 0; q < 3; ++q) {
        obj += "v " + std::to_string(q) + " 0 0\nv " + std::to_string(q) + " 1 0\nv " +
               std::to_string(q) + " 1 1\n";
        obj += std::string("usemtl ") + char('A' + q) + "\n";
        const std::string v = std::to_string(3 * q + 1);
        obj += "f " + v + "/1 " + std::to_string(3 * q + 2) + "/2 " + std::to_string(3 * q + 3) +
               "/3\n";
    }
    Write(in + "/mesh.obj", obj);
    // Another model's library of that name where qovtool runs: the one beside the OBJ counts.
    Write(work + "/mesh.mtl", "newmtl A\nKd 0 0 0\n");

    // Every image beside the output, and every map_Kd line of an MTL file naming one there.
    auto expectImagesBeside = [&](const std::string& folder, const std::string& mtl) {
        for (const auto& [name, bytes] : images)
            EXPECT_EQ(ReadFile(folder + "/" + name), bytes) << folder << "/" << name;
        if (mtl.empty()) return;
        std::istringstream lines(ReadFile(folder + "/" + mtl));
        int maps = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("map_Kd ", 0) != 0) continue;
            ++maps;
            EXPECT_TRUE(Exists(folder + "/" + line.substr(7))) << line;
        }
        EXPECT_EQ(maps, 3) << folder << "/" << mtl;
    };
    struct Case {
        std::string cwd, target, folder, mtl;
    } cases[] = {
        {bare, "t.obj", bare, "t.mtl"},
        {bare, "t.3ds", bare, ""},
        {work, out + "/o.obj", out, "o.mtl"},
        {work, out + "/o.3ds", out, ""},
        // Twice: the library written the first time is not the one the second read takes.
        {work, "mesh.obj", work, "mesh.mtl"},
        {work, "mesh.obj", work, "mesh.mtl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        for (const auto& image : images) std::remove((c.folder + "/" + image.first).c_str());
        const Result r = Run(c.cwd, {"convert", in + "/mesh.obj", c.target});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("texture"), std::string::npos) << r.err;
        expectImagesBeside(c.folder, c.mtl);
    }
    // The 3DS file names its images bare; read from elsewhere, they are found beside it.
    const Result back = Run(work, {"convert", out + "/o.3ds", again + "/a.obj"});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.err.find("texture"), std::string::npos) << back.err;
    expectImagesBeside(again, "a.mtl");

    // An image not beside its model (the MTL file, the 3DS file) is missing, whatever the
    // current folder holds under its name: nothing is copied in its stead.
    ASSERT_EQ(std::remove((in + "/tex.png").c_str()), 0);
    ASSERT_EQ(std::remove((out + "/tex.png").c_str()), 0);
    Write(work + "/tex.png", "another image");
    const std::string elsewhere = mTemp / "elsewhere";
    ASSERT_TRUE(KCreatePath((elsewhere + "/").c_str()));
    for (const auto& [input, target] : std::vector<std::pair<std::string, std::string>>{
             {in + "/mesh.obj", elsewhere + "/m.obj"},
             {in + "/mesh.obj", elsewhere + "/m.3ds"},
             {out + "/o.3ds", elsewhere + "/n.obj"}}) {
        SCOPED_TRACE(target);
        const Result r = Run(work, {"convert", input, target});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string folder = input.substr(0, input.rfind('/'));
        EXPECT_NE(r.err.find("Unable to locate texture file \"" + folder + "/tex.png\""),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(Exists(elsewhere + "/tex.png"));
    }
}
