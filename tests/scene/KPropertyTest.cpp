#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/KStringList.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KTypedProperty.h"

namespace {

// An object that records the value and state events its properties send.
class Recorder : public KObject {
public:
    std::vector<int> valueEvents, stateEvents;
    bool refuseRename = false;
    bool SendValueEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                        const void* b, const void* c) override {
        valueEvents.push_back(code);
        return KObject::SendValueEvent(chain, code, sender, a, b, c);
    }
    bool SendStateEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                        const void* b, const void* c) override {
        stateEvents.push_back(code);
        if (code == KProperty::eRenaming && refuseRename && sender != this) return false;
        return KObject::SendStateEvent(chain, code, sender, a, b, c);
    }
};

struct ObjectGuard {
    KObject* object;
    ~ObjectGuard() { object->Destroy(); }
};

TEST(KProperty, TypeCodeNamesRoundTrip) {
    const char* names[] = {"unknown",   "int",        "bool",      "float",        "double",
                           "charptr",   "enum",       "KTime",     "KString",      "object",
                           "event",     "stringlist", "Vector4D",  "Vector3D",     "ColorRGB",
                           "ColorRGBA", "Action",     "Reference", "VectorElement"};
    for (int code = 0; code < 19; ++code) {
        EXPECT_STREQ(KProperty::GetTypeName(code), names[code]);
        EXPECT_EQ(KProperty::TypeCodeFromName(names[code]), code);
    }
    EXPECT_EQ(KProperty::TypeCodeFromName("Vector3D"), 13);
    EXPECT_EQ(KProperty::TypeCodeFromName("vector3d"), 0);
    EXPECT_EQ(KProperty::TypeCodeFromName("nothing"), 0);
    EXPECT_EQ(KProperty::TypeCodeFromName(nullptr), 0);
    EXPECT_STREQ(KProperty::GetTypeName(19), "unknown");
    EXPECT_STREQ(KProperty::GetTypeName(-1), "unknown");
}

TEST(KProperty, TypeCodeFromDataType) {
    struct Row {
        const char* type;
        int code;
    } rows[] = {{"Action", 16},        {"Bool", 2},        {"Integer", 1}, {"Color", 14},
                {"ColorAndAlpha", 15}, {"Enum", 6},        {"Time", 7},    {"Intensity", 4},
                {"Lcl Rotation", 13},  {"Quaternion", 12}, {"Matrix", 0},  {"Number", 4},
                {"Trigger", 16}};
    for (const Row& r : rows)
        EXPECT_EQ(KProperty::TypeCodeFromDataType(KDataType::FindByName(r.type)), r.code) << r.type;
    EXPECT_EQ(KProperty::TypeCodeFromDataType(nullptr), 0);
}

// Every typed class through the integer and double conversions.
TEST(KProperty, ConversionsByTypeCode) {
    ObjectGuard guard{new KObject};
    KObject* object = guard.object;
    struct Row {
        int code;
        bool intWorks;
        double setTo;
        int intAfter;
        double doubleAfter;
        bool doubleWorks;
    } rows[] = {
        {1, true, 2.9, 2, 2.0, true},    {2, true, 0.5, 0, 0.0, true},
        {4, false, 2.9, 0, 2.9, true},   {6, true, -3.7, -3, -3.0, true},
        {7, false, 1.0, 0, 0.0, false},  {8, false, 1.0, 0, 0.0, false},
        {9, false, 1.0, 0, 0.0, false},  {13, false, 1.0, 0, 0.0, false},
        {14, false, 1.0, 0, 0.0, false}, {15, false, 1.0, 0, 0.0, false},
        {16, true, 7.0, 1, 1.0, true},   {17, false, 1.0, 0, 0.0, false},
    };
    for (const Row& r : rows) {
        KProperty* p = object->CreateProperty("p", r.code, nullptr, false, false);
        ASSERT_NE(p, nullptr) << r.code;
        EXPECT_EQ(p->GetTypeCode(), r.code);
        EXPECT_TRUE(p->TestFlag(KProperty::eTyped));
        EXPECT_EQ(p->GetMin(), 0.0);
        EXPECT_EQ(p->GetMax(), 100.0);
        EXPECT_EQ(p->SetInt(5), r.intWorks) << r.code;
        EXPECT_EQ(p->SetDouble(r.setTo), r.doubleWorks) << r.code;
        EXPECT_EQ(p->GetInt(), r.intAfter) << r.code;
        EXPECT_DOUBLE_EQ(p->GetDouble(), r.doubleAfter) << r.code;
    }
    // A type code forced onto the wrong class converts nothing and writes nothing.
    KProperty* d = object->CreateProperty("d", 4, nullptr, false, false);
    d->SetTypeCode(KProperty::eINT);
    EXPECT_FALSE(d->SetInt(3));
    EXPECT_EQ(d->GetInt(), 0);
    KProperty* s = object->CreateProperty("s", 8, nullptr, false, false);
    s->SetTypeCode(KProperty::eDOUBLE);
    EXPECT_FALSE(s->SetDouble(1.0));
    EXPECT_EQ(s->GetDouble(), 0.0);
}

