// qovtool as a user meets it: exit codes, usage and version, refused commands and extensions,
// and `info` on a file of every format, its figures checked against what the files themselves
// state (BVH, TRC and HTR headers, the C3D header words, OBJ face lines, lib3ds for 3DS).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "KQovVersion.h"
#include "common/TempTestFolder.h"
#include "tools/qovtool/QovToolRun.h"

namespace {

using qovtoolrun::Data;
using qovtoolrun::Exists;
using qovtoolrun::ReadFile;
using qovtoolrun::Result;
using qovtoolrun::RunProgram;
using qovtoolrun::Tool;

Result Qovtool(const std::vector<std::string>& arguments) {
    return RunProgram(Tool(), arguments);
}

std::string Source(const std::string& relative) {
    return std::string(QOV_SOURCE_DIR) + "/" + relative;
}

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// The number after `label` on its line of `text`; -1 when absent.
double NumberAfter(const std::string& text, const std::string& label) {
    const size_t at = ("\n" + text).find("\n" + label);
    if (at == std::string::npos) return -1;
    return std::atof(text.c_str() + at + label.size());
}

// The frame count of the only take `info` lists.
long TakeFrames(const std::string& info) {
    const size_t takes = info.find("\ntakes: 1\n  ");
    if (takes == std::string::npos) return -1;
    const size_t end = info.find(" frame", takes);
    const size_t comma = info.rfind(", ", end);
    return std::atol(info.c_str() + comma + 2);
}

class QovTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Exists(Tool())) << "qovtool not built at " << Tool();
        ASSERT_TRUE(mTemp.ok());
    }
    TempTestFolder mTemp{"qovtool"};
};

