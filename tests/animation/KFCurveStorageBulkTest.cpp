// Keys of the common kinds move between a binary file and a curve in bulk; every other key
// takes the general path. Both must make what the general path alone makes (an ASCII file
// never takes the bulk paths), wherever the kinds change.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ChannelFileUtil.h"
#include "ChannelTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveKeysAhead.h"
#include "animation/KFCurveStorage.h"
#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"

namespace {

using qovtest::Rec;

template <class T>
std::string Bytes(T value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string Ticks(int64_t ticks) {
    return "L" + Bytes(ticks);
}

// The tokens after a key's time and value, by kind.
const char* KindTokens(const std::string& kind) {
    if (kind == "L") return "L";
    if (kind == "Cs") return "C s";
    if (kind == "Cn") return "C n";
    if (kind == "Ua") return "U a";
    if (kind == "Uql") return "U q 0.5 -1 l 0.7";  // weights the next key's left side
    if (kind == "Upn") return "U p 0.25 0.25 n";
    if (kind == "Usa") return "U s 1 2 a 0.3 0.625";
    if (kind == "Ut") return "U t 0.125 0.25 0.5";
    ADD_FAILURE() << "unknown kind " << kind;
    return "L";
}

// The same keys as an ASCII file's text and as a binary file's record.
struct Keys {
    std::string text;
    Rec record{"Key"};
    int count = 0;

    void Add(int64_t ticks, double value, const std::string& kind) {
        std::ostringstream numbers;
        numbers.precision(17);
        numbers << ticks << ',' << value;
        text += (count ? "," : "") + numbers.str();
        record.Raw(Ticks(ticks)).D(value);
        ++record.count;
        std::istringstream tokens(KindTokens(kind));
        for (std::string t; tokens >> t;) {
            text += "," + t;
            if (std::isalpha(static_cast<unsigned char>(t[0]))) {
                record.Raw("C" + t);
                ++record.count;
            } else {
                record.D(std::stod(t));
            }
        }
        ++count;
    }
    // `cycle` of kinds, `repeats` times, at times a tenth of a second apart.
    void AddCycle(const std::string& cycle, int repeats) {
        for (int r = 0; r < repeats; ++r) {
            std::istringstream kinds(cycle);
            for (std::string kind; kinds >> kind;)
                Add(int64_t(count) * (KTime::kOneSecond / 10), count * 0.5 - 3.0, kind);
        }
    }
};

std::unique_ptr<KFCurve> FromText(const Keys& keys, int keyCount) {
    std::unique_ptr<KFCurve> curve;
    ReadText("Default: 0\nKeyVer: 4004\nKeyCount: " + std::to_string(keyCount) +
                 "\nKey: " + keys.text + "\n",
             [&](KQovFieldFile& f) { curve.reset(KFCurveRetrieveNew(f, false, true)); });
    return curve;
}

// A binary file of a curve's fields: the default, key version and count, the keys, a colour.
std::string BinaryKeysFile(const qovtest::TempFolder& tmp, const Rec& keys, int keyCount) {
    std::string bytes = qovtest::BinaryStart(6000);
    qovtest::Encode(bytes, Rec("Default").D(0));
    qovtest::Encode(bytes, Rec("KeyVer").I(4004));
    qovtest::Encode(bytes, Rec("KeyCount").I(keyCount));
    qovtest::Encode(bytes, keys);
    qovtest::Encode(bytes, Rec("Color").D(0.25).D(0.5).D(1));
    bytes += qovtest::NullRecord();
    const std::string name = tmp / "keys.qov";
    qovtest::WriteAll(name, bytes);
    return name;
}

// Every list of the file's tree decoded ahead by a thread of its own, from its first key on;
// the read waits for the thread on each. `cut` is called before the thread starts.
void DecodeAhead(KQovFieldFile& in, const std::function<void()>& cut = nullptr) {
    const int old = KFCurveKeysAhead::SetFrom(1);
    auto ahead = std::make_unique<KFCurveKeysAhead>();
    ahead->Add(in, in.GetTree()->GetRoot());
    KFCurveKeysAhead::SetFrom(old);
    if (cut) cut();
    ahead->Start();
    in.SetReadAhead(std::move(ahead));
}

// Lists curves took from the thread since the last call.
long TakenAhead() {
    static long last = 0;
    const long taken = KFCurveKeysAhead::GetTakenTotal() - last;
    last += taken;
    return taken;
}

struct WaitForThread {
    bool old = KFCurveKeysAhead::SetWaitForThread(true);
    ~WaitForThread() { KFCurveKeysAhead::SetWaitForThread(old); }
};

std::unique_ptr<KFCurve> FromBinary(const Keys& keys, int keyCount, bool ahead = false,
                                    int* taken = nullptr) {
    qovtest::TempFolder tmp;
    const std::string name = BinaryKeysFile(tmp, keys.record, keyCount);
    KQovFieldFile in;
    EXPECT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    WaitForThread wait;
    TakenAhead();
    if (ahead) DecodeAhead(in);
    std::unique_ptr<KFCurve> curve(KFCurveRetrieveNew(in, false, true));
    if (taken) *taken = int(TakenAhead());
    // The field after the keys is found where it is.
    if (curve) {
        EXPECT_EQ(curve->GetColor()[1], 0.5f);
    }
    return curve;
}

// Every getter of every key, weights and velocities in stored units.
void ExpectSameKeys(const KFCurve& a, const KFCurve& b) {
    ASSERT_EQ(a.KeyGetCount(), b.KeyGetCount());
    for (int i = 0; i < a.KeyGetCount(); ++i) {
        SCOPED_TRACE("key " + std::to_string(i));
        const KFCurveKey& x = *a.KeyGet(i);
        const KFCurveKey& y = *b.KeyGet(i);
        ASSERT_EQ(x.GetTime(), y.GetTime());
        EXPECT_EQ(x.GetValue(), y.GetValue());
        EXPECT_EQ(x.GetFlags(), y.GetFlags());
        EXPECT_EQ(x.GetBias(), y.GetBias());
        for (int slot = KFCURVE_DATA_0; slot <= KFCURVE_NEXT_LEFT_VELOCITY; ++slot)
            EXPECT_EQ(x.GetDataFloat(slot), y.GetDataFloat(slot)) << "slot " << slot;
    }
}

}  // namespace

TEST(KFCurveStorageBulk, BinaryKeysOfMixedKindsReadAsTheirText) {
    const struct {
        const char* name;
        const char* cycle;
        int repeats;
        const char* tail;  // kinds after the cycles
        int extraCount;    // keys counted beyond those present
    } cases[] = {
        {"plain kinds only", "L Cs Cn Ua", 300, "", 0},
        {"a weighted key before each auto key", "Uql Ua L Ua", 100, "Ua", 0},
        {"a general key every seventh", "L L Ua Cs Ua Upn Ua", 80, "L", 0},
        {"long runs of each path", "Usa", 100, "Ua Ua Ua Ut Ut L Cn", 0},
        {"general keys across buffer refills", "Ut Usa Upn Uql", 90, "Ua L", 0},
        {"keys counted but missing", "Ua L", 50, "Cs", 5},
        {"a single key", "", 0, "L", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Keys keys;
        keys.AddCycle(c.cycle, c.repeats);
        keys.AddCycle(c.tail, 1);
        std::unique_ptr<KFCurve> text = FromText(keys, keys.count + c.extraCount);
        ASSERT_NE(text, nullptr);
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(ahead ? "decoded ahead" : "decoded as read");
            int taken = 0;
            std::unique_ptr<KFCurve> binary =
                FromBinary(keys, keys.count + c.extraCount, ahead, &taken);
            ASSERT_NE(binary, nullptr);
            EXPECT_EQ(binary->KeyGetCount(), keys.count);
            ExpectSameKeys(*text, *binary);
            // Lists of plain keys alone, each counted, are taken from the thread.
            const bool plain = std::string(c.name) == "plain kinds only" ||
                               std::string(c.name) == "a single key";
            EXPECT_EQ(taken, ahead && plain ? 1 : 0);
        }
    }
}

// Keys the bulk read must leave to the general path, and what that makes of them. Values:
// "T<s>" ticks of s seconds ("Tmin" the smallest), "D" a double, "F" a float, "V" a long
// holding the value, "C<x>" the letter x.
TEST(KFCurveStorageBulk, BinaryKeysOutsideThePlainShapes) {
    const struct {
        const char* name;
        const char* values;
        int keyCount;
        int expected;
    } cases[] = {
        // A time back in the list: dropped, the keys around it kept.
        {"time going back", "T0 D CL T2 D CL T1 D CL T3 D CL", 4, 3},
        // A bad key's time is not kept: the plain key after it only follows the key before.
        {"bad key between", "T0 D CL T5 D C! T1 D CL", 3, 2},
        {"smallest time", "T0 D CL Tmin D CL T1 D CL", 3, 2},
        // A constant key whose mode letter is missing: a step, the next key read whole.
        {"constant without its mode", "T0 D CC T1 D CL", 2, 2},
        // A value stored as a float is converted; one stored as a long drops its key only.
        {"value as a float", "T0 F CL T1 D CL", 2, 2},
        {"value as a long", "T0 V CL T1 D CL", 2, 1},
        {"value as a long in the middle", "T0 D CL T1 V CL T2 D CL T3 D CL", 4, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Keys keys;
        std::istringstream tokens(c.values);
        for (std::string t; tokens >> t; ++keys.record.count) {
            const float value = float(keys.record.count) * 0.5f;
            if (t == "Tmin")
                keys.record.Raw(Ticks(std::numeric_limits<int64_t>::min()));
            else if (t[0] == 'T')
                keys.record.Raw(Ticks(std::stoll(t.substr(1)) * KTime::kOneSecond));
            else if (t == "D")
                keys.record.Raw("D" + Bytes(double(value)));
            else if (t == "F")
                keys.record.Raw("F" + Bytes(value));
            else if (t == "V")
                keys.record.Raw(Ticks(3));
            else
                keys.record.Raw(t);
        }
        std::unique_ptr<KFCurve> curve = FromBinary(keys, c.keyCount);
        ASSERT_NE(curve, nullptr);
        // The thread leaves these lists to the read.
        int taken = -1;
        std::unique_ptr<KFCurve> ahead = FromBinary(keys, c.keyCount, true, &taken);
        ASSERT_NE(ahead, nullptr);
        EXPECT_EQ(taken, 0);
        ExpectSameKeys(*curve, *ahead);
        ASSERT_EQ(curve->KeyGetCount(), c.expected);
        for (int i = 1; i < curve->KeyGetCount(); ++i)
            EXPECT_LT(curve->KeyGetTime(i - 1), curve->KeyGetTime(i)) << i;
        if (std::string(c.name) == "constant without its mode") {
            EXPECT_EQ(curve->KeyGetInterpolation(0), uint32_t(KFCURVE_INTERPOLATION_CONSTANT));
            EXPECT_EQ(curve->KeyGet(0)->GetFlags() & KFCURVE_CONSTANT_NEXT, 0u);
            EXPECT_EQ(curve->KeyGetInterpolation(1), uint32_t(KFCURVE_INTERPOLATION_LINEAR));
        }
        if (std::string(c.name) == "value as a float") {
            EXPECT_EQ(curve->KeyGetValue(0), 0.5f);
        }
    }
}

namespace {

void SetKey(KFCurve& curve, int i, uint32_t interpolation, uint32_t mode, float d0, float d1,
            uint32_t weights = KFCURVE_WEIGHTED_NONE, float nextLeft = KFCURVE_WEIGHT_DEFAULT) {
    curve.KeySet(i, Seconds(i * 0.25), float(i) - 2.5f, interpolation, mode, d0, d1, weights,
                 KFCURVE_WEIGHT_DEFAULT, nextLeft);
}

// Values of the Key field, each as text, from any file.
std::vector<std::string> KeyValues(KQovFieldFile& file) {
    std::vector<std::string> out;
    EXPECT_TRUE(file.FieldReadBegin("Default"));
    file.FieldReadEnd();
    if (!file.FieldReadBegin("Key")) return out;
    while (file.FieldReadGetRemain() > 0) {
        const char type = file.FieldReadGetType();
        std::ostringstream value;
        value.precision(17);
        if (type == 'C')
            value << file.FieldReadCh();
        else if (type == 'L' || type == 'I')
            value << file.FieldReadLL();
        else
            value << file.FieldReadD();
        out.push_back(value.str());
    }
    file.FieldReadEnd();
    return out;
}

}  // namespace

// The binary writer's bulk path against the general one the ASCII writer takes, value by
// value, for keys at the edges of the plain kinds.
TEST(KFCurveStorageBulk, BinaryKeysWrittenAsTheGeneralPathWritesThem) {
    KFCurve curve;
    curve.PrepareKeys(12);
    curve.CommitKeys(12);
    SetKey(curve, 0, KFCURVE_INTERPOLATION_LINEAR, 0, 0, 0);
    SetKey(curve, 1, KFCURVE_INTERPOLATION_CONSTANT, 0, 0, 0);
    SetKey(curve, 2, KFCURVE_INTERPOLATION_CONSTANT, KFCURVE_CONSTANT_NEXT, 0, 0);
    SetKey(curve, 3, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0);
    SetKey(curve, 4, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, -0.0f, 0);
    SetKey(curve, 5, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0.5f);
    SetKey(curve, 6, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO_BREAK, 0, 0);
    SetKey(curve, 7, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 1, 2,
           KFCURVE_WEIGHTED_NEXT_LEFT, 0.5f);
    // Auto values 0, but the key before weights its left side: not the short form.
    SetKey(curve, 8, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0);
    SetKey(curve, 9, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0,
           KFCURVE_WEIGHTED_RIGHT);
    curve.KeySetTCB(10, Seconds(2.5), 1, 0.25f, 0.5f, 0.125f);
    SetKey(curve, 11, KFCURVE_INTERPOLATION_LINEAR, 0, 0, 0);
    curve.KeyGet(11)->SetFlags(0);  // no interpolation: written as a step
    for (bool olderLayout : {false, true}) {
        SCOPED_TRACE(olderLayout ? "older layout" : "current layout");
        std::vector<std::string> binary, text;
        ThroughFile(
            true, [&](KQovFieldFile& f) { KFCurveStore(curve, f, false, false, olderLayout); },
            [&](KQovFieldFile& f) { binary = KeyValues(f); });
        ThroughFile(
            false, [&](KQovFieldFile& f) { KFCurveStore(curve, f, false, false, olderLayout); },
            [&](KQovFieldFile& f) { text = KeyValues(f); });
        ASSERT_FALSE(binary.empty());
        EXPECT_EQ(binary, text);
    }
}

// Plain keys in bulk, byte for byte as encoded by hand, across the writer's buffer.
TEST(KFCurveStorageBulk, PlainKeysWrittenByteForByte) {
    const int count = 3001;
    KFCurve curve;
    curve.PrepareKeys(count);
    curve.CommitKeys(count);
    Rec expected("Key");
    const char* letters[] = {"CL", "CCCs", "CCCn", "CUCa"};
    for (int i = 0; i < count; ++i) {
        const uint32_t interpolation = i % 4 == 0   ? KFCURVE_INTERPOLATION_LINEAR
                                       : i % 4 == 3 ? KFCURVE_INTERPOLATION_CUBIC
                                                    : KFCURVE_INTERPOLATION_CONSTANT;
        const uint32_t mode = i % 4 == 2   ? uint32_t(KFCURVE_CONSTANT_NEXT)
                              : i % 4 == 3 ? uint32_t(KFCURVE_TANGENT_AUTO)
                                           : 0u;
        SetKey(curve, i, interpolation, mode, 0, 0);
        expected.Raw(Ticks(Seconds(i * 0.25).Get())).D(double(float(i) - 2.5f));
        expected.Raw(letters[i % 4]);
        expected.count += 1 + (i % 4 == 0 ? 1 : 2);  // the time and the letters
    }
    qovtest::TempFolder tmp;
    const std::string name = tmp / "plain.qov";
    {
        KQovFieldFile out;
        ASSERT_TRUE(out.Create(name.c_str(), true, false, nullptr));
        KFCurveStore(curve, out, false, false, false);
        ASSERT_TRUE(out.FieldFileClose());
    }
    // The values as encoded by hand, and just as many as the field counts.
    const std::string bytes = qovtest::ReadAll(name);
    const size_t at = bytes.find(expected.values);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(bytes.compare(at - 3, 3, "Key"), 0);
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    ASSERT_TRUE(in.FieldReadBegin("Key"));
    EXPECT_EQ(in.FieldReadGetRemain(), int(expected.count));
}

// Long key lists are checked as their keys are taken: a good one reads as its text does, a bad
// one makes the file corrupted (keys up to the bad one at most), and one whose keys end before
// its bytes do is found by its length.
TEST(KFCurveStorageBulk, LongKeyListsCheckedAsRead) {
    const struct {
        const char* what;
        int badAt;      // a key whose mode letter is made no type, -1 for none
        int lessCount;  // values the record claims fewer than it holds
        const char* error;
    } kCases[] = {
        {"good", -1, 0, ""},
        {"an unknown letter", 2500, 0, "Bad value"},
        // The last key (an auto key, four values) left out of both counts.
        {"a key left over", -1, 4, "bytes of values, not"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Keys keys;
        keys.AddCycle("L Cs Cn Ua", 1000);  // about 84 KB
        if (c.badAt >= 0) {
            // Every key of the cycle starts with its ticks: find the one asked for.
            const std::string ticks = Ticks(int64_t(c.badAt) * (KTime::kOneSecond / 10));
            const size_t at = keys.record.values.find(ticks);
            ASSERT_NE(at, std::string::npos);
            keys.record.values[at + 18] = 'Q';
        }
        keys.record.count -= uint32_t(c.lessCount);
        qovtest::TempFolder tmp;
        const std::string name =
            BinaryKeysFile(tmp, keys.record, keys.count - (c.lessCount ? 1 : 0));
        for (bool ahead : {false, true}) {
            SCOPED_TRACE(ahead ? "decoded ahead" : "decoded as read");
            KQovFieldFile in;
            ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
            WaitForThread wait;
            TakenAhead();
            if (ahead) DecodeAhead(in);
            std::unique_ptr<KFCurve> curve(KFCurveRetrieveNew(in, false, true));
            ASSERT_NE(curve, nullptr);
            // A list whose keys end before its bytes is checked by its length all the same.
            EXPECT_EQ(TakenAhead(), ahead && c.badAt < 0 ? 1 : 0);
            if (!*c.error) {
                EXPECT_EQ(in.GetLastErrorID(), -1) << in.GetLastErrorString();
                std::unique_ptr<KFCurve> text = FromText(keys, keys.count);
                ExpectSameKeys(*text, *curve);
                continue;
            }
            EXPECT_EQ(in.GetLastErrorID(), KQovFieldFile::eFileCorrupted);
            EXPECT_NE(std::string(in.GetLastErrorString()).find(c.error), std::string::npos)
                << in.GetLastErrorString();
            if (c.badAt >= 0) {
                EXPECT_LE(curve->KeyGetCount(), c.badAt);
            }
        }
    }
}

// A mapped file cut short before the thread reads its keys: the thread leaves the list to the
// read, which reports the cut as it does alone.
TEST(KFCurveStorageBulk, KeysAheadOfAFileCutShort) {
    Keys keys;
    keys.AddCycle("L Cs Cn Ua", 20000);  // about 1.7 MB: mapped
    for (bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "decoded ahead" : "decoded as read");
        qovtest::TempFolder tmp;
        const std::string name = BinaryKeysFile(tmp, keys.record, keys.count);
        const off_t size = off_t(qovtest::ReadAll(name).size());
        KQovFieldFile in;
        ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
        ASSERT_TRUE(in.GetTree()->IsMapped());
        auto cut = [&] { ASSERT_EQ(truncate(name.c_str(), size / 2), 0); };
        WaitForThread wait;
        TakenAhead();
        if (ahead)
            DecodeAhead(in, cut);
        else
            cut();
        std::unique_ptr<KFCurve> curve(KFCurveRetrieveNew(in, false, true));
        EXPECT_EQ(TakenAhead(), 0);
        EXPECT_EQ(in.GetLastErrorID(), KQovFieldFile::eReadError);
        EXPECT_NE(std::string(in.GetLastErrorString()).find("cut short"), std::string::npos);
        if (curve) {
            EXPECT_LT(curve->KeyGetCount(), keys.count);
        }
    }
}
