#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/KCallbackList.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KSceneTestPlugs.h"
#include "scene/KTypedProperty.h"

namespace {

// Records its object events, the object events of its sources and its
// connection notifications; can act from inside a notification.
class Watcher : public KObject {
public:
    std::vector<int> events, sourceEvents, notifications;
    std::function<void(int code, KPlug* sender, KPlug* other)> action;
    bool SendEvent(int code, const KWeakRef* reference, const void* detail, int index) override {
        events.push_back(code);
        return KObject::SendEvent(code, reference, detail, index);
    }
    bool OnSourceObjectEvent(int code, const KWeakRef* sender, const KWeakRef* reference,
                             const void* detail) override {
        sourceEvents.push_back(code);
        return KObject::OnSourceObjectEvent(code, sender, reference, detail);
    }
    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override {
        if (sender == this) notifications.push_back(code);
        if (action) action(code, sender, other);
        return KObject::Notify(chain, code, sender, index, other, type, extra);
    }
};

class Entity : public KEntity {};

struct Objects : KSceneTestPlugs<Watcher> {
    template <class T = Watcher>
    T* Make(const char* name = nullptr) {
        T* o = KSceneTestPlugs::Make<T>();
        if (name) o->SetName(name);
        return o;
    }
};

TEST(KObject, SplitAndComposeFullNames) {
    struct Row {
        const char* full;
        const char* before;
        const char* prefix;
        const char* space;
        const char* name;
    } rows[] = {
        {"Model::ns:Cube", "", "Model", "ns", "Cube"},
        {"Cube", "", "", "", "Cube"},
        {"a:::b::c:d", "a", "b", "c", "d"},
        {"ns:", "", "", "ns", ""},
        {"Model::", "", "Model", "", ""},
        {"a:b:c", "", "", "a:b", "c"},
        {"x::y::z", "", "x::y", "", "z"},
        {"", "", "", "", ""},
    };
    for (const Row& r : rows) {
        KString before, prefix, space, name;
        KObject::SplitFullName(r.full, before, prefix, space, name);
        EXPECT_STREQ(before.Buffer(), r.before) << r.full;
        EXPECT_STREQ(prefix.Buffer(), r.prefix) << r.full;
        EXPECT_STREQ(space.Buffer(), r.space) << r.full;
        EXPECT_STREQ(name.Buffer(), r.name) << r.full;
    }
    EXPECT_STREQ(KObject::ComposeName("Model", "ns", "Cube").Buffer(), "Model::ns:Cube");
    EXPECT_STREQ(KObject::ComposeName("", "", "Cube").Buffer(), "Cube");
    EXPECT_STREQ(KObject::ComposeName("", "ns", "").Buffer(), "ns:");
    EXPECT_STREQ(KObject::JoinNameSpace("ns", "Cube").Buffer(), "ns:Cube");
    EXPECT_STREQ(KObject::JoinNameSpace("ns", ":Cube").Buffer(), "ns:Cube");
    EXPECT_STREQ(KObject::JoinNameSpace("ns:", "").Buffer(), "ns");
    EXPECT_STREQ(KObject::JoinNameSpace("", ":Cube").Buffer(), "Cube");
    EXPECT_STREQ(KObject::JoinNameSpace("", "Cube:").Buffer(), "Cube");

    Objects objects;
    Watcher* o = objects.Make();
    o->SetFullName("Model::ns:Cube");
    EXPECT_STREQ(o->GetNameSpace(), "ns");
    EXPECT_STREQ(o->GetName(), "Cube");
    EXPECT_STREQ(o->GetFullName().Buffer(), "ns:Cube");
    o->SetFullName("Sphere");
    EXPECT_STREQ(o->GetNameSpace(), "");
    EXPECT_STREQ(o->GetFullName().Buffer(), "Sphere");
    EXPECT_STREQ(o->GetNameWithNameSpace().Buffer(), "Sphere");
}

TEST(KObject, RenamingEventsAndRules) {
    Objects objects;
    Watcher* o = objects.Make();
    EXPECT_STREQ(o->GetName(), "");
    o->SetName("  Cube");
    EXPECT_STREQ(o->GetName(), "Cube");
    EXPECT_STREQ(o->GetInitialName(), "Cube");
    EXPECT_EQ(o->events, (std::vector<int>{8, 12}));
    o->events.clear();
    o->SetName("Cube");  // unchanged: nothing
    EXPECT_TRUE(o->events.empty());
    o->SetCurrentName("Box");
    EXPECT_STREQ(o->GetName(), "Box");
    EXPECT_STREQ(o->GetInitialName(), "Cube");
    o->SetName("   ");
    EXPECT_STREQ(o->GetName(), "1");
    o->events.clear();
    o->SetNameSpace("ns");
    o->SetCurrentNameSpace("other");
    EXPECT_STREQ(o->GetNameSpace(), "other");
    EXPECT_STREQ(o->GetInitialNameSpace(), "ns");
    EXPECT_EQ(o->events, (std::vector<int>{9, 13, 11, 15}));
    EXPECT_STREQ(o->GetFullName().Buffer(), "other:1");

    // Object events reach the objects this one is a source of.
    Watcher* dst = objects.Make();
    ASSERT_TRUE(dst->ConnectSrc(o));
    dst->sourceEvents.clear();
    o->SetName("Renamed");
    EXPECT_EQ(dst->sourceEvents, (std::vector<int>{8, 12}));
}

TEST(KObject, StateWord) {
    Objects objects;
    Watcher* o = objects.Make();
    EXPECT_TRUE(o->SetFlags(1));
    uint32_t stamp = o->GetStamp();
    EXPECT_FALSE(o->SetFlags(1));
    EXPECT_TRUE(o->SetFlags(3));
    EXPECT_GT(o->GetStamp(), stamp);
    EXPECT_TRUE(o->SetFlags(0));
    EXPECT_EQ(o->events, (std::vector<int>{6, 25, 25, 16, 7, 17}));
    o->SetToggle(true);
    EXPECT_EQ(o->events.back(), 19);
}

TEST(KObject, CreatePropertyMakesNamesUnique) {
    Objects objects;
    Watcher* o = objects.Make();
    KProperty* a = o->CreateProperty("Size", 4, nullptr, true, false);
    KProperty* b = o->CreateProperty("Size", 4, nullptr, false, false);
    KProperty* c = o->CreateProperty("Size", 1, nullptr, false, true);
    ASSERT_TRUE(a && b && c);
    EXPECT_STREQ(b->GetName(), "Size 0");
    EXPECT_STREQ(c->GetName(), "Size 1");
    EXPECT_TRUE(a->IsAnimatable());
    EXPECT_FALSE(b->IsAnimatable());
    EXPECT_EQ(o->FindProperty("Size"), a);
    EXPECT_EQ(o->FindProperty("size"), nullptr);
    for (int code : {0, 3, 5, 10, 11, 12, 18, 19, -1})
        EXPECT_EQ(o->CreateProperty("x", code, nullptr, false, false), nullptr) << code;
    EXPECT_EQ(o->GetPropertyCount(), 3);
    EXPECT_EQ(o->GetUserPropertyCount(), 1);
    EXPECT_EQ(o->GetUserProperty(0), c);
    EXPECT_EQ(o->GetUserProperty(1), nullptr);
    EXPECT_EQ(o->RemovePropertyAt(-1), 1);
    EXPECT_EQ(o->RemovePropertyAt(3), 1);
    EXPECT_EQ(o->DestroyProperty(5), 1);
    KProperty* gone = b;
    o->DestroyPropertyAndClear(gone);
    EXPECT_EQ(gone, nullptr);
    EXPECT_EQ(o->GetPropertyCount(), 2);
}

// Among many properties (looked up by an index that remembers the numbers given) as among few:
// a number freed by a removal or a rename is given again.
TEST(KObject, CreatePropertyGivesFreedNumbersAgain) {
    for (int fillers : {3, 80}) {
        SCOPED_TRACE(fillers);
        Objects objects;
        Watcher* o = objects.Make();
        for (int i = 0; i < fillers; ++i)
            o->CreateProperty(("F" + std::to_string(i)).c_str(), 4, nullptr, false, false);
        std::vector<KProperty*> made;
        for (const char* expected : {"P", "P 0", "P 1", "P 2"}) {
            made.push_back(o->CreateProperty("P", 4, nullptr, false, false));
            ASSERT_NE(made.back(), nullptr);
            EXPECT_STREQ(made.back()->GetName(), expected);
        }
        o->DestroyPropertyAndClear(made[1]);
        EXPECT_STREQ(o->CreateProperty("P", 4, nullptr, false, false)->GetName(), "P 0");
        ASSERT_TRUE(made[2]->SetName("Q", false));
        EXPECT_STREQ(o->CreateProperty("P", 4, nullptr, false, false)->GetName(), "P 1");
        EXPECT_STREQ(o->CreateProperty("P", 4, nullptr, false, false)->GetName(), "P 3");
    }
}

TEST(KObject, ReferenceProperties) {
    Objects objects;
    Watcher* source = objects.Make("Light");
    Watcher* user = objects.Make("User");
    KProperty* intensity = source->CreateProperty("Intensity", 4, nullptr, true, false);
    intensity->SetMinMax(0, 500);
    KProperty* ref = user->CreateReferenceProperty(intensity, nullptr);
    ASSERT_NE(ref, nullptr);
    EXPECT_STREQ(ref->GetName(), "Light.Intensity");
    EXPECT_TRUE(ref->IsReference());
    EXPECT_TRUE(ref->TestFlag(KProperty::eUserProperty));
    EXPECT_FALSE(ref->TestFlag(KProperty::eNamedReference));
    EXPECT_EQ(ref->GetReferencedProperty(), intensity);
    EXPECT_EQ(intensity->GetReferencedProperty(), intensity);
    EXPECT_EQ(ref->GetMax(), 500.0);
    EXPECT_EQ(KProperty::GetDstProperty(intensity, 0), ref);
    EXPECT_EQ(intensity->GetDstPropertyCount(), 1);
    KProperty* named = user->CreateReferenceProperty(intensity, "Mine");
    ASSERT_NE(named, nullptr);
    EXPECT_TRUE(named->TestFlag(KProperty::eNamedReference));
    EXPECT_EQ(user->CreateReferenceProperty(nullptr, "x"), nullptr);
    KProperty* objectProperty = source->CreateProperty("o", 9, nullptr, false, false);
    EXPECT_EQ(user->CreateReferenceProperty(objectProperty, "x"), nullptr);

    // Cutting a reference from its property destroys the reference.
    EXPECT_EQ(user->GetPropertyCount(), 2);
    ASSERT_TRUE(named->DisconnectSrc(intensity));
    EXPECT_EQ(user->FindProperty("Mine"), nullptr);
    EXPECT_EQ(user->GetPropertyCount(), 1);
    // Removing the referenced property destroys the properties that refer to it.
    KWeakRef refRef = ref->GetWeakRef();
    EXPECT_EQ(source->DestroyProperty(source->IndexOfProperty(intensity)), 0);
    EXPECT_EQ(refRef.Resolve(), nullptr);
    EXPECT_EQ(user->GetPropertyCount(), 0);
}

TEST(KObject, DestroyLeavesNoConnectionsAndNoProperties) {
    Objects objects;
    Watcher* a = objects.Make("A");
    Watcher* b = objects.Make("B");
    Watcher* c = objects.Make("C");
    KProperty* pa = a->CreateProperty("pa", 4, nullptr, false, false);
    KProperty* pb = b->CreateProperty("pb", 4, nullptr, false, false);
    a->CreateReferenceProperty(pb, "ref");
    ASSERT_TRUE(pb->ConnectSrc(pa));
    ASSERT_TRUE(b->ConnectSrc(a));
    ASSERT_TRUE(a->ConnectSrc(c));
    KPropertyObjectList* list = KObject::CreateObjectListProperty(b, "list", 0, KObject::ClassId(),
                                                                  1, KPlug::eAcceptsSources, 0);
    ASSERT_TRUE(list->Add(a));
    const int live = KPlug::GetLivePlugCount();
    a->Destroy();
    EXPECT_EQ(b->GetSrcCount(), 0);
    EXPECT_EQ(c->GetDstCount(), 0);
    EXPECT_EQ(pb->GetSrcCount(), 0);
    EXPECT_EQ(pb->GetDstCount(), 0);
    EXPECT_EQ(list->GetCount(), 0);
    // The object and its two properties are gone; telling of the destruction made no sub-plug
    // (a destruction allocates nothing).
    EXPECT_EQ(KPlug::GetLivePlugCount(), live - 3);
}

TEST(KObject, DestroyIsDeferredWhileBusy) {
    Objects objects;
    Watcher* a = objects.Make("A");
    Watcher* b = objects.Make("B");
    Watcher* other = objects.Make("Other");
    a->CreateProperty("p", 4, nullptr, false, false);
    ASSERT_TRUE(b->ConnectSrc(a));
    ASSERT_TRUE(other->ConnectSrc(a));
    KWeakRef aRef = a->GetWeakRef();
    bool aliveInside = false;
    b->action = [&](int code, KPlug* sender, KPlug* far) {
        if (sender == b && code == KPlug::eSourceRemoving && far == a) {
            a->Destroy();
            aliveInside = aRef.Resolve() != nullptr;
        }
    };
    ASSERT_TRUE(b->DisconnectSrc(a));
    EXPECT_TRUE(aliveInside);
    EXPECT_EQ(aRef.Resolve(), nullptr);
    EXPECT_EQ(other->GetSrcCount(), 0);
    EXPECT_EQ(b->notifications.back(), KPlug::eSourceRemoved);
}

TEST(KObject, LinkPairsLiveOnlyWhileAConnectionIsReplaced) {
    Objects objects;
    Watcher* dst = objects.Make("D");
    Watcher* oldSrc = objects.Make("Old");
    Watcher* newSrc = objects.Make("New");
    ASSERT_TRUE(dst->ConnectSrc(oldSrc));
    bool linkedDuring = false;
    dst->action = [&](int code, KPlug* sender, KPlug* far) {
        if (sender == dst && code == KPlug::eSourceRemoved)
            linkedDuring = dst->IsLinked(far, dst) && dst->IsLinked(dst, far);
    };
    ASSERT_TRUE(dst->ReplaceSrc(oldSrc, newSrc, -1));
    EXPECT_TRUE(linkedDuring);
    EXPECT_EQ(dst->GetSrc(0), newSrc);
    // Both ends dropped their pair once the replacement ended.
    EXPECT_FALSE(dst->IsLinked(dst, oldSrc));
    EXPECT_FALSE(dst->IsLinked(oldSrc, dst));
    EXPECT_FALSE(oldSrc->IsLinked(oldSrc, dst));

    // A reference property survives the replacement of its source.
    Watcher* user = objects.Make("U");
    KProperty* p1 = dst->CreateProperty("p1", 4, nullptr, false, false);
    KProperty* p2 = dst->CreateProperty("p2", 4, nullptr, false, false);
    KProperty* ref = user->CreateReferenceProperty(p1, "ref");
    ASSERT_NE(ref, nullptr);
    ASSERT_TRUE(ref->ReplaceSrc(p1, p2, -1));
    EXPECT_EQ(user->FindProperty("ref"), ref);
    EXPECT_EQ(ref->GetReferencedProperty(), p2);
}

TEST(KObject, CopyConnectionsKeepsOrder) {
    Objects objects;
    Watcher* from = objects.Make("From");
    Watcher* to = objects.Make("To");
    Watcher *a = objects.Make("a"), *b = objects.Make("b"), *c = objects.Make("c"),
            *x = objects.Make("x"), *y = objects.Make("y");
    for (Watcher* s : {a, b, c}) ASSERT_TRUE(from->ConnectSrc(s));
    for (Watcher* s : {x, y}) ASSERT_TRUE(to->ConnectSrc(s));
    ASSERT_TRUE(to->ConnectSrc(b));  // already there: only disconnected from `from`
    EXPECT_FALSE(from->Merge(to, 0x8, nullptr, nullptr));
    ASSERT_EQ(to->GetSrcCount(), 5);
    std::vector<KPlug*> order;
    for (int i = 0; i < 5; ++i) order.push_back(to->GetSrc(i));
    EXPECT_EQ(order, (std::vector<KPlug*>{x, y, b, a, c}));
    EXPECT_EQ(from->GetSrcCount(), 0);

    // Destinations: a listed object and an entity stay or are only dropped.
    Watcher* d1 = objects.Make("d1");
    Watcher* d2 = objects.Make("d2");
    Entity* entity = objects.Make<Entity>("e");
    for (KObject* d :
         {static_cast<KObject*>(d1), static_cast<KObject*>(d2), static_cast<KObject*>(entity)})
        ASSERT_TRUE(from->ConnectDst(d));
    Watcher* twin = objects.Make("d2");  // same full name as d2: listed
    KObjectMergeContext context;
    context.lists[1].push_back(twin->GetWeakRef());
    EXPECT_TRUE(from->CopyConnections(2, to, &context));
    EXPECT_EQ(from->GetDstCount(), 1);
    EXPECT_EQ(from->GetDst(0), entity);
    EXPECT_EQ(to->GetDstCount(), 1);
    EXPECT_EQ(to->GetDst(0), d1);
    EXPECT_EQ(d2->GetSrcCount(), 0);
    EXPECT_TRUE(from->CopyConnections(3, to, nullptr));

    // Property connections move to the same-named property.
    KProperty* fp = from->CreateProperty("p", 4, nullptr, false, false);
    KProperty* tp = to->CreateProperty("p", 4, nullptr, false, false);
    KProperty* driver = a->CreateProperty("drv", 4, nullptr, false, false);
    ASSERT_TRUE(fp->ConnectSrc(driver));
    from->CopyConnections(1, to, nullptr);
    EXPECT_EQ(fp->GetSrcCount(), 0);
    EXPECT_EQ(tp->GetSrc(0), driver);
}

TEST(KObject, MergeReplacesTheOther) {
    Objects objects;
    Watcher* mine = objects.Make("Mine");
    Watcher* other = objects.Make("Theirs");
    other->SetNameSpace("ns");
    KProperty* mp = mine->CreateProperty("v", 4, nullptr, false, false);
    KProperty* op = other->CreateProperty("v", 4, nullptr, false, false);
    mp->SetDouble(7);
    KWeakRef otherRef = other->GetWeakRef();
    EXPECT_TRUE(mine->Merge(other, 0x2 | 0x40, nullptr, nullptr));
    (void)op;
    EXPECT_EQ(otherRef.Resolve(), nullptr);
    EXPECT_STREQ(mine->GetName(), "Theirs");
    EXPECT_STREQ(mine->GetNameSpace(), "ns");
    EXPECT_FALSE(mine->Merge(nullptr, 0x40, nullptr, nullptr));
}

TEST(KObject, CopyingValuesAndUserProperties) {
    Objects objects;
    Watcher* a = objects.Make("A");
    Watcher* b = objects.Make("B");
    KProperty* a1 = a->CreateProperty("x", 4, nullptr, false, false);
    KProperty* a2 = a->CreateProperty("y", 4, nullptr, false, false);
    KProperty* b1 = b->CreateProperty("x", 4, nullptr, false, false);
    KProperty* b2 = b->CreateProperty("z", 4, nullptr, false, false);
    a1->SetDouble(1);
    a2->SetDouble(2);
    b->CopyPropertyValues(a);
    EXPECT_EQ(b1->GetDouble(), 1.0);
    EXPECT_EQ(b2->GetDouble(), 0.0);  // names differ at that index

    KProperty* u = a->CreateProperty("u", 4, KDataType::FindByName("Intensity"), true, true);
    u->SetMinMax(-5, 5);
    u->SetLabel("L");
    u->SetDouble(3);
    KProperty* plainU = b->CreateProperty("u", 4, nullptr, false, false);
    b->CopyUserPropertyValues(a);
    EXPECT_EQ(plainU->GetDouble(), 0.0);  // not a user property
    b->CopyFrom(a, 0x4 | 0x8);
    KProperty* clone = b->GetUserProperty(0);
    ASSERT_NE(clone, nullptr);
    EXPECT_STREQ(clone->GetName(), "u 0");
    EXPECT_EQ(clone->GetMin(), -5.0);
    EXPECT_EQ(clone->GetLabel(), nullptr);
    EXPECT_TRUE(clone->IsAnimatable());
    EXPECT_EQ(clone->GetTypeCode(), 4);
    EXPECT_EQ(clone->GetDouble(), 0.0);  // the name differs, so no value came
    EXPECT_EQ(b->CloneProperty(nullptr), nullptr);
}

struct Received {
    std::vector<int> kinds;
    KWeakRef reference;
    void OnEvent(void*, KEventRecordHeader* header) {
        auto* record = static_cast<KObjectEventRecord*>(header);
        EXPECT_EQ(record->eventId, KObject::kCallbackEventId);
        kinds.push_back(record->kind);
        reference = record->reference;
    }
};

TEST(KObject, CallbacksSeeSourceChanges) {
    Objects objects;
    Watcher* o = objects.Make("O");
    Watcher* s = objects.Make("S");
    Received received;
    auto list = std::make_unique<KCallbackList>();
    list->Add(&received, KCallbackMethod<Received, &Received::OnEvent>, 0);
    o->SetCallbackList(std::move(list));
    o->events.clear();
    ASSERT_TRUE(o->ConnectSrc(s));
    ASSERT_TRUE(o->DisconnectSrc(s));
    EXPECT_EQ(received.kinds, (std::vector<int>{1, 4, 2, 5}));
    EXPECT_EQ(received.reference.Resolve(), s);
    EXPECT_TRUE(o->FireCallbacks(s, 1, nullptr, 0));
    EXPECT_EQ(received.kinds.size(), 4u);
    // Object events 28, 4, 31, 29, 5, 31 went out on the way.
    std::vector<int> expected = {28, 4, 31, 29, 5, 31};
    EXPECT_EQ(o->events, expected);
}

TEST(KObject, ObjectIndexAndUnconnected) {
    Objects objects;
    KSparseIndexTable table;
    Watcher* o = objects.Make("O");
    KProperty* indexed = o->CreateProperty("i", 4, nullptr, false, false);
    indexed->SetUserFlag(0x10, true);
    o->OnAttach(&table);
    EXPECT_EQ(o->GetIndexTableIndex(), 0);
    EXPECT_EQ(table.GetObject(0), o);
    EXPECT_EQ(table.GetProperty(indexed->IndexField()), indexed);
    EXPECT_TRUE(o->IsUnconnected(0));
    EXPECT_FALSE(o->IsUnconnected(1));
    Watcher* s = objects.Make("S");
    o->ConnectSrc(s);
    EXPECT_FALSE(o->IsUnconnected(0));
    o->Destroy();
    EXPECT_EQ(table.GetObject(0), nullptr);
}

// An owner that records what its owned object passes on.
class Owner : public KObject {
public:
    std::vector<int> objectEvents, valueEvents, notifications;
    bool refuseSources = false;
    bool OnOwnedObjectEvent(const KWeakRef& object, int code, const KWeakRef* reference,
                            const void* detail, int index) override {
        objectEvents.push_back(code);
        return KObject::OnOwnedObjectEvent(object, code, reference, detail, index);
    }
    bool SendValueEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                        const void* b, const void* c) override {
        valueEvents.push_back(code);
        return KObject::SendValueEvent(chain, code, sender, a, b, c);
    }
    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override {
        if (sender != this) notifications.push_back(code);
        if (sender != this && code == eQueryAcceptSource && refuseSources) return false;
        return KObject::Notify(chain, code, sender, index, other, type, extra);
    }
};

