// User-property values through the exporter ids and back through the importer: version 6
// (0 binary, 1 ASCII) keeps them in the property block, version 5 (3 binary, 4 ASCII) in each
// property's own record and as the defaults of the node's channels.

#include "KQovWriterQov5TestUtil.h"
#include "TextReadTestUtil.h"
#include "animation/KFCurveNode.h"
#include "io/KQovImporter.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovUserProperty.h"

namespace {

struct Row {
    const char* name;  // as the caller names it
    const char* type;
    void (*set)(KQovUserProperty*);
};

const Row kRows[] = {
    {"Flag", "Bool", [](KQovUserProperty* u) { u->SetValue(true); }},
    {"Count", "Integer", [](KQovUserProperty* u) { u->SetValue(-7); }},
    {"Weight", "Real", [](KQovUserProperty* u) { u->SetValue(0.75); }},
    {"Dir", "Vector", [](KQovUserProperty* u) { u->SetValue(1.0, -2.0, 3.5); }},
    {"Tint", "Color", [](KQovUserProperty* u) { u->SetValue(0.25, 0.5, 0.75); }},
    // Named as older version-5 reads named them.
    {"Heavy (Real)", "Real", [](KQovUserProperty* u) { u->SetValue(-1.5); }},
    {"On (Bool)", "Bool", [](KQovUserProperty* u) { u->SetValue(true); }},
    {"Glow (Color)", "Color", [](KQovUserProperty* u) { u->SetValue(1.0, 0.0, 0.125); }},
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
            const char* name = row.name;
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
        // No channel of a name the property does not have.
        if (id >= 3) {
            EXPECT_EQ(read.node->GetDefaultTakeNode()->GetRoot()->Find("Weight (Real)"), nullptr);
        }
    }
}

// Text and enumeration properties have no channel: version 6 keeps them in the property block,
// version 5 in each property's own record.
TEST(KQovUserPropertyRoundTrip, TextAndEnumValuesThroughEveryId) {
    TempTestFolder tmp;
    for (int id : {0, 1, 3, 4}) {
        v5test::Scene s;
        KQovNode* node = s.Add("A", s.manager.CreateNull());
        KQovPropertyHandler* set = node->GetPropertyHandler();
        KProperty* note = set->CreateProperty("Note", KProperty::eSTRING, nullptr, false, true);
        note->SetString("hello, \"world\"\n\xC3\xBC");
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
        EXPECT_EQ(ValueText(read.node->FindUserProperty("Note")), "hello, \"world\"\n\xC3\xBC");
        KQovUserProperty* m = read.node->FindUserProperty("Mode");
        ASSERT_NE(m, nullptr);
        ASSERT_NE(m->GetProperty(), nullptr);
        EXPECT_EQ(m->GetProperty()->GetInt(), 2);
    }
}

namespace {

// A user property as a caller sees it: name, data type, animatable flag, value and range.
std::string Described(KQovUserProperty* user) {
    KProperty* p = user ? user->GetProperty() : nullptr;
    if (!p) return "missing";
    const KDataType* type = p->GetDataType();
    return std::string(p->GetName()) + " " + (type ? type->GetName() : p->GetTypeName()) +
           (p->IsAnimatable() ? " A " : " - ") + ValueText(user) + " [" +
           std::to_string(p->GetMin()) + "," + std::to_string(p->GetMax()) + "]";
}

// The keys of a take's channel, "time:value" each.
std::string Keys(KQovNode* node, const char* take, const char* channel) {
    const int at = node ? node->FindTakeNodeIndex(take) : -1;
    KFCurveNode* found = at >= 0 ? node->GetTakeNode(at)->GetRoot()->Find(channel) : nullptr;
    KFCurve* curve = found ? found->GetCurve() : nullptr;
    if (!curve) return "no curve";
    std::string out;
    for (int i = 0; i < curve->KeyGetCount(); ++i)
        out += std::to_string(curve->KeyGetTime(i).Get() / KTime::kOneSecond) + ":" +
               std::to_string(curve->KeyGetValue(i)) + " ";
    return out;
}

}  // namespace

