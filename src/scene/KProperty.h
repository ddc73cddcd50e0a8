#pragma once
// A named, typed value of an object. A property is a plug whose parent is its
// owning object, so its value and state events reach the object; sources
// connected to it carry animation, references and object links. The typed
// classes (KTypedProperty.h) keep the value in a cache or go through accessors
// of the owner.

#include <cstdint>
#include <memory>

#include "foundation/KString.h"
#include "foundation/KTime.h"
#include "scene/KPlug.h"

class KDataType;
class KObject;
class KStringList;

class KProperty : public KPlug {
    KQOV_CLASS(KProperty)
public:
    enum : uint32_t {
        eTyped = 0x1,
        eAnimatable = 0x2,
        eObjectListMark = 0x4,
        eObjectList = 0x8,
        eOwnedName = 0x20,
        eUserProperty = 0x40,
        eFromDescription = 0x80,
        eNamedReference = 0x100,
        eEnumFunction = 0x200,
    };
    enum ETypeCode : int {
        eUNKNOWN = 0,
        eINT = 1,
        eBOOL = 2,
        eFLOAT = 3,
        eDOUBLE = 4,
        eCHARPTR = 5,
        eENUM = 6,
        eTIME = 7,
        eSTRING = 8,
        eOBJECT = 9,
        eEVENT = 10,
        eSTRINGLIST = 11,
        eVECTOR4D = 12,
        eVECTOR3D = 13,
        eCOLORRGB = 14,
        eCOLORRGBA = 15,
        eACTION = 16,
        eREFERENCE = 17,
        eVECTOR_ELEMENT = 18,
        eTYPE_CODE_COUNT = 19,
    };
    // State events of a property.
    enum : int { eRenaming = 27, eRenamed = 28, eRangeChanged = 31 };
    using EnumNameFunction = const char* (*)(int value);

    KProperty();
    ~KProperty() override;

    // Conversions through the value, by type code; unsupported types answer 0 or false.
    virtual int GetInt();
    virtual bool SetInt(int value);
    virtual double GetDouble();
    virtual bool SetDouble(double value);
    // False when the owner refused the rename (state event 27).
    virtual bool SetName(const char* name, bool makeUnique);
    // The whole value through a buffer of the class's value type (a KString for type 8).
    virtual void GetValue(void* buffer);
    // Sends value event 20 before and 21 after the change.
    virtual void SetValue(const void* value);
    virtual void CopyValue(KProperty* other);
    virtual void SetValueFromProperty(KProperty* other) { CopyValue(other); }

    // Code of the value the class stores (its own type code), 0 for none.
    virtual int GetStorageCode() const { return 0; }

    const char* GetName() const { return mName; }
    void SetLabel(const char* text);
    const char* GetLabel() const {
        return mExtras && mExtras->label ? mExtras->label->Buffer() : nullptr;
    }
    void SetDataType(KDataType* type);
    // The type set, else the default type of the type code (null when none).
    KDataType* GetDataType() const;
    // The data type of a property of the type code given none (null for most codes).
    static KDataType* GetStandardDataType(int typeCode);
    int GetTypeCode() const { return mTypeCode; }
    void SetTypeCode(int code) { mTypeCode = code; }
    const char* GetTypeName() const;
    static const char* GetTypeName(int code);
    static int TypeCodeFromName(const char* name);
    static int TypeCodeFromDataType(const KDataType* type);
    // The kind a type code's value is stored as (codes of one kind share a
    // class and a buffer layout); 0 for codes without a stored value.
    static int StorageKind(int code);

    void SetFlag(uint32_t bits, bool on);
    bool TestFlag(uint32_t bits) const { return (mAttributes & bits) != 0; }
    uint32_t GetAttributes() const { return mAttributes; }
    // Marks a property that holds an object list.
    void SetAttributeBits4And8() { SetFlag(eObjectListMark | eObjectList, true); }
    bool IsAnimatable() const { return TestFlag(eAnimatable); }
    uint32_t SetUserFlag(uint32_t bits, bool on);
    bool TestUserFlag(uint32_t bits) const { return (mUserFlags & bits) != 0; }
    uint32_t GetUserFlags() const { return mUserFlags; }
    // A number given by the property's creator (a slot or effector number).
    int GetCreatorTag() const { return mExtras ? mExtras->creatorTag : 0; }
    void SetCreatorTag(int tag) {
        if (tag != GetCreatorTag()) Extras().creatorTag = tag;
    }

