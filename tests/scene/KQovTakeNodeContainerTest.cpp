#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "common/RefusingHeap.h"
#include "common/SceneDump.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovUserProperty.h"
#include "scene/KTypedProperty.h"
#include "scene/SceneObjectDoubles.h"

namespace {

using scene_test::TestObject;

KFCurve* DefaultCurve(TestObject& object, const char* path) {
    KFCurveNode* channel = object.GetDefaultTakeNode()->GetRoot()->Find(path);
    return channel ? channel->GetCurve() : nullptr;
}

double Number(KProperty* property, int component = 0) {
    double values[4] = {};
    KQovGetPropertyNumbers(property, values);
    return values[component];
}

TEST(KQovTakeNodeContainer, FreshObjectHasDefaultCurrent) {
    TestObject object;
    ASSERT_EQ(object.GetTakeNodeCount(), 1);
    EXPECT_EQ(object.GetCurrentTakeNodeIndex(), 0);
    EXPECT_STREQ(object.GetCurrentTakeNodeName(), "Default");
    EXPECT_EQ(object.GetDefaultTakeNode(), object.GetTakeNode(0));
}

TEST(KQovTakeNodeContainer, FailuresLeaveTheirText) {
    TestObject object;
    object.AddTakeNode("Take 001");
    struct Case {
        const char* what;
        std::function<bool()> call;
        const char* text;
    } cases[] = {
        {"remove default", [&] { return object.RemoveTakeNode(0); },
         "Cannot remove default take node"},
        {"remove past end", [&] { return object.RemoveTakeNode(2); }, "Index out of range"},
        {"remove negative", [&] { return object.RemoveTakeNode(-1); }, "Index out of range"},
        {"set index", [&] { return object.SetCurrentTakeNode(5); }, "Index out of range"},
        {"name case counts", [&] { return object.SetCurrentTakeNode("default"); },
         "Unknown take node name"},
        {"duplicate", [&] { return object.AddTakeNode("Take 001") != nullptr; },
         "Take node already exists"},
        {"take past end", [&] { return object.GetTakeNode(2) != nullptr; },
         "Take node does not exist"},
    };
    for (auto& c : cases) {
        object.error.ClearError();
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(object.error.GetErrorCode(), 0) << c.what;
        EXPECT_STREQ(object.error.GetErrorText(), c.text) << c.what;
        EXPECT_EQ(object.GetTakeNodeCount(), 2) << c.what;
    }
}

TEST(KQovTakeNodeContainer, NewTakeCopiesDefaultWithKeys) {
    TestObject object;
    KFCurve* intensity = DefaultCurve(object, "Intensity");
    ASSERT_NE(intensity, nullptr);
    intensity->KeyClear();
    intensity->ResizeKeyBuffer(2);
    intensity->KeySet(0, KTime(0), 1.0f);
    intensity->KeySet(1, KTime(1000), 2.0f);
    intensity->CommitKeys(2);
    KQovTakeNode* take = object.AddTakeNode("Take 001");
    ASSERT_NE(take, nullptr);
    EXPECT_EQ(SceneDump::Channels(*take->GetRoot()),
              SceneDump::Channels(*object.GetDefaultTakeNode()->GetRoot()));
    EXPECT_EQ(take->FindCurve("Intensity", nullptr, nullptr)->KeyGetCount(), 2);
    EXPECT_NE(take->FindCurve("Intensity", nullptr, nullptr), intensity);
    EXPECT_TRUE(object.HasAnimation("Intensity", nullptr, (const char*)nullptr));
    EXPECT_FALSE(object.HasAnimation("Color", "X", (const char*)nullptr));
}

TEST(KQovTakeNodeContainer, RemovingTakesKeepsTheCurrentTake) {
    struct Case {
        int current;
        int removed;
        const char* currentAfter;
    } cases[] = {
        {3, 1, "T3"},  // below the current one
        {2, 2, "T1"},  // the current one: the take before it
        {1, 3, "T1"},  // above it
    };
    for (const Case& c : cases) {
        TestObject object;
        for (const char* name : {"T1", "T2", "T3"}) object.AddTakeNode(name);
        ASSERT_TRUE(object.SetCurrentTakeNode(c.current));
        ASSERT_TRUE(object.RemoveTakeNode(c.removed));
        EXPECT_STREQ(object.GetCurrentTakeNodeName(), c.currentAfter) << c.removed;
    }
}

// An object of many takes finds them by name as one of few does, through renames and removals.
TEST(KQovTakeNodeContainer, ManyTakesAreFoundByName) {
    TestObject object;
    for (int i = 0; i < 40; ++i)
        ASSERT_NE(object.AddTakeNode(("T" + std::to_string(i)).c_str()), nullptr);
    EXPECT_EQ(object.AddTakeNode("T25"), nullptr);
    EXPECT_EQ(object.FindTakeNodeIndex("Default"), 0);
    EXPECT_EQ(object.FindTakeNodeIndex("T25"), 26);
    EXPECT_EQ(object.FindTakeNodeIndex("t25"), -1);
    EXPECT_EQ(object.FindTakeNodeIndex(nullptr), -1);
    object.GetTakeNode(10)->SetName("X");
    EXPECT_EQ(object.FindTakeNodeIndex("X"), 10);
    EXPECT_EQ(object.FindTakeNodeIndex("T9"), -1);
    ASSERT_NE(object.AddTakeNode("T9"), nullptr);
    EXPECT_EQ(object.FindTakeNodeIndex("T9"), 41);
    // A name given twice by a rename: the first take of it.
    object.GetTakeNode(30)->SetName("T5");
    EXPECT_EQ(object.FindTakeNodeIndex("T5"), 6);
    ASSERT_TRUE(object.RemoveTakeNode(3));
    EXPECT_EQ(object.FindTakeNodeIndex("T25"), 25);
    EXPECT_TRUE(object.SetCurrentTakeNode("T39"));
    EXPECT_EQ(object.GetCurrentTakeNodeIndex(), 39);
    EXPECT_FALSE(object.SetCurrentTakeNode("T2"));
    EXPECT_EQ(object.GetCurrentTakeNodeIndex(), 0);
    // A rename moves its take's entry alone: to a later take's name, away again, to a new name.
    TestObject renamed;
    for (int i = 0; i < 20; ++i)
        ASSERT_NE(renamed.AddTakeNode(("T" + std::to_string(i)).c_str()), nullptr);
    ASSERT_EQ(renamed.FindTakeNodeIndex("T15"), 16);
    renamed.GetTakeNode(3)->SetName("T15");
    EXPECT_EQ(renamed.FindTakeNodeIndex("T15"), 3);
    EXPECT_EQ(renamed.FindTakeNodeIndex("T2"), -1);
    renamed.GetTakeNode(3)->SetName("T2");
    EXPECT_EQ(renamed.FindTakeNodeIndex("T15"), 16);
    EXPECT_EQ(renamed.FindTakeNodeIndex("T2"), 3);
    for (const char* name : {"New", "New"}) {
        renamed.GetTakeNode(16)->SetName(name);
        EXPECT_EQ(renamed.FindTakeNodeIndex(name), 16);
    }
    EXPECT_EQ(renamed.FindTakeNodeIndex("T15"), -1);
    EXPECT_EQ(object.FindTakeNodeIndex("New"), -1);
}

// Random adds, renames (of this object's takes and of another's), removals and look-ups, memory
// running out now and then: the index gives what a search one take at a time gives (under the
// sanitizers, it holds no view of a name gone).
TEST(KQovTakeNodeContainer, TakeIndexAgreesWithASearch) {
    TestObject object, other;
    for (int i = 0; i < 20; ++i) other.AddTakeNode(("O" + std::to_string(i)).c_str());
    auto linear = [&](const std::string& name) {
        for (int i = 0; i < object.GetTakeNodeCount(); ++i)
            if (name == object.GetTakeNodeName(i)) return i;
        return -1;
    };
    std::mt19937 random(67);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    auto name = [&] {
        static const char* const kOdd[] = {"", "Default", "default", "t1", "T1 ", "T\xc3\xa9"};
        return pick(8) == 0 ? std::string(kOdd[pick(6)]) : "T" + std::to_string(pick(40));
    };
    for (int step = 0; step < 3000; ++step) {
        const int count = object.GetTakeNodeCount();
        const int what = pick(10);
        // Now and then memory runs out within an add or a look-up: the index is dropped or not
        // made, and a take not added.
        const long refused = pick(5) == 0 ? pick(8) : -1;
        if (what < 3) {
            const std::string n = name();
            const bool had = linear(n) >= 0;
            gThrowIn = refused;
            try {
                EXPECT_EQ(object.AddTakeNode(n.c_str()) == nullptr, had) << step;
            } catch (const std::bad_alloc&) {
                EXPECT_EQ(object.GetTakeNodeCount(), count) << step;
            }
        } else if (what == 3) {
            object.GetTakeNode(pick(count))->SetName(name().c_str());
        } else if (what == 4) {
            other.GetTakeNode(pick(other.GetTakeNodeCount()))->SetName(name().c_str());
        } else if (what == 5) {
            if (count > 1) object.RemoveTakeNode(1 + pick(count - 1));
        } else {
            const std::string n = name();
            gThrowIn = refused;
            const int found = object.FindTakeNodeIndex(n.c_str());
            gThrowIn = -1;
            ASSERT_EQ(found, linear(n)) << step << " " << n;
            EXPECT_EQ(object.SetCurrentTakeNode(n.c_str()), linear(n) >= 0) << step;
            EXPECT_EQ(object.GetCurrentTakeNodeIndex(), std::max(linear(n), 0)) << step;
        }
        gThrowIn = -1;
    }
}

TEST(KQovTakeNodeContainer, ChannelsByComponentCount) {
    TestObject object;
    const std::string dump = SceneDump::Channels(*object.GetDefaultTakeNode()->GetRoot(), 0, 0);
    EXPECT_EQ(dump,
              "channel \"Defaults\"\n"
              "  channel \"Intensity\" [Intensity]\n"
              "    curve default 100 colour 1 1 1 keys 0\n"
              "  channel \"Color\" [Color]\n"
              "    channel \"X\"\n"
              "      curve default 0.5 colour 1 1 1 keys 0\n"
              "    channel \"Y\"\n"
              "      curve default 0 colour 1 1 1 keys 0\n"
              "    channel \"Z\"\n"
              "      curve default 0 colour 1 1 1 keys 0\n"
              "  channel \"Tint\" [ColorAndAlpha]\n"
              "    channel \"X\"\n"
              "      curve default 0 colour 1 1 1 keys 0\n"
              "    channel \"Y\"\n"
              "      curve default 0 colour 1 1 1 keys 0\n"
              "    channel \"Z\"\n"
              "      curve default 0 colour 1 1 1 keys 0\n"
              "    channel \"toto\"\n"
              "      curve default 1 colour 1 1 1 keys 0\n"
              "  channel \"Start\" [Time]\n"
              "    curve default 0 colour 1 1 1 keys 0\n"
              "  channel \"Weight\" [Weight]\n"
              "    curve default 0.25 colour 1 1 1 keys 0\n");
    // One link per curve: 1 + 3 + 4 + 1 + 1.
    EXPECT_EQ(object.GetPropertyLinkCount(), 10);
}

TEST(KQovTakeNodeContainer, DefaultTakeNameIgnoresCaseForLinks) {
    TestObject object;
    KProperty* intensity = object.set->FindProperty("Intensity");
    const int before = object.GetPropertyLinkCount();
    for (const char* name : {"DEFAULT", "Take 001"}) {
        KQovTakeNode take(name);
        object.InitPropertyChannel(intensity, &take);
        object.InitPropertyChannel(intensity, &take);  // present: nothing more
        EXPECT_EQ(take.GetRoot()->GetCount(), 1);
        const bool linked = std::string(name) == "DEFAULT";
        EXPECT_EQ(object.GetPropertyLinkCount(), before + (linked ? 1 : 0)) << name;
    }
    // The destroyed curve took its link along.
    EXPECT_EQ(object.GetPropertyLinkCount(), before);
}

TEST(KQovTakeNodeContainer, DefaultCurvesDriveTheirProperties) {
    TestObject object;
    object.AddTakeNode("Take 001");
    struct Case {
        const char* path;
        const char* property;
        int component;
        float value;
    } cases[] = {
        {"Intensity", "Intensity", 0, 42.0f},
        {"Color/Y", "Color", 1, 0.75f},
        {"Tint/toto", "Tint", 3, 0.25f},
        {"Weight", "Weight", 0, 0.5f},
    };
    for (const Case& c : cases) {
        KProperty* property = object.set->FindProperty(c.property);
        object.GetTakeNode(1)->GetRoot()->Find(c.path)->GetCurve()->SetValue(9.0f);
        EXPECT_NE(Number(property, c.component), 9.0) << c.path << ": only Default drives";
        DefaultCurve(object, c.path)->SetValue(c.value);
        EXPECT_EQ(Number(property, c.component), c.value) << c.path;
    }
}

TEST(KQovTakeNodeContainer, WritingDefaultsDoesNotRunTheLinks) {
    TestObject object;
    KProperty* intensity = object.set->FindProperty("Intensity");
    intensity->SetDouble(0.1);
    object.WritePropertyDefaults();
    EXPECT_FLOAT_EQ(DefaultCurve(object, "Intensity")->GetValue(), 0.1f);
    // A link run would have put the float back into the property.
    EXPECT_EQ(intensity->GetDouble(), 0.1);
    auto* color = static_cast<KQovEmbeddedProperty*>(object.set->FindProperty("Color"));
    const double rgb[3] = {0.1, 0.2, 0.3};
    color->SetNumbers(rgb, 3);
    object.AfterPropertiesRead();
    EXPECT_FLOAT_EQ(DefaultCurve(object, "Color/Z")->GetValue(), 0.3f);
    EXPECT_EQ(color->GetNumbers()[2], 0.3);
}

TEST(KQovTakeNodeContainer, AnimationInterval) {
    TestObject object;
    KTime start(50), stop(60);
    EXPECT_FALSE(object.GetAnimationInterval(start, stop));
    EXPECT_EQ(start.Get(), 50);
    EXPECT_EQ(stop.Get(), 60);
    KFCurve* curve = DefaultCurve(object, "Color/X");
    curve->ResizeKeyBuffer(2);
    curve->KeySet(0, KTime(10), 1.0f);
    curve->KeySet(1, KTime(55), 1.0f);
    curve->CommitKeys(2);
    EXPECT_TRUE(object.GetAnimationInterval(start, stop));
    EXPECT_EQ(start.Get(), 10);
    EXPECT_EQ(stop.Get(), 60);
}

TEST(KQovTakeNodeContainer, UserPropertyOverThreeTakes) {
    struct Case {
        const char* type;
        const char* channelCurve;  // a curve of the channel
        int links;
    } cases[] = {{"Real", "Gain", 1}, {"Vector", "Gain/Z", 3}, {"Color", "Gain/Y", 3},
                 {"Bool", "Gain", 1}};
    for (const Case& c : cases) {
        TestObject object;
        object.AddTakeNode("T1");
        object.AddTakeNode("T2");
        object.SetCurrentTakeNode(2);
        const int links = object.GetPropertyLinkCount();
        KQovUserProperty up(nullptr, "Gain", c.type, "");
        up.SetFlag(KQovUserProperty::eFlagAnimatable, true);
        object.AddUserProperty(&up);
        object.AddUserProperty(&up);
        ASSERT_EQ(object.GetUserPropertyCount(), 1);
        ASSERT_NE(up.GetProperty(), nullptr) << c.type;
        EXPECT_TRUE(up.GetProperty()->TestUserFlag(0x8));
        EXPECT_EQ(object.GetPropertyLinkCount(), links + c.links) << c.type;
        for (int t = 0; t < 3; ++t)
            EXPECT_NE(object.GetTakeNode(t)->GetRoot()->Find(c.channelCurve), nullptr) << c.type;

        // A value set through the handle reaches the current take and Default only.
        up.SetValue(1.0, 1.0, 1.0);
        up.SetValue(1.0);
        for (int t = 0; t < 3; ++t) {
            const float expected = t == 1 ? 0.0f : 1.0f;
            EXPECT_EQ(object.GetTakeNode(t)->GetRoot()->Find(c.channelCurve)->GetCurve()->GetValue(),
                      expected)
                << c.type << " take " << t;
        }

        object.DetachUserProperty(&up);
        EXPECT_EQ(up.GetProperty(), nullptr);
        EXPECT_EQ(object.GetUserPropertyCount(), 0);
        EXPECT_EQ(object.set->FindProperty("Gain"), nullptr);
        EXPECT_EQ(object.GetPropertyLinkCount(), links) << c.type;
        for (int t = 0; t < 3; ++t)
            EXPECT_EQ(object.GetTakeNode(t)->GetRoot()->FindIndexByName("Gain"), -1);
    }
}

TEST(KQovTakeNodeContainer, RemovingAPropertyChannelTakesItsLinks) {
    TestObject object;
    const int links = object.GetPropertyLinkCount();
    struct Case {
        const char* name;
        bool removed;
        int linksGone;
    } cases[] = {{"Tint", true, 4}, {"Tint", false, 0}, {"Intensity", true, 1}, {"Nothing", false, 0}};
    int gone = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(object.RemovePropertyChannel(c.name, object.GetDefaultTakeNode()), c.removed);
        gone += c.linksGone;
        EXPECT_EQ(object.GetPropertyLinkCount(), links - gone) << c.name;
    }
    EXPECT_FALSE(object.RemovePropertyChannel("Color", nullptr));
}

