#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "ChannelFileUtil.h"
#include "ChannelTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveStorage.h"
#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"

namespace {

std::unique_ptr<KFCurve> ReadCurve(KQovFieldFile& file) {
    return std::unique_ptr<KFCurve>(KFCurveRetrieveNew(file, false, true));
}

// The curve of a hand-written file; an empty one where nothing could be read.
std::unique_ptr<KFCurve> CurveFromText(const std::string& body) {
    std::unique_ptr<KFCurve> curve;
    ReadText(body, [&](KQovFieldFile& f) { curve = ReadCurve(f); });
    if (!curve) {
        ADD_FAILURE() << "no curve read";
        curve = std::make_unique<KFCurve>();
    }
    return curve;
}

int Units(const KFCurve& curve, int i, int slot) {
    return int(std::lround(curve.KeyGet(i)->GetDataFloat(slot) * 9999.0));
}

void SetKey(KFCurve& curve, int i, uint32_t interpolation, uint32_t mode, float d0, float d1,
            uint32_t weights = KFCURVE_WEIGHTED_NONE, float right = KFCURVE_WEIGHT_DEFAULT,
            float nextLeft = KFCURVE_WEIGHT_DEFAULT) {
    curve.KeySet(i, Seconds(i), float(i) * 1.5f - 2.0f, interpolation, mode, d0, d1, weights, right,
                 nextLeft);
}

// Units handed to KeySet land exactly on the stored value.
float Weight(int units) {
    return float((units + 0.5) / 9999.0);
}

// One key of every kind, weights one stored unit apart.
std::unique_ptr<KFCurve> EveryKeyKind() {
    auto curve = std::make_unique<KFCurve>();
    curve->SetValue(0.75f);
    curve->PrepareKeys(11);
    curve->CommitKeys(11);
    SetKey(*curve, 0, KFCURVE_INTERPOLATION_CONSTANT, 0, 0, 0);
    SetKey(*curve, 1, KFCURVE_INTERPOLATION_CONSTANT, KFCURVE_CONSTANT_NEXT, 0, 0);
    SetKey(*curve, 2, KFCURVE_INTERPOLATION_LINEAR, 0, 0, 0);
    SetKey(*curve, 3, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 1.5f, -2,
           KFCURVE_WEIGHTED_ALL, Weight(3334), Weight(3332));
    SetKey(*curve, 4, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK, 2, 3,
           KFCURVE_WEIGHTED_RIGHT, Weight(1));
    curve->KeySetTCB(5, Seconds(5), 4, 0.1f, 0.2f, 0.3f);
    SetKey(*curve, 6, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0);
    SetKey(*curve, 7, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO_BREAK, 0.5f, 0,
           KFCURVE_WEIGHTED_NEXT_LEFT, KFCURVE_WEIGHT_DEFAULT, Weight(9899));
    // Auto values 0 but the previous key weights this key's left side: must not be written 'a'.
    SetKey(*curve, 8, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0);
    SetKey(*curve, 9, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0.5f);
    SetKey(*curve, 10, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, -0.5f, 0);
    curve->SetPreExtrapolation(KFCURVE_EXTRAPOLATION_REPETITION);
    curve->SetPreExtrapolationCount(3);
    curve->SetPostExtrapolation(KFCURVE_EXTRAPOLATION_KEEP_SLOPE);
    curve->SetPostExtrapolationCount(KFCURVE_REPETITION_UNLIMITED);
    const float color[3] = {0.25f, 0.5f, 0.125f};
    curve->SetColor(color);
    return curve;
}

void ExpectSameCurve(const KFCurve& a, const KFCurve& b) {
    EXPECT_EQ(a.GetValue(), b.GetValue());
    ASSERT_EQ(a.KeyGetCount(), b.KeyGetCount());
    for (int i = 0; i < a.KeyGetCount(); ++i) {
        SCOPED_TRACE("key " + std::to_string(i));
        const KFCurveKey& x = *a.KeyGet(i);
        const KFCurveKey& y = *b.KeyGet(i);
        EXPECT_EQ(x.GetTime(), y.GetTime());
        EXPECT_EQ(x.GetValue(), y.GetValue());
        EXPECT_EQ(x.GetFlags() & ~KFCURVE_MARKED_ALL, y.GetFlags() & ~KFCURVE_MARKED_ALL);
        EXPECT_EQ(a.KeyGetDataSlot(i, 0), b.KeyGetDataSlot(i, 0));
        EXPECT_EQ(a.KeyGetDataSlot(i, 1), b.KeyGetDataSlot(i, 1));
        if (x.GetTangentMode() == KFCURVE_TANGENT_TCB) {
            EXPECT_EQ(a.KeyGetDataSlot(i, KFCURVE_TCB_BIAS), b.KeyGetDataSlot(i, KFCURVE_TCB_BIAS));
            continue;
        }
        if (x.GetFlags() & KFCURVE_WEIGHTED_RIGHT) {
            EXPECT_EQ(Units(a, i, KFCURVE_RIGHT_WEIGHT), Units(b, i, KFCURVE_RIGHT_WEIGHT));
        }
        if (x.GetFlags() & KFCURVE_WEIGHTED_NEXT_LEFT) {
            EXPECT_EQ(Units(a, i, KFCURVE_NEXT_LEFT_WEIGHT), Units(b, i, KFCURVE_NEXT_LEFT_WEIGHT));
        }
    }
    EXPECT_EQ(a.GetPreExtrapolation(), b.GetPreExtrapolation());
    EXPECT_EQ(a.GetPreExtrapolationCount(), b.GetPreExtrapolationCount());
    EXPECT_EQ(a.GetPostExtrapolation(), b.GetPostExtrapolation());
    EXPECT_EQ(a.GetPostExtrapolationCount(), b.GetPostExtrapolationCount());
}

class CurveRoundTrip : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST_P(CurveRoundTrip, EveryKeyKindWeightsExtrapolationAndColour) {
    std::unique_ptr<KFCurve> source = EveryKeyKind();
    ASSERT_EQ(Units(*source, 3, KFCURVE_RIGHT_WEIGHT), 3334);
    ThroughFile(
        GetParam(), [&](KQovFieldFile& f) { KFCurveStore(*source, f, false, true, false); },
        [&](KQovFieldFile& f) {
            std::unique_ptr<KFCurve> copy = ReadCurve(f);
            ASSERT_NE(copy, nullptr);
            ExpectSameCurve(*source, *copy);
            EXPECT_EQ(copy->GetColor()[2], 0.125f);
            EXPECT_EQ(Units(*copy, 7, KFCURVE_NEXT_LEFT_WEIGHT), 9899);
        });
}

TEST_P(CurveRoundTrip, CurveWithoutKeysAndDefaultOnly) {
    KFCurve empty;
    empty.SetValue(-3.5f);
    empty.SetPreExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
    std::unique_ptr<KFCurve> keyed = EveryKeyKind();
    ThroughFile(
        GetParam(),
        [&](KQovFieldFile& f) {
            KFCurveStore(empty, f, false, false, false);
            KFCurveStore(*keyed, f, true, true, false);
        },
        [&](KQovFieldFile& f) {
            EXPECT_FALSE(f.FieldReadBegin("KeyVer"));
            EXPECT_FALSE(f.FieldReadBegin("Color"));
            KFCurve into;
            into.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_REPETITION);
            ASSERT_EQ(KFCurveRetrieveInto(f, &into, false, false), &into);
            EXPECT_EQ(into.GetValue(), -3.5f);
            EXPECT_EQ(into.KeyGetCount(), 0);
            EXPECT_EQ(into.GetPostExtrapolation(), KFCURVE_EXTRAPOLATION_REPETITION);
            std::unique_ptr<KFCurve> second = ReadCurve(f);
            ASSERT_NE(second, nullptr);
            EXPECT_EQ(second->GetValue(), 0.75f);
            EXPECT_EQ(second->KeyGetCount(), 0);
            EXPECT_EQ(ReadCurve(f), nullptr);
        });
}

