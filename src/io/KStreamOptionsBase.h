#pragma once
// Options held as indexed records (1 to 17), each with a name and a default value, and the
// record sets of the geometry formats: 3DS, OBJ and DXF.

#include <cstdint>

#include "foundation/KString.h"
#include "io/KStreamOptions.h"

class KStreamOptionsBase : public KStreamOptions {
    KQOV_CLASS(KStreamOptionsBase)
public:
    static constexpr int kFirstIndex = 1;
    static constexpr int kLastIndex = 17;

    // Every record back to its default; the take name emptied.
    void Reset() override;

    bool HasOption(int index) const;
    // 0 for an index without a record.
    int GetOptionValue(int index) const;
    // False, and no change, for an index without a record.
    bool SetOptionValue(int index, int value);
    int GetOptionDefault(int index) const;
    // Null for an index without a record.
    const char* GetOptionName(int index) const;

    // Stored only when the options take a take name (3DS).
    void SetTakeName(const char* name);
    const char* GetTakeName() const { return mTakeName.Buffer(); }

protected:
    KStreamOptionsBase() = default;
    void DefineOption(int index, const char* name, int defaultValue);
    void AcceptTakeName() { mAcceptsTakeName = true; }

private:
    struct Record {
        const char* name = nullptr;  // static text; null: no record
        int32_t value = 0;
        int32_t defaultValue = 0;
    };
    const Record* Find(int index) const;

    Record mRecords[kLastIndex + 1];
    KString mTakeName;
    bool mAcceptsTakeName = false;
};

class KStreamOptions3ds : public KStreamOptionsBase {
    KQOV_CLASS(KStreamOptions3ds)
public:
    KStreamOptions3ds();
    static KStreamOptions3ds* Create() { return new KStreamOptions3ds; }
};

class KStreamOptionsObj : public KStreamOptionsBase {
    KQOV_CLASS(KStreamOptionsObj)
public:
    KStreamOptionsObj();
    static KStreamOptionsObj* Create() { return new KStreamOptionsObj; }
};

class KStreamOptionsDxf : public KStreamOptionsBase {
    KQOV_CLASS(KStreamOptionsDxf)
public:
    enum EDerivation { eByLayer = 0, eByEntity = 1, eByBlock = 2 };

    KStreamOptionsDxf();
    static KStreamOptionsDxf* Create() { return new KStreamOptionsDxf; }

    void Reset() override;
    // The derivation mode chosen by option 6 (value 0 layer, 1 block, 2 entity); a value
    // outside the choices keeps the mode given last.
    int GetObjectDerivation();

private:
    int mDerivation = eByLayer;
};