TEST_F(QovTool, CommandLine) {
    const Result help = Qovtool({"--help"});
    ASSERT_EQ(help.status, 0);
    ASSERT_EQ(help.out.rfind("usage: qovtool <command>", 0), 0u) << help.out;
    const std::string usage = help.out;
    std::ofstream(mTemp / "textures.txt") << "brick.png\n";
    std::ofstream(mTemp / "textures.txt.qov") << "";  // must not be taken for it
    std::ofstream(mTemp / "noextension") << "";
    std::ofstream(mTemp / "s.myqov") << "";
    std::ofstream(mTemp / "s.myqov.qov") << "";  // must not be taken for it either
    const std::string noReader = ": no reader for this extension\n";
    std::ofstream(mTemp / "esc.obj") << "mtllib esc.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\n"
                                        "usemtl m\nf 1/1 2/1 3/1\n";
    std::ofstream(mTemp / "esc.mtl") << "newmtl m\nmap_Kd \x1b[2Jgone.tga\n";
    std::ofstream(mTemp / "tab.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl m\tx\nf 1 2 3\n";
    const std::string escGone = mTemp / "gone\\x1b[31m\\xc2\\x9b\xc3\xa9.bvh";
    // Not UTF-8, though a lenient decoder takes them: U+009B written long, a surrogate, a code
    // past U+10FFFF.
    const std::string badUtf8 =
        mTemp / "gone\\xe0\\x82\\x9b\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80.bvh";
    const std::string convertUsage =
        "usage: qovtool convert IN OUT [--ascii|--binary|--encrypted|--v5] [--password P] "
        "[--skeleton FILE]\n";
    std::ofstream(mTemp / "Default.bvh") << ReadFile(Data("bvh/sinusoidal.bvh"));
    // One command's usage: its own line first, the formats it reads and writes last.
    const std::string convertHelp = Qovtool({"help", "convert"}).out;
    ASSERT_EQ(convertHelp.rfind(convertUsage, 0), 0u) << convertHelp;
    ASSERT_NE(convertHelp.find("\n  obj  "), std::string::npos) << convertHelp;
    const std::string infoHelp = Qovtool({"help", "info"}).out;
    const std::string infoUsage = "usage: qovtool info FILE [--password P] [--skeleton FILE]\n";
    ASSERT_EQ(infoHelp.rfind("usage: qovtool info FILE", 0), 0u) << infoHelp;
    const std::string bvh = Data("bvh/sinusoidal.bvh"), qov = Source("samples/scene.qov");
    const std::string amc = Data("asf/11_01.amc");
    // Names given with a '\\' are files of that name, not files in a folder: the file in the
    // folder is neither read nor written over.
    const std::string slashed = mTemp / "sub\\keep.bvh", inSub = mTemp / "sub/keep.bvh";
    ASSERT_EQ(mkdir((mTemp / "sub").c_str(), 0700), 0);
    std::ofstream(inSub) << "kept";
    std::ofstream(mTemp / "lit\\name.bvh") << ReadFile(bvh);
    std::ofstream(mTemp / "sk\\11.asf") << ReadFile(Data("asf/11.asf"));
    // An OBJ of such a name reads its library beside it; its outputs put their libraries and
    // images beside them, in the folder the name means, and name them so.
    ASSERT_EQ(mkdir((mTemp / "img").c_str(), 0700), 0);
    std::ofstream(mTemp / "img/wood.tga") << "oak";
    std::ofstream(mTemp / "m.mtl") << "newmtl wood\nmap_Kd img/wood.tga\n";
    std::ofstream(mTemp / "lit\\m.obj") << "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\n"
                                           "usemtl wood\nf 1/1 2/1 3/1\n";
    const std::string litObj = mTemp / "lit\\m.obj", subObj = mTemp / "sub\\o.obj",
                      sub3ds = mTemp / "sub\\o.3ds";
    // A group named as a version-6 file's root is written under a name of its own, and comes
    // back whole.
    std::ofstream(mTemp / "scene.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\ng Scene\nf 1 2 3\n";
    const std::string sceneQov = mTemp / "scene.qov", sceneBack = mTemp / "scene-back.obj";
    // So is a joint, under a name a BVH file can hold, with its motion.
    std::ofstream(mTemp / "joint.bvh")
        << "HIERARCHY\nROOT Hips\n{\n  OFFSET 0 0 0\n  CHANNELS 6 Xposition Yposition Zposition "
           "Zrotation Xrotation Yrotation\n  JOINT Scene\n  {\n    OFFSET 0 5 0\n    CHANNELS 3 "
           "Zrotation Xrotation Yrotation\n"
           "    End Site\n    {\n      OFFSET 0 2 0\n    }\n  }\n}\n"
           "MOTION\nFrames: 2\nFrame Time: 0.0333333\n0 1 2 0 0 0 10 20 30\n3 4 5 0 0 0 -40 50 "
           "60\n";
    const std::string jointQov = mTemp / "joint.qov", jointBack = mTemp / "joint-back.bvh";
    // A motion part that fails after the header read; one of more lines and numbers than told.
    const std::string oneChannel = "HIERARCHY\nROOT a\n{\nOFFSET 0 0 0\nCHANNELS 1 Xrotation\n}\n"
                                   "MOTION\nFrames: 2\nFrame Time: 0.04\n";
    std::ofstream(mTemp / "short.bvh") << oneChannel << "1\n";
    std::ofstream(mTemp / "long.bvh") << oneChannel << "1 5\n2\n3\n";
    // A link to standard output gets the file's bytes alone: the status line goes to stderr.
    ASSERT_EQ(Qovtool({"convert", bvh, mTemp / "plain.bvh"}).status, 0);
    ASSERT_EQ(symlink("/dev/stdout", (mTemp / "so.bvh").c_str()), 0);
    // A path as long as the system takes: 1,500 characters in folders of 200.
    std::string deep = mTemp.path();
    while (deep.size() < 1300) {
        deep += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    const std::string longOut = deep + "/" + std::string(1500 - deep.size() - 5, 'o') + ".bvh";
    // A pipe at the name of a file written beside the output is refused, never waited on.
    ASSERT_EQ(mkfifo((mTemp / "pipe.mtl").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((mTemp / "pipe.asf").c_str(), 0600), 0);
    // A link of a QOV output's project folder name: nothing is removed or read through it.
    ASSERT_EQ(mkdir((mTemp / "photos").c_str(), 0700), 0);
    std::ofstream(mTemp / "photos/a.jpg") << "photo";
    std::ofstream(mTemp / "photos/Project.txt") << "stale";
    ASSERT_EQ(symlink("photos", (mTemp / "pics.qod").c_str()), 0);
    // An OBJ whose material library is the project file that writing own.qov would remove.
    ASSERT_EQ(mkdir((mTemp / "own.qod").c_str(), 0700), 0);
    std::ofstream(mTemp / "own.qod/Project.txt") << "newmtl red\nKd 1 0 0\n";
    std::ofstream(mTemp / "own.obj") << "mtllib " << mTemp / "own.qod/Project.txt"
                                     << "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\n";
    // Libraries named in another case than the files the read takes: those files count, and so
    // does the project file a QOV file is read from, whatever its case.
    ASSERT_EQ(mkdir((mTemp / "caseq.qod").c_str(), 0700), 0);
    ASSERT_EQ(Qovtool({"convert", mTemp / "scene.obj", mTemp / "caseq.qod/made.qov"}).status, 0);
    ASSERT_EQ(rename((mTemp / "caseq.qod/made.qov").c_str(), (mTemp / "caseq.qod/project.TXT").c_str()),
              0);
    std::ofstream(mTemp / "cube.mtl") << "newmtl red\nKd 1 0 0\n";
    std::ofstream(mTemp / "upper.obj") << "mtllib CUBE.MTL\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    std::ofstream(mTemp / "lower.obj") << "mtllib " << mTemp / "own.qod/project.txt"
                                       << "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    // A QOV file whose take is stored in a file of its own: a file the read used.
    const std::string header =
        "; QOV 6.0.0 project file\nQOVHeaderExtension:  {\n QOVHeaderVersion: 1003\n"
        " QOVVersion: 6000\n}\nDefinitions:  {\n Version: 100\n ObjectType: \"Model\" {\n }\n}\n";
    std::ofstream(mTemp / "main.qov")
        << header
        << "Objects:  {\n Model: \"Model::Cube\", \"Null\" {\n  Type: \"Null\"\n }\n}\n"
           "Connections:  {\n Connect: \"OO\", \"Model::Cube\", \"Model::Scene\"\n}\n"
           "Takes:  {\n Take: \"Walk\" {\n  FileName: \"walk.qov\"\n }\n}\n";
    std::ofstream(mTemp / "walk.qov") << "; QOV 5.0.0 project file\nComments: \"from file\"\n";
    // A flag that would do nothing for the files named is refused, naming it.
    auto unused = [](const std::string& flag, const std::string& why) {
        return "qovtool: " + flag + " is for QOV files only, and " + why + "\n";
    };
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out, err;
    } cases[] = {
        {{"-h"}, 0, usage, ""},
        {{"help"}, 0, usage, ""},
        {{"--version"}, 0, std::string("qovsdk ") + QOVSDK_VERSION + "\n", ""},
        {{"--version", "extra"},
         2,
         "",
         "qovtool: --version: one word too many: \"extra\"\nusage: qovtool --version\n"},
        {{"convert", "--help"}, 0, convertHelp, ""},
        {{"convert", bvh, "--help"}, 0, convertHelp, ""},
        {{"info", "--help"}, 0, infoHelp, ""},
        {{"dump", "--help"},
         0,
         "usage: qovtool dump FILE\nthe header and field tree of a QOV file\n",
         ""},
        // -h is --help in every command; "--" ends the flags, a word after it names a file.
        {{"convert", "-h"}, 0, convertHelp, ""},
        {{"info", "-h"}, 0, infoHelp, ""},
        {{"dump", "-h"},
         0,
         "usage: qovtool dump FILE\nthe header and field tree of a QOV file\n",
         ""},
        {{"info", "-x.bvh"}, 2, "", "qovtool: info: unknown flag \"-x.bvh\"\n" + infoUsage},
        {{"info", "--", "-x.bvh"},
         1,
         "",
         "qovtool: -x.bvh: File not opened: -x.bvh: No such file or directory\n"},
        {{"convert", "--", "-x.bvh", mTemp / "x.htr"},
         1,
         "",
         "qovtool: -x.bvh: File not opened: -x.bvh: No such file or directory\n"},
        {{"dump", "--", "-h"},
         1,
         "",
         "qovtool: -h: File not opened: -h: No such file or directory\n"},
        {{"dump", "-x"}, 2, "", "qovtool: dump: unknown flag \"-x\"\nusage: qovtool dump FILE\n"},
        // A read that fails prints nothing but its error.
        {{"info", mTemp / "short.bvh"},
         1,
         "",
         "qovtool: " + mTemp / "short.bvh" + ": File is corrupted: BioVision read stopped at line "
                                             "10\n"},
        // Frame lines past the count, and numbers past the channels, are not read, with a word.
        {{"convert", mTemp / "long.bvh", mTemp / "long.htr"},
         0,
         mTemp / "long.bvh" + " -> " + mTemp / "long.htr" + "\n",
         "qovtool: " + mTemp / "long.bvh" +
             ": warning: BioVision read warning (line 10): Frame line holds more numbers than the "
             "channels (1); the rest of it is not read\nqovtool: " +
             mTemp / "long.bvh" +
             ": warning: BioVision read warning (line 12): Frames: 2, but more frame lines follow; "
             "this one and those after it are not read\n"},
        {{"help", "extra"}, 2, "", "qovtool: help: unknown command \"extra\"\n" + usage},
        {{"help", "help"}, 0, usage, ""},
        {{"-h", "--help"}, 0, usage, ""},
        {{"--help", "convert", "extra"},
         2,
         "",
         "qovtool: help: one word too many: \"extra\"\n" + usage},
        // A motion file's take is named after it, but never as the scene's default take.
        {{"convert", mTemp / "Default.bvh", mTemp / "Default.qov"},
         0,
         mTemp / "Default.bvh" + " -> " + mTemp / "Default.qov" + "\n",
         "qovtool: " + mTemp / "Default.bvh" +
             ": warning: Take \"Default\" read as \"Default_1\": the default take has that name\n"},
        // A line break in a name stays on the message's line.
        {{"info", mTemp / "two\nlines.bvh"},
         1,
         "",
         "qovtool: " + mTemp / "two\\x0alines.bvh" +
             ": File not opened: " + mTemp / "two\\x0alines.bvh" + ": No such file or directory\n"},
        {{}, 2, "", usage},
        {{"frobnicate"}, 2, "", "qovtool: unknown command \"frobnicate\"\n" + usage},
        {{"--frobnicate"}, 2, "", "qovtool: unknown command \"--frobnicate\"\n" + usage},
        // What was wrong with a command line comes first, in one line, then the usage.
        {{"info"}, 2, "", "qovtool: info: no file named\n" + infoUsage},
        {{"info", "a.obj", "b.obj"},
         2,
         "",
         "qovtool: info: one file too many: \"b.obj\"\n" + infoUsage},
        {{"info", "a.obj", "--binary"},
         2,
         "",
         "qovtool: info: unknown flag \"--binary\"\n" + infoUsage},
        {{"info", "a.obj", "--skeleton"},
         2,
         "",
         "qovtool: info: no value after \"--skeleton\"\n" + infoUsage},
        {{"convert", bvh, mTemp / "out.bvh", "--bogus"},
         2,
         "",
         "qovtool: convert: unknown flag \"--bogus\"\n" + convertUsage},
        {{"convert", bvh, mTemp / "out.bvh", "--password"},
         2,
         "",
         "qovtool: convert: no value after \"--password\"\n" + convertUsage},
        {{"convert", bvh, mTemp / "out.bvh", "c.bvh"},
         2,
         "",
         "qovtool: convert: one file too many: \"c.bvh\"\n" + convertUsage},
        {{"convert", bvh}, 2, "", "qovtool: convert: no output file named\n" + convertUsage},
        {{"dump"}, 2, "", "qovtool: dump: no file named\nusage: qovtool dump FILE\n"},
        {{"dump", qov, "b.qov"},
         2,
         "",
         "qovtool: dump: one file too many: \"b.qov\"\nusage: qovtool dump FILE\n"},
        // A folder is told as one, whatever its name's extension.
        {{"info", mTemp / "sub"}, 1, "", "qovtool: " + mTemp / "sub" + ": a folder, not a file\n"},
        {{"convert", mTemp / "sub", mTemp / "out.obj"},
         1,
         "",
         "qovtool: " + mTemp / "sub" + ": a folder, not a file\n"},
        {{"convert", bvh, mTemp / "sub"},
         1,
         "",
         "qovtool: " + mTemp / "sub" + ": a folder, not a file\n"},
        {{"dump", bvh},
         1,
         "",
         "qovtool: " + bvh + ": File is corrupted: not a QOV file: line 1: field without ':'\n"},
        // Control bytes a file or a name holds are shown escaped; UTF-8 text is kept.
        {{"convert", mTemp / "esc.obj", mTemp / "esc2.obj"},
         0,
         mTemp / "esc.obj" + " -> " + mTemp / "esc2.obj" + "\n",
         "qovtool: " + mTemp / "esc2.obj" + ": warning: Unable to locate texture file \"" +
             mTemp / "\\x1b[2Jgone.tga" + "\".\n"},
        {{"info", mTemp / "gone\x1b[31m\xc2\x9b\xc3\xa9.bvh"},
         1,
         "",
         "qovtool: " + escGone + ": File not opened: " + escGone + ": No such file or directory\n"},
        // What info shows of a file's names, and the status line, alike.
        {{"info", mTemp / "esc.obj"},
         0,
         "format: Velto OBJ\nframe rate: 30 fps\ntakes: 0\nnodes: 2\n  none: 1\n  mesh: 1\n"
         "meshes: 1\n  default: 1 polygons, 3 control points\nmaterials: 1\n  m\ntextures: 1\n"
         "  m: " +
             mTemp / "\\x1b[2Jgone.tga\n",
         ""},
        {{"convert", bvh, mTemp / "o\x1b[2J.bvh"}, 0, bvh + " -> " + mTemp / "o\\x1b[2J.bvh\n", ""},
        // A tab in a name the library quotes too.
        {{"convert", mTemp / "tab.obj", mTemp / "tab2.obj"},
         0,
         mTemp / "tab.obj" + " -> " + mTemp / "tab2.obj" + "\n",
         "qovtool: " + mTemp / "tab.obj" +
             ": warning: Unable to read material \"m\\x09x\" in .mtl file\n"},
        // No mtllib line names a library whose name holds a line break: the pair is not written.
        {{"convert", mTemp / "esc.obj", mTemp / "two\nlines.obj"},
         1,
         "",
         "qovtool: " + mTemp / "two\\x0alines.mtl" + ": Unable to create material file \"" +
             mTemp / "two\\x0alines.mtl" +
             "\": an OBJ file cannot name a material file whose name begins with a blank or "
             "holds a line break\n"},
        {{"info", mTemp / "gone\xe0\x82\x9b\xed\xa0\x80\xf4\x90\x80\x80.bvh"},
         1,
         "",
         "qovtool: " + badUtf8 + ": File not opened: " + badUtf8 + ": No such file or directory\n"},
        {{"info", mTemp / "textures.txt"}, 1, "", "qovtool: " + mTemp / "textures.txt" + noReader},
        {{"info", mTemp / "noextension"}, 1, "", "qovtool: " + mTemp / "noextension" + noReader},
        {{"convert", mTemp / "textures.txt", mTemp / "out.obj"},
         1,
         "",
         "qovtool: " + mTemp / "textures.txt" + noReader},
        {{"info", mTemp / "s.myqov"}, 1, "", "qovtool: " + mTemp / "s.myqov" + noReader},
        {{"convert", mTemp / "s.myqov", mTemp / "out.obj"},
         1,
         "",
         "qovtool: " + mTemp / "s.myqov" + noReader},
        {{"convert", bvh, mTemp / "out.htr", "--v5"},
         2,
         "",
         unused("--v5", mTemp / "out.htr" + " is not a QOV file")},
        {{"convert", bvh, mTemp / "out.obj", "--ascii"},
         2,
         "",
         unused("--ascii", mTemp / "out.obj" + " is not a QOV file")},
        {{"convert", qov, mTemp / "out.obj", "--encrypted", "--password", "p"},
         2,
         "",
         unused("--encrypted", mTemp / "out.obj" + " is not a QOV file")},
        {{"convert", bvh, mTemp / "out.htr", "--password", "p"},
         2,
         "",
         unused("--password", "neither " + bvh + " nor " + mTemp / "out.htr" + " is a QOV file")},
        {{"info", bvh, "--password", "p"}, 2, "", unused("--password", bvh + " is not a QOV file")},
        // A motion that is not there is told so, not that its skeleton is missing.
        {{"convert", mTemp / "gone.amc", mTemp / "out.bvh"},
         1,
         "",
         "qovtool: " + mTemp / "gone.amc" + ": File not opened: " + mTemp / "gone.amc" +
             ": No such file or directory\n"},
        {{"convert", bvh, mTemp / "out.bvh", "--skeleton", mTemp / "s.asf"},
         2,
         "",
         "qovtool: --skeleton is for Acclaim motion (.amc) input only, and " + bvh +
             " is not an AMC file\n"},
        // A skeleton named that is no file says what it is.
        {{"convert", amc, mTemp / "out.bvh", "--skeleton", mTemp.path()},
         1,
         "",
         "qovtool: " + amc + ": the skeleton named is a folder, not a file: " + mTemp.path() +
             "\n"},
        {{"info", amc, "--skeleton", "/dev/null"},
         1,
         "",
         "qovtool: " + amc + ": the skeleton named is not a regular file: /dev/null\n"},
        {{"info", amc, "--skeleton", mTemp / "none.asf"},
         1,
         "",
         "qovtool: " + amc + ": skeleton file not found: " + mTemp / "none.asf" + "\n"},
        // Two kinds of QOV file: neither is passed over.
        {{"convert", bvh, mTemp / "out.qov", "--v5", "--ascii"},
         2,
         "",
         "qovtool: --v5 and --ascii cannot be given together\n"},
        {{"convert", bvh, mTemp / "out.qov", "--encrypted", "--binary"},
         2,
         "",
         "qovtool: --encrypted and --binary cannot be given together\n"},
        {{"convert", bvh, slashed}, 0, bvh + " -> " + slashed + "\n", ""},
        {{"convert", bvh, longOut}, 0, bvh + " -> " + longOut + "\n", ""},
        {{"convert", mTemp / "lit\\name.bvh", mTemp / "lit.bvh"},
         0,
         mTemp / "lit\\name.bvh" + " -> " + mTemp / "lit.bvh" + "\n",
         ""},
        {{"convert", amc, mTemp / "sk.bvh", "--skeleton", mTemp / "sk\\11.asf"},
         0,
         amc + " -> " + mTemp / "sk.bvh" + "\n",
         ""},
        {{"convert", litObj, subObj}, 0, litObj + " -> " + subObj + "\n", ""},
        {{"convert", litObj, sub3ds}, 0, litObj + " -> " + sub3ds + "\n", ""},
        {{"convert", sub3ds, mTemp / "back.obj"},
         0,
         sub3ds + " -> " + mTemp / "back.obj" + "\n",
         ""},
        {{"convert", litObj, mTemp / "tx\\o.qov"},
         0,
         litObj + " -> " + mTemp / "tx\\o.qov" + "\n",
         ""},
        {{"convert", mTemp / "scene.obj", sceneQov, "--ascii"},
         0,
         mTemp / "scene.obj" + " -> " + sceneQov + "\n",
         "qovtool: " + sceneQov +
             ": warning: Node \"Scene\" written as \"Scene_1\": the file's root has that name\n"},
        {{"convert", sceneQov, sceneBack}, 0, sceneQov + " -> " + sceneBack + "\n", ""},
        {{"convert", mTemp / "joint.bvh", mTemp / "joint-direct.bvh"},
         0,
         mTemp / "joint.bvh" + " -> " + mTemp / "joint-direct.bvh" + "\n",
         ""},
        {{"convert", mTemp / "joint.bvh", jointQov},
         0,
         mTemp / "joint.bvh" + " -> " + jointQov + "\n",
         "qovtool: " + jointQov +
             ": warning: Node \"Scene\" written as \"Scene_1\": the file's root has that name\n" +
             "qovtool: " + jointQov +
             ": warning: Node \"Scene_End\" written as \"Scene_1_End\": its joint was renamed\n"},
        {{"convert", jointQov, jointBack}, 0, jointQov + " -> " + jointBack + "\n", ""},
        {{"convert", bvh, mTemp / "so.bvh"},
         0,
         ReadFile(mTemp / "plain.bvh"),
         bvh + " -> " + mTemp / "so.bvh" + "\n"},
        {{"convert", litObj, mTemp / "pipe.obj"},
         1,
         "",
         "qovtool: " + mTemp / "pipe.mtl" + ": Unable to create material file \"" +
             mTemp / "pipe.mtl" + "\": it is not a regular file\n"},
        {{"convert", amc, mTemp / "pipe.amc", "--skeleton", Data("asf/11.asf")},
         1,
         "",
         "qovtool: " + mTemp / "pipe.asf" + ": Cannot open file \"" + mTemp / "pipe.asf" +
             "\" for writing. It is not a regular file.\n"},
        {{"convert", bvh, mTemp / "pics.qov"}, 0, bvh + " -> " + mTemp / "pics.qov" + "\n", ""},
        {{"convert", mTemp / "own.obj", mTemp / "own.qov"},
         1,
         "",
         "qovtool: " + mTemp / "own.qov" + ": the project file " + mTemp / "own.qod/Project.txt" +
             ", which writing " + mTemp / "own.qov" + " removes, is the same file as " +
             mTemp / "own.qod/Project.txt" + ", which the read of " + mTemp / "own.obj" +
             " used; nothing was written\n"},
        {{"convert", mTemp / "upper.obj", mTemp / "cube.obj"},
         1,
         "",
         "qovtool: " + mTemp / "cube.obj" + ": the file " + mTemp / "cube.mtl" +
             " written beside the output is the same file as " + mTemp / "cube.mtl" +
             ", which the read of " + mTemp / "upper.obj" + " used; nothing was written\n"},
        {{"convert", mTemp / "caseq.qov", mTemp / "caseq.QOV"},
         1,
         "",
         "qovtool: " + mTemp / "caseq.QOV" + ": the project file " + mTemp / "caseq.qod/project.TXT" +
             ", which writing " + mTemp / "caseq.QOV" + " removes, is the same file as " +
             mTemp / "caseq.qod/project.TXT" + ", which the read of " + mTemp / "caseq.qov" +
             " used; nothing was written\n"},
        {{"convert", mTemp / "main.qov", mTemp / "walk.qov"},
         1,
         "",
         "qovtool: " + mTemp / "walk.qov" + ": the output " + mTemp / "walk.qov" +
             " is the same file as " + mTemp / "walk.qov" + ", which the read of " +
             mTemp / "main.qov" + " used; nothing was written\n"},
        {{"convert", mTemp / "lower.obj", mTemp / "own.qov"},
         1,
         "",
         "qovtool: " + mTemp / "own.qov" + ": the project file " + mTemp / "own.qod/Project.txt" +
             ", which writing " + mTemp / "own.qov" + " removes, is the same file as " +
             mTemp / "own.qod/Project.txt" + ", which the read of " + mTemp / "lower.obj" +
             " used; nothing was written\n"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& argument : c.arguments) line += " " + argument;
        const Result result = Qovtool(c.arguments);
        EXPECT_EQ(result.status, c.status) << line;
        EXPECT_EQ(result.out, c.out) << line;
        EXPECT_EQ(result.err, c.err) << line;
    }
    EXPECT_FALSE(Exists(mTemp / "out.obj"));
    EXPECT_FALSE(Exists(mTemp / "two\nlines.obj"));
    EXPECT_FALSE(Exists(mTemp / "pipe.obj"));
    EXPECT_FALSE(Exists(mTemp / "pipe.amc"));
    EXPECT_EQ(ReadFile(mTemp / "photos/a.jpg"), "photo");
    EXPECT_EQ(ReadFile(mTemp / "photos/Project.txt"), "stale");
    EXPECT_EQ(ReadFile(mTemp / "own.qod/Project.txt"), "newmtl red\nKd 1 0 0\n");
    EXPECT_EQ(ReadFile(mTemp / "cube.mtl"), "newmtl red\nKd 1 0 0\n");
    EXPECT_EQ(ReadFile(mTemp / "walk.qov"), "; QOV 5.0.0 project file\nComments: \"from file\"\n");
    EXPECT_FALSE(Exists(mTemp / "cube.obj"));
    EXPECT_TRUE(Exists(mTemp / "caseq.qod/project.TXT"));
    EXPECT_FALSE(Exists(mTemp / "own.qov"));
    EXPECT_EQ(Qovtool({"info", mTemp / "pics.qov"}).status, 0);  // not the stale text
    EXPECT_FALSE(Exists(mTemp / "out.htr"));
    EXPECT_FALSE(Exists(mTemp / "out.qov"));
    EXPECT_EQ(ReadFile(inSub), "kept");
    EXPECT_EQ(ReadFile(slashed), ReadFile(mTemp / "plain.bvh"));
    EXPECT_EQ(ReadFile(longOut), ReadFile(mTemp / "plain.bvh"));
    EXPECT_EQ(ReadFile(mTemp / "lit.bvh"), ReadFile(mTemp / "plain.bvh"));
    EXPECT_EQ(ReadFile(mTemp / "wood.tga"), "oak");
    EXPECT_TRUE(HasLine(ReadFile(sceneBack), "g Scene_1"));
    // Its frames begin as a direct conversion's do.
    const std::string joint = ReadFile(jointBack), direct = ReadFile(mTemp / "joint-direct.bvh");
    EXPECT_TRUE(HasLine(joint, "  JOINT Scene_1")) << joint;
    // Its end node followed it: an end site, not a joint of its own.
    EXPECT_EQ(joint.find("JOINT Scene_End"), std::string::npos) << joint;
    ASSERT_NE(direct.find("Frame Time:"), std::string::npos) << direct;
    for (size_t line = direct.find("Frame Time:");
         (line = direct.find('\n', line)) + 1 < direct.size();) {
        const std::string frame = direct.substr(line, direct.find('\n', line + 1) - line);
        EXPECT_NE(joint.find(frame), std::string::npos) << frame << " in\n" << joint;
        ++line;
    }
    EXPECT_FALSE(Exists(mTemp / "sub/wood.tga"));
    EXPECT_NE(ReadFile(subObj).find("mtllib sub\\o.mtl\n"), std::string::npos);
    EXPECT_NE(ReadFile(mTemp / "sub\\o.mtl").find("map_Kd wood.tga\n"), std::string::npos);
    // A QOV file of such a name names its images from its own folder.
    EXPECT_TRUE(HasLine(Qovtool({"dump", mTemp / "tx\\o.qov"}).out,
                        "        RelativeFilename: \"img/wood.tga\""));
    // Control bytes of a QOV file (a Creator that sets the terminal's title), a tab too, are
    // dumped escaped.
    ASSERT_EQ(Qovtool({"convert", bvh, mTemp / "creator.qov", "--ascii"}).status, 0);
    std::string ascii = ReadFile(mTemp / "creator.qov");
    for (size_t at; (at = ascii.find("QOV SDK/")) != std::string::npos;)
        ascii.replace(at, 8, "\x1b]0;owned\x07\t");
    std::ofstream(mTemp / "creator.qov", std::ios::binary) << ascii;
    const Result dumped = Qovtool({"dump", mTemp / "creator.qov"});
    EXPECT_EQ(dumped.status, 0) << dumped.err;
    EXPECT_EQ(dumped.out.find('\x1b'), std::string::npos);
    EXPECT_TRUE(HasLine(dumped.out, "Creator: \\x1b]0;owned\\x07\\x09QOV Plugins build ????????"))
        << dumped.out;
    // The usage names every extension the importer reads and the exporter writes, and every flag.
    for (const char* extension : {"qov", "bvh", "htr", "trc", "asf", "amc", "c3d", "aoa", "mcd",
                                  "vpm", "mov", "brd", "dxf", "3ds", "obj"})
        EXPECT_NE(usage.find("\n  " + std::string(extension) + " "), std::string::npos) << extension;
    for (const char* text : {"info FILE", "dump FILE", "convert IN OUT", "--ascii", "--binary",
                             "--encrypted", "--v5", "--password P", "--skeleton FILE"})
        EXPECT_NE(usage.find(text), std::string::npos) << text;
}

TEST_F(QovTool, InfoFailuresAreToldClearly) {
    std::ofstream(mTemp / "broken.bvh") << "HIERARCHY\nROOT hips\n{\n";
    std::ofstream(mTemp / "empty.qov") << "";
    // Two samples of one marker too far apart for the keys of every frame between them.
    std::ofstream(mTemp / "sparse.brd") << "0\t1\tP\t1\t2\t3\tQ\t0\t0\t0\t1\t0\t0\n"
                                           "200000\t1\tP\t4\t5\t6\tQ\t0\t0\t0\t1\t4000\t0\n";
    for (const char* folder : {"folder.obj", "folder.qov", "folder.c3d", "folder.3ds", "lib.mtl"})
        ASSERT_EQ(mkdir((mTemp / folder).c_str(), 0700), 0);
    std::ofstream(mTemp / "lib.obj") << "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    std::ofstream(mTemp / "denied.bvh") << ReadFile(Data("bvh/sinusoidal.bvh"));
    // A skeleton beside its motion that is there but cannot be opened, for root too.
    std::ofstream(mTemp / "loop.amc") << ReadFile(Data("asf/11_01.amc"));
    const std::string loop = mTemp / "loop.asf", looped = "Too many levels of symbolic links";
    ASSERT_EQ(symlink(loop.c_str(), loop.c_str()), 0);
    chmod((mTemp / "denied.bvh").c_str(), 0);
    const auto opened = [&](const std::string& name, const std::string& why) {
        return "qovtool: " + name + ": File not opened: " + name + ": " + why + "\n";
    };
    const std::string missing = "No such file or directory";
    struct Case {
        std::string file;
        std::string error;  // the start of stderr
        bool whole;         // the error is all of stderr
        int status;
    } cases[] = {
        {mTemp / "missing.bvh", opened(mTemp / "missing.bvh", missing), true, 1},
        {mTemp / "missing.qov", opened(mTemp / "missing.qov", missing), true, 1},
        {mTemp / "folder.obj", opened(mTemp / "folder.obj", "it is a folder"), true, 1},
        {mTemp / "folder.qov", opened(mTemp / "folder.qov", "it is a folder"), true, 1},
        {mTemp / "folder.c3d", opened(mTemp / "folder.c3d", "it is a folder"), true, 1},
        {mTemp / "folder.3ds", opened(mTemp / "folder.3ds", "it is a folder"), true, 1},
        {mTemp / "loop.amc",
         "qovtool: " + mTemp / "loop.amc" + ": skeleton file not opened: " + loop + ": " + looped +
             "\n",
         true, 1},
        {mTemp / "broken.bvh", "qovtool: " + mTemp / "broken.bvh" + ": ", false, 1},
        {mTemp / "empty.qov",
         "qovtool: " + mTemp / "empty.qov" + ": File is corrupted: " + mTemp / "empty.qov" + "\n",
         true, 1},
        {Data("trc/Truncated.trc"), "qovtool: " + Data("trc/Truncated.trc") + ": ", false, 1},
        {mTemp / "sparse.brd",
         "qovtool: " + mTemp / "sparse.brd" +
             ": File is corrupted: 2 BRD samples span frames 0 to 200000 (200001 frames), too "
             "sparse to read: at most 149924 frames for so few samples\n",
         true, 1},
        // A library that is a folder is no file: a warning, as for one that is missing.
        {mTemp / "lib.obj",
         "qovtool: " + mTemp / "lib.obj" +
             ": warning: Unable to load material library \"lib.mtl\": it is a folder\n",
         true, 0},
    };
    for (const Case& c : cases) {
        const Result result = Qovtool({"info", c.file});
        EXPECT_EQ(result.status, c.status) << c.file << "\n" << result.out;
        if (c.whole) {
            EXPECT_EQ(result.err, c.error);
        }
        EXPECT_EQ(result.err.rfind(c.error, 0), 0u) << result.err;
        EXPECT_GT(result.err.size(), c.error.size() - 1) << "no reason given: " << result.err;
    }
    // A skeleton named that is there but cannot be opened is no missing one.
    const Result named = Qovtool({"info", Data("asf/11_01.amc"), "--skeleton", loop});
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err, "qovtool: " + Data("asf/11_01.amc") +
                             ": skeleton file not opened: " + loop + ": " + looped + "\n");
    // A file not allowed, for a user the system checks.
    if (geteuid() != 0) {
        EXPECT_EQ(Qovtool({"info", mTemp / "denied.bvh"}).err,
                  opened(mTemp / "denied.bvh", "Permission denied"));
    }
}

// What is printed never goes into a file written, and what could not be printed is no success.
TEST_F(QovTool, StandardStreams) {
    const std::string in = Data("c3d/MyCube.c3d"), qov = Source("samples/scene.qov");
    ASSERT_EQ(Qovtool({"convert", in, mTemp / "plain.trc"}).status, 0);
    const std::string plain = ReadFile(mTemp / "plain.trc");
    ASSERT_FALSE(plain.empty());
    ASSERT_EQ(symlink("/dev/stderr", (mTemp / "se.trc").c_str()), 0);
    ASSERT_EQ(symlink("/dev/stdout", (mTemp / "so.trc").c_str()), 0);
    const std::string full = "qovtool: standard output: No space left on device\n",
                      closed = "qovtool: standard output: Bad file descriptor\n";
    struct Case {
        std::string script;  // run by sh with $0 qovtool, $1 the input, $2 the folder
        int status;
        std::string out, err;
        std::string written;  // a file in the folder that must hold the output alone
    } cases[] = {
        {"\"$0\" info \"$1\" >/dev/full", 1, "", full, ""},
        {"\"$0\" info \"$1\" >&-", 1, "", closed, ""},
        {"\"$0\" dump \"$1\" >/dev/full", 1, "", full, ""},
        {"\"$0\" dump \"$1\" >&-", 1, "", closed, ""},
        {"\"$0\" help >/dev/full", 1, "", full, ""},
        {"\"$0\" --version >&-", 1, "", closed, ""},
        // The status line of a conversion comes once its output is in place: not written, it
        // is a warning.
        {"\"$0\" convert \"$1\" \"$2/full.trc\" >/dev/full", 0, "",
         "qovtool: warning: standard output: No space left on device\n", "full.trc"},
        {"\"$0\" convert \"$1\" \"$2/closed.trc\" >&-", 0, "",
         "qovtool: warning: standard output: Bad file descriptor\n", "closed.trc"},
        // An output that is standard error, or both streams: nothing else goes into it.
        {"\"$0\" convert \"$1\" \"$2/se.trc\" 2>&1 | cat >\"$2/got1.trc\"", 0, "", "", "got1.trc"},
        {"\"$0\" convert \"$1\" \"$2/se.trc\" 2>\"$2/got2.trc\"", 0,
         "-> " + mTemp / "se.trc" + "\n", "", "got2.trc"},
        {"\"$0\" convert \"$1\" \"$2/so.trc\" >\"$2/got3.trc\" 2>&1", 0, "", "", "got3.trc"},
        {"\"$0\" convert \"$1\" \"$2/got4.trc\" 2>\"$2/got4.trc\"", 0,
         "-> " + mTemp / "got4.trc" + "\n", "", "got4.trc"},
    };
    for (const Case& c : cases) {
        const std::string file =
            c.script.rfind("\"$0\" dump", 0) == 0 || c.script.rfind("\"$0\" info", 0) == 0 ? qov
                                                                                           : in;
        const Result result = RunProgram("sh", {"-c", c.script, Tool(), file, mTemp.path()});
        EXPECT_EQ(result.status, c.status) << c.script;
        // The status line names the input first.
        EXPECT_EQ(result.out, c.out.empty() ? "" : file + " " + c.out) << c.script;
        EXPECT_EQ(result.err, c.err) << c.script;
        if (!c.written.empty()) {
            EXPECT_EQ(ReadFile(mTemp / c.written), plain) << c.script;
        }
    }
}

// One file of each format read: the lines its `info` must hold, and the warnings of the read.
TEST_F(QovTool, InfoOnEveryFormat) {
    // The warnings some reads give, after "qovtool: FILE: warning: "; none for the others.
    const std::map<std::string, std::string> warnings = {
        {Data("obj/cube_usemtl.obj"), "Unable to read material \"mtl3\" in .mtl file"}};
    struct Case {
        std::string file;
        std::vector<std::string> lines;
    } cases[] = {
        {Source("samples/cube.obj"),
         {"format: Velto OBJ", "takes: 0", "nodes: 2", "  mesh: 1", "meshes: 1",
          "  default: 6 polygons, 24 control points", "materials: 0", "textures: 0"}},
        {Data("obj/cube_usemtl.obj"),
         {"  cube: 12 polygons, 24 control points", "materials: 3", "  mtl", "  mtl2", "  mtl3"}},
        {Data("bvh/sinusoidal.bvh"),
         {"format: Biovision", "frame rate: 60 fps", "takes: 1",
          "  sinusoidal: 0-1.983 s, 120 frames (current)", "nodes: 5",
          "  skeleton: 4", "meshes: 0"}},
        {Data("htr/egnaro_skel_anim.htr"),
         {"format: Motion Analysis HTR", "frame rate: 24 fps",
          "  egnaro_skel_anim: 0-3.333 s, 81 frames (current)"}},
        {Data("trc/test_file_01.trc"),
         {"format: Motion Analysis TRC", "frame rate: 60 fps",
          "  test_file_01: 0-0.05 s, 4 frames (current)", "nodes: 3", "  optical reference: 1",
          "  marker: 2"}},
        {Data("asf/11.asf"), {"format: Acclaim ASF", "takes: 0", "nodes: 37", "  skeleton: 36"}},
        {Data("c3d/MyCube.c3d"),
         {"format: Vicon C3D", "frame rate: 50 fps", "  MyCube: 0-0 s, 1 frame (current)",
          "  marker: 14"}},
        {Data("dxf/lineTest.dxf"),
         {"format: Autocad DXF", "takes: 0", "  1: 3 polygons, 6 control points", "materials: 1",
          "  Material0"}},
        {Data("3ds/cube_with_diffuse_texture.3DS"),
         {"format: 3D Studio 3DS", "  default take: 0-3.333 s, 101 frames (current)",
          "  Quader01: 12 polygons, 32 control points", "materials: 1", "  01 - Default",
          "textures: 1", "  TEST.PNG: " + Data("3ds/TEST.PNG")}},
        // A QOV file: its header facts, then the scene with its two animated takes.
        {Source("tests/io/qov/golden/takes_v6.qov"),
         {"format: QOV ascii", "kind: ascii", "version: 6.0.0", "layout: 6", "takes: 2",
          "  Run: 0-1 s, 31 frames (current)", "  Walk: 0-2 s, 61 frames", "nodes: 3",
          "  null: 3"}},
        {Source("samples/scene.qov"),
         {"format: QOV binary", "kind: binary",
          "camera resolution: Producer Perspective, Window Size, 640 x 480", "nodes: 0"}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Exists(c.file)) << "test data missing: " << c.file;
        const Result result = Qovtool({"info", c.file});
        EXPECT_EQ(result.status, 0) << c.file << "\n" << result.err;
        const auto warning = warnings.find(c.file);
        EXPECT_EQ(result.err, warning == warnings.end()
                                  ? ""
                                  : "qovtool: " + c.file + ": warning: " + warning->second + "\n")
            << c.file;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(HasLine(result.out, line)) << c.file << ": no line \"" << line << "\" in\n"
                                                   << result.out;
    }
}

// The small text motion formats, written here: format, rate (with the mode's name), frames and
// the nodes made.
TEST_F(QovTool, InfoOnTheTextMotionFormats) {
    const std::string row = " 1 2 3 10 20 30 100 100 100\n";
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"m.mov", "0" + row + "0.04" + row + "0.08" + row,
         {"format: Wavefront MOV", "frame rate: 25 fps (PAL)", "  m: 0-0.08 s, 3 frames (current)",
          "  marker: 1"}},
        {"m.brd",
         "0\t1\tP\t1\t2\t3\tQ\t0\t0\t0\t1\t0\t0\n1\t1\tP\t1\t2\t3\tQ\t0\t0\t0\t1\t0.01\t0\n",
         {"format: Ascension BRD", "frame rate: 100 fps", "  m: 0-0.01 s, 2 frames (current)",
          "  marker: 1"}},
        {"m.vpm",
         "Segment:\tball\nFrames:\t3\nFrame Time:\t0.04\n"
         "XTRAN YTRAN ZTRAN XROT YROT ZROT XSCALE YSCALE ZSCALE\n"
         "INCHES INCHES INCHES DEGREES DEGREES DEGREES PERCENT PERCENT PERCENT\n"
         "1" + row + "2" + row + "3" + row,
         {"format: Puppeteer VPM", "frame rate: 25 fps (PAL)", "  m: 0-0.08 s, 3 frames (current)",
          "  marker: 1"}},
        {"m.aoa", "frames = 2 markers = 2 Hz = 60\n1 2 3\n4 5 6\n1 2 3\n4 5 6\n",
         {"format: Adaptive Optics AOA", "frame rate: 60 fps",
          "  m: 0-0.017 s, 2 frames (current)", "  marker: 2"}},
    };
    for (const Case& c : cases) {
        std::ofstream(mTemp / c.name) << c.text;
        const Result result = Qovtool({"info", mTemp / c.name});
        EXPECT_EQ(result.status, 0) << c.name << "\n" << result.err;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(HasLine(result.out, line)) << c.name << ": no line \"" << line << "\" in\n"
                                                   << result.out;
    }
}

