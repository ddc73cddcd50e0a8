#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/KStreamOptionsBase.h"
#include "io/KStreamOptionsMotion.h"

namespace {

struct OptionRow {
    int index;
    const char* name;
    int value;
};

struct OptionSet {
    const char* className;
    KStreamOptionsBase* (*create)();
    std::vector<OptionRow> rows;
};

std::vector<OptionSet> OptionSets() {
    return {
        {"KStreamOptions3ds",
         [] { return static_cast<KStreamOptionsBase*>(KStreamOptions3ds::Create()); },
         {{1, "Create Reference Node", 0},
          {7, "Materials", 1},
          {8, "Texture Mapping", 1},
          {9, "Anim", 1},
          {10, "Geometries", 1},
          {11, "Lights", 1},
          {12, "Camera", 1},
          {13, "Ambient Light", 1},
          {14, "Rescale", 1},
          {15, "Reduce Keys", 0},
          {16, "Smooth Group", 1},
          {17, "UV per polygon", 1}}},
        {"KStreamOptionsObj",
         [] { return static_cast<KStreamOptionsBase*>(KStreamOptionsObj::Create()); },
         {{1, "Create Reference Node", 1},
          {2, "Force Triangulation", 0},
          {3, "Evaluate Link/Shape deformations", 1}}},
        {"KStreamOptionsDxf",
         [] { return static_cast<KStreamOptionsBase*>(KStreamOptionsDxf::Create()); },
         {{1, "Create Reference Node", 1},
          {2, "Force Triangulation", 1},
          {3, "Evaluate Link/Shape deformations", 1},
          {4, "Weld Vertices", 1},
          {5, "Object Derivation", 0},
          {6, "Layer~Block~Entity", 0}}},
    };
}

TEST(KStreamOptionsBase, RecordsHaveTheirNamesAndDefaultsAndResetRestoresThem) {
    for (const OptionSet& set : OptionSets()) {
        SCOPED_TRACE(set.className);
        KStreamOptionsBase* options = set.create();
        EXPECT_STREQ(options->GetClassName(), set.className);
        EXPECT_TRUE(options->IsA(KStreamOptionsBase::ClassId()));
        EXPECT_TRUE(options->IsA(KStreamOptions::ClassId()));
        EXPECT_FALSE(options->IsA(KStreamOptionsMotion::ClassId()));
        for (int index = -1; index <= 19; ++index) {
            const OptionRow* row = nullptr;
            for (const OptionRow& r : set.rows)
                if (r.index == index) row = &r;
            SCOPED_TRACE(index);
            EXPECT_EQ(options->HasOption(index), row != nullptr);
            EXPECT_EQ(options->GetOptionValue(index), row ? row->value : 0);
            if (row) {
                EXPECT_STREQ(options->GetOptionName(index), row->name);
            } else {
                EXPECT_EQ(options->GetOptionName(index), nullptr);
            }
            // Only records take values; every record goes back to its default on Reset.
            EXPECT_EQ(options->SetOptionValue(index, 7), row != nullptr);
            EXPECT_EQ(options->GetOptionValue(index), row ? 7 : 0);
        }
        options->Reset();
        for (const OptionRow& row : set.rows) EXPECT_EQ(options->GetOptionValue(row.index), row.value);
        options->Destroy();
    }
}

TEST(KStreamOptionsBase, OnlyThe3dsOptionsTakeATakeName) {
    KStreamOptions3ds* options3ds = KStreamOptions3ds::Create();
    options3ds->SetTakeName("default take");
    EXPECT_STREQ(options3ds->GetTakeName(), "default take");
    options3ds->SetTakeName(nullptr);
    EXPECT_STREQ(options3ds->GetTakeName(), "");
    options3ds->SetTakeName("x");
    options3ds->Reset();
    EXPECT_STREQ(options3ds->GetTakeName(), "");
    options3ds->Destroy();

    KStreamOptionsObj* obj = KStreamOptionsObj::Create();
    obj->SetTakeName("default take");
    EXPECT_STREQ(obj->GetTakeName(), "");
    obj->Destroy();
}

TEST(KStreamOptionsDxf, ObjectDerivationMapsTheChoiceAndKeepsTheLastMode) {
    // option 6 value set before each call, and the mode expected back
    const struct {
        int value;
        int mode;
    } steps[] = {{99, 0}, {1, 2}, {-1, 2}, {2, 1}, {3, 1}, {0, 0}, {7, 0}, {1, 2}};
    KStreamOptionsDxf* options = KStreamOptionsDxf::Create();
    EXPECT_EQ(options->GetObjectDerivation(), 0);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.value);
        options->SetOptionValue(6, step.value);
        EXPECT_EQ(options->GetObjectDerivation(), step.mode);
    }
    options->SetOptionValue(6, 7);
    options->Reset();
    EXPECT_EQ(options->GetObjectDerivation(), 0);
    options->Destroy();
}