TEST(KProperty, ValueTextOfEveryTypeCode) {
    ObjectGuard guard{new KObject};
    KObject* object = guard.object;
    auto text = [](KProperty* p) {
        KString t;
        p->GetValueText(t);
        return std::string(t.Buffer());
    };
    auto* i = static_cast<KPropertyInt*>(object->CreateProperty("i", 1, nullptr, false, false));
    i->Set(-42);
    EXPECT_EQ(text(i), "-42");
    KProperty* b = object->CreateProperty("b", 2, nullptr, false, false);
    EXPECT_EQ(text(b), "False");
    b->SetInt(1);
    EXPECT_EQ(text(b), "True");
    KProperty* d = object->CreateProperty("d", 4, nullptr, false, false);
    d->SetDouble(1.5);
    EXPECT_EQ(text(d), "1.500000");
    KProperty* e = object->CreateProperty("e", 6, nullptr, false, false);
    e->GetEnumList(true)->Add("Zero");
    e->GetEnumList(true)->Add("One");
    e->SetInt(1);
    EXPECT_EQ(text(e), "One");
    e->SetInt(2);
    EXPECT_EQ(text(e), "");
    auto* t = static_cast<KPropertyTime*>(object->CreateProperty("t", 7, nullptr, false, false));
    t->Set(KTime(KTime::kOneSecond));
    char expected[64];
    KTime(KTime::kOneSecond).GetTimeString(expected, sizeof expected, 5, 0, 2);
    EXPECT_EQ(text(t), expected);
    KProperty* s = object->CreateProperty("s", 8, nullptr, false, false);
    EXPECT_TRUE(s->SetString("abc"));
    EXPECT_FALSE(d->SetString("abc"));
    EXPECT_EQ(text(s), "abc");
    auto* o = static_cast<KPropertyObject*>(object->CreateProperty("o", 9, nullptr, false, false));
    EXPECT_EQ(text(o), "Object!");
    o->SetFlag(KProperty::eObjectList, true);
    EXPECT_EQ(text(o), "ObjectList!");
    KObject* named = new KObject;
    named->SetFullName("ns:Cube");
    o->Set(named);
    EXPECT_EQ(text(o), "ns:Cube");
    o->Set(nullptr);
    named->Destroy();
    auto* v =
        static_cast<KPropertyVector3D*>(object->CreateProperty("v", 13, nullptr, false, false));
    v->Set(1, 2, 3);
    EXPECT_EQ(text(v), "{1.000000,2.000000,3.000000}");
    auto* c =
        static_cast<KPropertyColorRGB*>(object->CreateProperty("c", 14, nullptr, false, false));
    c->Set(0.5, 0.25, 1);
    EXPECT_EQ(text(c), "{0.500000,0.250000,1.000000,1.000000}");
    auto* a =
        static_cast<KPropertyColorRGBA*>(object->CreateProperty("a", 15, nullptr, false, false));
    a->Set(0.5, 0.25, 1, 0);
    EXPECT_EQ(text(a), "{0.500000,0.250000,1.000000,0.000000}");
    KProperty* action = object->CreateProperty("act", 16, nullptr, false, false);
    EXPECT_EQ(text(action), "False");
    KProperty* r = object->CreateProperty("r", 17, nullptr, false, false);
    EXPECT_EQ(text(r), "?");
    KProperty* plain = new KProperty;
    for (int code : {0, 5, 10, 11, 12, 18}) {
        plain->SetTypeCode(code);
        EXPECT_EQ(text(plain), code == 5    ? ""
                               : code == 12 ? "{0.000000,0.000000,0.000000,1.000000}"
                                            : "?")
            << code;
    }
    plain->Destroy();
}