// An encrypted file: the scene only with the right password (its header without one through
// dump; info of a refused read prints only the error); convert reads it with the password too.
TEST_F(QovTool, InfoOnAnEncryptedFile) {
    ASSERT_EQ(Qovtool({"convert", Source("samples/cube.obj"), mTemp / "cube.qov"}).status, 0);
    ASSERT_EQ(Qovtool({"convert", mTemp / "cube.qov", mTemp / "secret.qov", "--encrypted",
                   "--password", "demo"})
                  .status,
              0);
    const Result right = Qovtool({"info", mTemp / "secret.qov", "--password", "demo"});
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_TRUE(HasLine(right.out, "kind: encrypted")) << right.out;
    EXPECT_TRUE(HasLine(right.out, "  default: 6 polygons, 24 control points")) << right.out;
    const Result back = Qovtool({"convert", mTemp / "secret.qov", mTemp / "back.obj", "--password",
                                "demo"});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(HasLine(Qovtool({"info", mTemp / "back.obj"}).out,
                        "  default: 6 polygons, 24 control points"));
    for (const char* password : {"", "wrong"}) {
        const Result wrong = Qovtool({"info", mTemp / "secret.qov", "--password", password});
        EXPECT_EQ(wrong.status, 1) << password;
        EXPECT_EQ(wrong.out, "");
        EXPECT_NE(wrong.err.find("password"), std::string::npos) << wrong.err;
    }
    EXPECT_TRUE(HasLine(Qovtool({"dump", mTemp / "secret.qov"}).out, "Encryption: Twofish-128"));
}

