#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "scene/KQovNamespaceRenamer.h"
#include "scene/KQovRenamer.h"

namespace {

using Names = std::vector<std::string>;

std::string Str(const KString& text) {
    return std::string(text.Buffer(), static_cast<size_t>(text.GetLen()));
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Upper-cases the given positions of a lower-case text.
std::string Up(std::string text, std::initializer_list<size_t> positions) {
    for (size_t k : positions) text[k] = static_cast<char>(std::toupper(text[k]));
    return text;
}

Names RenameAll(KQovRenamer& renamer, const Names& names) {
    Names out;
    for (const std::string& name : names) {
        KQovNamePair pair(name.c_str());
        bool renamed = renamer.Rename(pair);
        EXPECT_EQ(renamed, Str(pair.currentName) != name) << name;
        EXPECT_EQ(Str(pair.initialName), name);
        out.push_back(Str(pair.currentName));
    }
    return out;
}

std::string DecodeOne(const std::string& encoded) {
    KQovNamespaceRenamer decoder(1, false);
    KQovNamePair pair(encoded.c_str());
    decoder.Rename(pair);
    return Str(pair.currentName);
}

const std::string k40 = "abcdefghijklmnopqrstuvwxyzabcdefghijklmn";
const std::string k33 = k40.substr(0, 33);

TEST(KQovNamespaceRenamer, EncodeDecodeRoundTrips) {
    struct Case {
        int32_t mode;
        Names names, encoded;
    };
    const Case cases[] = {
        {0, {"Bone", "Bone", "Bone"}, {"Bone", "Bone_ncl1_1", "Bone_ncl1_2"}},
        {0, {"Bone", "bONE", "BONE"}, {"Bone", "Bone_ncl2_ul1lu14", "Bone_ncl2_lu14"}},
        {0, {"BONE", "bone"}, {"BONE", "BONE_ncl2_ul15"}},
        // A spelling met again keeps its own spelling, with the group's counter.
        {0, {"Bone", "bONE", "bONE", "Bone"}, {"Bone", "Bone_ncl2_ul1lu14", "bONE_ncl1_1", "Bone_ncl1_2"}},
        {0, {"Bone_ncl1_1", "Bone", "Bone"}, {"Bone_ncl1_1", "Bone", "Bone_ncl1_2"}},
        // Differences past position 31 cannot go into the masks.
        {0, {k40, Up(k40, {3, 35})}, {k40, Up(k40, {3, 35}) + "_ncl1_1"}},
        {0, {k40, Up(k40, {3})}, {k40, k40 + "_ncl2_lu8"}},
        {0, {k33, Up(k33, {31})}, {k33, k33 + "_ncl2_lu2147483648"}},
        {0, {Up(k33, {0}), Up(k33, {31})}, {Up(k33, {0}), Up(k33, {0}) + "_ncl2_ul1lu2147483648"}},
        {1, {"Bone", "bONE", "bONE", "Bone"}, {"Bone", "bONE", "bONE_ncl1_1", "Bone_ncl1_1"}},
        {2, {"Bone", "Bone", "bONE"}, {"Bone", "Bone", "Bone_ncl2_ul1lu14"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.back());
        KQovNamespaceRenamer encoder(0, false);
        encoder.SetMode(c.mode);
        Names encoded = RenameAll(encoder, c.names);
        EXPECT_EQ(encoded, c.encoded);
        for (size_t i = 0; i < encoded.size(); ++i) {
            if (c.names[i].find("_ncl") == std::string::npos) {
                EXPECT_EQ(DecodeOne(encoded[i]), c.names[i]);
            }
        }
    }
}

TEST(KQovNamespaceRenamer, RandomNamesRoundTripAndNeverClash) {
    std::mt19937 rng(15);
    for (int round = 0; round < 20; ++round) {
        KQovNamespaceRenamer encoder(0, false);
        std::set<std::string> given;  // upper-cased: the host ignores case
        for (int i = 0; i < 300; ++i) {
            size_t length = rng() % 8 == 0 ? 30 + rng() % 11 : 1 + rng() % 4;
            std::string name;
            for (size_t k = 0; k < length; ++k) name += "aAbB"[rng() % 4];
            std::string encoded = RenameAll(encoder, {name})[0];
            EXPECT_TRUE(given.insert(Upper(encoded)).second) << encoded;
            ASSERT_EQ(DecodeOne(encoded), name) << encoded;
        }
    }
}

TEST(KQovNamespaceRenamer, DecodeEdgeCases) {
    struct Case {
        const char* input;
        bool replaceBrackets;
        const char *initial, *current;
        bool decoded;
    };
    const Case cases[] = {
        {"Arm_ncl1_3", true, "Arm_ncl1_3", "Arm", true},
        {"Arm(2)", true, "Arm_2_", "Arm", true},
        {"Arm(2)", false, "Arm(2)", "Arm", true},
        {"Arm()", true, "Arm__", "Arm", true},
        {"Arm(x)", true, "Arm(x)", "Arm_x_", false},
        {"Arm(2", true, "Arm_2", "Arm", true},
        {"Arm)2(", true, "Arm)2_", "Arm_2", true},
        {"Left Arm\xE9", false, "Left Arm\xE9", "Left_Arm_", false},
        {"_ncl1_3", false, "_ncl1_3", "_ncl1_3", false},
        {"(2)", true, "(2)", "_2_", false},
        {"_ncl2_ul1", false, "_ncl2_ul1", "_ncl2_ul1", false},
        {"Bone_ncl2_ul1lu14", false, "Bone_ncl2_ul1lu14", "bONE", true},
        {"Bone_ncl2_ulx", false, "Bone_ncl2_ulx", "Bone", true},
        {"Bone_ncl1_1_ncl2_ul1", false, "Bone_ncl1_1_ncl2_ul1", "Bone", true},
        // Masks reach only the decoded name, never its suffix or past the text.
        {"ab_ncl2_ul4294967295", false, "ab_ncl2_ul4294967295", "ab", true},
        {"ab_ncl2_lu-1", false, "ab_ncl2_lu-1", "AB", true},
        {"ab_ncl2_lu99999999999999999999", false, "ab_ncl2_lu99999999999999999999", "AB", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        KQovNamespaceRenamer decoder(1, c.replaceBrackets);
        KQovNamePair pair(c.input);
        EXPECT_EQ(decoder.Decode(pair), c.decoded);
        EXPECT_EQ(Str(pair.initialName), c.initial);
        EXPECT_EQ(Str(pair.currentName), c.current);
    }
    // The old writer printed a mask with bit 31 as a negative number.
    EXPECT_EQ(DecodeOne(k33 + "_ncl2_lu-2147483648"), Up(k33, {31}));
    EXPECT_EQ(DecodeOne(k33 + "_ncl2_lu-2147483647"), Up(k33, {0, 31}));
    // Without a marker the two names change places.
    KQovNamespaceRenamer decoder(1, false);
    KQovNamePair pair("First");
    pair.currentName = "Second";
    EXPECT_FALSE(decoder.Rename(pair));
    EXPECT_EQ(Str(pair.initialName) + Str(pair.currentName), "SecondFirst");
}

TEST(KQovNamespaceRenamer, RandomNamesThroughDecode) {
    const char* pieces[] = {"_ncl1_", "_ncl2_", "ul", "lu", "(", ")", "-", "0", "7",
                            "4294967295", "2147483648", "a", "B", " ", "\xFF", "::"};
    std::mt19937 rng(10000);
    for (int i = 0; i < 10000; ++i) {
        std::string input;
        for (size_t n = rng() % 12; n > 0; --n) input += pieces[rng() % std::size(pieces)];
        KQovNamespaceRenamer decoder(1, (i & 1) != 0);
        KQovNamePair pair(input.c_str());
        bool decoded = decoder.Decode(pair);
        // The decoded name is the input's head, cleaned and with case changed.
        std::string current = Str(pair.currentName);
        ASSERT_LE(current.size(), input.size()) << input;
        std::string head = input.substr(0, current.size());
        for (char& c : head) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        ASSERT_EQ(decoded ? Upper(current) : current, decoded ? Upper(head) : head) << input;
        ASSERT_EQ(pair.initialName.GetLen(), static_cast<int>(input.size())) << input;
    }
}

TEST(KQovNamespaceRenamer, ModesResetAndCleaning) {
    KQovNamespaceRenamer encoder(0, false);
    EXPECT_EQ(encoder.Create(), nullptr);
    RenameAll(encoder, {"Bone"});
    encoder.SetMode(KQovNamespaceRenamer::eAllClashes);  // the same mode keeps the records
    encoder.Reset();                                     // and so does a reset
    EXPECT_EQ(RenameAll(encoder, {"Bone"}), Names{"Bone_ncl1_1"});
    encoder.SetMode(KQovNamespaceRenamer::eNoCaseClashes);  // another mode forgets them
    encoder.SetMode(KQovNamespaceRenamer::eAllClashes);
    EXPECT_EQ(RenameAll(encoder, {"Bone"}), Names{"Bone"});
    for (const char* expected : {"", "_ncl1_1"}) {  // a null name reads as empty
        KQovNamePair pair(nullptr);
        encoder.Encode(pair);
        EXPECT_EQ(Str(pair.currentName), expected);
    }

    KString text("a b");
    EXPECT_EQ(Str(encoder.ReplaceNonAlphanumeric(text, "")), "a b");
    EXPECT_EQ(Str(encoder.ReplaceNonAlphanumeric(text, "#x")), "a#b");
}

TEST(KQovNumberingRenamer, NumbersRepeatsAndNeverGivesANameTwice) {
    const Names cases[][2] = {
        {{"Bone", "Bone", "Bone", "bone"}, {"Bone", "Bone1", "Bone2", "bone"}},
        {{"Bone", "Bone", "Bone1"}, {"Bone", "Bone1", "Bone11"}},
        {{"Bone1", "Bone", "Bone"}, {"Bone1", "Bone", "Bone2"}},
    };
    for (const auto& c : cases) {
        KQovNumberingRenamer renamer;
        EXPECT_EQ(RenameAll(renamer, c[0]), c[1]);
        // A new renamer of the kind has met nothing; a reset forgets.
        EXPECT_EQ(RenameAll(*renamer.Create(), c[0]), c[1]);
        renamer.Reset();
        EXPECT_EQ(RenameAll(renamer, c[0]), c[1]);
    }
}

// Names set aside before any is renamed: a name the list gives further on is never made for
// an earlier one, and the first of each name keeps it.
TEST(KQovNumberingRenamer, NamesSetAsideFirstKeepTheirOwn) {
    const Names cases[][2] = {
        {{"Bone", "Bone", "Bone1"}, {"Bone", "Bone2", "Bone1"}},
        {{"Bone", "Bone", "Bone", "Bone2", "Bone1"}, {"Bone", "Bone3", "Bone4", "Bone2", "Bone1"}},
        {{"Bone1", "Bone", "Bone", "Bone1"}, {"Bone1", "Bone", "Bone2", "Bone11"}},
        {{"Door", "Door", "Door1", "door1"}, {"Door", "Door2", "Door1", "door1"}},
    };
    for (const auto& c : cases) {
        KQovNumberingRenamer renamer;
        for (const std::string& name : c[0]) renamer.SetAside(name);
        EXPECT_EQ(RenameAll(renamer, c[0]), c[1]);
        // A reset forgets the names set aside too.
        renamer.Reset();
        EXPECT_EQ(RenameAll(renamer, {"Bone", "Bone"}), (Names{"Bone", "Bone1"}));
    }
}

TEST(KStripNamePrefix, TextAfterTheFirstSeparator) {
    const char* cases[][2] = {{"Model::Arm", "Arm"}, {"Arm", "Arm"}, {"a::b::c", "b::c"},
                              {"x::", ""},           {"a:b", "a:b"}, {"", ""}};
    for (auto& c : cases) {
        EXPECT_EQ(Str(KStripNamePrefix(c[0])), c[1]);
        EXPECT_EQ(Str(KStripNamePrefix(KString(c[0]))), c[1]);
    }
    // Each result is its own value, not a shared buffer.
    KString first = KStripNamePrefix("Model::One");
    EXPECT_EQ(Str(KStripNamePrefix("Model::Two")) + Str(first), "TwoOne");
    EXPECT_EQ(Str(KStripNamePrefix(static_cast<const char*>(nullptr))), "");
}

}  // namespace