TEST(KStreamOptions, CallbacksDefaultToTheDefaultAnswer) {
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    options->Progress(0, "Reading", 50.0f);  // nothing installed: nothing happens
    EXPECT_EQ(options->Question("Time Code File", "Load x.tc?", "Yes", "No"), 1);
    EXPECT_EQ(options->Message("Error", "text", "Ok", nullptr, nullptr, 3), 3);

    std::vector<std::string> seen;
    options->SetProgressCallback([&](int kind, const char* text, float percent) {
        seen.push_back(std::to_string(kind) + (text ? text : "(null)") +
                       std::to_string(int(percent)));
    });
    options->SetQuestionCallback([&](const char* title, const char*, const char* first,
                                     const char* second, const char* third, int answer) {
        seen.push_back(std::string(title) + first + (second ? second : "-") + (third ? third : "-"));
        return answer + 1;
    });
    options->Progress(0, nullptr, 25.0f);
    EXPECT_EQ(options->Question("Q", "t", "Yes", "No", nullptr, 1), 2);
    // The message callback is apart from the question callback.
    EXPECT_EQ(options->Message("M", "t", "Ok"), 1);
    options->Reset();  // the callbacks stay
    EXPECT_EQ(options->Question("R", "t", "A"), 2);
    EXPECT_EQ(seen, (std::vector<std::string>{"0(null)25", "QYesNo-", "RA--"}));
    options->Destroy();
}

TEST(KStreamOptionsMotion, FrameRateChoosesTheTimeMode) {
    const struct {
        int modeIn;
        double rateIn;
        int mode;
        double rate;
    } cases[] = {
        {0, 25.0, KTime::ePAL, 25.0},
        {0, 25.0009, KTime::ePAL, 25.0},
        {0, 25.002, 0, 25.002},  // no mode that close: the rate of its own
        {0, 29.97, KTime::eNTSC_DROP_FRAME, 29.97002617},
        {0, 120.0, KTime::eFRAMES120, 120.0},
        {0, 30.0, KTime::eFRAMES30, 30.0},
        {0, 0.0, KTime::eFRAMES30, 30.0},  // no rate: the global mode
        {0, -25.0, KTime::eFRAMES30, 30.0},
        {0, 1.0 / 0.0, KTime::eFRAMES30, 30.0},
        {KTime::eFRAMES24, 99.0, KTime::eFRAMES24, 24.0},  // a mode wins over the rate
        {42, 25.0, KTime::eFRAMES30, 30.0},
        {-3, 25.0, KTime::eFRAMES30, 30.0},
    };
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    EXPECT_EQ(options->GetTimeMode(), KTime::GetGlobalTimeMode());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rateIn);
        SCOPED_TRACE(c.modeIn);
        options->SetFrameRate(c.modeIn, c.rateIn);
        EXPECT_EQ(options->GetTimeMode(), c.mode);
        EXPECT_NEAR(options->GetFrameRate(), c.rate, 1e-9);
        // One frame is 1/rate seconds, whichever way the rate came.
        EXPECT_NEAR(options->GetFramePeriod().GetSecondDouble(), 1.0 / c.rate, 1e-9);
    }
    options->Destroy();
}

TEST(KStreamOptionsMotion, SettingsCountsAndReset) {
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    EXPECT_STREQ(options->GetClassName(), "KStreamOptionsMotion");
    EXPECT_TRUE(options->IsA(KStreamOptions::ClassId()));
    EXPECT_FALSE(options->IsA(KStreamOptionsBase::ClassId()));
    for (int i = -1; i <= 18; ++i) EXPECT_EQ(options->GetSetting(i), -1) << i;
    options->SetSetting(0, 1);
    options->SetSetting(17, 5);
    options->SetSetting(18, 1);  // out of range: ignored
    options->SetSetting(-1, 1);
    EXPECT_EQ(options->GetSetting(0), 1);
    EXPECT_EQ(options->GetSetting(17), 5);
    EXPECT_EQ(options->GetSetting(18), -1);
    EXPECT_EQ(options->GetSetting(-1), -1);

    options->SetFrameCount(-4);
    EXPECT_EQ(options->GetFrameCount(), 0);
    options->SetFrameCount(120);
    KTime start;
    start.SetSecondDouble(2.0);
    options->SetStartTime(start);
    options->SetFrameRate(0, 25.0);
    options->Reset();
    EXPECT_EQ(options->GetFrameCount(), 0);
    EXPECT_EQ(options->GetStartTime().Get(), 0);
    EXPECT_EQ(options->GetTimeMode(), KTime::GetGlobalTimeMode());
    EXPECT_EQ(options->GetSetting(0), -1);
    EXPECT_EQ(options->GetSetting(17), -1);
    options->Destroy();
}

TEST(KStreamOptionsMotion, StreamObjectOwnership) {
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    EXPECT_EQ(options->GetStream(), nullptr);

    // Owned: destroyed when replaced.
    KObject* first = new KObject;
    KWeakRef firstRef = first->GetWeakRef();
    options->SetStream(first, true);
    EXPECT_EQ(options->GetStream(), first);
    EXPECT_TRUE(options->IsStreamOwned());
    options->SetStream(first, true);  // the same object again is kept
    EXPECT_NE(firstRef.Resolve(), nullptr);

    KObject* second = new KObject;
    options->SetStream(second, false);
    EXPECT_EQ(firstRef.Resolve(), nullptr);
    EXPECT_EQ(options->GetStream(), second);
    EXPECT_FALSE(options->IsStreamOwned());

    // Not owned: let go on Reset but not destroyed; a stream destroyed elsewhere reads as none.
    options->Reset();
    EXPECT_EQ(options->GetStream(), nullptr);
    options->SetStream(second, false);
    second->Destroy();
    EXPECT_EQ(options->GetStream(), nullptr);

    // Owned: destroyed with the options.
    KObject* third = new KObject;
    KWeakRef thirdRef = third->GetWeakRef();
    options->SetStream(third, true);
    options->Destroy();
    EXPECT_EQ(thirdRef.Resolve(), nullptr);
}

}  // namespace