TEST_P(CurveRoundTrip, RetrieveIntoResetsExtrapolation) {
    std::unique_ptr<KFCurve> source(LinearCurve({1, 2, 3}));
    ThroughFile(
        GetParam(), [&](KQovFieldFile& f) { KFCurveStore(*source, f, false, false, false); },
        [&](KQovFieldFile& f) {
            KFCurve into;
            into.SetPreExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
            into.SetPreExtrapolationCount(5);
            ASSERT_NE(KFCurveRetrieveInto(f, &into, false, false), nullptr);
            EXPECT_EQ(into.GetPreExtrapolation(), KFCURVE_EXTRAPOLATION_CONSTANT);
            EXPECT_EQ(into.GetPreExtrapolationCount(), 0u);
            EXPECT_EQ(into.KeyGetCount(), 3);
        });
}

// Keys read land in slots handed out unset; the slots past them must still be blank, as a
// new buffer's are: a key set there later keeps none of their bits.
static void ExpectBlankPastTheKeys(KFCurve& curve) {
    const int count = curve.KeyGetCount();
    KFCurve fresh;
    curve.ResizeKeyBuffer(count + 40);
    fresh.ResizeKeyBuffer(count + 40);
    for (int i = count; i < count + 40; ++i) {
        SCOPED_TRACE("slot " + std::to_string(i));
        curve.KeySet(i, Seconds(100 + i), 1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER,
                     0.5f, -0.5f);
        fresh.KeySet(i, Seconds(100 + i), 1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER,
                     0.5f, -0.5f);
        const KFCurveKey& a = *curve.KeyGet(i);
        const KFCurveKey& b = *fresh.KeyGet(i);
        EXPECT_EQ(a.GetFlags(), b.GetFlags());
        EXPECT_EQ(a.GetBias(), b.GetBias());
        for (int slot = KFCURVE_RIGHT_WEIGHT; slot <= KFCURVE_NEXT_LEFT_VELOCITY; ++slot)
            EXPECT_EQ(a.GetDataFloat(slot), b.GetDataFloat(slot)) << slot;
    }
}