TEST(KObject, TheOwnerHearsEverything) {
    Objects objects;
    Owner* owner = objects.Make<Owner>("Owner");
    Watcher* set = objects.Make("Set");
    ASSERT_TRUE(owner->ConnectSrc(set));  // the owner holds its set among its sources
    set->SetOwner(owner->GetWeakRef());
    EXPECT_EQ(set->GetOwner(), owner);
    owner->notifications.clear();
    set->SetName("Renamed");
    EXPECT_EQ(owner->objectEvents, (std::vector<int>{8, 12}));
    KProperty* p = set->CreateProperty("p", 4, nullptr, false, false);
    p->SetDouble(2);
    EXPECT_EQ(owner->valueEvents, (std::vector<int>{20, 21}));
    Watcher* source = objects.Make("Source");
    ASSERT_TRUE(set->ConnectSrc(source));
    EXPECT_EQ(owner->notifications, (std::vector<int>{0, 2, 4}));
    // The owner can refuse a connection to the object it owns.
    owner->refuseSources = true;
    Watcher* refused = objects.Make("Refused");
    EXPECT_FALSE(set->ConnectSrc(refused));
    owner->refuseSources = false;
    EXPECT_FALSE(set->IsUnconnected(0));
    set->DisconnectSrc(source);
    EXPECT_TRUE(set->IsUnconnected(0));  // one destination, and it is the live owner
    // Destroying the set keeps nothing connected to the owner.
    set->Destroy();
    EXPECT_EQ(owner->GetSrcCount(), 0);
}