TEST(KProperty, UniqueNamesOnTheOwner) {
    ObjectGuard guard{new KObject};
    KObject* object = guard.object;
    KProperty* light = object->CreateProperty("Light", 4, nullptr, false, false);
    std::vector<KProperty*> others;
    for (int i = 0; i < 3; ++i)
        others.push_back(object->CreateProperty("x", 4, nullptr, false, false));
    EXPECT_TRUE(others[0]->SetName("Light", true));
    EXPECT_STREQ(others[0]->GetName(), "Light 1");
    EXPECT_TRUE(others[1]->SetName("  Light ", true));
    EXPECT_STREQ(others[1]->GetName(), "Light 2");
    EXPECT_TRUE(light->SetName("Light", true));  // itself is no clash
    EXPECT_STREQ(light->GetName(), "Light");
    light->SetName("Light7", false);
    EXPECT_TRUE(others[2]->SetName("Light7", true));
    EXPECT_STREQ(others[2]->GetName(), "Light8");
    // A digit run too long for a number counts as none.
    KProperty* big = object->CreateProperty("y", 4, nullptr, false, false);
    big->SetName("L99999999999999999999", false);
    KProperty* big2 = object->CreateProperty("z", 4, nullptr, false, false);
    big2->SetName("L99999999999999999999", true);
    EXPECT_STREQ(big2->GetName(), "L99999999999999999999 1");
    KProperty* empty = object->CreateProperty("w", 4, nullptr, false, false);
    empty->SetName("   ", true);
    EXPECT_STREQ(empty->GetName(), "1");
    empty->SetName("say \"hi\"", false);
    EXPECT_STREQ(empty->GetName(), "say hi");
    EXPECT_TRUE(empty->TestFlag(KProperty::eOwnedName));
}

// Among many properties (looked up by the owner's index) as among few: the property itself is
// no clash, but another of its own name is.
TEST(KProperty, UniqueNamesAmongManyProperties) {
    for (int fillers : {3, 80}) {
        SCOPED_TRACE(fillers);
        ObjectGuard guard{new KObject};
        KObject* object = guard.object;
        for (int i = 0; i < fillers; ++i)
            object->CreateProperty(("F" + std::to_string(i)).c_str(), 4, nullptr, false, false);
        KProperty* a = object->CreateProperty("A", 4, nullptr, false, false);
        KProperty* b = object->CreateProperty("B", 4, nullptr, false, false);
        KProperty* c = object->CreateProperty("C", 4, nullptr, false, false);
        ASSERT_TRUE(a && b && c);
        EXPECT_TRUE(a->SetName("A", true));
        EXPECT_STREQ(a->GetName(), "A");
        EXPECT_TRUE(b->SetName("A", true));
        EXPECT_STREQ(b->GetName(), "A 1");
        EXPECT_TRUE(c->SetName("A 1", true));
        EXPECT_STREQ(c->GetName(), "A 2");
        // Two of one name: each finds the other.
        ASSERT_TRUE(b->SetName("A", false));
        EXPECT_TRUE(a->SetName("A", true));
        EXPECT_STREQ(a->GetName(), "A 1");
        EXPECT_TRUE(c->SetName("F1", true));
        EXPECT_EQ(c->GetName(), "F" + std::to_string(fillers));
    }
}

