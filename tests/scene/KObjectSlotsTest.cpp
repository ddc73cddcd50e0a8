#include <gtest/gtest.h>

#include "KSceneTestPlugs.h"
#include "scene/KObjectSlots.h"
#include "scene/KPlug.h"

namespace {

bool Alive(const KWeakRef& ref) {
    return ref.Resolve() != nullptr;
}

TEST(KObjectSlots, OwnedObjectsGoWithTheTableBorrowedOnesStay) {
    KSceneTestPlugs<KPlug> plugs;  // destroys what is still alive at the end
    const int before = KPlug::GetLivePlugCount();
    KPlug* borrowed = plugs.Make();
    KWeakRef a, c;
    {
        KObjectSlots slots;
        EXPECT_EQ(slots.Get(0), nullptr);  // no arrays yet
        EXPECT_FALSE(slots.IsOwned(0));
        KPlug* ownedA = plugs.Make();
        KPlug* ownedC = plugs.Make();
        a = ownedA->GetWeakRef();
        c = ownedC->GetWeakRef();
        ASSERT_TRUE(slots.Set(0, ownedA, true));
        ASSERT_TRUE(slots.Set(3, borrowed, false));
        ASSERT_TRUE(slots.Set(6, ownedC, true));
        ASSERT_TRUE(slots.Set(5, nullptr, true));  // an owned empty slot destroys nothing
        EXPECT_FALSE(slots.Set(7, ownedA, true));
        EXPECT_FALSE(slots.Set(-1, ownedA, true));
        EXPECT_EQ(slots.Get(0), ownedA);
        EXPECT_EQ(slots.Get(3), borrowed);
        EXPECT_EQ(slots.Get(7), nullptr);
        EXPECT_TRUE(slots.IsOwned(6));
        EXPECT_FALSE(slots.IsOwned(3));
        EXPECT_EQ(KPlug::GetLivePlugCount(), before + 3);
    }
    EXPECT_FALSE(Alive(a));
    EXPECT_FALSE(Alive(c));
    EXPECT_TRUE(Alive(borrowed->GetWeakRef()));
    EXPECT_EQ(KPlug::GetLivePlugCount(), before + 1);
}

// Each case ends with the table destroyed; the sanitiser reports a second destruction.
TEST(KObjectSlots, ReplacedAndSharedObjectsAreDestroyedOnce) {
    struct Case {
        const char* name;
        bool secondOwned;        // the object also sits in slot 1, owned or borrowed
        bool replace;            // slot 0 then takes another owned object
        bool aliveAfterReplace;  // and still in slot 1
    };
    const Case cases[] = {
        {"owned twice", true, false, true},
        {"owned and borrowed", false, false, true},
        {"owned twice, replaced in one slot", true, true, true},
        {"owned and borrowed, owner replaced", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = KPlug::GetLivePlugCount();
        KWeakRef shared;
        {
            KObjectSlots slots;
            KPlug* object = new KPlug;
            shared = object->GetWeakRef();
            slots.Set(0, object, true);
            slots.Set(1, object, c.secondOwned);
            slots.Set(0, object, true);  // the same object again: kept
            EXPECT_TRUE(Alive(shared));
            if (c.replace) {
                slots.Set(0, new KPlug, true);
                EXPECT_EQ(Alive(shared), c.aliveAfterReplace);
                // No slot points at what is gone.
                EXPECT_EQ(slots.Get(1) != nullptr, c.aliveAfterReplace);
            }
        }
        EXPECT_FALSE(Alive(shared));
        EXPECT_EQ(KPlug::GetLivePlugCount(), before);
    }
}

TEST(KObjectSlots, HandingOwnershipBackKeepsTheObject) {
    KSceneTestPlugs<KPlug> plugs;
    KPlug* object = plugs.Make();
    {
        KObjectSlots slots;
        slots.Set(2, object, true);
        slots.Set(2, object, false);  // the caller takes it back
    }
    EXPECT_TRUE(Alive(object->GetWeakRef()));
}

}  // namespace
