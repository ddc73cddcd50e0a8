#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "scene/KQovNamespaceRenamer.h"
#include "scene/KQovRenamer.h"

namespace {

std::string Str(const KString& text) {
    return std::string(text.Buffer(), static_cast<size_t>(text.GetLen()));
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Flip(std::string text, std::initializer_list<size_t> positions) {
    for (size_t k : positions)
        text[k] = static_cast<char>(std::isupper(static_cast<unsigned char>(text[k]))
                                        ? std::tolower(static_cast<unsigned char>(text[k]))
                                        : std::toupper(static_cast<unsigned char>(text[k])));
    return text;
}

const std::string kLong40 = "abcdefghijklmnopqrstuvwxyzabcdefghijklmn";
const std::string kLong33 = "abcdefghijklmnopqrstuvwxyzabcdefg";

struct EncodeCase {
    const char* what;
    int32_t mode;
    std::vector<std::string> names;
    std::vector<std::string> encoded;  // empty: only the round trip is checked
};

std::vector<std::string> EncodeAll(KQovNamespaceRenamer& renamer,
                                   const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& name : names) {
        KQovNamePair pair(name.c_str());
        bool clashed = renamer.Rename(pair);
        EXPECT_EQ(clashed, Str(pair.currentName) != name) << name;
        EXPECT_EQ(Str(pair.initialName), name);
        out.push_back(Str(pair.currentName));
    }
    return out;
}

std::string DecodeOne(const std::string& encoded, bool replaceBrackets = false) {
    KQovNamespaceRenamer decoder(1, replaceBrackets);
    KQovNamePair pair(encoded.c_str());
    decoder.Rename(pair);
    return Str(pair.currentName);
}

TEST(KQovNamespaceRenamer, EncodeDecodeRoundTrips) {
    const EncodeCase cases[] = {
        {"three Bones", 0, {"Bone", "Bone", "Bone"}, {"Bone", "Bone_ncl1_1", "Bone_ncl1_2"}},
        {"case clash", 0, {"Bone", "bONE"}, {"Bone", "Bone_ncl2_ul1lu14"}},
        {"upper after lower", 0, {"Bone", "BONE"}, {"Bone", "Bone_ncl2_lu14"}},
        {"lower after upper", 0, {"BONE", "bone"}, {"BONE", "BONE_ncl2_ul15"}},
        {"repeat after case clash", 0, {"Bone", "bONE", "Bone"},
         {"Bone", "Bone_ncl2_ul1lu14", "Bone_ncl1_1"}},
        // A spelling met again keeps its own spelling with the group's counter.
        {"case variant met twice", 0, {"Bone", "bONE", "bONE", "Bone"},
         {"Bone", "Bone_ncl2_ul1lu14", "bONE_ncl1_1", "Bone_ncl1_2"}},
        {"numbers already met are skipped", 0, {"Bone_ncl1_1", "Bone", "Bone"},
         {"Bone_ncl1_1", "Bone", "Bone_ncl1_2"}},
        {"40 characters, positions 3 and 35", 0, {kLong40, Flip(kLong40, {3, 35})},
         {kLong40, Flip(kLong40, {3, 35}) + "_ncl1_1"}},
        {"40 characters, position 3 only", 0, {kLong40, Flip(kLong40, {3})},
         {kLong40, kLong40 + "_ncl2_lu8"}},
        {"position 31", 0, {kLong33, Flip(kLong33, {31})}, {kLong33, kLong33 + "_ncl2_lu2147483648"}},
        {"positions 0 and 31", 0, {Flip(kLong33, {0}), Flip(kLong33, {31})},
         {Flip(kLong33, {0}), Flip(kLong33, {0}) + "_ncl2_ul1lu2147483648"}},
        {"mode 1: case clashes off", 1, {"Bone", "bONE", "bONE", "Bone"},
         {"Bone", "bONE", "bONE_ncl1_1", "Bone_ncl1_1"}},
        {"mode 2: exact clashes off", 2, {"Bone", "Bone", "bONE"},
         {"Bone", "Bone", "Bone_ncl2_ul1lu14"}},
        {"clash with an encoded name", 0, {"Bone", "Bone", "Bone_ncl1_1"},
         {"Bone", "Bone_ncl1_1", "Bone_ncl1_1_ncl1_1"}},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.what);
        KQovNamespaceRenamer encoder(0, false);
        encoder.SetMode(c.mode);
        std::vector<std::string> encoded = EncodeAll(encoder, c.names);
        EXPECT_EQ(encoded, c.encoded);
        for (size_t i = 0; i < encoded.size(); ++i) {
            // Suffixes the input already carried are decoded too: skip those.
            if (c.names[i].find("_ncl") == std::string::npos) {
                EXPECT_EQ(DecodeOne(encoded[i]), c.names[i]) << encoded[i];
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
            KQovNamePair pair(name.c_str());
            encoder.Rename(pair);
            std::string encoded = Str(pair.currentName);
            EXPECT_TRUE(given.insert(Upper(encoded)).second) << encoded;
            ASSERT_EQ(DecodeOne(encoded), name) << encoded;
        }
    }
}

struct DecodeCase {
    const char* input;
    bool replaceBrackets;
    const char* initial;
    const char* current;
    bool decoded;
};

TEST(KQovNamespaceRenamer, DecodeEdgeCases) {
    const DecodeCase cases[] = {
        {"Arm_ncl1_3", false, "Arm_ncl1_3", "Arm", true},
        {"Arm_ncl1_3", true, "Arm_ncl1_3", "Arm", true},
        {"Arm(2)", true, "Arm_2_", "Arm", true},
        {"Arm(2)", false, "Arm(2)", "Arm", true},
        {"Arm()", true, "Arm__", "Arm", true},
        {"Arm(x)", true, "Arm(x)", "Arm_x_", false},
        {"Arm(2", true, "Arm_2", "Arm", true},
        {"Arm)2(", true, "Arm)2_", "Arm_2", true},
        {"Left Arm", false, "Left Arm", "Left_Arm", false},
        {"_ncl1_3", false, "_ncl1_3", "_ncl1_3", false},
        {"(2)", true, "(2)", "_2_", false},
        {"_ncl2_ul1", false, "_ncl2_ul1", "_ncl2_ul1", false},
        {"Bone_ncl2_ul1lu14", false, "Bone_ncl2_ul1lu14", "bONE", true},
        {"Bone_ncl2_", false, "Bone_ncl2_", "Bone", true},
        {"Bone_ncl1_1_ncl2_ul1", false, "Bone_ncl1_1_ncl2_ul1", "Bone", true},
        // Masks reach only the decoded name, never its suffix or past the text.
        {"ab_ncl2_ul4294967295", false, "ab_ncl2_ul4294967295", "ab", true},
        {"ab_ncl2_lu4294967295", false, "ab_ncl2_lu4294967295", "AB", true},
        {"ab_ncl2_lu-1", false, "ab_ncl2_lu-1", "AB", true},
        {"ab_ncl2_lu99999999999999999999", false, "ab_ncl2_lu99999999999999999999", "AB", true},
        {"Bone_ncl2_ulx", false, "Bone_ncl2_ulx", "Bone", true},
        {"\xC3\xA9t\xC3\xA9", false, "\xC3\xA9t\xC3\xA9", "__t__", false},
        {"", false, "", "", false},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.input);
        KQovNamespaceRenamer decoder(1, c.replaceBrackets);
        KQovNamePair pair(c.input);
        EXPECT_EQ(decoder.Decode(pair), c.decoded);
        EXPECT_EQ(Str(pair.initialName), c.initial);
        EXPECT_EQ(Str(pair.currentName), c.current);
    }
}

