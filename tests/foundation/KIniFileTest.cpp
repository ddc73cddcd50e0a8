#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "foundation/KIniFile.h"
#include "foundation/KPath.h"
#include "foundation/KRegistry.h"
#include "platform/KPlatformFile.h"

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mTemp.ok());
        KSetSettingsFolder(mFolder.c_str());
    }
    void TearDown() override { KSetSettingsFolder(""); }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream out(mFolder + "/" + name, std::ios::binary);
        out << text;
    }
    std::string Read(const std::string& name) {
        std::ifstream in(mFolder + "/" + name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    TempTestFolder mTemp{"kini"};
    std::string mFolder = mTemp.path();
};

const char* Value(KIniFile& file, const char* section, const char* key, const char* def) {
    const char* v = file.GetValue(section, key, def);
    return v ? v : "<null>";
}

// Both lookups must answer alike for every case.
TEST_F(Settings, ParsingCasesCachedAndUncached) {
    Write("a.ini",
          "Orphan = 1\n"
          "[NumericField]\n"
          "Decimal=3\n"
          "DecimalSeparator = ,\n"
          "B = 3   \t\n"
          "C==3\n"
          "D = 3 ; comment\n"
          "; E = 9\n"
          "no equal sign here\n"
          "\n"
          "  [ Spaced ]  \r\n"
          "Key\t=\tvalue with  inner blanks \r\n"
          "x]y[z\n"
          "After = close-before-open\n"
          "[Numeric]\n"
          "Other = 5\n");
    for (bool cached : {false, true}) {
        SCOPED_TRACE(cached ? "cached" : "uncached");
        KIniFile file("a.ini", cached);
        EXPECT_STREQ(Value(file, "NumericField", "Decimal", nullptr), "3");
        EXPECT_STREQ(Value(file, "numericfield", "DECIMAL", nullptr), "3");
        EXPECT_STREQ(Value(file, "NumericField", "B", nullptr), "3");
        EXPECT_STREQ(Value(file, "NumericField", "C", nullptr), "3");
        EXPECT_STREQ(Value(file, "NumericField", "D", nullptr), "3");
        EXPECT_STREQ(Value(file, "NumericField", "E", "dflt"), "dflt");
        // Whole names only: a prefix never matches, of a key or of a section.
        EXPECT_STREQ(Value(file, "NumericField", "Dec", nullptr), "<null>");
        EXPECT_STREQ(Value(file, "NumericField", "DecimalSeparator", nullptr), ",");
        EXPECT_STREQ(Value(file, "Numeric", "Decimal", "d"), "d");
        EXPECT_STREQ(Value(file, "Numeric", "Other", nullptr), "5");
        EXPECT_STREQ(Value(file, "NumericField", "Orphan", nullptr), "<null>");
        EXPECT_STREQ(Value(file, "Spaced", "Key", nullptr), "value with  inner blanks");
        // "x]y[z" is not a header: the line after it still belongs to "Spaced".
        EXPECT_STREQ(Value(file, "Spaced", "After", nullptr), "close-before-open");
        EXPECT_STREQ(Value(file, "Missing", "Key", nullptr), "<null>");
    }
}

TEST_F(Settings, MissingFileGivesDefaults) {
    for (bool cached : {false, true}) {
        KIniFile file("none.ini", cached);
        EXPECT_STREQ(Value(file, "S", "K", "def"), "def");
        EXPECT_STREQ(Value(file, "S", "K", nullptr), "<null>");
    }
    EXPECT_FALSE(KPlatformPathExists((mFolder + "/none.ini").c_str()));
}

TEST_F(Settings, RepeatedSectionIsMerged) {
    Write("m.ini", "[A]\nx = 1\n[B]\ny = 2\n[a]\nz = 3\n");
    KIniFile cached("m.ini", true);
    EXPECT_EQ(cached.GetSections()->GetCount(), 2);
    EXPECT_STREQ(Value(cached, "A", "z", nullptr), "3");
    KIniFile uncached("m.ini", false);
    EXPECT_STREQ(Value(uncached, "A", "z", nullptr), "3");
    EXPECT_STREQ(Value(uncached, "A", "y", nullptr), "<null>");
}

TEST_F(Settings, LongLinesAreBounded) {
    std::string longValue(10000, 'v');
    Write("l.ini", "[S]\nK = " + longValue + "\nAfter = 1\n" + std::string(5000, '[') + "\n");
    for (bool cached : {false, true}) {
        KIniFile file("l.ini", cached);
        std::string value = Value(file, "S", "K", nullptr);
        EXPECT_EQ(value.size(), size_t(KIniFile::kLineMax - 4));
        // The tail of the long line does not read as a line of its own.
        EXPECT_STREQ(Value(file, "S", "After", nullptr), "1");
    }
    std::string longDefault(6000, 'd');
    KIniFile file("l.ini", false);
    EXPECT_EQ(strlen(file.GetValue("S", "Nope", longDefault.c_str())), size_t(KIniFile::kLineMax));
}

TEST_F(Settings, ComputerNamedFiles) {
    char computer[260];
    KGetLocalComputerName(computer, sizeof(computer));
    Write(std::string(computer) + ".Application.txt", "[NumericField]\nDecimal = 4\n");
    KIniFile file("@Application.txt", false);
    EXPECT_EQ(std::string(file.GetPath()), mFolder + "/" + computer + ".Application.txt");
    EXPECT_EQ(std::string(file.GetBackupPath()), mFolder + "/" + computer + ".backupfile.ini");
    EXPECT_STREQ(Value(file, "NumericField", "Decimal", "2"), "4");
    KIniFile plain("x.ini", false);
    EXPECT_EQ(std::string(plain.GetBackupPath()), mFolder + "/backupfile.ini");

    KSetSettingsFolder("");  // the current folder, never the root
    KIniFile here("x.ini", false);
    EXPECT_STREQ(here.GetPath(), "x.ini");
}

TEST_F(Settings, SaveAndReloadAreByteExact) {
    const std::string text =
        "[Alpha]\n"
        "a = 1\n"
        "b = two words\n"
        "\n"
        "[Beta]\n"
        "c = \n"
        "\n"
        "[gamma]\n"
        "Z = last\n";
    Write("s.ini",
          "; header comment\n[gamma]\nZ=last\n[Beta]\nc=\n[Alpha]\nb =  two words \na=1\n");
    {
        KIniFile file("s.ini", true);
        ASSERT_TRUE(file.Save(file.GetSections()));
    }
    EXPECT_EQ(Read("s.ini"), text);
    EXPECT_FALSE(KPlatformPathExists((mFolder + "/backupfile.ini").c_str()));
    {
        KIniFile again("s.ini", true);
        EXPECT_STREQ(Value(again, "beta", "C", "d"), "");
        ASSERT_TRUE(again.Save(again.GetSections()));
    }
    EXPECT_EQ(Read("s.ini"), text);

    // A save that cannot write leaves the old file as it was.
    KIniFile file("s.ini", true);
    ASSERT_EQ(system(("mkdir '" + mFolder + "/backupfile.ini'").c_str()), 0);
    EXPECT_FALSE(file.Save(file.GetSections()));
    EXPECT_EQ(Read("s.ini"), text);
}

}  // namespace
