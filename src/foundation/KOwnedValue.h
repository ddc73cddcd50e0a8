#pragma once
// A value lent by an owner: replacing it hands the old value back to the owner first, through
// the owner's ReleaseValue(value, 1) (1: handed back by a replacement).

template <class Owner, class T>
class KOwnedValue {
public:
    explicit KOwnedValue(Owner* owner = nullptr, T value = T()) : mOwner(owner), mValue(value) {}

    Owner* GetOwner() const { return mOwner; }
    const T& Get() const { return mValue; }

    // The value kept is not handed back: the owner would release what is still in use.
    void Replace(T value) {
        if (value == mValue) return;
        if (mOwner) mOwner->ReleaseValue(mValue, 1);
        mValue = value;
    }

private:
    Owner* mOwner;
    T mValue;
};