// The frame counts, rates and marker or joint counts `info` gives, against the files' own text.
TEST_F(QovTool, InfoAgreesWithTheMotionFilesHeaders) {
    // BVH: "Frames:", "Frame Time:" and a node for every ROOT, JOINT and End Site.
    for (const char* name : {"bvh/sinusoidal.bvh", "bvh/01_01.bvh"}) {
        ASSERT_TRUE(Exists(Data(name))) << "test data missing: " << Data(name);
        const std::string text = ReadFile(Data(name));
        std::istringstream words(text);
        std::string word;
        int joints = 0;
        while (words >> word) joints += word == "ROOT" || word == "JOINT" || word == "Site";
        const long frames = std::atol(text.c_str() + text.find("Frames:") + 7);
        const double rate = 1.0 / std::atof(text.c_str() + text.find("Frame Time:") + 11);
        const Result info = Qovtool({"info", Data(name)});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(TakeFrames(info.out), frames) << name;
        EXPECT_NEAR(NumberAfter(info.out, "frame rate: "), rate, 0.01) << name;
        EXPECT_EQ(NumberAfter(info.out, "  skeleton: "), joints) << name;
    }
    // TRC: DataRate, NumFrames and NumMarkers on the third line.
    for (const char* name : {"trc/test_file_01.trc", "trc/test_file_05.trc"}) {
        std::istringstream lines(ReadFile(Data(name)));
        std::string line;
        for (int i = 0; i < 3; ++i) std::getline(lines, line);
        double rate = 0, cameraRate = 0;
        long frames = 0, markers = 0;
        std::istringstream(line) >> rate >> cameraRate >> frames >> markers;
        const Result info = Qovtool({"info", Data(name)});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(TakeFrames(info.out), frames) << name;
        EXPECT_EQ(NumberAfter(info.out, "frame rate: "), rate) << name;
        EXPECT_EQ(NumberAfter(info.out, "  marker: "), markers) << name;
    }
    // HTR: NumFrames and DataFrameRate.
    {
        const std::string text = ReadFile(Data("htr/egnaro_skel_anim.htr"));
        const Result info = Qovtool({"info", Data("htr/egnaro_skel_anim.htr")});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(TakeFrames(info.out), std::atol(text.c_str() + text.find("NumFrames") + 9));
        EXPECT_EQ(NumberAfter(info.out, "frame rate: "),
                  std::atof(text.c_str() + text.find("DataFrameRate") + 13));
    }
    // C3D (PC byte order): the header's point count, first and last frame, and rate.
    for (const char* name : {"c3d/sample01-Eb015pi.c3d", "c3d/sample02-pc_real.c3d",
                             "c3d/MyCube.c3d"}) {
        const std::string bytes = ReadFile(Data(name));
        ASSERT_GE(bytes.size(), 512u) << "test data missing: " << Data(name);
        uint16_t points, first, last;
        float rate;
        std::memcpy(&points, &bytes[2], 2);
        std::memcpy(&first, &bytes[6], 2);
        std::memcpy(&last, &bytes[8], 2);
        std::memcpy(&rate, &bytes[20], 4);
        const Result info = Qovtool({"info", Data(name)});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(TakeFrames(info.out), long(last) - long(first) + 1) << name;
        EXPECT_EQ(NumberAfter(info.out, "frame rate: "), rate) << name;
        EXPECT_EQ(NumberAfter(info.out, "  marker: "), points) << name;
    }
}