// A curve grown key by key (many allocations) against the same keys read back (one).
TEST_P(CurveRoundTrip, LongCurveReadAndWrittenAcrossBlocks) {
    KFCurve source;
    for (int i = 0; i < 101; ++i) {
        KFCurveKey key;
        const float value = float(i % 7) - 3.0f;
        switch (i % 4) {
            case 0:
                key.Set(Seconds(i), value, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0,
                        KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT, 0,
                        0);
                break;
            case 1:
                key.Set(Seconds(i), value, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO_BREAK,
                        0.25f, -1, KFCURVE_WEIGHTED_ALL, Weight(2000), Weight(5000), 0, 0);
                break;
            case 2:
                key.Set(Seconds(i), value, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 2, -2,
                        KFCURVE_WEIGHTED_RIGHT, Weight(4000), KFCURVE_WEIGHT_DEFAULT, 0, 0);
                break;
            default:
                key.Set(Seconds(i), value, KFCURVE_INTERPOLATION_LINEAR, 0, 0, 0,
                        KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT, 0,
                        0);
                break;
        }
        source.KeyAdd(Seconds(i), key);
    }
    ASSERT_EQ(source.KeyGetCount(), 101);
    const FieldFileStep store = [&](KQovFieldFile& f) {
        KFCurveStore(source, f, false, true, false);
    };
    ThroughFile(GetParam(), store, [&](KQovFieldFile& f) {
        std::unique_ptr<KFCurve> copy = ReadCurve(f);
        ASSERT_NE(copy, nullptr);
        ExpectSameCurve(source, *copy);
        // Written from one run or from many, the bytes are the same.
        auto fields = [](const std::string& text) { return text.substr(text.find("\nDefault:")); };
        EXPECT_EQ(fields(WrittenText(store)), fields(WrittenText([&](KQovFieldFile& g) {
                      KFCurveStore(*copy, g, false, true, false);
                  })));
        ExpectBlankPastTheKeys(*copy);
    });
}