TEST(KObject, ConnectedObjectsOfAClass) {
    Objects objects;
    Watcher* node = objects.Make("Node");
    Watcher* plain = objects.Make("Plain");
    Entity* entity = objects.Make<Entity>("Entity");
    ASSERT_TRUE(node->ConnectSrc(plain));
    ASSERT_TRUE(node->ConnectSrc(entity));
    EXPECT_EQ(node->GetConnectedObjectCount(KEntity::ClassId()), 1);
    EXPECT_EQ(node->GetConnectedObject(0, KEntity::ClassId()), entity);
    EXPECT_EQ(node->GetConnectedObject(1, KEntity::ClassId()), nullptr);
    EXPECT_EQ(node->GetConnectedObjectCount(KObject::ClassId()), 2);
    EXPECT_EQ(node->GetConnectedObjectCount(-1), 2);
    EXPECT_EQ(node->GetConnectedObjectCount(0), 0);  // never registered
    EXPECT_EQ(node->GetConnectedObjectCount(1000), 0);
    EXPECT_EQ(node->GetConnectedObject(0, 1000), nullptr);
    EXPECT_EQ(node->GetSrcObject(0, 1000), nullptr);
    EXPECT_EQ(node->GetSrcObject(0), plain);
    EXPECT_EQ(entity->GetDstObject(0, KObject::ClassId()), node);
}