// Geometry: OBJ face lines and material names; 3DS meshes, materials and texture maps as lib3ds
// reads them.
TEST_F(QovTool, InfoAgreesWithIndependentGeometryCounts) {
    for (const char* name : {"obj/cube_usemtl.obj", "obj/box.obj", "obj/spider.obj"}) {
        std::istringstream lines(ReadFile(Data(name)));
        std::string line;
        long faces = 0;
        std::set<std::string> used;
        std::string library;
        while (std::getline(lines, line)) {
            faces += line.rfind("f ", 0) == 0;
            if (line.rfind("usemtl ", 0) == 0) used.insert(line.substr(7));
            if (line.rfind("mtllib ", 0) == 0) library = ReadFile(Data("obj/" + line.substr(7)));
        }
        ASSERT_GT(faces, 0) << "test data missing: " << Data(name);
        const Result info = Qovtool({"info", Data(name)});
        ASSERT_EQ(info.status, 0) << info.err;
        long polygons = 0;
        std::istringstream out(info.out);
        while (std::getline(out, line))
            if (line.find(" polygons, ") != std::string::npos)
                polygons += std::atol(line.c_str() + line.rfind(": ") + 2);
        EXPECT_EQ(polygons, faces) << name;
        // Every material used that the library defines, with its diffuse map.
        std::istringstream definitions(library);
        std::string material;
        while (std::getline(definitions, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("newmtl ", 0) == 0)
                material = used.count(line.substr(7)) ? line.substr(7) : "";
            if (material.empty()) continue;
            if (line.rfind("newmtl ", 0) == 0) {
                EXPECT_TRUE(HasLine(info.out, "  " + material)) << name << ": " << material;
            } else if (line.rfind("map_Kd ", 0) == 0) {
                // Named beside the library, there or not ("./" and "\" as any reader takes them).
                std::string map = line.substr(7);
                std::replace(map.begin(), map.end(), '\\', '/');
                if (map.rfind("./", 0) == 0) map.erase(0, 2);
                EXPECT_TRUE(HasLine(info.out, "  " + material + ": " + Data("obj/" + map)))
                    << name << ": " << line << "\n" << info.out;
            }
        }
    }
    for (const char* name : {"3ds/RotatingCube.3DS", "3ds/cube_with_diffuse_texture.3DS",
                             "3ds/test1.3ds", "3ds/fels.3ds"}) {
        ASSERT_TRUE(Exists(Data(name))) << "test data missing: " << Data(name);
        const Result peer = RunProgram(std::string(QOV_PROGRAMS_DIR) + "/lib3ds_counts",
                                       {Data(name)});
        ASSERT_EQ(peer.status, 0) << peer.err;
        const Result info = Qovtool({"info", Data(name)});
        ASSERT_EQ(info.status, 0) << info.err;
        std::istringstream lines(peer.out);
        std::string line;
        int meshes = 0, materials = 0;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            std::string kind, meshName;
            words >> kind;
            if (kind == "mesh") {
                unsigned points = 0, faces = 0;
                words >> meshName >> points >> faces;
                ++meshes;
                const std::string prefix = "  " + meshName + ": " + std::to_string(faces) +
                                           " polygons, ";
                EXPECT_NE(info.out.find("\n" + prefix), std::string::npos)
                    << name << ": " << prefix << "\n" << info.out;
            } else if (kind == "material") {
                // "material NAME TEXTURE BUMP", the name may hold blanks.
                const size_t end = line.rfind(' ', line.rfind(' ') - 1);
                const std::string texture = line.substr(end + 1, line.rfind(' ') - end - 1);
                ++materials;
                EXPECT_TRUE(HasLine(info.out, "  " + line.substr(9, end - 9))) << name << line;
                if (texture != "-") {
                    EXPECT_NE(info.out.find("  " + texture + ": "), std::string::npos)
                        << name << ": " << texture;
                }
            }
        }
        EXPECT_EQ(NumberAfter(info.out, "meshes: "), meshes) << name;
        EXPECT_EQ(NumberAfter(info.out, "materials: "), materials) << name;
    }
}

}  // namespace