// User properties of a version-6 file through version 5 and back: each keeps its name, type,
// value, range and flags, and the animated ones their keys.
TEST(KQovUserPropertyRoundTrip, Version6FileThroughVersion5) {
    const qovtest::TextRead v6(qovtest::QovText(6000, R"QOV(Objects:  {
    Model: "Model::A", "Null" {
        Version: 232
        Properties60:  {
            Property: "shared", "Real", "U",0,2.5,-inf,inf
            Property: "tint", "Color", "AU",0,0.25,0.5,0.75,0,1
            Property: "count", "Integer", "U",0,-7,-100,100
            Property: "on", "Bool", "U",0,1,0,1
            Property: "dir", "Vector", "AU",0,1,-2,3.5,-inf,inf
            Property: "note", "KString", "U",0,"hello, world",0,0
            Property: "Heavy (Real)", "Real", "AU",0,-1.5,-2,2
        }
        Type: "Null"
    }
}
Connections:  {
    Connect: "OO", "Model::A", "Model::Scene"
}
)QOV",
                                                "Model"));
    ASSERT_TRUE(v6.ok);
    KQovNode* a = v6.scene->GetRootNode()->FindChild("A");
    ASSERT_NE(a, nullptr);
    const char* names[] = {"shared", "tint", "count", "on", "dir", "note", "Heavy (Real)"};
    std::vector<std::string> before;
    for (const char* name : names) before.push_back(Described(a->FindUserProperty(name)));
    ASSERT_EQ(before[0], "shared Real - 2.500000 [-inf,inf]");
    ASSERT_EQ(before[5], "note KString - hello, world [0.000000,0.000000]");
    // Keys in a take of their own on two animated properties.
    a->AddTakeNode("Walk");
    KFCurveNode* walk = a->GetTakeNode(a->FindTakeNodeIndex("Walk"))->GetRoot();
    for (const char* channel : {"dir/Y", "Heavy (Real)"}) {
        KFCurve* curve = walk->Find(channel) ? walk->Find(channel)->GetCurve() : nullptr;
        ASSERT_NE(curve, nullptr) << channel;
        curve->ResizeKeyBuffer(2);
        curve->KeySet(0, KTime(0), 1.0f);
        curve->KeySet(1, KTime(2 * KTime::kOneSecond), -0.5f);
        curve->CommitKeys(2);
    }
    TempTestFolder tmp;
    for (int id : {3, 4}) {
        SCOPED_TRACE(id);
        const std::string name = tmp / ("v5_" + std::to_string(id) + ".qov");
        ASSERT_TRUE(Export(v6.scene, name, id));
        Imported read(name);
        ASSERT_NE(read.node, nullptr);
        for (size_t i = 0; i < std::size(names); ++i)
            EXPECT_EQ(Described(read.node->FindUserProperty(names[i])), before[i]);
        EXPECT_EQ(read.node->FindUserProperty("shared (Real)"), nullptr);
        EXPECT_EQ(Keys(read.node, "Walk", "dir/Y"), "0:1.000000 2:-0.500000 ");
        EXPECT_EQ(Keys(read.node, "Walk", "Heavy (Real)"), "0:1.000000 2:-0.500000 ");
    }
}