TEST(KProperty, EventsReachTheOwner) {
    Recorder* owner = new Recorder;
    ObjectGuard guard{owner};
    auto* d = static_cast<KPropertyDouble*>(owner->CreateProperty("d", 4, nullptr, false, false));
    owner->valueEvents.clear();
    owner->stateEvents.clear();
    d->Set(3.0);
    EXPECT_EQ(owner->valueEvents, (std::vector<int>{20, 21}));
    EXPECT_TRUE(d->SetMin(0.0));  // unchanged: no event
    EXPECT_TRUE(owner->stateEvents.empty());
    d->SetMinMax(-1, 1);
    EXPECT_EQ(owner->stateEvents, (std::vector<int>{31}));
    owner->stateEvents.clear();
    owner->refuseRename = true;
    EXPECT_FALSE(d->SetName("e", false));
    EXPECT_STREQ(d->GetName(), "d");
    owner->refuseRename = false;
    EXPECT_TRUE(d->SetName("e", false));
    EXPECT_STREQ(d->GetName(), "e");
    d->SetLabel("Label");
    EXPECT_STREQ(d->GetLabel(), "Label");
    d->SetLabel("");
    EXPECT_EQ(d->GetLabel(), nullptr);
}

TEST(KProperty, AccessorsOfTheOwner) {
    ObjectGuard guard{new KObject};
    double stored = 4.0;
    int sets = 0;
    KPropertyDouble member;
    member.Init(
        "Member", guard.object, [&] { return stored; },
        [&](const double& v) {
            stored = v;
            ++sets;
        });
    guard.object->AddProperty(&member);
    EXPECT_EQ(member.Get(), 4.0);
    member.Set(6.0);
    EXPECT_EQ(stored, 6.0);
    EXPECT_EQ(sets, 1);
    EXPECT_EQ(member.GetCachedValue(), 4.0);  // written through the setter only
    EXPECT_EQ(guard.object->FindProperty("Member"), &member);
    EXPECT_FALSE(member.TestFlag(KProperty::eTyped));
    // An embedded member is disconnected, never deleted, by the owner.
    EXPECT_EQ(guard.object->DestroyProperty(0), 0);
    EXPECT_EQ(guard.object->GetPropertyCount(), 0);
}

TEST(KProperty, EnumNamesStayInBounds) {
    ObjectGuard guard{new KObject};
    KProperty* e = guard.object->CreateProperty("e", 6, nullptr, false, false);
    EXPECT_EQ(e->GetEnumName(0), nullptr);
    EXPECT_EQ(e->GetEnumList(false), nullptr);
    e->GetEnumList(true)->Add("A");
    e->GetEnumList(true)->Add("B");
    EXPECT_STREQ(e->GetEnumName(1), "B");
    EXPECT_EQ(e->GetEnumName(2), nullptr);
    EXPECT_EQ(e->GetEnumName(-1), nullptr);
    e->SetEnumSource([](int v) -> const char* { return v == 3 ? "Three" : nullptr; });
    EXPECT_STREQ(e->GetEnumName(3), "Three");
    EXPECT_EQ(e->GetEnumName(1), nullptr);
    e->SetEnumSource(nullptr);
    EXPECT_STREQ(e->GetEnumName(1), "B");
}

TEST(KProperty, CopyValueNeedsTheSameTypeCode) {
    ObjectGuard guard{new KObject};
    KObject* o = guard.object;
    auto* a = static_cast<KPropertyString*>(o->CreateProperty("a", 8, nullptr, false, false));
    auto* b = static_cast<KPropertyString*>(o->CreateProperty("b", 8, nullptr, false, false));
    a->Set(KString("text"));
    b->CopyValue(a);
    EXPECT_STREQ(b->Get().Buffer(), "text");
    auto* v = static_cast<KPropertyVector3D*>(o->CreateProperty("v", 13, nullptr, false, false));
    auto* w = static_cast<KPropertyVector3D*>(o->CreateProperty("w", 13, nullptr, false, false));
    v->Set(1, 2, 3);
    w->SetValueFromProperty(v);
    EXPECT_EQ(w->Get()[2], 3.0);
    KProperty* d = o->CreateProperty("d", 4, nullptr, false, false);
    d->CopyValue(a);
    EXPECT_EQ(d->GetDouble(), 0.0);
    d->CopyValue(nullptr);
    d->CopyValue(d);
}

