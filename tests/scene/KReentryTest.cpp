// Notifications that act on the model while a change is in progress: random
// connects, disconnects, replacements, merges, property creation and removal,
// and destruction of plugs, run from inside other notifications. ASan watches
// for use after free; the live count must come back.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "scene/KObject.h"
#include "scene/KPlugFilter.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KTypedProperty.h"

namespace {

struct World {
    std::mt19937 rng;
    std::vector<KWeakRef> all;
    // Objects in an operation of their own: only the parties of a connection
    // change may be destroyed from its notifications (their end waits).
    std::vector<KPlug*> inUse;
    bool calm = false;

    KPlug* Pick() { return all.empty() ? nullptr : all[rng() % all.size()].Resolve(); }
    void Keep(KPlug* p) {
        if (p) all.push_back(p->GetWeakRef());
    }
    void Act(int depth);
};

World* gWorld = nullptr;

class Chaos : public KObject {
public:
    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override {
        if (!gWorld->calm && mDepth < 2 && gWorld->rng() % 3 == 0) {
            const KWeakRef self = GetWeakRef();
            ++mDepth;
            gWorld->Act(mDepth);
            if (!self.Resolve()) return true;
            --mDepth;
        }
        return KObject::Notify(chain, code, sender, index, other, type, extra);
    }

private:
    int mDepth = 0;
};

void World::Act(int depth) {
    const unsigned r = rng() % 24;
    KPlug* a = Pick();
    KPlug* b = Pick();
    if (!a) return;
    KObject* o = KObject::FromPlug(a);
    KObject* x = KObject::FromPlug(b);
    auto* list = KObjectSafeCast<KPropertyObjectList>(a);
    const bool own = o && r >= 6 && r <= 13;
    if (own) inUse.push_back(a);
    switch (r) {
        case 0:
            if ((depth == 0 || !o) && std::find(inUse.begin(), inUse.end(), a) == inUse.end())
                a->Destroy();
            break;
        case 1:
            a->ConnectSrc(b);
            break;
        case 2:
            a->DisconnectSrc(b);
            break;
        case 3:
            a->DisconnectAllSrc();
            break;
        case 4:
            a->DisconnectAllDst();
            break;
        case 5:
            a->ReplaceSrcAt(0, b);
            break;
        case 6:
            if (o && o->GetPropertyCount()) o->DestroyProperty(0);
            break;
        case 7:
            if (o) Keep(o->CreateProperty("p", 4, nullptr, false, false));
            break;
        case 8:
            if (o && x && x->GetPropertyCount())
                Keep(o->CreateReferenceProperty(x->GetProperty(0), nullptr));
            break;
        case 9:
            if (o) o->GetConnectedObjectCount(KObject::ClassId());
            break;
        case 10:
            if (o && x && o != x) o->CopyConnections(1 + int(rng() % 2), x, nullptr);
            break;
        case 11:
            if (o) o->SetName("n");
            break;
        case 12:
            if (o && x && o != x)
                o->Merge(x, 0x4 | 0x8 | (depth == 0 ? 0x40 : 0), nullptr, nullptr);
            break;
        case 13:
            if (o)
                Keep(KObject::CreateObjectListProperty(o, "l", 0, KObject::ClassId(), 1,
                                                       KPlug::eAcceptsSources, 0));
            break;
        case 14:
            if (list) list->SetSingle(x);
            break;
        case 15:
            if (list) list->InsertAt(0, x);
            break;
        case 16:
            if (list) list->SetAt(0, x);
            break;
        case 17:
            a->ConnectDstAt(0, b);
            break;
        case 18:
            a->ReplaceDstAt(0, b);
            break;
        case 19:
            a->DisconnectDst(b);
            break;
        case 20:
            a->GetSubPlug(KClassRegistry::GetClassIdFilter(KProperty::ClassId()));
            break;
        default:
            break;
    }
    if (own) inUse.pop_back();
}

TEST(KObject, ReentrantNotificationsAtRandom) {
    for (unsigned seed = 1; seed <= 1500; ++seed) {
        World world{std::mt19937(seed), {}, {}, false};
        gWorld = &world;
        const int before = KPlug::GetLivePlugCount();
        for (int i = 0; i < 12; ++i) {
            Chaos* c = new Chaos;
            world.Keep(c);
            if (i % 2) world.Keep(c->CreateProperty("v", 4, nullptr, false, false));
        }
        for (int step = 0; step < 400; ++step) world.Act(0);
        world.calm = true;
        for (size_t i = 0; i < world.all.size(); ++i) {
            KPlug* p = world.all[i].Resolve();
            if (p && !p->GetParent()) p->Destroy();
        }
        for (size_t i = 0; i < world.all.size(); ++i) {
            if (KPlug* p = world.all[i].Resolve()) p->Destroy();
        }
        ASSERT_EQ(KPlug::GetLivePlugCount(), before) << "seed " << seed;
    }
    gWorld = nullptr;
}

}  // namespace