// Names that differ only in letter case: version 6 keeps each under its own; version 5, whose
// reader takes them for one channel, writes the later ones numbered, with a warning. Each
// keeps its value, through a second write as well.
TEST(KQovUserPropertyRoundTrip, CaseTwinsKeepTheirOwnValues) {
    TempTestFolder tmp;
    for (int id : {0, 1, 3, 4}) {
        SCOPED_TRACE(id);
        v5test::Scene s;
        KQovNode* node = s.Add("A", s.manager.CreateNull());
        const struct {
            const char* name;
            const char* version5;  // the name a version-5 file gives back
            const char* type;
            double value;
        } twins[] = {{"Speed", "Speed", "Real", 1.5},
                     {"speed", "speed_2", "Real", -2.0},
                     {"speed_1", "speed_1", "Real", 3.0},  // taken already: the twin passes it
                     {"SPEED", "SPEED_3", "Integer", 7},
                     // Named as the node's own channel is, letter case aside.
                     {"visibility", "visibility_1", "Real", 0.5}};
        for (const auto& t : twins) {
            KQovUserProperty* u = s.manager.CreateUserProperty(t.name, t.type, "");
            u->SetFlag(KQovUserProperty::eFlagUserProperty, true);
            u->SetFlag(KQovUserProperty::eFlagAnimatable, true);
            node->AddUserProperty(u);
            if (std::string(t.type) == "Integer")
                u->SetValue(int(t.value));
            else
                u->SetValue(t.value);
        }
        const std::string first = tmp / ("twins" + std::to_string(id) + ".qov");
        KQovExporter exporter(&s.manager);
        ASSERT_TRUE(exporter.Initialize(first.c_str()));
        exporter.SetFileFormat(id);
        ASSERT_TRUE(exporter.Export(s.scene, nullptr));
        EXPECT_EQ(std::string(exporter.GetStatusText().Buffer()),
                  id < 3 ? ""
                         : "Node \"A\" user property \"speed\" written as \"speed_2\": another "
                           "name reads back the same, letter case aside\n"
                           "Node \"A\" user property \"SPEED\" written as \"SPEED_3\": another "
                           "name reads back the same, letter case aside\n"
                           "Node \"A\" user property \"visibility\" written as \"visibility_1\": "
                           "another name reads back the same, letter case aside\n");
        Imported read(first);
        ASSERT_NE(read.node, nullptr);
        // A version-6 read written again as version 5 too.
        const int againId = id == 0 ? 3 : id;
        const std::string second = tmp / ("twins_again" + std::to_string(id) + ".qov");
        ASSERT_TRUE(Export(read.scene, second, againId));
        Imported again(second);
        ASSERT_NE(again.node, nullptr);
        for (auto [n, kept] :
             {std::make_pair(read.node, id < 3), std::make_pair(again.node, againId < 3)}) {
            EXPECT_EQ(n->GetUserPropertyCount(), read.node->GetUserPropertyCount());
            EXPECT_EQ(n->GetPropertyHandler()->FindProperty("Visibility")->GetDouble(), 1.0);
            for (const auto& t : twins) {
                SCOPED_TRACE(t.name);
                KQovUserProperty* u = n->FindUserProperty(kept ? t.name : t.version5);
                ASSERT_NE(u, nullptr);
                EXPECT_STREQ(KQovUserProperty::GetTypeName(u->GetType()), t.type);
                double value = 0.0;
                u->GetValue(value);
                EXPECT_EQ(value, t.value);
            }
        }
    }
}

namespace {

void KeyTwice(KQovTakeNode* take, const char* channel, float first) {
    KFCurveNode* found = take->GetRoot()->FindChildByName(channel);
    ASSERT_NE(found, nullptr) << channel;
    KFCurve* curve = found->GetCurve();
    ASSERT_NE(curve, nullptr) << channel;
    curve->ResizeKeyBuffer(2);
    curve->KeySet(0, KTime(0), first);
    curve->KeySet(1, KTime(KTime::kOneSecond), first + 1.0f);
    curve->CommitKeys(2);
}

}  // namespace