    double GetMin() const { return mExtras ? mExtras->min : 0.0; }
    double GetMax() const { return mExtras ? mExtras->max : 100.0; }
    bool SetMin(double value);
    bool SetMax(double value);
    bool SetMinMax(double min, double max);

    // Any call makes the list of labels given to SetEnumLabels.
    KStringList* GetEnumList(bool create);
    // Labels shared by every property of a table row (null-terminated, static): read in place
    // until the list is asked for.
    void SetEnumLabels(const char* const* labels);
    void SetEnumSource(EnumNameFunction function);
    // Null when the value has no name.
    const char* GetEnumName(int value) const;

    KObject* GetOwnerObject() const;
    // Binds an embedded property: the owner adopts it (name not made unique). The name is
    // kept by address (table rows name their properties with static text) until a SetName.
    void Init(const char* name, KObject* owner);
    bool IsReference() const { return mTypeCode == eREFERENCE; }
    bool SetString(const char* text);
    KProperty* GetReferencedProperty();
    void GetValueText(KString& text);

    // The i-th source / destination of `plug` that is a property; null past the end.
    static KProperty* GetSrcProperty(KPlug* plug, int index);
    static KProperty* GetDstProperty(KPlug* plug, int index);
    int GetDstPropertyCount();

    // Index in the owner's sparse index (properties with user flag 0x10).
    uint16_t& IndexField() { return mIndexField; }

protected:
    // The construction steps shared by every typed class.
    void Construct(KObject* owner, const char* name, KDataType* dataType, bool isUserProperty,
                   KPlug* source, uint32_t userFlags, int typeCode);

private:
    // What few properties hold, made by the first that differs from its default.
    struct ExtraFields {
        std::unique_ptr<KString> label;
        double min = 0.0;
        double max = 100.0;
        std::unique_ptr<KStringList> enumList;
        const char* const* enumLabels = nullptr;
        EnumNameFunction enumFunction = nullptr;
        int32_t creatorTag = 0;
        KDataType* dataType = nullptr;  // a type that is not one of the process-wide ones
        // A derived class's rarely used text and time (see GetClassText).
        std::unique_ptr<KString> classText;
        KTime classTime;
    };
    ExtraFields& Extras();
    KString MakeUniqueName(const char* name) const;
    bool SameStorage() const;

    void FreeOwnedName();

protected:
    // Seven bits of the class's own (a derived class's field in this class's spare byte).
    uint8_t GetClassBits() const { return uint8_t(mBits >> 1); }
    void SetClassBits(uint8_t bits) { mBits = uint8_t((mBits & kNameOwned) | (bits << 1)); }
    // A text and a time of the derived class's own, kept with the extras: null and 0 until set.
    const KString* GetClassText() const { return mExtras ? mExtras->classText.get() : nullptr; }
    void SetClassText(std::unique_ptr<KString> text);
    KTime GetClassTime() const { return mExtras ? mExtras->classTime : KTime(); }
    void SetClassTime(KTime time);

private:
    enum : uint8_t { kNameOwned = 0x1 };
    // The data type by its index among the process-wide types, + 1: 0 for none, kOtherType
    // for one kept in the extras.
    enum : uint8_t { kOtherType = 0xFF };

    // The name: static text given to Init, or a copy of its own once set by SetName (flag
    // eOwnedName; kNameOwned in mBits says what to free, whatever SetFlag does with the flag).
    const char* mName = "";
    std::unique_ptr<ExtraFields> mExtras;
    // The narrow fields last, packed: a node holds dozens of properties.
    uint32_t mAttributes = 0;
    int32_t mTypeCode = 0;
    uint32_t mUserFlags = 0;
    uint16_t mIndexField = 0xFFFF;
    uint8_t mDataTypeIndex = 0;
    uint8_t mBits = 0;
};