TEST(KObject, SafeCastAndIdentity) {
    Objects objects;
    Watcher* o = objects.Make();
    EXPECT_EQ(KObjectSafeCast<KObject>(o), o);
    EXPECT_EQ(KObjectSafeCast<KEntity>(o), nullptr);
    EXPECT_EQ(KObjectSafeCast<KObject>(nullptr), nullptr);
    Entity* e = objects.Make<Entity>();
    EXPECT_TRUE(e->IsA(KObjectSet::ClassId()));
    EXPECT_TRUE(e->IsA(KTsObject::ClassId()));
    EXPECT_STREQ(e->GetClassName(), "KEntity");
    EXPECT_EQ(e->GetPlugTypeCode(), 1);
    EXPECT_EQ(KObject::FromPlug(e), e);
    KProperty* p = o->CreateProperty("p", 4, nullptr, false, false);
    EXPECT_EQ(KObject::FromPlug(p), nullptr);
    EXPECT_EQ(p->GetPlugTypeCode(), 2);
    EXPECT_EQ(p->GetOwnerObject(), o);
    EXPECT_STREQ(p->GetClassName(), "KProperty");
}

// The owner of a property that is busy in a disconnection goes away from inside
// that disconnection: the property's destruction waits, and the property must
// not reach back into its dead owner meanwhile.
TEST(KObject, OwnerDestroyedWhileItsPropertyIsBusy) {
    Objects objects;
    Watcher* owner = objects.Make("Owner");
    Watcher* driver = objects.Make("Driver");
    KProperty* p = owner->CreateProperty("p", 4, nullptr, false, false);
    ASSERT_TRUE(p->ConnectSrc(driver));
    const KWeakRef ownerRef = owner->GetWeakRef(), pRef = p->GetWeakRef();
    driver->action = [&](int code, KPlug* sender, KPlug*) {
        if (sender == driver && code == KPlug::eDestinationRemoving) owner->Destroy();
    };
    const int live = KPlug::GetLivePlugCount();
    ASSERT_TRUE(p->DisconnectSrc(driver));
    EXPECT_EQ(ownerRef.Resolve(), nullptr);
    EXPECT_EQ(pRef.Resolve(), nullptr);
    EXPECT_EQ(driver->GetDstCount(), 0);
    EXPECT_LE(KPlug::GetLivePlugCount(), live - 2);
}