// A user property written under another name keeps the keys of its channel, shared with a twin
// or with the node's own channel, or its own: the take's channel goes out under that name too.
// A material's user property, which the layout has no place for, is named in a warning.
TEST(KQovUserPropertyRoundTrip, RenamedPropertiesKeepTheirKeys) {
    TempTestFolder tmp;
    for (int id : {3, 4}) {
        SCOPED_TRACE(id);
        v5test::Scene s;
        KQovNode* node = s.Add("A", s.manager.CreateNull());
        for (const char* name : {"Speed", "speed", "visibility", "lcl rotation"}) {
            KQovUserProperty* u = s.manager.CreateUserProperty(name, "Real", "");
            u->SetFlag(KQovUserProperty::eFlagUserProperty, true);
            u->SetFlag(KQovUserProperty::eFlagAnimatable, true);
            node->AddUserProperty(u);
            u->SetValue(0.25);
        }
        KQovMaterial* material = s.manager.CreateMaterial("Material::Gloss");
        KQovUserProperty* shine = s.manager.CreateUserProperty("Sheen", "Real", "");
        shine->SetFlag(KQovUserProperty::eFlagUserProperty, true);
        material->AddUserProperty(shine);
        s.scene->GetEntityContainer()->AddMaterial(material);
        // A vector beside the node's own channel of its name: its components' keys too.
        KQovUserProperty* scaling = s.manager.CreateUserProperty("lcl scaling", "Vector", "");
        scaling->SetFlag(KQovUserProperty::eFlagUserProperty, true);
        scaling->SetFlag(KQovUserProperty::eFlagAnimatable, true);
        node->AddUserProperty(scaling);
        scaling->SetValue(1.0, 2.0, 3.0);
        KQovTakeNode* take = node->AddTakeNode("Walk");
        KFCurve* y = take->FindCurve("lcl scaling", "Y", nullptr);
        ASSERT_NE(y, nullptr);
        y->ResizeKeyBuffer(1);
        y->KeySet(0, KTime(KTime::kOneSecond), 7.0f);
        y->CommitKeys(1);
        KeyTwice(take, "Speed", 2.0f);
        KeyTwice(take, "Visibility", 0.0f);
        KeyTwice(take, "lcl rotation", 5.0f);
        const std::string name = tmp / ("keys" + std::to_string(id) + ".qov");
        KQovExporter exporter(&s.manager);
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(id);
        ASSERT_TRUE(exporter.Export(s.scene, nullptr));
        const std::string status = exporter.GetStatusText().Buffer();
        EXPECT_NE(status.find("Node \"A\" user property \"lcl rotation\" written as "
                              "\"lcl rotation_1\""),
                  std::string::npos)
            << status;
        EXPECT_NE(status.find("Material \"Gloss\" user property \"Sheen\" not written: version-5 "
                              "QOV files keep user properties of models only\n"),
                  std::string::npos)
            << status;
        Imported read(name);
        ASSERT_NE(read.node, nullptr);
        const std::string speed = Keys(read.node, "Walk", "Speed");
        EXPECT_EQ(speed, "0:2.000000 1:3.000000 ");
        EXPECT_EQ(Keys(read.node, "Walk", "speed_1"), speed);
        EXPECT_EQ(Keys(read.node, "Walk", "visibility_1"), "0:0.000000 1:1.000000 ");
        EXPECT_EQ(Keys(read.node, "Walk", "lcl rotation_1"), "0:5.000000 1:6.000000 ");
        // Each still holds its own value in the default take.
        for (const char* renamed : {"speed_1", "visibility_1", "lcl rotation_1"}) {
            KQovUserProperty* u = read.node->FindUserProperty(renamed);
            ASSERT_NE(u, nullptr) << renamed;
            double value = 0.0;
            u->GetValue(value);
            EXPECT_EQ(value, 0.25) << renamed;
        }
        EXPECT_EQ(read.node->GetPropertyHandler()->FindProperty("Visibility")->GetDouble(), 1.0);
        KQovTakeNode* walk = read.node->GetTakeNode(read.node->FindTakeNodeIndex("Walk"));
        KFCurve* readY = walk ? walk->FindCurve("lcl scaling_1", "Y", nullptr) : nullptr;
        ASSERT_NE(readY, nullptr);
        ASSERT_EQ(readY->KeyGetCount(), 1);
        EXPECT_EQ(readY->KeyGetValue(0), 7.0f);
        double x = 0.0, yValue = 0.0, z = 0.0;
        KQovUserProperty* readScaling = read.node->FindUserProperty("lcl scaling_1");
        ASSERT_NE(readScaling, nullptr);
        readScaling->GetVector(x, yValue, z);
        EXPECT_EQ(x + yValue + z, 6.0);
    }
}

// Shapes whose channels a version-5 file would name alike ("ab", "ab ", "ab (Shape)", "AB  ")
// each keep their own keys: the later ones are written under names of their own, with a
// warning, and the scene keeps its names.
TEST(KQovUserPropertyRoundTrip, ShapesOfOneChannelNameKeepTheirOwnKeys) {
    TempTestFolder tmp;
    v5test::MeshScene s;
    const char* const names[] = {"ab", "ab ", "ab (Shape)", "AB  "};
    for (const char* shapeName : names) {
        KQovShape* shape = s.manager.CreateShape();
        shape->InitControlPoints(4);
        ASSERT_GE(s.mesh->AddShape(shape, shapeName), 0) << shapeName;
    }
    KQovTakeNode* take = s.node->AddTakeNode("Walk");
    for (int i = 0; i < 4; ++i) KeyTwice(take, names[i], float(10 * i));
    const std::string name = tmp / "shapes.qov";
    KQovExporter exporter(&s.manager);
    ASSERT_TRUE(exporter.Initialize(name.c_str()));
    exporter.SetFileFormat(4);
    ASSERT_TRUE(exporter.Export(s.scene, nullptr));
    EXPECT_EQ(std::string(exporter.GetStatusText().Buffer()),
              "Node \"Square\" shape \"ab \" written as \"ab 1\": another shape's channel reads "
              "back the same\n"
              "Node \"Square\" shape \"ab (Shape)\" written as \"ab 2\": another shape's channel "
              "reads back the same\n"
              "Node \"Square\" shape \"AB  \" written as \"AB 3\": another shape's channel reads "
              "back the same\n");
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(s.mesh->GetShapeName(i), names[i]);
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    ASSERT_TRUE(importer.Initialize(name.c_str()));
    ASSERT_TRUE(importer.Import(scene, nullptr)) << importer.GetLastErrorString();
    KQovNode* node = scene->GetRootNode()->FindChild("Square");
    ASSERT_NE(node, nullptr);
    KQovGeometry* geometry = node->GetGeometry();
    ASSERT_NE(geometry, nullptr);
    ASSERT_EQ(geometry->GetShapeCount(), 4);
    const char* const written[] = {"ab", "ab 1", "ab 2", "AB 3"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(geometry->GetShapeName(i), written[i]);
        EXPECT_EQ(Keys(node, "Walk", written[i]),
                  "0:" + std::to_string(10.0f * i) + " 1:" + std::to_string(10.0f * i + 1) + " ");
    }
}

