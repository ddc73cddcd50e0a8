#pragma once
// Seven object slots, each owning its object or only pointing at it. The table goes with its
// owned objects (through KPlug::Destroy); the slot arrays are made by the first Set.

#include <memory>

class KPlug;

class KObjectSlots {
public:
    static constexpr int kSlotCount = 7;

    KObjectSlots() = default;
    KObjectSlots(const KObjectSlots&) = delete;
    KObjectSlots& operator=(const KObjectSlots&) = delete;
    ~KObjectSlots();

    // Puts an object (or null) in slot 0..6, owned or borrowed. An owned object it replaces is
    // destroyed unless it is the same object or another slot owns it too. False, with nothing
    // changed, outside the table.
    bool Set(int index, KPlug* object, bool owned);
    // Null for an empty slot and outside the table.
    KPlug* Get(int index) const;
    bool IsOwned(int index) const;

private:
    // Empties every slot that holds the object, then destroys it: an object held twice is
    // destroyed once and no slot is left pointing at it.
    void DestroyOwned(KPlug* object);

    std::unique_ptr<KPlug*[]> mObjects;
    std::unique_ptr<bool[]> mOwned;
};