namespace {

// A grid of `side` x `side` quads as OBJ text.
void WriteGridObj(const std::string& name, int side) {
    std::ofstream out(name);
    for (int y = 0; y <= side; ++y)
        for (int x = 0; x <= side; ++x) out << "v " << x << ' ' << y << " 0\n";
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const int at = y * (side + 1) + x + 1;
            out << "f " << at << ' ' << at + 1 << ' ' << at + side + 2 << ' ' << at + side + 1
                << '\n';
        }
}

// A skeleton of `joints` joints below one root, two frames of it.
void WriteWideBvh(const std::string& name, int joints) {
    std::ofstream out(name);
    out << "HIERARCHY\nROOT hips\n{\n OFFSET 0 0 0\n CHANNELS 6 Xposition Yposition Zposition "
           "Zrotation Xrotation Yrotation\n";
    for (int j = 0; j < joints; ++j)
        out << " JOINT j" << j << "\n {\n  OFFSET " << j % 7
            << " 1 0\n  CHANNELS 3 Zrotation Xrotation Yrotation\n  End Site\n  {\n   OFFSET 0 1 "
               "0\n  }\n }\n";
    out << "}\nMOTION\nFrames: 2\nFrame Time: 0.04\n";
    for (int f = 0; f < 2; ++f) {
        for (int k = 0; k < 6 + 3 * joints; ++k) out << (k ? " " : "") << f * (k % 5);
        out << "\n";
    }
}

bool IsMappedBy(pid_t pid, const std::string& path) {
    return ReadFile("/proc/" + std::to_string(pid) + "/maps").find(" " + path + "\n") !=
           std::string::npos;
}

// Where the process stands in the file it has open under `path`: -1 when it has none open.
long long ReadPosition(pid_t pid, const std::string& path) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(folder.c_str());
    if (!dir) return -1;
    long long position = -1;
    while (dirent* entry = readdir(dir)) {
        char target[4096];
        const ssize_t got =
            readlink((folder + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (got <= 0 || std::string(target, size_t(got)) != path) continue;
        const std::string info =
            ReadFile("/proc/" + std::to_string(pid) + "/fdinfo/" + entry->d_name);
        const size_t at = info.find("pos:");
        if (at != std::string::npos) position = std::atoll(info.c_str() + at + 4);
    }
    closedir(dir);
    return position;
}

bool FolderIsEmpty(const std::string& folder) {
    return std::system(("test -z \"$(ls -A '" + folder + "')\"").c_str()) == 0;
}

// The hidden files (new files being written) in a folder.
std::vector<std::string> HiddenFiles(const std::string& folder) {
    std::vector<std::string> names = TempTestFolder::NamesIn(folder);
    auto shown = [](const std::string& n) { return n[0] != '.' || n == "." || n == ".."; };
    names.erase(std::remove_if(names.begin(), names.end(), shown), names.end());
    return names;
}

struct StoppedRun {
    int status = -1;  // the wait status
    std::string err;
    bool acted = false;  // the action was taken while the process stood at the moment asked for
};

// Runs qovtool with `arguments` (the ending signals at their defaults, as from a terminal);
// once `ready` holds, it is stopped, and while `ready` still holds `act` is done, then it goes
// on.
StoppedRun RunStoppedWhen(const std::vector<std::string>& arguments, const std::string& errors,
                          const std::function<bool(pid_t)>& ready,
                          const std::function<void(pid_t)>& act) {
    StoppedRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
        if (!std::freopen(errors.c_str(), "w", stderr)) _exit(126);
        if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
        std::vector<char*> argv{const_cast<char*>("qovtool")};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(Tool().c_str(), argv.data());
        _exit(127);
    }
    if (pid < 0) return run;
    int status = 0;
    bool ended = false;
    while (!run.acted && !ended) {
        if (waitpid(pid, &status, WNOHANG) != 0) {
            ended = true;
            break;
        }
        if (!ready(pid)) {
            usleep(200);
            continue;
        }
        kill(pid, SIGSTOP);
        waitpid(pid, &status, WUNTRACED);
        if (!WIFSTOPPED(status)) {
            ended = true;
            break;
        }
        // Still there, now that it stands still: the action falls inside that moment.
        if (ready(pid)) {
            act(pid);
            run.acted = true;
        }
        kill(pid, SIGCONT);
    }
    if (!ended) waitpid(pid, &status, 0);
    run.status = status;
    run.err = ReadFile(errors);
    return run;
}