// A typed view created while a source is being removed must not keep that source.
TEST(KObject, ClassViewMadeDuringADisconnectionStaysExact) {
    Objects objects;
    Watcher* node = objects.Make("Node");
    Entity* entity = objects.Make<Entity>("Entity");
    ASSERT_TRUE(node->ConnectSrc(entity));
    int during = -1;
    node->action = [&](int code, KPlug* sender, KPlug*) {
        if (sender == node && code == KPlug::eSourceRemoving)
            during = node->GetConnectedObjectCount(KEntity::ClassId());
    };
    ASSERT_TRUE(node->DisconnectSrc(entity));
    EXPECT_EQ(during, 1);
    EXPECT_EQ(node->GetConnectedObjectCount(KEntity::ClassId()), 0);
    EXPECT_EQ(node->GetConnectedObject(0, KEntity::ClassId()), nullptr);
}

// Properties connected in a ring: removing one destroys the properties that
// depend on it, once each, and comes back.
TEST(KObject, RemovingAPropertyOfAConnectionRing) {
    Objects objects;
    Watcher* a = objects.Make("A");
    Watcher* b = objects.Make("B");
    KProperty* p = a->CreateProperty("p", 4, nullptr, false, false);
    KProperty* q = b->CreateProperty("q", 4, nullptr, false, false);
    KProperty* keep = a->CreateProperty("keep", 4, nullptr, false, false);
    ASSERT_TRUE(p->ConnectDst(q));
    ASSERT_TRUE(q->ConnectDst(p));
    const KWeakRef pRef = p->GetWeakRef(), qRef = q->GetWeakRef();
    EXPECT_EQ(a->DestroyProperty(a->IndexOfProperty(p)), 0);
    EXPECT_EQ(pRef.Resolve(), nullptr);
    EXPECT_EQ(qRef.Resolve(), nullptr);
    EXPECT_EQ(a->GetPropertyCount(), 1);
    EXPECT_EQ(a->GetProperty(0), keep);
    EXPECT_EQ(b->GetPropertyCount(), 0);
}