INSTANTIATE_TEST_SUITE_P(AsciiAndBinary, CurveRoundTrip, ::testing::Values(false, true));

TEST(KFCurveStorage, AutoKeyWithZeroValuesIsWrittenShort) {
    KFCurve curve;
    curve.PrepareKeys(2);
    curve.CommitKeys(2);
    SetKey(curve, 0, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0);
    SetKey(curve, 1, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0);
    std::string text =
        WrittenText([&](KQovFieldFile& out) { KFCurveStore(curve, out, false, false, false); });
    EXPECT_NE(text.find(",U,a,"), std::string::npos) << text;
    EXPECT_EQ(text.find("Pre-Extrapolation"), std::string::npos);
}

TEST(KFCurveStorage, UnknownInterpolationIsWrittenAsAStep) {
    KFCurve curve;
    curve.PrepareKeys(2);
    curve.CommitKeys(2);
    SetKey(curve, 0, KFCURVE_INTERPOLATION_LINEAR, 0, 0, 0);
    SetKey(curve, 1, KFCURVE_INTERPOLATION_LINEAR, 0, 0, 0);
    curve.KeyGet(1)->SetFlags(0);  // no interpolation at all
    ThroughFile(
        true, [&](KQovFieldFile& f) { KFCurveStore(curve, f, false, false, false); },
        [&](KQovFieldFile& f) {
            std::unique_ptr<KFCurve> copy = ReadCurve(f);
            ASSERT_EQ(copy->KeyGetCount(), 2);
            EXPECT_EQ(copy->KeyGetInterpolation(1), uint32_t(KFCURVE_INTERPOLATION_CONSTANT));
            EXPECT_EQ(copy->KeyGetValue(1), curve.KeyGetValue(1));
        });
}

TEST(KFCurveStorage, OlderLayoutWritesDerivatives) {
    KFCurve curve;
    curve.PrepareKeys(3);
    curve.CommitKeys(3);
    SetKey(curve, 0, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0, 0);
    SetKey(curve, 1, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 1, 1);
    SetKey(curve, 2, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0.5f, 0);
    std::string text =
        WrittenText([&](KQovFieldFile& out) { KFCurveStore(curve, out, false, false, true); });
    // Key 0 is followed by a user key: 'd' and that key's left derivative.
    EXPECT_NE(text.find(",U,d,"), std::string::npos) << text;
    // Key 2 has a non-zero auto value: 's' with derivatives.
    EXPECT_NE(text.find(",U,s,"), std::string::npos) << text;
}

TEST(KFCurveStorageOlderLayouts, Version4002) {
    std::unique_ptr<KFCurve> c = CurveFromText(
        "Default: 0\nKeyVer: 4002\nKeyCount: 3\n"
        "Key: 0,1,C,46186158000,2,L,92372316000,3,U,a\n");
    ASSERT_EQ(c->KeyGetCount(), 3);
    EXPECT_EQ(c->KeyGetInterpolation(0), uint32_t(KFCURVE_INTERPOLATION_CONSTANT));
    EXPECT_EQ(c->KeyGet(0)->GetFlags() & KFCURVE_CONSTANT_NEXT, 0u);
    EXPECT_EQ(c->KeyGetInterpolation(1), uint32_t(KFCURVE_INTERPOLATION_LINEAR));
    EXPECT_EQ(c->KeyGetTangentMode(2), uint32_t(KFCURVE_TANGENT_AUTO));
    EXPECT_EQ(c->KeyGetDataSlot(2, 0), -100.0f);  // auto after a linear key, below 4004
    EXPECT_EQ(c->KeyGetTime(2), Seconds(2));
}

