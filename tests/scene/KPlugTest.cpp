#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/RefusingHeap.h"
#include "common/RemovalOrders.h"
#include "scene/KPlug.h"
#include "scene/KPlugFilter.h"
#include "scene/KPlugHandlePool.h"
#include "scene/KSceneTestPlugs.h"

namespace {

// A plug that records the connection events addressed to it and can answer
// queries or act from inside a notification.
class Probe : public KPlug {
public:
    struct Event {
        int code;
        int index;
        KPlug* other;
        int type;
        void* extra;
    };
    std::vector<Event> events;
    std::function<bool(int code, KPlug* other)> answer;
    std::function<void(int code, KPlug* other)> action;

    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override {
        if (sender == this) events.push_back({code, index, other, type, extra});
        if (action) action(code, other);
        if (answer && !answer(code, other)) return false;
        return KPlug::Notify(chain, code, sender, index, other, type, extra);
    }
    std::vector<int> Codes() const {
        std::vector<int> codes;
        for (const Event& e : events) codes.push_back(e.code);
        return codes;
    }
};

class DataProbe : public Probe {
public:
    const KClassInfo* GetClassInfo() const override { return &gKDataPlugClassInfo; }
};

using Plugs = KSceneTestPlugs<Probe>;

TEST(KPlug, ConnectionOrderCountsAndNotifications) {
    Plugs plugs;
    Probe* dst = plugs.Make();
    Probe *a = plugs.Make(), *b = plugs.Make(), *c = plugs.Make(), *d = plugs.Make();
    ASSERT_TRUE(dst->ConnectSrc(a));
    ASSERT_TRUE(dst->ConnectSrc(b));
    ASSERT_TRUE(dst->ConnectSrcAt(0, c));
    ASSERT_TRUE(dst->ConnectSrcAt(99, d));
    ASSERT_EQ(dst->GetSrcCount(), 4);
    EXPECT_EQ(dst->GetSrc(0), c);
    EXPECT_EQ(dst->GetSrc(1), a);
    EXPECT_EQ(dst->GetSrc(2), b);
    EXPECT_EQ(dst->GetSrc(3), d);
    EXPECT_EQ(dst->GetSrc(4), nullptr);
    EXPECT_EQ(dst->GetSrc(-1), nullptr);
    EXPECT_EQ(dst->GetDstCount(), 0);
    EXPECT_EQ(a->GetDstCount(), 1);
    EXPECT_EQ(a->GetDst(0), dst);
    EXPECT_TRUE(dst->IsConnectedSrc(a));
    EXPECT_TRUE(a->IsConnectedDst(dst));
    EXPECT_FALSE(a->IsConnectedSrc(dst));

    // Query, about-to-add, added: at both ends, with the final index.
    EXPECT_EQ(a->Codes(), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(c->events.back().index, 0);
    std::vector<int> expected;
    for (int i = 0; i < 4; ++i) expected.insert(expected.end(), {0, 2, 4});
    EXPECT_EQ(dst->Codes(), expected);
    EXPECT_EQ(dst->events[5].index, 1);  // b appended at 1
    EXPECT_EQ(dst->events[8].index, 0);  // c inserted in front

    dst->events.clear();
    a->events.clear();
    ASSERT_TRUE(dst->DisconnectSrc(a));
    EXPECT_EQ(dst->Codes(), (std::vector<int>{6, 8}));
    EXPECT_EQ(dst->events[0].index, 1);
    EXPECT_EQ(a->Codes(), (std::vector<int>{7, 9}));
    EXPECT_EQ(a->events[0].index, 0);
    EXPECT_FALSE(dst->DisconnectSrc(a));
    ASSERT_TRUE(c->DisconnectDst(dst));
    EXPECT_EQ(dst->GetSrc(0), b);
    EXPECT_TRUE(dst->DisconnectSrcAt(1));
    EXPECT_EQ(dst->GetSrcCount(), 1);
    EXPECT_FALSE(dst->DisconnectSrcAt(1));
}

TEST(KPlug, RefusedConnectionsChangeNothing) {
    Plugs plugs;
    Probe *a = plugs.Make(), *b = plugs.Make();
    EXPECT_FALSE(a->ConnectSrc(a));
    EXPECT_FALSE(a->ConnectSrc(nullptr));
    EXPECT_FALSE(a->ConnectDst(nullptr));
    b->answer = [](int code, KPlug*) { return code != KPlug::eQueryAcceptSource; };
    EXPECT_FALSE(b->ConnectSrc(a));
    b->answer = nullptr;
    a->answer = [](int code, KPlug*) { return code != KPlug::eQueryAcceptDestination; };
    EXPECT_FALSE(b->ConnectSrc(a));
    EXPECT_EQ(a->GetDstCount() + b->GetSrcCount(), 0);
    a->answer = nullptr;
    b->SetPlugFlags(KPlug::eAcceptsSources, false);
    EXPECT_FALSE(b->ConnectSrc(a));
    b->SetPlugFlags(KPlug::eAcceptsSources, true);
    // A filter of another class refuses a plain plug.
    b->SetFilter(KClassRegistry::GetClassIdFilter(gKDataPlugClassInfo.id));
    EXPECT_FALSE(b->ConnectSrc(a));
    b->SetFilter(KClassRegistry::GetClassIdFilter(-1));
    EXPECT_TRUE(b->ConnectSrc(a));
    // Once the filter refuses the far end, the connection cannot be undone either.
    b->SetFilter(KClassRegistry::GetClassIdFilter(gKDataPlugClassInfo.id));
    EXPECT_FALSE(b->DisconnectSrc(a));
    b->SetFilter(KClassRegistry::GetClassIdFilter(-1));
    EXPECT_TRUE(b->DisconnectSrc(a));
}

TEST(KPlug, OneSidedConnections) {
    Plugs plugs;
    Probe *src = plugs.Make(), *dst = plugs.Make();
    ASSERT_TRUE(dst->ConnectSrc(src, KPlug::eOneSided));
    EXPECT_EQ(dst->GetSrcCount(), 1);
    EXPECT_EQ(src->GetDstCount(), 0);
    EXPECT_TRUE(src->events.empty());
    EXPECT_EQ(dst->GetSrcType(0), KPlug::eOneSided);

    Probe* oneSided = plugs.Make();
    oneSided->SetPlugFlags(KPlug::eOneSidedDestination, true);
    // Even a source that refuses every destination can feed it.
    src->answer = [](int, KPlug*) { return false; };
    ASSERT_TRUE(oneSided->ConnectSrc(src));
    EXPECT_EQ(src->GetDstCount(), 0);
    src->answer = nullptr;

    // The source does not know about the entry: once it is destroyed, the entry
    // stays, resolves to null and goes away silently.
    KWeakRef ref = src->GetWeakRef();
    src->Destroy();
    EXPECT_EQ(ref.Resolve(), nullptr);
    EXPECT_EQ(dst->GetSrcCount(), 1);
    EXPECT_EQ(dst->GetSrc(0), nullptr);
    dst->events.clear();
    EXPECT_TRUE(dst->DisconnectSrcAt(0));
    EXPECT_EQ(dst->GetSrcCount(), 0);
    EXPECT_TRUE(dst->events.empty());
    EXPECT_EQ(oneSided->GetSrcCount(), 1);
    oneSided->DisconnectAllSrc();
    EXPECT_EQ(oneSided->GetSrcCount(), 0);

    // Replacing a dead entry by index puts the new source in its place.
    Probe *first = plugs.Make(), *dying = plugs.Make(), *last = plugs.Make(), *fresh = plugs.Make();
    ASSERT_TRUE(dst->ConnectSrc(first));
    ASSERT_TRUE(dst->ConnectSrc(dying, KPlug::eOneSided));  // dying never learns of it
    ASSERT_TRUE(dst->ConnectSrc(last));
    dying->Destroy();
    ASSERT_EQ(dst->GetSrc(1), nullptr);
    ASSERT_TRUE(dst->ReplaceSrcAt(1, fresh));
    ASSERT_EQ(dst->GetSrcCount(), 3);
    EXPECT_EQ(dst->GetSrc(1), fresh);
    EXPECT_EQ(dst->GetSrc(2), last);
}

TEST(KPlug, WeakReferencesDieWithThePlugAndSurviveSlotReuse) {
    KPlug* p = new KPlug;
    KWeakRef ref = p->GetWeakRef();
    EXPECT_EQ(ref.Resolve(), p);
    KPlugHandle* slot = ref.handle;
    p->Destroy();
    EXPECT_EQ(ref.Resolve(), nullptr);
    EXPECT_EQ(slot->serial, KPlugHandlePool::kReleasedSerial);
    // The free list hands the slot to the next plug, with a new serial.
    KPlug* q = new KPlug;
    EXPECT_EQ(q->GetWeakRef().handle, slot);
    EXPECT_NE(q->GetSerial(), ref.serial);
    EXPECT_EQ(ref.Resolve(), nullptr);
    EXPECT_EQ(q->GetWeakRef().Resolve(), q);
    q->Destroy();
    EXPECT_EQ(KWeakRef{}.Resolve(), nullptr);
}

TEST(KPlug, DestroyInsideADisconnectionIsDeferred) {
    Plugs plugs;
    Probe *src = plugs.Make(), *dst = plugs.Make(), *other = plugs.Make();
    ASSERT_TRUE(dst->ConnectSrc(src));
    ASSERT_TRUE(other->ConnectSrc(src));
    KWeakRef srcRef = src->GetWeakRef();
    bool aliveAfterDestroy = false;
    dst->action = [&](int code, KPlug* far) {
        if (code == KPlug::eSourceRemoving) {
            far->Destroy();
            aliveAfterDestroy = srcRef.Resolve() != nullptr;
        }
    };
    ASSERT_TRUE(dst->DisconnectSrc(src));
    EXPECT_TRUE(aliveAfterDestroy);
    // Carried out when the disconnection ended: the other connection went with it.
    EXPECT_EQ(srcRef.Resolve(), nullptr);
    EXPECT_EQ(other->GetSrcCount(), 0);
    EXPECT_EQ(dst->Codes(), (std::vector<int>{0, 2, 4, 6, 8}));

    // A plug destroying itself from its own notification.
    Probe *x = plugs.Make(), *y = plugs.Make();
    ASSERT_TRUE(y->ConnectSrc(x));
    KWeakRef yRef = y->GetWeakRef();
    y->action = [y](int code, KPlug*) {
        if (code == KPlug::eSourceRemoved) y->Destroy();
    };
    x->DisconnectAllDst();
    EXPECT_EQ(yRef.Resolve(), nullptr);
    EXPECT_EQ(x->GetDstCount(), 0);
}

TEST(KPlug, DestroyOfAPlugBeingDeletedIsMoot) {
    Plugs plugs;
    Probe* peer = plugs.Make();
    {
        Probe member;  // deleted directly, as an embedded member is
        ASSERT_TRUE(peer->ConnectSrc(&member));
        Probe* m = &member;
        peer->action = [m](int code, KPlug*) {
            if (code == KPlug::eSourceRemoving) m->Destroy();
        };
    }
    peer->action = nullptr;
    EXPECT_EQ(peer->GetSrcCount(), 0);
}

TEST(KPlug, SubPlugsMirrorTheConnectionsTheirFilterAccepts) {
    Plugs plugs;
    Probe* top = plugs.Make();
    Probe* plain = plugs.Make();
    DataProbe *b = plugs.Make<DataProbe>(), *c = plugs.Make<DataProbe>(),
              *d = plugs.Make<DataProbe>(), *e = plugs.Make<DataProbe>();
    ASSERT_TRUE(top->ConnectSrc(plain));
    ASSERT_TRUE(top->ConnectSrc(b));
    KClassIdFilter* dataFilter = KClassRegistry::GetClassIdFilter(gKDataPlugClassInfo.id);
    EXPECT_EQ(top->FindSubPlug(dataFilter), nullptr);
    EXPECT_EQ(top->FindSubPlug(KClassRegistry::GetClassIdFilter(-1)), top);
    EXPECT_EQ(top->FindSubPlug(KClassRegistry::GetClassIdFilter(KPlug::ClassId())), top);
    KPlug* sub = top->GetSubPlug(dataFilter);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(top->GetSubPlug(dataFilter), sub);
    EXPECT_TRUE(sub->IsSubPlug());
    EXPECT_TRUE(sub->GetPlugFlags() & KPlug::eOwnedSubPlug);
    EXPECT_EQ(sub->GetParent(), top);
    ASSERT_EQ(sub->GetSrcCount(), 1);
    EXPECT_EQ(sub->GetSrc(0), b);

    ASSERT_TRUE(top->ConnectSrcAt(0, c));
    ASSERT_TRUE(top->ConnectSrc(d));
    ASSERT_EQ(sub->GetSrcCount(), 3);
    EXPECT_EQ(sub->GetSrc(0), c);
    EXPECT_EQ(sub->GetSrc(1), b);
    EXPECT_EQ(sub->GetSrc(2), d);
    ASSERT_TRUE(top->ConnectSrcAt(3, e));  // before d
    EXPECT_EQ(sub->GetSrc(2), e);
    EXPECT_EQ(sub->GetSrc(3), d);

    ASSERT_TRUE(top->DisconnectSrc(b));
    EXPECT_EQ(sub->GetSrcCount(), 3);
    EXPECT_EQ(sub->IndexOfSrc(b), -1);
    // A connection made on the sub-plug is made between the top-level plugs.
    DataProbe* f = plugs.Make<DataProbe>();
    ASSERT_TRUE(sub->ConnectSrc(f));
    EXPECT_EQ(top->GetSrc(top->GetSrcCount() - 1), f);
    EXPECT_EQ(f->GetDst(0), top);
    EXPECT_EQ(sub->GetSrc(sub->GetSrcCount() - 1), f);
    ASSERT_TRUE(sub->DisconnectSrc(f));
    EXPECT_EQ(top->IndexOfSrc(f), -1);
    EXPECT_EQ(sub->IndexOfSrc(f), -1);

    // The owned sub-plug goes with its parent.
    KWeakRef subRef = sub->GetWeakRef();
    top->Destroy();
    EXPECT_EQ(subRef.Resolve(), nullptr);
    EXPECT_EQ(c->GetDstCount(), 0);
}

TEST(KPlug, ASubPlugMirrorsOnlyItsCurrentParent) {
    Plugs plugs;
    Probe *a = plugs.Make(), *b = plugs.Make(), *x = plugs.Make(), *y = plugs.Make();
    ASSERT_TRUE(a->ConnectSrc(x));
    ASSERT_TRUE(b->ConnectSrc(y));
    KPlug* sub = plugs.Make();
    ASSERT_TRUE(a->AddChild(sub));
    sub->SetFilter(KClassRegistry::GetClassIdFilter(-1), KPlug::eSubPlug);
    ASSERT_EQ(sub->GetSrcCount(), 1);
    EXPECT_EQ(sub->GetSrc(0), x);
    ASSERT_TRUE(b->AddChild(sub));  // moves: a's connections stay behind
    ASSERT_EQ(sub->GetSrcCount(), 1);
    EXPECT_EQ(sub->GetSrc(0), y);
    sub->SetFilter(KClassRegistry::GetClassIdFilter(-1), 0);  // no longer a sub-plug
    EXPECT_EQ(sub->GetSrcCount(), 0);
    EXPECT_EQ(b->GetSubPlugCount(), 0);
    EXPECT_EQ(y->GetDstCount(), 1);
    EXPECT_TRUE(b->RemoveChild(sub));  // plain children are not owned
}

TEST(KPlug, MoreThan256SubPlugs) {
    Plugs plugs;
    Probe* top = plugs.Make();
    std::vector<KPlug*> subs;
    for (int i = 0; i < 300; ++i) {
        KPlug* sub = plugs.Make();
        ASSERT_TRUE(top->AddChild(sub));
        sub->SetFilter(KClassRegistry::GetClassIdFilter(-1), KPlug::eSubPlug);
        subs.push_back(sub);
    }
    EXPECT_EQ(top->GetSubPlugCount(), 300);
    Probe* src = plugs.Make();
    ASSERT_TRUE(top->ConnectSrc(src));
    for (KPlug* sub : subs) ASSERT_EQ(sub->GetSrc(0), src);
    ASSERT_TRUE(top->DisconnectSrc(src));
    for (KPlug* sub : subs) ASSERT_EQ(sub->GetSrcCount(), 0);
}

TEST(KPlug, ParentsRefuseCycles) {
    Plugs plugs;
    Probe *a = plugs.Make(), *b = plugs.Make(), *c = plugs.Make();
    EXPECT_TRUE(a->AddChild(b));
    EXPECT_FALSE(a->AddChild(b));
    EXPECT_TRUE(b->AddChild(c));
    EXPECT_FALSE(c->AddChild(a));
    EXPECT_FALSE(a->SetParent(c));
    EXPECT_FALSE(a->SetParent(a));
    EXPECT_FALSE(a->AddChild(a));
    EXPECT_EQ(a->GetParent(), nullptr);
    EXPECT_FALSE(a->RemoveChild(c));  // c's parent is b
    EXPECT_EQ(c->GetParent(), b);
    EXPECT_TRUE(a->AddChild(c));  // moves c from b to a
    EXPECT_EQ(c->GetParent(), a);
    EXPECT_TRUE(a->RemoveChild(c));
    EXPECT_EQ(c->GetParent(), nullptr);
    EXPECT_FALSE(a->SetParent(nullptr));
    // Parents do not own plain children: detach before the parent goes.
    EXPECT_TRUE(b->SetParent(nullptr));
}

TEST(KPlug, ReplaceKeepsThePosition) {
    Plugs plugs;
    Probe *src = plugs.Make(), *d1 = plugs.Make(), *d2 = plugs.Make(), *d3 = plugs.Make(),
          *n = plugs.Make();
    src->ConnectDst(d1);
    src->ConnectDst(d2);
    src->ConnectDst(d3);
    src->events.clear();
    d2->events.clear();
    ASSERT_TRUE(src->ReplaceDst(d2, n, -1));
    EXPECT_EQ(src->GetDst(0), d1);
    EXPECT_EQ(src->GetDst(1), n);
    EXPECT_EQ(src->GetDst(2), d3);
    EXPECT_EQ(d2->GetSrcCount(), 0);
    std::vector<int> codes = src->Codes();
    EXPECT_EQ(codes.front(), KPlug::eDestinationReplacing);
    EXPECT_EQ(codes.back(), KPlug::eDestinationReplaced);
    EXPECT_EQ(src->events.front().extra, n);
    EXPECT_EQ(d2->Codes().front(), KPlug::eSourceReplacing);
    EXPECT_EQ(d2->Codes().back(), KPlug::eSourceReplaced);
    EXPECT_FALSE(src->ReplaceDst(d2, n, -1));

    Probe* n2 = plugs.Make();
    ASSERT_TRUE(d3->ReplaceSrcAt(0, n2));
    EXPECT_EQ(d3->GetSrc(0), n2);
    EXPECT_EQ(src->GetDstCount(), 2);
    ASSERT_TRUE(d3->ReplaceSrcAt(5, src));  // past the end: plain connect
    EXPECT_EQ(d3->GetSrc(1), src);
}

TEST(KPlug, ReplacementThatDiesOnTheWay) {
    Plugs plugs;
    Probe *src = plugs.Make(), *old = plugs.Make();
    Probe* replacement = new Probe;
    ASSERT_TRUE(src->ConnectDst(old));
    old->action = [&](int code, KPlug*) {
        if (code == KPlug::eSourceRemoving && replacement) {
            replacement->Destroy();
            replacement = nullptr;
        }
    };
    EXPECT_FALSE(src->ReplaceDst(old, replacement, -1));
    EXPECT_EQ(src->GetDstCount(), 0);
    EXPECT_EQ(old->GetSrcCount(), 0);
}

TEST(KPlug, ManyPlugsInRandomOrder) {
    KQovSdkEnsureStarted();  // the class filters are plugs too
    const int before = KPlug::GetLivePlugCount();
    std::vector<KPlug*> plugs;
    plugs.reserve(100000);
    for (int i = 0; i < 100000; ++i) plugs.push_back(new KPlug);
    std::mt19937 rng(7);
    // Some connections so that destruction also disconnects.
    for (int i = 0; i < 1000; ++i) plugs[size_t(i)]->ConnectDst(plugs[size_t(i + 1)]);
    std::shuffle(plugs.begin(), plugs.end(), rng);
    EXPECT_EQ(KPlug::GetLivePlugCount(), before + 100000);
    for (KPlug* p : plugs) p->Destroy();
    EXPECT_EQ(KPlug::GetLivePlugCount(), before);
}

// Creation, connection and destruction interleaved at random: every weak
// reference to a destroyed plug stays dead, connections to dead plugs never
// resolve, and the live count returns to where it started.
TEST(KPlug, RandomLifetimes) {
    KQovSdkEnsureStarted();
    const int before = KPlug::GetLivePlugCount();
    KClassIdFilter* dataFilter = KClassRegistry::GetClassIdFilter(gKDataPlugClassInfo.id);
    std::mt19937 rng(11);
    std::vector<KPlug*> live;
    std::vector<KWeakRef> dead;
    int created = 0;
    while (created < 100000 || !live.empty()) {
        const unsigned r = rng() % 8;
        if (created < 100000 && (r < 3 || live.size() < 2)) {
            live.push_back(r == 0 ? new DataProbe : new KPlug);
            ++created;
        } else if (r < 5 && live.size() >= 2) {
            KPlug* a = live[rng() % live.size()];
            KPlug* b = live[rng() % live.size()];
            if (rng() % 4 == 0) a->GetSubPlug(dataFilter);
            a->ConnectSrc(b, rng() % 5 == 0 ? KPlug::eOneSided : 0);
        } else {
            const size_t i = rng() % live.size();
            KPlug* p = live[i];
            live[i] = live.back();
            live.pop_back();
            if (dead.size() < 1000) dead.push_back(p->GetWeakRef());
            for (int k = 0; k < p->GetSrcCount(); ++k) {
                KPlug* s = p->GetSrc(k);
                ASSERT_TRUE(!s || std::find(live.begin(), live.end(), s) != live.end());
            }
            p->Destroy();
        }
    }
    for (const KWeakRef& ref : dead) EXPECT_EQ(ref.Resolve(), nullptr);
    EXPECT_EQ(KPlug::GetLivePlugCount(), before);
}

// The connection list holds sources, then destinations; the search runs from its end, so a
// plug that is both gives its destination entry.
TEST(KPlug, FindConnectionIndexGivesTheLastMatchingEntry) {
    KPlug hub, a, b, c, stranger;
    ASSERT_TRUE(hub.ConnectSrc(&a));
    ASSERT_TRUE(hub.ConnectSrc(&b));
    ASSERT_TRUE(hub.ConnectDst(&c));
    ASSERT_TRUE(hub.ConnectDst(&a));
    const struct {
        const char* what;
        const KPlug* plug;
        int index;
    } kCases[] = {{"source and destination", &a, 3},
                  {"source only", &b, 1},
                  {"destination only", &c, 2},
                  {"not connected", &stranger, -1},
                  {"itself", &hub, -1},
                  {"null: no empty entry", nullptr, -1}};
    for (const auto& k : kCases) EXPECT_EQ(hub.FindConnectionIndex(k.plug), k.index) << k.what;
    ASSERT_TRUE(hub.DisconnectDst(&a));
    EXPECT_EQ(hub.FindConnectionIndex(&a), 0);
    ASSERT_TRUE(hub.DisconnectSrc(&a));
    EXPECT_EQ(hub.FindConnectionIndex(&a), -1);
    EXPECT_EQ(hub.FindConnectionIndex(&c), 1);
}

// A hub's sources taken away in every order, short lists and long ones, some plugs listed
// twice, new ones put at the front meanwhile: the list, its sub-plug's mirror and the indices
// the notifications give match a plain vector that erases the last matching entry at once.
TEST(KPlug, SourcesGoInAnyOrderAsErasingTheLastMatch) {
    KClassIdFilter* dataFilter = KClassRegistry::GetClassIdFilter(gKDataPlugClassInfo.id);
    enum Way { eDisconnect, eDisconnectAt, eDestroy };
    for (size_t count : {size_t(12), size_t(300)}) {
        for (Order order : {eForward, eBackward, eShuffled, eEndsInTurn}) {
            for (Way way : {eDisconnect, eDisconnectAt, eDestroy}) {
                SCOPED_TRACE(std::to_string(count) + " " + std::to_string(int(order)) + " " +
                             std::to_string(int(way)));
                Probe hub;
                KPlug* mirror = hub.GetSubPlug(dataFilter);
                ASSERT_NE(mirror, nullptr);
                std::vector<Probe*> plugs;
                std::vector<KPlug*> model;
                for (size_t i = 0; i < count; ++i) {
                    plugs.push_back(i % 3 ? new Probe : new DataProbe);
                    ASSERT_TRUE(hub.ConnectSrc(plugs.back()));
                    model.push_back(plugs.back());
                    // Every fifth plug is listed a second time further on.
                    if (i % 5 == 4) {
                        ASSERT_TRUE(hub.ConnectSrc(plugs[i - 2]));
                        model.push_back(plugs[i - 2]);
                    }
                }
                auto check = [&] {
                    ASSERT_EQ(hub.GetSrcCount(), int(model.size()));
                    std::vector<KPlug*> mirrored;
                    for (size_t i = 0; i < model.size(); ++i) {
                        ASSERT_EQ(hub.GetSrc(int(i)), model[i]) << i;
                        if (dynamic_cast<DataProbe*>(model[i])) mirrored.push_back(model[i]);
                    }
                    ASSERT_EQ(mirror->GetSrcCount(), int(mirrored.size()));
                    for (size_t i = 0; i < mirrored.size(); ++i)
                        ASSERT_EQ(mirror->GetSrc(int(i)), mirrored[i]) << i;
                };
                auto lastIndex = [&model](const KPlug* p) {
                    for (size_t i = model.size(); i-- > 0;)
                        if (model[i] == p) return int(i);
                    return -1;
                };
                int added = 0;
                for (size_t at : Positions(order, plugs.size())) {
                    Probe* doomed = plugs[at];
                    ASSERT_EQ(hub.IndexOfSrc(doomed), lastIndex(doomed));
                    hub.events.clear();
                    if (way == eDestroy) {
                        while (lastIndex(doomed) >= 0)
                            model.erase(model.begin() + lastIndex(doomed));
                        doomed->Destroy();
                    } else {
                        const int index = lastIndex(doomed);
                        ASSERT_TRUE(way == eDisconnect ? hub.DisconnectSrc(doomed)
                                                       : hub.DisconnectSrcAt(index));
                        model.erase(model.begin() + index);
                        ASSERT_FALSE(hub.events.empty());
                        EXPECT_EQ(hub.events.back().code, KPlug::eSourceRemoved);
                        EXPECT_EQ(hub.events.back().index, index);
                        // A second entry for the same plug is the one found next.
                        ASSERT_EQ(hub.IndexOfSrc(doomed), lastIndex(doomed));
                        while (lastIndex(doomed) >= 0) {
                            const int next = lastIndex(doomed);
                            ASSERT_TRUE(hub.DisconnectSrc(doomed));
                            model.erase(model.begin() + next);
                        }
                        doomed->Destroy();
                    }
                    if (++added % 7 == 0) {
                        plugs.push_back(added % 2 ? new DataProbe : new Probe);
                        // Before the last entry naming the plug at 0, which is listed twice.
                        const int before = model.empty() ? 0 : lastIndex(model[0]);
                        ASSERT_TRUE(hub.ConnectSrcAt(0, plugs.back()));
                        model.insert(model.begin() + before, plugs.back());
                    }
                    check();
                }
                for (size_t i = count; i < plugs.size(); ++i) {
                    if (lastIndex(plugs[i]) >= 0) plugs[i]->Destroy();
                }
            }
        }
    }
}

// 50,000 sources or destinations of one plug, going first to last or last to first, must
// take time linear in their number: a pass over the list per plug would take minutes here.
TEST(KPlug, AWideListGoesInLinearTime) {
    constexpr int kCount = 50000;
    for (bool sources : {true, false}) {
        for (bool forward : {true, false}) {
            SCOPED_TRACE(std::string(sources ? "sources" : "destinations") +
                         (forward ? " forward" : " backward"));
            const int before = KPlug::GetLivePlugCount();
            KPlug hub;
            std::vector<KPlug*> plugs;
            for (int i = 0; i < kCount; ++i) {
                plugs.push_back(new KPlug);
                ASSERT_TRUE(sources ? hub.ConnectSrc(plugs.back()) : hub.ConnectDst(plugs.back()));
            }
            for (int i = 0; i < kCount; ++i) {
                const size_t doomed = size_t(forward ? i : kCount - 1 - i);
                const size_t first = forward ? doomed : 0;
                ASSERT_EQ(sources ? hub.GetSrc(0) : hub.GetDst(0), plugs[first]);
                plugs[doomed]->Destroy();
                ASSERT_EQ(sources ? hub.GetSrcCount() : hub.GetDstCount(), kCount - i - 1);
            }
            EXPECT_EQ(KPlug::GetLivePlugCount(), before + 1);
        }
    }
}

// What a plug's lists read as: its sources, "|", its destinations, by the names of `names`
// ("?" for a dead end).
std::string Lists(const KPlug* plug, const std::vector<std::pair<const KPlug*, char>>& names) {
    auto name = [&names](const KPlug* p) {
        for (const auto& n : names)
            if (n.first == p) return n.second;
        return '?';
    };
    std::string text;
    for (int i = 0; i < plug->GetSrcCount(); ++i) text += name(plug->GetSrc(i));
    text += '|';
    for (int i = 0; i < plug->GetDstCount(); ++i) text += name(plug->GetDst(i));
    return text;
}

// A plug holds its connection list only once it connects (or has sub-plugs, or a filter of its
// own): the list emptied by every path and filled again keeps its order, its far ends and its
// sub-plug's mirror.
TEST(KPlug, AConnectionListThatComesAndGoesKeepsItsEntries) {
    Plugs plugs;
    Probe* p = plugs.Make();
    Probe *a = plugs.Make(), *b = plugs.Make(), *c = plugs.Make();
    DataProbe* d = plugs.Make<DataProbe>();
    const std::vector<std::pair<const KPlug*, char>> names = {
        {p, 'p'}, {a, 'a'}, {b, 'b'}, {c, 'c'}, {d, 'd'}};
    KClassIdFilter* dataFilter = KClassRegistry::GetClassIdFilter(gKDataPlugClassInfo.id);
    KPlug* sub = nullptr;
    const struct {
        const char* step;
        std::function<bool()> run;
        const char* lists;     // p's lists after the step
        const char* subLists;  // its data sub-plug's (null: none)
    } kSteps[] = {
        {"first source", [&] { return p->ConnectSrc(a); }, "a|", nullptr},
        {"last one gone", [&] { return p->DisconnectSrc(a); }, "|", nullptr},
        {"again, both sides", [&] { return p->ConnectSrc(b) && p->ConnectDst(c); }, "b|c", nullptr},
        {"before the first", [&] { return p->ConnectSrcAt(0, a); }, "ab|c", nullptr},
        {"all sources gone", [&] { return p->DisconnectSrcAt(1) && p->DisconnectSrcAt(0); }, "|c",
         nullptr},
        {"all destinations gone", [&] { return p->DisconnectDstAt(0); }, "|", nullptr},
        {"sub-plug on an empty plug", [&] { return (sub = p->GetSubPlug(dataFilter)) != nullptr; },
         "|", "|"},
        {"mirrored", [&] { return p->ConnectSrc(a) && p->ConnectSrc(d); }, "ad|", "d|"},
        {"replaced", [&] { return p->ReplaceSrcAt(0, b); }, "bd|", "d|"},
        {"emptied with the sub-plug", [&] { return p->DisconnectSrc(d) && p->DisconnectSrc(b); },
         "|", "|"},
        {"refilled", [&] { return p->ConnectSrc(d) && p->ConnectDst(a); }, "d|a", "d|"},
        {"one-sided source dies unseen",
         [&] {
             const bool made = p->ConnectSrc(c, KPlug::eOneSided);
             c->Destroy();
             return made;
         },
         "d?|a", "d|"},
        {"dead entry dropped", [&] { return p->DisconnectSrcAt(1); }, "d|a", "d|"},
        {"source dies",
         [&] {
             d->Destroy(), d = nullptr;
             return true;
         },
         "|a", "|"},
    };
    for (const auto& k : kSteps) {
        ASSERT_TRUE(k.run()) << k.step;
        EXPECT_EQ(Lists(p, names), k.lists) << k.step;
        if (k.subLists) {
            ASSERT_EQ(p->GetSubPlugCount(), 1) << k.step;
            EXPECT_EQ(p->GetSubPlugAt(0), sub) << k.step;
            EXPECT_EQ(Lists(sub, names), k.subLists) << k.step;
        }
    }
    // The far ends agree.
    EXPECT_EQ(Lists(a, names), "p|");
    EXPECT_EQ(b->GetDstCount(), 0);
}

// A plug's filter is kept apart from its lists: set, cleared, and set back to the "None"
// filter on a plug with and without connections, it reads back and rules as set.
TEST(KPlug, FiltersSetAndClearedWithAndWithoutConnections) {
    KClassIdFilter* none = KClassRegistry::GetClassIdFilter(-1);
    KClassIdFilter* dataFilter = KClassRegistry::GetClassIdFilter(gKDataPlugClassInfo.id);
    ASSERT_NE(none, nullptr);
    for (bool connected : {false, true}) {
        SCOPED_TRACE(connected ? "connected" : "unconnected");
        Plugs plugs;
        Probe* p = plugs.Make();
        Probe* plain = plugs.Make();
        DataProbe* data = plugs.Make<DataProbe>();
        Probe* held = plugs.Make();
        if (connected) {
            ASSERT_TRUE(p->ConnectDst(held));
        }
        EXPECT_EQ(p->GetFilter(), none);
        const struct {
            KPlugFilter* set;
            bool acceptsPlain;
        } kFilters[] = {
            {dataFilter, false}, {none, true}, {nullptr, true}, {dataFilter, false}, {none, true}};
        for (const auto& k : kFilters) {
            p->SetFilter(k.set, 0);
            EXPECT_EQ(p->GetFilter(), k.set);
            EXPECT_EQ(p->CanAcceptSource(plain), k.acceptsPlain);
            EXPECT_TRUE(p->CanAcceptSource(data));
            EXPECT_EQ(p->GetDstCount(), connected ? 1 : 0);
        }
        ASSERT_TRUE(p->ConnectSrc(plain));
        EXPECT_EQ(p->GetSrc(0), plain);
    }
}

// A long list (counted per reference elsewhere) emptied and filled again finds its entries.
TEST(KPlug, ALongListEmptiedAndRefilled) {
    KPlug hub;
    std::vector<std::unique_ptr<KPlug>> plugs;
    for (int i = 0; i < 100; ++i) plugs.push_back(std::make_unique<KPlug>());
    for (int round = 0; round < 2; ++round) {
        for (auto& plug : plugs) ASSERT_TRUE(hub.ConnectSrc(plug.get()));
        for (size_t i = 0; i < plugs.size(); ++i) ASSERT_EQ(hub.IndexOfSrc(plugs[i].get()), int(i));
        for (auto& plug : plugs) ASSERT_TRUE(hub.DisconnectSrc(plug.get()));
        EXPECT_EQ(hub.GetSrcCount(), 0);
        EXPECT_EQ(hub.IndexOfSrc(plugs[0].get()), -1);
    }
}

// Sources emptied all at once from a long list with a mirror, some listed twice, the plug's
// destinations kept: afterwards both lists hold what they should, and a refill finds every
// entry again (the counts per reference are made anew).
TEST(KPlug, ALongListEmptiedAtOnceWithItsMirror) {
    KClassIdFilter* dataFilter = KClassRegistry::GetClassIdFilter(gKDataPlugClassInfo.id);
    for (int count : {12, 64, 300}) {
        SCOPED_TRACE(count);
        Probe hub;
        KPlug* mirror = hub.GetSubPlug(dataFilter);
        ASSERT_NE(mirror, nullptr);
        std::vector<std::unique_ptr<Probe>> plugs;
        for (int i = 0; i < count; ++i)
            plugs.push_back(std::unique_ptr<Probe>(i % 2 ? new DataProbe : new Probe));
        std::vector<std::unique_ptr<Probe>> sinks;
        for (int i = 0; i < 3; ++i) {
            sinks.push_back(std::unique_ptr<Probe>(new DataProbe));
            ASSERT_TRUE(hub.ConnectDst(sinks.back().get()));
        }
        for (int round = 0; round < 2; ++round) {
            std::vector<KPlug*> model;
            for (int i = 0; i < count; ++i) {
                ASSERT_TRUE(hub.ConnectSrc(plugs[size_t(i)].get()));
                model.push_back(plugs[size_t(i)].get());
                if (i % 7 == 6) {
                    ASSERT_TRUE(hub.ConnectSrc(plugs[size_t(i - 3)].get()));
                    model.push_back(plugs[size_t(i - 3)].get());
                }
            }
            // Looked up first, so that a long list is counted before it is emptied.
            for (size_t i = model.size(); i-- > 0;) {
                int expected = -1;
                for (size_t j = model.size(); j-- > 0 && expected < 0;)
                    if (model[j] == model[i]) expected = int(j);
                ASSERT_EQ(hub.IndexOfSrc(model[i]), expected);
            }
            hub.DisconnectAllSrc();
            EXPECT_EQ(hub.GetSrcCount(), 0);
            EXPECT_EQ(mirror->GetSrcCount(), 0);
            for (auto& plug : plugs) {
                ASSERT_EQ(plug->GetDstCount(), 0);
                ASSERT_EQ(hub.IndexOfSrc(plug.get()), -1);
            }
            ASSERT_EQ(hub.GetDstCount(), 3);
            EXPECT_EQ(mirror->GetDstCount(), 3);
            for (int i = 0; i < 3; ++i) EXPECT_EQ(hub.IndexOfDst(sinks[size_t(i)].get()), i);
        }
        // Refilled once more: a middle entry goes by itself.
        for (auto& plug : plugs) ASSERT_TRUE(hub.ConnectSrc(plug.get()));
        const int middle = count / 2;
        ASSERT_EQ(hub.IndexOfSrc(plugs[size_t(middle)].get()), middle);
        ASSERT_TRUE(hub.DisconnectSrc(plugs[size_t(middle)].get()));
        EXPECT_EQ(hub.IndexOfSrc(plugs[size_t(middle)].get()), -1);
        EXPECT_EQ(hub.IndexOfSrc(plugs[size_t(middle + 1)].get()), middle);
        EXPECT_EQ(mirror->GetSrcCount(), count / 2 - (middle % 2 ? 1 : 0));
        hub.DisconnectAllSrc();
        hub.DisconnectAllDst();
    }
}

}  // namespace

// Every plug takes a handle slot; a new block of slots is listed beside the others. Slots taken
// until the list of blocks itself must grow, and that growth refused: the next plug still gets
// a slot (the free list did point into the block freed as the refusal left, SIGSEGV).
TEST(KPlugHandlePool, APlugSlotBlockThatCannotBeListedLeavesThePoolWhole) {
    KPlugHandlePool::AddRef();
    std::vector<KPlugHandle*> taken;
    int object = 0;
    KPlug* owner = reinterpret_cast<KPlug*>(&object);
    bool refused = false;
    for (int i = 0; i < 1 << 22 && !refused; ++i) {
        KPlugHandle* handle = nullptr;
        gThrowIn = 1;  // a new block is taken; only the list's growth is refused
        try {
            handle = KPlugHandlePool::Acquire(owner, 7);
        } catch (const std::bad_alloc&) {
            refused = true;
        }
        gThrowIn = -1;
        if (handle) taken.push_back(handle);
    }
    EXPECT_TRUE(refused);
    KPlugHandle* next = KPlugHandlePool::Acquire(owner, 7);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->serial, 7u);
    taken.push_back(next);
    for (KPlugHandle*& handle : taken) KPlugHandlePool::Release(owner, handle);
    KPlugHandlePool::Release();
}