struct ChangedRun {
    int status = -1;
    std::string err;
    bool changed = false;  // the change was made at the moment asked for
};

// When ConvertWhileChanged makes its change: while the read has the input mapped, while it has
// it open and has read from it, or once the read is over and the new file is being written.
enum class ChangeAt { eMapped, eOpen, eWriting };

// Runs `qovtool convert in out`; once it is at `at` (reading: nothing written into the folder
// of `out` yet), it is stopped, `change` is made, and it goes on.
ChangedRun ConvertWhileChanged(const std::string& in, const std::string& out,
                               const std::string& errors, const std::function<void()>& change,
                               ChangeAt at) {
    const std::string folder = out.substr(0, out.rfind('/'));
    const StoppedRun s = RunStoppedWhen(
        {"convert", in, out}, errors,
        [&](pid_t pid) {
            if (at == ChangeAt::eWriting) return !HiddenFiles(folder).empty();
            return (at == ChangeAt::eOpen ? ReadPosition(pid, in) > 0 : IsMappedBy(pid, in)) &&
                   FolderIsEmpty(folder);
        },
        [&](pid_t) { change(); });
    return {WIFEXITED(s.status) ? WEXITSTATUS(s.status) : -1, s.err, s.acted};
}

}  // namespace

// A QOV file cut short, copied over, or written in place with its modification time set back
// while convert reads it (mapped), or an ASCII one touched or written again at the same length
// (read into memory), or one written in place while the new file is written: convert fails
// with the cut-short error and writes nothing, rather than a part of the scene or a mix of two
// files.
TEST_F(QovTool, ConvertOfAFileChangedWhileItIsRead) {
    WriteGridObj(mTemp / "grid.obj", 250);
    ASSERT_EQ(Qovtool({"convert", mTemp / "grid.obj", mTemp / "grid.qov"}).status, 0);
    ASSERT_EQ(Qovtool({"convert", mTemp / "grid.obj", mTemp / "ascii.qov", "--ascii"}).status, 0);
    ASSERT_EQ(Qovtool({"convert", Source("samples/cube.obj"), mTemp / "cube.qov"}).status, 0);
    const std::string binary = ReadFile(mTemp / "grid.qov");
    const std::string ascii = ReadFile(mTemp / "ascii.qov");
    const std::string other = ReadFile(mTemp / "cube.qov");
    ASSERT_GT(binary.size(), size_t(4) << 20);
    const std::string in = mTemp / "in.qov", linked = mTemp / "linked.qov";
    // The file written again as it stands, its times then put back as they were.
    auto rewrittenTimeSetBack = [&](const std::string& bytes) {
        struct stat before;
        ASSERT_EQ(stat(in.c_str(), &before), 0);
        std::ofstream(in, std::ios::binary) << bytes;
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, in.c_str(), times, 0), 0);
    };
    const struct {
        const char* what;
        const std::string& whole;
        std::function<void()> change;
        bool writing = false;  // made once the read is over, while the new file is written
        const char* out = "out.qov";
    } kCases[] = {
        {"cut to half", binary,
         [&] { ASSERT_EQ(truncate(in.c_str(), off_t(binary.size() / 2)), 0); }},
        {"cut to 99%", binary,
         [&] { ASSERT_EQ(truncate(in.c_str(), off_t(binary.size() * 99 / 100)), 0); }},
        {"copied over", binary, [&] { std::ofstream(in, std::ios::binary) << other; }},
        {"written in place, time set back", binary, [&] { rewrittenTimeSetBack(binary); }},
        {"ASCII, touched", ascii,
         [&] { ASSERT_EQ(utimensat(AT_FDCWD, in.c_str(), nullptr, 0), 0); }},
        {"ASCII, written again at the same length", ascii,
         [&] { std::ofstream(in, std::ios::binary) << ascii; }},
        {"ASCII, written in place, time set back", ascii, [&] { rewrittenTimeSetBack(ascii); }},
        // A link made or removed changes the record's time as well, which then tells nothing.
        {"written in place, time set back, then linked", binary,
         [&] {
             rewrittenTimeSetBack(binary);
             std::remove(linked.c_str());
             ASSERT_EQ(link(in.c_str(), linked.c_str()), 0);
         }},
        {"written in place, time set back, then deleted", binary,
         [&] {
             rewrittenTimeSetBack(binary);
             ASSERT_EQ(unlink(in.c_str()), 0);
         }},
        {"ASCII, written in place, time set back, then deleted", ascii,
         [&] {
             rewrittenTimeSetBack(ascii);
             ASSERT_EQ(unlink(in.c_str()), 0);
         }},
        // The scene is whole by then, but a file changed before the new one is kept may have
        // given bytes to it: refused all the same.
        {"written in place, time set back, while the output is written", binary,
         [&] { rewrittenTimeSetBack(binary); }, true},
        // A writer that puts its file in place within the write refuses before that too.
        {"written in place, time set back, while an OBJ is written", binary,
         [&] { rewrittenTimeSetBack(binary); }, true, "out.obj"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const bool mapped = &c.whole == &binary;
        // A busy machine may let a read slip past the watch: it is tried again, a few times.
        ChangedRun run;
        TempTestFolder outFolder("qovtoolout");
        for (int attempt = 0; attempt < 5 && !run.changed; ++attempt) {
            std::ofstream(in, std::ios::binary) << c.whole;
            std::remove((outFolder / c.out).c_str());
            run = ConvertWhileChanged(in, outFolder / c.out, mTemp / "errors", c.change,
                                      c.writing ? ChangeAt::eWriting
                                      : mapped  ? ChangeAt::eMapped
                                                : ChangeAt::eOpen);
        }
        ASSERT_TRUE(run.changed) << "the read was over before it could be caught";
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("the file was cut short while it was read"), std::string::npos)
            << run.err;
        EXPECT_TRUE(FolderIsEmpty(outFolder.path()));
    }
}

// SIGINT, SIGTERM, SIGHUP and SIGPIPE (a pipe written to, closed early) while convert writes:
// the new file goes, the old output stays, and the process ends as the signal ends it.
TEST_F(QovTool, ConvertEndedBySignalsLeavesNoNewFile) {
    WriteGridObj(mTemp / "grid.obj", 150);
    TempTestFolder outFolder("qovtoolsig");
    const std::string out = outFolder / "out.obj";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(strsignal(signal));
        StoppedRun run;
        for (int attempt = 0; attempt < 5 && !run.acted; ++attempt) {
            std::ofstream(out) << "old\n";
            run = RunStoppedWhen(
                {"convert", mTemp / "grid.obj", out}, mTemp / "errors",
                [&](pid_t) { return !HiddenFiles(outFolder.path()).empty(); },
                [&](pid_t pid) { kill(pid, signal); });
        }
        ASSERT_TRUE(run.acted) << "the write was over before it could be caught";
        EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == signal)
            << run.status << run.err;
        EXPECT_EQ(ReadFile(out), "old\n");
        EXPECT_EQ(HiddenFiles(outFolder.path()), std::vector<std::string>());
    }
}

// Past a file-size limit (ulimit -f) every writer fails as on a full disk: exit 1 with the
// message, the old output kept and no hidden file left, rather than SIGXFSZ ending the process.
TEST_F(QovTool, ConvertPastAFileSizeLimitFailsAsAFullDiskDoes) {
    WriteGridObj(mTemp / "grid.obj", 12);
    const std::string bvh = Data("bvh/sinusoidal.bvh"), grid = mTemp / "grid.obj",
                      c3d = Data("c3d/sample01-Eb015pi.c3d"), textured = mTemp / "wood.obj";
    // A textured OBJ: its image goes beside the output only once the output is in place.
    std::ofstream(mTemp / "wood.tga") << "image";
    std::ofstream(mTemp / "wood.mtl") << "newmtl M\nmap_Kd wood.tga\n";
    std::ofstream(textured) << "mtllib wood.mtl\nusemtl M\n" << ReadFile(grid);
    const struct {
        const std::string& in;
        const char* out;
        const char* flag;
    } kCases[] = {
        {bvh, "out.bvh", ""},  {bvh, "out.qov", "--ascii"}, {bvh, "out.qov", "--v5"},
        {grid, "out.3ds", ""}, {c3d, "out.trc", ""},        {textured, "out.obj", ""},
    };
    TempTestFolder outFolder("qovtoolfsz");
    for (const auto& c : kCases) {
        const std::string out = outFolder / c.out;
        SCOPED_TRACE(std::string(c.out) + " " + c.flag);
        std::ofstream(out) << "old\n";
        // 2 blocks of the shell's (1 or 2 KB): less than any of these outputs.
        std::vector<std::string> command{"-c", "ulimit -f 2; exec \"$0\" \"$@\"", Tool(),
                                         "convert", c.in, out};
        if (*c.flag) command.push_back(c.flag);
        const Result run = RunProgram("sh", command);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("Out of disk space"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(out), "old\n");
        EXPECT_EQ(HiddenFiles(outFolder.path()), std::vector<std::string>());
        EXPECT_FALSE(Exists(outFolder / "wood.tga"));
    }
}