// Removing a property destroys the properties that refer to it, whatever else its
// destinations are; one without destinations takes nothing with it and gains no view of them.
TEST(KObject, RemovingAPropertyTakesOnlyItsReferencesWithIt) {
    enum Dst { eNone, ePlainPlug, eReference, ePlugAndReference };
    const struct {
        Dst dst;
        int dstsLeft;  // of the removed property
    } kCases[] = {{eNone, 0}, {ePlainPlug, 1}, {eReference, 0}, {ePlugAndReference, 1}};
    for (const auto& k : kCases) {
        SCOPED_TRACE(int(k.dst));
        Objects objects;
        Watcher* source = objects.Make("Source");
        Watcher* user = objects.Make("User");
        KProperty* other = user->CreateProperty("Other", 4, nullptr, false, false);
        ASSERT_NE(other, nullptr);
        KPlug plain;
        // A member property (not destroyed by its removal) so that it can be looked at after.
        KPropertyDouble member;
        member.Init("Member", source, {}, {});
        source->AddProperty(&member);
        if (k.dst == ePlainPlug || k.dst == ePlugAndReference) {
            ASSERT_TRUE(member.ConnectDst(&plain));
        }
        if (k.dst == eReference || k.dst == ePlugAndReference) {
            ASSERT_NE(user->CreateReferenceProperty(&member, "Ref"), nullptr);
        }
        const int subPlugsBefore = member.GetSubPlugCount();
        EXPECT_EQ(source->RemovePropertyAt(source->IndexOfProperty(&member)), 0);
        EXPECT_EQ(source->GetPropertyCount(), 0);
        ASSERT_EQ(user->GetPropertyCount(), 1);
        EXPECT_EQ(user->GetProperty(0), other);
        EXPECT_EQ(member.GetDstCount(), k.dstsLeft);
        if (k.dstsLeft) {
            EXPECT_EQ(member.GetDst(0), &plain);
        }
        if (k.dst == eNone) {
            EXPECT_EQ(member.GetSubPlugCount(), subPlugsBefore);
        }
        member.DisconnectAllDst();
    }
}

