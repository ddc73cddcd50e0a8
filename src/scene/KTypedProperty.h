#pragma once
// The typed properties: each keeps its value in a cache, or reads and writes it
// through accessors of its owner when they are bound (Init).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "foundation/KString.h"
#include "foundation/KTime.h"
#include "scene/KProperty.h"

template <class T, int kCode>
class KTypedProperty : public KProperty {
public:
    using Value = T;
    using Getter = std::function<T()>;
    using Setter = std::function<void(const T&)>;

    // An embedded member: bound to its owner later by Init.
    KTypedProperty() { SetTypeCode(kCode); }
    KTypedProperty(KObject* owner, const char* name, KDataType* dataType = nullptr,
                   bool isUserProperty = false, KPlug* source = nullptr, uint32_t userFlags = 0) {
        Construct(owner, name, dataType, isUserProperty, source, userFlags, kCode);
    }

    // Either accessor may be empty.
    void Init(const char* name, KObject* owner, Getter getter, Setter setter) {
        KProperty::Init(name, owner);
        if (getter || setter)
            mAccessors.reset(new Accessors{std::move(getter), std::move(setter)});
        else
            mAccessors.reset();
    }

    T Get() {
        T value{};
        GetValue(&value);
        return value;
    }
    void Set(const T& value) { SetValue(&value); }

    void GetValue(void* buffer) override {
        if (mAccessors && mAccessors->getter) mCache = mAccessors->getter();
        if (buffer) *static_cast<T*>(buffer) = mCache;
    }
    void SetValue(const void* value) override {
        if (!value) return;
        const T newValue = *static_cast<const T*>(value);  // the buffer may be the cache
        SendValueEvent(nullptr, eValueChanging, this, &newValue, &mCache, nullptr);
        if (mAccessors && mAccessors->setter)
            mAccessors->setter(newValue);
        else
            mCache = newValue;
        SendValueEvent(nullptr, eValueChanged, this, &newValue, nullptr, nullptr);
    }
    int GetStorageCode() const override { return kCode; }

    // The cached value, read and written without accessors or events.
    const T& GetCachedValue() const { return mCache; }
    void SetCachedValue(const T& value) { mCache = value; }

protected:
    // Accessors are rare: most properties keep their value in the cache alone.
    struct Accessors {
        Getter getter;
        Setter setter;
    };
    T mCache{};
    std::unique_ptr<Accessors> mAccessors;
};

// Also every enum property (type code 6).
class KPropertyInt : public KTypedProperty<int32_t, KProperty::eINT> {
public:
    using KTypedProperty::KTypedProperty;
};

// Also every action property (type code 16).
class KPropertyBool : public KTypedProperty<bool, KProperty::eBOOL> {
public:
    using KTypedProperty::KTypedProperty;
};

class KPropertyDouble : public KTypedProperty<double, KProperty::eDOUBLE> {
public:
    using KTypedProperty::KTypedProperty;
};

class KPropertyTime : public KTypedProperty<KTime, KProperty::eTIME> {
public:
    using KTypedProperty::KTypedProperty;
};

class KPropertyString : public KTypedProperty<KString, KProperty::eSTRING> {
public:
    using KTypedProperty::KTypedProperty;
};

class KPropertyObject : public KTypedProperty<KObject*, KProperty::eOBJECT> {
public:
    using KTypedProperty::KTypedProperty;
};

// Three doubles, laid out as the "Vector" family of the data types.
class KPropertyVector3D : public KTypedProperty<std::array<double, 3>, KProperty::eVECTOR3D> {
public:
    using KTypedProperty::KTypedProperty;
    using KTypedProperty::Set;
    void Set(double x, double y, double z) { Set(Value{x, y, z}); }
};

class KPropertyColorRGB : public KTypedProperty<std::array<double, 3>, KProperty::eCOLORRGB> {
public:
    using KTypedProperty::KTypedProperty;
    using KTypedProperty::Set;
    void Set(double r, double g, double b) { Set(Value{r, g, b}); }
};

class KPropertyColorRGBA : public KTypedProperty<std::array<double, 4>, KProperty::eCOLORRGBA> {
public:
    using KTypedProperty::KTypedProperty;
    using KTypedProperty::Set;
    void Set(double r, double g, double b, double a) { Set(Value{r, g, b, a}); }
};

class KPropertyReference : public KTypedProperty<void*, KProperty::eREFERENCE> {
public:
    using KTypedProperty::KTypedProperty;
};