TEST(KQovNamespaceRenamer, DecodeReadsTheOldNegativeMask) {
    std::string name = Flip(kLong33, {31});
    std::string unsignedForm = kLong33 + "_ncl2_lu2147483648";
    std::string negativeForm = kLong33 + "_ncl2_lu-2147483648";
    EXPECT_EQ(DecodeOne(unsignedForm), name);
    EXPECT_EQ(DecodeOne(negativeForm), name);
    std::string both = kLong33 + "_ncl2_ul-2147483647";  // bits 0 and 31
    EXPECT_EQ(DecodeOne(kLong33 + "_ncl2_lu-2147483647"), Flip(kLong33, {0, 31}));
    EXPECT_EQ(DecodeOne(both), kLong33);  // lower-casing lower letters changes nothing
}

TEST(KQovNamespaceRenamer, DecodeWithoutMarkerExchangesTheNames) {
    KQovNamespaceRenamer decoder(1, false);
    KQovNamePair pair;
    pair.initialName = "First";
    pair.currentName = "Second name";
    EXPECT_FALSE(decoder.Rename(pair));
    EXPECT_EQ(Str(pair.initialName), "Second name");
    EXPECT_EQ(Str(pair.currentName), "First");
}

TEST(KQovNamespaceRenamer, RandomNamesThroughDecode) {
    const char* pieces[] = {"_ncl1_", "_ncl2_", "ul", "lu", "(", ")", "-", "0", "7", "31",
                            "4294967295", "2147483648", "a", "B", " ", "\xFF", "::"};
    std::mt19937 rng(10000);
    for (int i = 0; i < 10000; ++i) {
        std::string input;
        for (size_t n = rng() % 12; n > 0; --n) input += pieces[rng() % std::size(pieces)];
        KQovNamespaceRenamer decoder(1, (i & 1) != 0);
        KQovNamePair pair(input.c_str());
        bool decoded = decoder.Decode(pair);
        std::string current = Str(pair.currentName);
        ASSERT_LE(current.size(), input.size()) << input;
        for (char c : current) ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '_');
        // The decoded name is the input's head, cleaned and with case changed.
        std::string head = input.substr(0, current.size());
        for (char& c : head)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        ASSERT_EQ(Upper(current), Upper(head)) << input;
        if (!decoded) {
            ASSERT_EQ(current, head) << input;
        }
        ASSERT_EQ(pair.initialName.GetLen(), static_cast<int>(input.size())) << input;
    }
}