// Removal by index takes the property at that index, wherever it stands, and a property others
// refer to still takes its references with it; lookups by name find the first of that name,
// also among names that share their first byte.
TEST(KObject, RemovalAndLookupByPosition) {
    struct Row {
        int remove;  // index given to DestroyProperty
        const char* left;
    };
    const Row rows[] = {{0, "b,ba,,b"}, {1, "a,ba,,b"}, {2, "a,b,,b"}, {3, "a,b,ba,b"}, {4, "a,b,ba,"}};
    for (const Row& row : rows) {
        Objects objects;
        Watcher* o = objects.Make();
        for (const char* name : {"a", "b", "ba", "", "b"}) {
            KProperty* p = o->CreateProperty("x", 4, nullptr, false, false);
            ASSERT_NE(p, nullptr);
            p->SetName(name, false);
        }
        EXPECT_EQ(o->FindProperty("b"), o->GetProperty(1));
        EXPECT_EQ(o->FindProperty("ba"), o->GetProperty(2));
        EXPECT_EQ(o->FindProperty(""), o->GetProperty(3));
        EXPECT_EQ(o->FindProperty("bb"), nullptr);
        EXPECT_EQ(o->DestroyProperty(row.remove), 0);
        std::string left;
        for (int i = 0; i < o->GetPropertyCount(); ++i)
            left += std::string(i ? "," : "") + o->GetProperty(i)->GetName();
        EXPECT_EQ(left, row.left) << row.remove;
        const KProperty* firstB = nullptr;
        for (int i = 0; i < o->GetPropertyCount() && !firstB; ++i)
            if (std::string(o->GetProperty(i)->GetName()) == "b") firstB = o->GetProperty(i);
        EXPECT_EQ(o->FindProperty("b"), firstB) << row.remove;
    }

    // A referenced property in the middle of the list: its reference goes with it.
    Objects objects;
    Watcher* source = objects.Make("Light");
    Watcher* user = objects.Make("User");
    source->CreateProperty("Before", 4, nullptr, false, false);
    KProperty* intensity = source->CreateProperty("Intensity", 4, nullptr, true, false);
    source->CreateProperty("After", 4, nullptr, false, false);
    ASSERT_NE(user->CreateReferenceProperty(intensity, "Mine"), nullptr);
    EXPECT_EQ(source->DestroyProperty(1), 0);
    EXPECT_EQ(source->GetPropertyCount(), 2);
    EXPECT_STREQ(source->GetProperty(0)->GetName(), "Before");
    EXPECT_STREQ(source->GetProperty(1)->GetName(), "After");
    EXPECT_EQ(user->FindProperty("Mine"), nullptr);
    EXPECT_EQ(user->GetPropertyCount(), 0);
}

}  // namespace