TEST(KQovTakeNodeContainer, NotAnimatableUserPropertyMakesNoChannel) {
    TestObject object;
    KQovUserProperty up(nullptr, "Note", "Integer", "label");
    object.AddUserProperty(&up);
    ASSERT_NE(up.GetProperty(), nullptr);
    EXPECT_EQ(object.GetDefaultTakeNode()->GetRoot()->FindIndexByName("Note"), -1);
    object.DetachUserProperty(&up);
}

TEST(KQovTakeNodeContainer, RecordsForEveryPropertyThroughTheManager) {
    KQovObjectManager manager;
    {
        TestObject withoutManager(nullptr);
        withoutManager.CreateUserPropertiesFromPropertySet();
        EXPECT_EQ(withoutManager.GetUserPropertyCount(), 0);
    }
    {
        TestObject object(&manager);
        object.CreateUserPropertiesFromPropertySet();
        ASSERT_EQ(object.GetUserPropertyCount(), object.set->GetPropertyCount());
        object.CreateUserPropertiesFromPropertySet();  // each property once
        EXPECT_EQ(object.GetUserPropertyCount(), object.set->GetPropertyCount());
        KQovUserProperty* intensity = object.FindUserProperty("Intensity");
        ASSERT_NE(intensity, nullptr);
        EXPECT_EQ(intensity->GetOwner(), object.set);
        intensity->SetValue(7.0);
        EXPECT_EQ(DefaultCurve(object, "Intensity")->GetValue(), 7.0f);
        EXPECT_EQ(object.FindUserProperty(object.set->FindProperty("Mode")), object.GetUserProperty(5));
    }
}

}  // namespace