TEST(KQovNamespaceRenamer, ModesAndRecords) {
    KQovNamespaceRenamer encoder(0, false);
    EXPECT_EQ(encoder.Create(), nullptr);
    EXPECT_EQ(EncodeAll(encoder, {"Bone"}), std::vector<std::string>{"Bone"});
    encoder.SetMode(KQovNamespaceRenamer::eAllClashes);  // same mode keeps the records
    encoder.Reset();                                     // and so does a reset
    EXPECT_EQ(EncodeAll(encoder, {"Bone"}), std::vector<std::string>{"Bone_ncl1_1"});
    encoder.SetMode(KQovNamespaceRenamer::eNoCaseClashes);  // another mode forgets them
    encoder.SetMode(KQovNamespaceRenamer::eAllClashes);
    EXPECT_EQ(EncodeAll(encoder, {"Bone"}), std::vector<std::string>{"Bone"});
}

TEST(KQovNamespaceRenamer, ReplaceNonAlphanumeric) {
    KQovNamespaceRenamer renamer(0, false);
    KString text("a b:c-9\xE9");
    EXPECT_EQ(Str(renamer.ReplaceNonAlphanumeric(text, "#x")), "a#b#c#9#");
    KString kept("a b");
    EXPECT_EQ(Str(renamer.ReplaceNonAlphanumeric(kept, "")), "a b");
    EXPECT_EQ(Str(renamer.ReplaceNonAlphanumeric(kept, nullptr)), "a b");
}

TEST(KQovNumberingRenamer, NumbersRepeatsAndNeverGivesANameTwice) {
    struct Case {
        std::vector<std::string> names;
        std::vector<std::string> renamed;
    };
    const Case cases[] = {
        {{"Bone", "Bone", "Bone", "bone"}, {"Bone", "Bone1", "Bone2", "bone"}},
        {{"Bone", "Bone", "Bone1"}, {"Bone", "Bone1", "Bone11"}},
        {{"Bone1", "Bone", "Bone"}, {"Bone1", "Bone", "Bone2"}},
        {{"", ""}, {"", "1"}},
    };
    for (const Case& c : cases) {
        KQovNumberingRenamer renamer;
        std::set<std::string> given;
        for (size_t i = 0; i < c.names.size(); ++i) {
            KQovNamePair pair(c.names[i].c_str());
            EXPECT_EQ(renamer.Rename(pair), c.renamed[i] != c.names[i]);
            EXPECT_EQ(Str(pair.currentName), c.renamed[i]);
            EXPECT_EQ(Str(pair.initialName), c.names[i]);
            EXPECT_TRUE(given.insert(c.renamed[i]).second);
        }
    }
    KQovNumberingRenamer renamer;
    KQovNamePair pair("Bone");
    renamer.Rename(pair);
    std::unique_ptr<KQovRenamer> fresh = renamer.Create();
    ASSERT_NE(fresh, nullptr);
    pair.SetNames("Bone");
    EXPECT_FALSE(fresh->Rename(pair));  // a new renamer has met nothing
    EXPECT_TRUE(renamer.Rename(pair));
    renamer.Reset();
    pair.SetNames("Bone");
    EXPECT_FALSE(renamer.Rename(pair));
    EXPECT_STREQ(pair.GetCurrentName(), "Bone");
}

TEST(KStripNamePrefix, TextAfterTheFirstSeparator) {
    const char* cases[][2] = {
        {"Model::Arm", "Arm"}, {"Arm", "Arm"}, {"a::b::c", "b::c"}, {"::x", "x"},
        {"x::", ""},           {"a:b", "a:b"}, {"", ""},            {":", ":"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(Str(KStripNamePrefix(c[0])), c[1]);
        EXPECT_EQ(Str(KStripNamePrefix(KString(c[0]))), c[1]);
    }
    // Results are independent values, not one shared buffer.
    KString first = KStripNamePrefix("Model::One");
    KString second = KStripNamePrefix("Model::Two");
    EXPECT_EQ(Str(first), "One");
    EXPECT_EQ(Str(second), "Two");
    EXPECT_EQ(Str(KStripNamePrefix(static_cast<const char*>(nullptr))), "");
}

}  // namespace