namespace {

std::string StarvedTool() {
    return std::string(QOV_PROGRAMS_DIR) + "/starved_qovtool";
}

struct Starved {
    int status = -1;
    std::string err;
    size_t peak = 0;  // the most its heap held at once, when no limit was set
};

// The tool over a heap that holds at most `limit` bytes at once (0: no limit).
Starved RunStarved(const std::vector<std::string>& arguments, size_t limit) {
    std::vector<std::string> command{
        limit ? "QOV_HEAP_LIMIT=" + std::to_string(limit) : std::string("QOV_HEAP_PEAK=1"),
        StarvedTool()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const Result result = RunProgram("env", command);
    Starved run{result.status, result.err, 0};
    const size_t at = result.err.rfind("heap peak ");
    if (at != std::string::npos) run.peak = size_t(std::atoll(result.err.c_str() + at + 10));
    return run;
}

}  // namespace

// Out of memory while reading or while writing, under a heap bounded below what the conversion
// needs (as an address-space limit bounds it, which the sanitizers leave no room for): exit 1
// with "Out of memory while reading IN" or "... writing OUT", the old output kept and no new
// file left. The bound falls below half of what the read needs, or between what the read
// needs and what the whole conversion needs.
// An output on a file system mounted read-only says so, whether a file of its name is there or
// not, and nothing changes (where this user may mount one in a namespace of its own).
TEST_F(QovTool, ConvertOntoAReadOnlyFileSystem) {
    WriteGridObj(mTemp / "grid.obj", 2);
    TempTestFolder mount("qovtoolro");
    const std::string script =
        "mount -t tmpfs none \"$1\" && echo old > \"$1/out.dxf\" && mount -o remount,ro \"$1\" "
        "|| exit 99; for out in out.dxf new.dxf out.qov; do \"$2\" convert \"$3\" \"$1/$out\"; "
        "echo \"status $?\"; done; cat \"$1/out.dxf\"; ls -A \"$1\"";
    const Result run = RunProgram(
        "unshare", {"-rm", "sh", "-c", script, "sh", mount.path(), Tool(), mTemp / "grid.obj"});
    if (run.status != 0) GTEST_SKIP() << "no read-only mount here: " << run.err;
    EXPECT_EQ(run.out, "status 1\nstatus 1\nstatus 1\nold\nout.dxf\n");
    for (const char* name : {"out.dxf", "new.dxf", "out.qov"})
        EXPECT_NE(run.err.find(std::string(name) + ": the file system is read-only\n"),
                  std::string::npos)
            << run.err;
}

TEST_F(QovTool, ConvertOutOfMemory) {
    ASSERT_TRUE(Exists(StarvedTool())) << "not built: " << StarvedTool();
    WriteGridObj(mTemp / "grid.obj", 100);
    ASSERT_EQ(Qovtool({"convert", mTemp / "grid.obj", mTemp / "grid.qov", "--ascii"}).status, 0);
    ASSERT_EQ(Qovtool({"convert", mTemp / "grid.obj", mTemp / "grid.dxf"}).status, 0);
    WriteWideBvh(mTemp / "wide.bvh", 100);
    // A name longer than the heap's bound: its first copy is what runs short.
    const std::string longName = std::string(150, 'g') + ".obj";
    WriteGridObj(mTemp / longName, 2);
    const struct {
        const char* in;
        const char* out;
        bool writing;
        int share = 4;  // the write needs at least this share of the read more
        // The bound is the file's size: the QOV reader's buffer of the whole file is what
        // fails (it once told that as damage of the file).
        bool buffer = false;
        size_t bound = 0;  // a bound of its own
    } kCases[] = {
        {"grid.obj", "out.obj", false},  // the OBJ reader, run by the tool
        {"grid.qov", "out.obj", false},  // the QOV reader, run by the importer
        {"grid.qov", "out.obj", false, 4, true},
        {"grid.dxf", "out.obj", false, 4, true},  // the DXF reader's text of the whole file
        {"grid.obj", "out.obj", true},   // the exporter
        {"grid.obj", "out.dxf", true},
        // The skeleton writer needs little more than the read: the bound falls close above it.
        {"wide.bvh", "out.asf", true, 64},
        {longName.c_str(), "out.obj", false, 4, false, 100},
    };
    TempTestFolder outFolder("qovtooloom");
    for (const auto& c : kCases) {
        const std::string in = mTemp / c.in, out = outFolder / c.out;
        SCOPED_TRACE(std::string(c.in) + " -> " + c.out + (c.writing ? ", writing" : ", reading"));
        const Starved read = RunStarved({"info", in}, 0);
        const Starved whole = RunStarved({"convert", in, out}, 0);
        ASSERT_EQ(read.status, 0) << read.err;
        ASSERT_EQ(whole.status, 0) << whole.err;
        ASSERT_GT(read.peak, 0u);
        if (c.writing) {
            ASSERT_GT(whole.peak, read.peak + read.peak / c.share) << "the write needs no more";
        }
        std::ofstream(out) << "old\n";
        const size_t bound = c.bound     ? c.bound
                             : c.buffer  ? ReadFile(in).size()
                             : c.writing ? (read.peak + whole.peak) / 2
                                         : read.peak / 2;
        const Starved run = RunStarved({"convert", in, out}, bound);
        EXPECT_EQ(run.status, 1) << run.err;
        const std::string told =
            c.writing ? "Out of memory while writing " + out : "Out of memory while reading " + in;
        EXPECT_NE(run.err.find(told), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(out), "old\n");
        EXPECT_EQ(HiddenFiles(outFolder.path()), std::vector<std::string>());
    }
}

namespace {

// Key frames whose curves bend between keys (TCB keys every second of a 30 fps scene) are
// written at the scene's rate with the motion between them as lib3ds evaluates it, and QOV
// keeps that rate; the keys' grid is a capture's rate only where its keys are samples.
TEST_F(QovTool, KeyFramesKeepTheirScenesRate) {
    const std::string source = Data("keyframes/TargetCameraTcb.3ds");
    ASSERT_TRUE(Exists(source)) << "test data missing: " << source;
    for (const char* output : {"tcb.qov", "tcb.c3d"}) {
        SCOPED_TRACE(output);
        ASSERT_EQ(Qovtool({"convert", source, mTemp / output}).status, 0);
        const Result info = Qovtool({"info", mTemp / output});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(NumberAfter(info.out, "frame rate: "), 30) << info.out;
        EXPECT_EQ(TakeFrames(info.out), 301) << info.out;
    }
    ASSERT_EQ(Qovtool({"convert", mTemp / "tcb.qov", mTemp / "tcb.trc"}).status, 0);
    std::istringstream rows(ReadFile(mTemp / "tcb.trc"));
    std::string row;
    std::vector<std::vector<double>> frames;  // time, x, y, z of the target
    while (std::getline(rows, row)) {
        std::istringstream values(row);
        std::vector<double> frame(5);
        if (values >> frame[0] >> frame[1] >> frame[2] >> frame[3] >> frame[4] && frame[0] >= 1)
            frames.push_back(std::vector<double>(frame.begin() + 1, frame.end()));
    }
    ASSERT_EQ(frames.size(), 301u);
    // Between keys and on them: the target as lib3ds places it (3DS units are inches, Z up;
    // the TRC file holds millimetres, Y up).
    for (int frame : {15, 30, 45, 280}) {
        SCOPED_TRACE(frame);
        const Result peer = RunProgram(std::string(QOV_PROGRAMS_DIR) + "/lib3ds_counts",
                                       {source, std::to_string(frame), "points"});
        ASSERT_EQ(peer.status, 0) << peer.err;
        const size_t at = peer.out.find("view Camera01 ");
        ASSERT_NE(at, std::string::npos) << peer.out;
        double x = 0, y = 0, z = 0;
        std::istringstream(peer.out.substr(at + 14)) >> x >> y >> z;
        const std::vector<double>& got = frames[size_t(frame)];
        EXPECT_NEAR(got[0], frame / 30.0, 1e-3);
        EXPECT_NEAR(got[1], x * 25.4, 0.05);
        EXPECT_NEAR(got[2], z * 25.4, 0.05);
        EXPECT_NEAR(got[3], -y * 25.4, 0.05);
    }
    // A capture (250 Hz in a 30 fps scene) beside a curve of TCB keys on its grid: sampled at
    // the capture's rate, no sample of it dropped.
    const std::string capture = Data("c3d/badParameterOffset.c3d");
    ASSERT_TRUE(Exists(capture)) << "test data missing: " << capture;
    ASSERT_EQ(Qovtool({"convert", capture, mTemp / "capture.qov", "--ascii"}).status, 0);
    std::string text = ReadFile(mTemp / "capture.qov");
    const size_t keys = text.find("Key: ");
    ASSERT_NE(keys, std::string::npos);
    const size_t end = text.find('\n', keys);
    for (size_t at = text.find(",U,a,", keys); at < end; at = text.find(",U,a,", at))
        text.replace(at, 5, ",U,t,0,0,0,"), at += 11;
    std::ofstream(mTemp / "mixed.qov", std::ios::binary) << text;
    ASSERT_EQ(Qovtool({"convert", mTemp / "mixed.qov", mTemp / "mixed.trc"}).status, 0);
    const Result mixed = Qovtool({"info", mTemp / "mixed.trc"});
    EXPECT_EQ(NumberAfter(mixed.out, "frame rate: "), 250) << mixed.out;
    EXPECT_EQ(TakeFrames(mixed.out), 111) << mixed.out;
}

}  // namespace