TEST(KFCurveStorageOlderLayouts, Version4000) {
    std::unique_ptr<KFCurve> c = CurveFromText(
        "Default: 0\nKeyVer: 4000\nKeyCount: 2\n"
        "Key: 0,1,U,a,5,46186158000,2,U,s,1,2\n");
    ASSERT_EQ(c->KeyGetCount(), 2);
    EXPECT_EQ(c->KeyGetTangentMode(0), uint32_t(KFCURVE_TANGENT_AUTO));
    EXPECT_EQ(c->KeyGetDataSlot(0, 1), 5.0f);
    EXPECT_EQ(c->KeyGetTangentMode(1), uint32_t(KFCURVE_TANGENT_USER));
    EXPECT_EQ(c->KeyGetDataSlot(1, 0), 1.0f);
    EXPECT_EQ(c->KeyGetDataSlot(1, 1), 2.0f);
}

TEST(KFCurveStorageOlderLayouts, OldestBezierAndTcbLetters) {
    // 'B' keys hold Bezier control values: converted to derivatives over the 1 s segments.
    std::unique_ptr<KFCurve> c = CurveFromText(
        "Default: 0\nKeyCount: 3\n"
        "Key: 0,0,B,B,0,1.5,46186158000,3,B,B,2.5,4,92372316000,6,H,a\n");
    ASSERT_EQ(c->KeyGetCount(), 3);
    EXPECT_EQ(c->KeyGetTangentMode(0), uint32_t(KFCURVE_TANGENT_BREAK));
    EXPECT_FLOAT_EQ(c->KeyGetDataSlot(0, 0), 4.5f);
    EXPECT_FLOAT_EQ(c->KeyGetDataSlot(0, 1), 1.5f);
    EXPECT_EQ(c->KeyGetTangentMode(1), uint32_t(KFCURVE_TANGENT_BREAK));
    EXPECT_FLOAT_EQ(c->KeyGetDataSlot(1, 0), 3.0f);
    EXPECT_FLOAT_EQ(c->KeyGetDataSlot(1, 1), 0.0f);
    EXPECT_EQ(c->KeyGetTangentMode(2), uint32_t(KFCURVE_TANGENT_USER));
    c = CurveFromText("Default: 0\nKeyCount: 2\nKey: 0,0,T,0.5,0,0,46186158000,1,L\n");
    ASSERT_EQ(c->KeyGetCount(), 2);
    EXPECT_EQ(c->KeyGetTangentMode(0), uint32_t(KFCURVE_TANGENT_TCB));
    EXPECT_EQ(c->KeyGetTangentMode(1), uint32_t(KFCURVE_TANGENT_TCB));
    EXPECT_EQ(c->KeyGetDataSlot(1, 0), 0.5f);
    // Two 'B' keys at the same time: no division by a zero span, the second key is dropped.
    c = CurveFromText("Default: 0\nKeyCount: 2\nKey: 0,0,B,B,0,1.5,0,3,B,B,2.5,4\n");
    ASSERT_EQ(c->KeyGetCount(), 1);
    EXPECT_TRUE(std::isfinite(c->KeyGetDataSlot(0, 0)));
}

