#pragma once
// Named property data types ("Number", "Lcl Translation", "Color" ...): size,
// component count, base type, default value and text form. The 46 types are
// process-wide and found by name; the names are written into files.

#include <cstdint>

class KDataType {
public:
    virtual ~KDataType();

    virtual bool GetDefault(void* value) const;
    virtual bool FromText(const char* text, void* value) const;
    // False for a null buffer or a size below 1; otherwise the text, cut to size - 1.
    virtual bool ToText(char* buffer, int bufferSize, const void* value) const;
    virtual const char* GetComponentName(int index) const;

    int GetSize() const { return mSize; }
    int GetComponentCount() const { return mComponentCount; }
    const char* GetName() const { return mName; }
    const KDataType* GetBaseType() const { return mBaseType; }

    // Case-insensitive; "Trigger" (exactly) answers "Action"; null when unknown.
    static KDataType* FindByName(const char* name);
    // FindByName of the types a property without a data type of its own answers by its
    // type code (asked for every record written) and of the local transform types (asked for
    // every channel evaluated), remembered until a type is made or deleted.
    enum Standard {
        eStandardNumber,
        eStandardTime,
        eStandardVector,
        eStandardVector4,
        eStandardColor,
        eStandardColorAndAlpha,
        eStandardLclTranslation,
        eStandardLclRotation,
        eStandardLclScaling,
        eStandardCount
    };
    static KDataType* FindStandard(Standard which);
    // Decimals of the text forms: key "Decimal" of section "NumericField" in
    // "@Application.txt", clamped to 0..17, 2 when missing or not a number.
    static int GetDisplayPrecision();
    // The precision a settings text gives (the rule above).
    static int ParsePrecision(const char* text);
    // Makes the next use read the setting again.
    static void ResetDisplayPrecision();

    static int GetTypeCount();
    static KDataType* GetTypeAt(int index);  // in creation order
    // This type's index for GetTypeAt; -1 for a type made elsewhere.
    int GetTypeIndex() const { return mTypeIndex; }

    // Creates the 46 types (once) and deletes them; run by the library start-up.
    static void RegisterAll();
    static void UnregisterAll();

protected:
    KDataType(const char* name, int size, int componentCount, const KDataType* base);

private:
    int32_t mSize;
    int32_t mComponentCount;
    const char* mName;
    const KDataType* mBaseType;
    int32_t mTypeIndex = -1;
};