// A user property named as a shape of its node, letter case aside, gets a channel of its own:
// the shape takes another name, with a warning, and keeps its weight and keys; the two stay
// apart through a version-5 file.
TEST(KQovUserPropertyRoundTrip, PropertyNamedAsAShapeStaysApartFromIt) {
    TempTestFolder tmp;
    v5test::MeshScene s;
    KQovShape* shape = s.manager.CreateShape();
    shape->InitControlPoints(4);
    ASSERT_GE(s.mesh->AddShape(shape, "Smile"), 0);
    KQovTakeNode* take = s.node->AddTakeNode("Walk");
    KeyTwice(take, "Smile", 3.0f);
    KQovUserProperty* u = s.manager.CreateUserProperty("smile", "Real", "");
    u->SetFlag(KQovUserProperty::eFlagUserProperty, true);
    u->SetFlag(KQovUserProperty::eFlagAnimatable, true);
    s.node->AddUserProperty(u);
    u->SetValue(42.0);
    EXPECT_STREQ(s.mesh->GetShapeName(0), "Smile 1");
    EXPECT_EQ(std::string(s.mesh->TakeShapeWarnings().Buffer()),
              "The shape \"Smile\" is named \"Smile 1\": its animation channel would not be its "
              "own\n");
    const std::string keys = "0:3.000000 1:4.000000 ";
    for (KQovNode* node : {s.node, static_cast<KQovNode*>(nullptr)}) {
        std::unique_ptr<Imported> read;
        if (!node) {
            const std::string name = tmp / "smile.qov";
            ASSERT_TRUE(Export(s.scene, name, 4));
            read = std::make_unique<Imported>(name);
            node = read->scene->GetRootNode()->FindChild("Square");
            ASSERT_NE(node, nullptr);
        }
        KQovGeometry* geometry = node->GetGeometry();
        ASSERT_NE(geometry, nullptr);
        ASSERT_EQ(geometry->GetShapeCount(), 1);
        EXPECT_STREQ(geometry->GetShapeName(0), "Smile 1");
        EXPECT_EQ(geometry->GetDefaultShapeChannelValue(0), 0.0);
        EXPECT_EQ(Keys(node, "Walk", "Smile 1"), keys);
        KQovUserProperty* smile = node->FindUserProperty("smile");
        ASSERT_NE(smile, nullptr);
        double value = 0.0;
        smile->GetValue(value);
        EXPECT_EQ(value, 42.0);
    }
}

