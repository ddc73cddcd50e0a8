// User-property values through the exporter ids and back through the importer: version 6
// (0 binary, 1 ASCII) keeps them in the property block, version 5 (3 binary, 4 ASCII) as the
// defaults of the node's channels, which a read property must find whatever its name.

#include "KQovWriterQov5TestUtil.h"
#include "animation/KFCurveNode.h"
#include "io/KQovImporter.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovUserProperty.h"

namespace {

struct Row {
    const char* name;  // as the caller names it
    const char* type;
    const char* read5;  // as a version-5 read names it
    void (*set)(KQovUserProperty*);
};

const Row kRows[] = {
    {"Flag", "Bool", "Flag (Bool)", [](KQovUserProperty* u) { u->SetValue(true); }},
    {"Count", "Integer", "Count (Integer)", [](KQovUserProperty* u) { u->SetValue(-7); }},
    {"Weight", "Real", "Weight (Real)", [](KQovUserProperty* u) { u->SetValue(0.75); }},
    {"Dir", "Vector", "Dir", [](KQovUserProperty* u) { u->SetValue(1.0, -2.0, 3.5); }},
    {"Tint", "Color", "Tint (Color)", [](KQovUserProperty* u) { u->SetValue(0.25, 0.5, 0.75); }},
    // Named as a read scene names them: the written name loses the suffix, the read one
    // gets it back.
    {"Heavy (Real)", "Real", "Heavy (Real)", [](KQovUserProperty* u) { u->SetValue(-1.5); }},
    {"On (Bool)", "Bool", "On (Bool)", [](KQovUserProperty* u) { u->SetValue(true); }},
    {"Glow (Color)", "Color", "Glow (Color)",
     [](KQovUserProperty* u) { u->SetValue(1.0, 0.0, 0.125); }},
};

std::string ValueText(KQovUserProperty* user) {
    KString text;
    if (KProperty* p = user ? user->GetProperty() : nullptr) p->GetValueText(text);
    return text.Buffer();
}

struct Imported {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovNode* node = nullptr;

    explicit Imported(const std::string& name) {
        KQovImporter importer(&manager);
        EXPECT_TRUE(importer.Initialize(name.c_str()));
        EXPECT_TRUE(importer.Import(scene, nullptr)) << importer.GetLastErrorString();
        node = scene->GetRootNode()->FindChild("A");
    }
};

}  // namespace

TEST(KQovUserPropertyRoundTrip, ValuesComeBackThroughEveryId) {
    TempTestFolder tmp;
    for (int id : {0, 1, 3, 4}) {
        v5test::Scene s;
        KQovNode* node = s.Add("A", s.manager.CreateNull());
        std::vector<std::string> before;
        for (const Row& row : kRows) {
            KQovUserProperty* u = s.manager.CreateUserProperty(row.name, row.type, "");
            u->SetFlag(KQovUserProperty::eFlagUserProperty, true);
            u->SetFlag(KQovUserProperty::eFlagAnimatable, true);
            node->AddUserProperty(u);
            row.set(u);
            before.push_back(ValueText(u));
        }
        const std::string first = tmp / ("first" + std::to_string(id) + ".qov");
        ASSERT_TRUE(Export(s.scene, first, id));
        Imported read(first);
        ASSERT_NE(read.node, nullptr);
        // The read scene written again: its own channels carry the values.
        const std::string second = tmp / ("second" + std::to_string(id) + ".qov");
        ASSERT_TRUE(Export(read.scene, second, id));
        Imported again(second);
        ASSERT_NE(again.node, nullptr);
        for (size_t i = 0; i < std::size(kRows); ++i) {
            const Row& row = kRows[i];
            const char* name = id >= 3 ? row.read5 : row.name;
            SCOPED_TRACE(std::to_string(id) + " " + name);
            KQovUserProperty* u = read.node->FindUserProperty(name);
            ASSERT_NE(u, nullptr);
            EXPECT_EQ(ValueText(u), before[i]);
            EXPECT_EQ(ValueText(again.node->FindUserProperty(name)), before[i]);
            // The default take holds the value too, where a later write takes it from.
            if (id < 3) continue;
            KFCurveNode* channel =
                read.node->GetDefaultTakeNode()->GetRoot()->Find(u->GetName().Buffer());
            ASSERT_NE(channel, nullptr);
            double x = -1.0, y = -1.0, z = -1.0, value = -1.0;
            if (channel->GetCount() == 3) {
                u->GetVector(x, y, z);
                EXPECT_EQ(double(channel->Get(0)->GetCurve()->GetValue()), float(x));
                EXPECT_EQ(double(channel->Get(2)->GetCurve()->GetValue()), float(z));
            } else {
                u->GetValue(value);
                EXPECT_EQ(double(channel->GetCurve()->GetValue()), float(value));
            }
        }
        // No stray channel of the written name is left behind.
        if (id >= 3) {
            EXPECT_EQ(read.node->GetDefaultTakeNode()->GetRoot()->Find("Weight"), nullptr);
        }
    }
}

// Text and enumeration properties have no channel: only the version-6 layout carries them.
TEST(KQovUserPropertyRoundTrip, TextAndEnumValuesThroughVersion6) {
    TempTestFolder tmp;
    for (int id : {0, 1}) {
        v5test::Scene s;
        KQovNode* node = s.Add("A", s.manager.CreateNull());
        KQovPropertyHandler* set = node->GetPropertyHandler();
        KProperty* note = set->CreateProperty("Note", KProperty::eSTRING, nullptr, false, true);
        note->SetString("hello, world");
        KProperty* mode = set->CreateProperty("Mode", KProperty::eENUM, nullptr, false, true);
        mode->SetInt(2);
        for (KProperty* p : {note, mode}) {
            KQovUserProperty* u = s.manager.CreateUserPropertyFromProperty(p);
            node->AddUserProperty(u);
            u->SetFlag(KQovUserProperty::eFlagUserProperty, true);
        }
        const std::string name = tmp / ("text" + std::to_string(id) + ".qov");
        ASSERT_TRUE(Export(s.scene, name, id));
        Imported read(name);
        ASSERT_NE(read.node, nullptr);
        EXPECT_EQ(ValueText(read.node->FindUserProperty("Note")), "hello, world");
        KQovUserProperty* m = read.node->FindUserProperty("Mode");
        ASSERT_NE(m, nullptr);
        ASSERT_NE(m->GetProperty(), nullptr);
        EXPECT_EQ(m->GetProperty()->GetInt(), 2);
    }
}