TEST(KPropertyObjectList, ListsObjectsAndCountsChanges) {
    ObjectGuard owner{new KObject};
    KPropertyObjectList* list = KObject::CreateObjectListProperty(
        owner.object, "Targets\"", 0, KObject::ClassId(), 1, KPlug::eAcceptsSources, 1);
    EXPECT_STREQ(list->GetName(), "Targets");
    EXPECT_EQ(list->GetTypeCode(), 9);
    EXPECT_TRUE(list->TestFlag(KProperty::eObjectList | KProperty::eObjectListMark));
    EXPECT_TRUE(list->TestUserFlag(1));
    EXPECT_EQ(owner.object->FindProperty("Targets"), list);
    int word = 0, classId = 0;
    list->GetClassFilter(&word, &classId);
    EXPECT_EQ(word, 1);
    EXPECT_EQ(classId, 1);

    ObjectGuard a{new KObject}, b{new KObject}, c{new KObject};
    int changes = list->GetChangeCount();
    EXPECT_TRUE(list->Add(a.object));
    EXPECT_TRUE(list->Add(b.object));
    EXPECT_TRUE(list->InsertAt(0, c.object));
    EXPECT_EQ(list->GetCount(), 3);
    EXPECT_EQ(list->GetAt(0), c.object);
    EXPECT_EQ(list->Find(b.object), 2);
    EXPECT_EQ(list->Find(nullptr), -1);
    // Each mutation touches once, and each source added or removed once more.
    EXPECT_EQ(list->GetChangeCount(), changes + 6);
    // Only objects of the accepted class; a property is refused.
    KProperty* p = owner.object->CreateProperty("p", 4, nullptr, false, false);
    EXPECT_FALSE(list->ConnectSrc(p));
    EXPECT_TRUE(list->Remove(c.object));
    EXPECT_EQ(list->GetAt(0), a.object);
    EXPECT_TRUE(list->SetAt(1, c.object));
    EXPECT_EQ(list->GetAt(1), c.object);
    EXPECT_EQ(b.object->GetDstCount(), 0);
    EXPECT_TRUE(list->SetSingle(b.object));
    EXPECT_EQ(list->GetCount(), 1);
    EXPECT_EQ(list->GetAt(0), b.object);
    EXPECT_TRUE(list->RemoveAt(0));
    EXPECT_EQ(list->GetCount(), 0);
    EXPECT_FALSE(list->RemoveAt(0));
    KString text;
    list->GetValueText(text);
    EXPECT_STREQ(text.Buffer(), "ObjectList!");
}

}  // namespace

namespace {

// A type made after start-up that takes the name of a built-in one.
struct LaterType : KDataType {
    explicit LaterType(const char* name) : KDataType(name, 8, 1, nullptr) {}
};

}  // namespace

// A property without a data type of its own answers its type code's type by name: the answer
// is remembered, and must follow types made and deleted later and its own SetDataType.
TEST(KProperty, DataTypeOfTypeCodeFollowsLaterChanges) {
    ObjectGuard guard{new KObject};
    const struct {
        int code;
        const char* type;
    } rows[] = {{KProperty::eDOUBLE, "Number"},       {KProperty::eTIME, "Time"},
                {KProperty::eVECTOR3D, "Vector"},
                {KProperty::eCOLORRGB, "Color"},      {KProperty::eCOLORRGBA, "ColorAndAlpha"},
                {KProperty::eINT, nullptr}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        KProperty* p = guard.object->CreateProperty("p", r.code, nullptr, false, false);
        ASSERT_NE(p, nullptr);
        KDataType* builtIn = r.type ? KDataType::FindByName(r.type) : nullptr;
        EXPECT_EQ(p->GetDataType(), builtIn);
        EXPECT_EQ(p->GetDataType(), builtIn);  // the remembered answer
        if (!r.type) continue;
        {
            LaterType later(r.type);
            EXPECT_EQ(p->GetDataType(), KDataType::FindByName(r.type));
        }
        EXPECT_EQ(p->GetDataType(), builtIn);
        KDataType* own = KDataType::FindByName("Intensity");
        p->SetDataType(own);
        EXPECT_EQ(p->GetDataType(), own);
        p->SetDataType(nullptr);
        EXPECT_EQ(p->GetDataType(), builtIn);
    }
}