// The same in a file of another writer, which names the two alike: the shape takes a free name,
// with the warning, and each keeps its value and its keys in every take, the Default take's
// (kept in the model block, beside the visibility's) too. A property without a channel takes
// no channel name; the shape's own property, listed as a user property, keeps them as well.
TEST(KQovUserPropertyRoundTrip, FileOfAPropertyNamedAsAShapeKeepsBoth) {
    const struct {
        int id;
        bool animatable;
        const char* flags;  // the shape property's, as the file lists it
    } cases[] = {{1, true, nullptr},  {0, true, nullptr},  {4, true, nullptr},
                 {1, false, nullptr}, {0, false, nullptr}, {1, true, "\"AU\",8,25,0,1"}};
    TempTestFolder tmp;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + (c.animatable ? " animatable " : " ") +
                     (c.flags ? c.flags : ""));
        v5test::MeshScene s;
        KQovShape* shape = s.manager.CreateShape();
        shape->InitControlPoints(4);
        ASSERT_GE(s.mesh->AddShape(shape, "Smile"), 0);
        s.node->GetPropertyHandler()->FindProperty("Smile")->SetDouble(25.0);
        // Named as long as the name the file gets, whose bytes then take it in its place.
        KQovUserProperty* u = s.manager.CreateUserProperty("xmile", "Real", "");
        u->SetFlag(KQovUserProperty::eFlagUserProperty, true);
        u->SetFlag(KQovUserProperty::eFlagAnimatable, c.animatable);
        s.node->AddUserProperty(u);
        u->SetValue(42.0);
        for (const char* take : {"Default", "Walk", "Run"}) {
            const float base = take[0] == 'W' ? 0.0f : take[0] == 'R' ? 10.0f : 20.0f;
            KQovTakeNode* added =
                take[0] == 'D' ? s.node->GetDefaultTakeNode() : s.node->AddTakeNode(take);
            KeyTwice(added, "Smile", base + 3.0f);
            KeyTwice(added, "Visibility", 0.0f);
            if (c.animatable) KeyTwice(added, "xmile", base + 7.0f);
        }
        // A colour of its own too, which the channel made for the property after the read takes.
        const float tint[3] = {0.75f, 0.0f, 0.5f};
        if (c.animatable)
            s.node->GetDefaultTakeNode()->GetRoot()->FindChildByName("xmile")->GetCurve()->SetColor(
                tint);
        const std::string name = tmp / "smile.qov";
        ASSERT_TRUE(Export(s.scene, name, c.id));
        std::string bytes = qovtest::ReadAll(name);
        for (size_t at = bytes.find("xmile"); at != std::string::npos; at = bytes.find("xmile"))
            bytes[at] = 's';
        const std::string own = "\"Smile\", \"Shape\", \"A\",8,25";
        if (c.flags)
            bytes.replace(bytes.find(own), own.size(),
                          "\"Smile\", \"Shape\", " + std::string(c.flags));
        qovtest::WriteAll(name, bytes);
        Read read(name);
        ASSERT_TRUE(read.ok);
        KString status;
        read.reader.GetStatusText(status);
        const char* given = c.animatable ? "Smile 1" : "Smile";
        EXPECT_EQ(std::string(status.Buffer()),
                  c.animatable ? "The shape \"Smile\" is named \"Smile 1\": its animation channel "
                                 "would not be its own\n"
                               : "");
        KQovNode* node = read.scene->GetRootNode()->FindChild("Square");
        ASSERT_NE(node, nullptr);
        KQovGeometry* geometry = node->GetGeometry();
        ASSERT_NE(geometry, nullptr);
        ASSERT_EQ(geometry->GetShapeCount(), 1);
        EXPECT_STREQ(geometry->GetShapeName(0), given);
        // A version-5 file keeps no weight.
        const double weight = c.id < 3 ? 25.0 : 0.0;
        EXPECT_EQ(geometry->GetDefaultShapeChannelValue(0), weight);
        KProperty* property = node->GetPropertyHandler()->FindProperty(given);
        ASSERT_NE(property, nullptr);
        EXPECT_EQ(property->GetDouble(), weight);
        EXPECT_EQ(Keys(node, "Walk", given), "0:3.000000 1:4.000000 ");
        EXPECT_EQ(Keys(node, "Run", given), "0:13.000000 1:14.000000 ");
        EXPECT_EQ(Keys(node, "Default", given), "0:23.000000 1:24.000000 ");
        for (const char* take : {"Default", "Walk", "Run"})
            EXPECT_EQ(Keys(node, take, "Visibility"), "0:0.000000 1:1.000000 ") << take;
        KQovUserProperty* smile = node->FindUserProperty("smile");
        ASSERT_NE(smile, nullptr);
        double value = 0.0;
        smile->GetValue(value);
        EXPECT_EQ(value, 42.0);
        if (!c.animatable) continue;
        EXPECT_EQ(Keys(node, "Walk", "smile"), "0:7.000000 1:8.000000 ");
        EXPECT_EQ(Keys(node, "Run", "smile"), "0:17.000000 1:18.000000 ");
        EXPECT_EQ(Keys(node, "Default", "smile"), "0:27.000000 1:28.000000 ");
        const float* color =
            node->GetDefaultTakeNode()->GetRoot()->FindChildByName("smile")->GetCurve()->GetColor();
        EXPECT_EQ(std::vector<float>(color, color + 3), std::vector<float>(tint, tint + 3));
    }
}