TEST(KFCurveStorageMalformed, KeyCountsAreCappedByTheValues) {
    const struct {
        const char* keys;
        int count;
    } cases[] = {
        {"KeyCount: 2147483647\nKey: 0,1,L,46186158000,2,L,92372316000,3,L\n", 3},
        {"KeyCount: -4\nKey: 0,1,L\n", 0},
        {"KeyCount: 5\nKey: 0,1,L,46186158000,2\n", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CurveFromText(std::string("Default: 0\nKeyVer: 4004\n") + c.keys)->KeyGetCount(),
                  c.count)
            << c.keys;
}

TEST(KFCurveStorageMalformed, SlotsOfDroppedAndMissingKeysAreBlank) {
    const struct {
        const char* keys;
        int count;
    } cases[] = {
        {"KeyCount: 5\nKey: 0,1,L,46186158000,2\n", 1},                          // cut short
        {"KeyCount: 3\nKey: 0,1,U,p,0.5,0.5,a,0.2,0.3,46186158000,2,U,!\n", 1},  // bad letter
        {"KeyCount: 33\nKey: 0,1,U,p,1,-1,n,46186158000,2,U,a\n", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        std::unique_ptr<KFCurve> curve =
            CurveFromText(std::string("Default: 0\nKeyVer: 4004\n") + c.keys);
        EXPECT_EQ(curve->KeyGetCount(), c.count);
        ExpectBlankPastTheKeys(*curve);
    }
}

TEST(KFCurveStorageMalformed, OrderAndUnknownLetters) {
    // Times 0, 5, 3, 4 s: 3 and 4 come after the accepted 5 and are dropped.
    std::unique_ptr<KFCurve> c = CurveFromText(
        "Default: 0\nKeyVer: 4004\nKeyCount: 4\n"
        "Key: 0,1,L,230930790000,2,L,138558474000,3,L,184744632000,4,L\n");
    ASSERT_EQ(c->KeyGetCount(), 2);
    EXPECT_EQ(c->KeyGetTime(1), Seconds(5));
    c = CurveFromText(
        "Default: 0\nKeyVer: 4004\nKeyCount: 3\n"
        "Key: 0,1,L,46186158000,2,X,92372316000,3,U,?\n");
    ASSERT_EQ(c->KeyGetCount(), 1);
    EXPECT_EQ(c->KeyGetValue(0), 1);
    c = CurveFromText("Default: 0\nKeyVer: 4004\nKeyCount: 1\nKey: 0,1,!\n");
    EXPECT_EQ(c->KeyGetCount(), 0);
    EXPECT_EQ(c->GetValue(), 1);  // the last key removed leaves its value
}

TEST(KFCurveStorageMalformed, ColourIsReadWheneverPresent) {
    ReadText("Default: 2\nColor: 0.5,0.25,1\n", [](KQovFieldFile& f) {
        ASSERT_TRUE(f.FieldReadBegin("Default"));
        KFCurve curve;
        KFCurveRetrieve(curve, f, false, false);
        EXPECT_EQ(curve.GetValue(), 2);
        EXPECT_EQ(curve.GetColor()[1], 0.25f);
    });
}

TEST(KFCurveStorageMalformed, TypedValuesOfTheWrongKindDropTheirKey) {
    using qovtest::Rec;
    auto time = [](int64_t ticks) { return "L" + std::string(reinterpret_cast<char*>(&ticks), 8); };
    auto letter = [](char c) { return std::string("C") + c; };
    Rec key("Key");
    key.Raw(time(0)).D(1).Raw(letter('L'));
    key.Raw(time(KTime::kOneSecond)).S("x").Raw(letter('L'));  // a text where the value goes
    key.Raw(time(2 * KTime::kOneSecond)).D(3).Raw(letter('L'));
    key.count = 9;
    std::string bytes = qovtest::BinaryStart(6000);
    qovtest::Encode(bytes, Rec("Default").D(0));
    qovtest::Encode(bytes, Rec("KeyVer").I(4004));
    qovtest::Encode(bytes, Rec("KeyCount").I(3));
    qovtest::Encode(bytes, key);
    bytes += qovtest::NullRecord();
    qovtest::TempFolder tmp;
    std::string name = tmp / "typed.qov";
    qovtest::WriteAll(name, bytes);
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    ASSERT_TRUE(in.HasTypedValues());
    std::unique_ptr<KFCurve> c = ReadCurve(in);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->KeyGetCount(), 2);  // the reader finds the next time and goes on
    EXPECT_EQ(c->KeyGetValue(1), 3);
    EXPECT_EQ(c->KeyGetTime(1), Seconds(2));
}

// Binary keys of the common shapes are taken by a shortcut, ASCII ones never: both must make
// the same keys, with the shapes next to keys the shortcut leaves to the general path.
TEST(KFCurveStorage, BinaryKeysReadAsTheirTextIs) {
    using qovtest::Rec;
    const std::string tokens[] = {
        "T0", "1", "U", "q", "0.5",  "-1",   "l", "0.7",  // weights the next key's left side
        "T1", "2", "U", "a",                              // ... which an 'a' key clears
        "T2", "3", "C", "n", "T3",   "4",    "L", "T4",  "5", "C", "s",
        "T5", "6", "U", "p", "0.25", "0.25", "n", "T6",  "7", "U", "a",
    };
    std::string text = "Default: 0\nKeyVer: 4004\nKeyCount: 7\nKey: ";
    Rec key("Key");
    for (const std::string& t : tokens) {
        if (&t != tokens) text += ",";
        if (t[0] == 'T') {
            const int64_t ticks = int64_t(t[1] - '0') * KTime::kOneSecond;
            text += std::to_string(ticks);
            key.Raw("L" + std::string(reinterpret_cast<const char*>(&ticks), 8));
        } else if (std::isalpha(static_cast<unsigned char>(t[0]))) {
            text += t;
            key.Raw("C" + t);
        } else {
            text += t;
            key.D(std::stod(t));
        }
    }
    key.count = int(std::size(tokens));
    std::unique_ptr<KFCurve> fromText = CurveFromText(text + "\n");
    std::string bytes = qovtest::BinaryStart(6000);
    qovtest::Encode(bytes, Rec("Default").D(0));
    qovtest::Encode(bytes, Rec("KeyVer").I(4004));
    qovtest::Encode(bytes, Rec("KeyCount").I(7));
    qovtest::Encode(bytes, key);
    bytes += qovtest::NullRecord();
    qovtest::TempFolder tmp;
    const std::string name = tmp / "plain.qov";
    qovtest::WriteAll(name, bytes);
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    std::unique_ptr<KFCurve> fromBinary = ReadCurve(in);
    ASSERT_NE(fromBinary, nullptr);
    ASSERT_EQ(fromText->KeyGetCount(), 7);
    ExpectSameCurve(*fromText, *fromBinary);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        for (int slot = KFCURVE_RIGHT_WEIGHT; slot <= KFCURVE_NEXT_LEFT_VELOCITY; ++slot)
            EXPECT_EQ(Units(*fromText, i, slot), Units(*fromBinary, i, slot)) << slot;
    }
    EXPECT_FALSE(fromBinary->KeyGet(0)->GetFlags() & KFCURVE_WEIGHTED_NEXT_LEFT);
    EXPECT_EQ(fromBinary->KeyGet(2)->GetFlags() & KFCURVE_CONSTANT_NEXT,
              uint32_t(KFCURVE_CONSTANT_NEXT));
}

TEST(KFCurveStorageMalformed, DroppedKeysLeaveTheRightSideOfTheNextKey) {
    // The key at 0 s repeats the first time and goes; the user key after it keeps its own
    // right derivative 5, whatever slope its left side gets from its new neighbour.
    std::unique_ptr<KFCurve> c = CurveFromText(
        "Default: 0\nKeyVer: 4004\nKeyCount: 4\n"
        "Key: 0,1,L,0,7,L,92372316000,3,U,s,5,-1,n,138558474000,4,L\n");
    ASSERT_EQ(c->KeyGetCount(), 3);
    EXPECT_EQ(c->KeyGetTangentMode(1), uint32_t(KFCURVE_TANGENT_USER));
    EXPECT_EQ(c->KeyGetDataSlot(1, 0), 5.0f);
    EXPECT_EQ(c->KeyGetRightDerivative(1), 5.0f);
}
