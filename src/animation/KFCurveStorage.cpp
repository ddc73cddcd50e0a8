// The field file is the one part of the I/O layer that curve storage needs.

#include "animation/KFCurveStorage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveKeysAhead.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"

namespace {

constexpr int kKeyVersion = 4004;
constexpr uint32_t kWeightBits = KFCURVE_WEIGHTED_ALL;
constexpr double kWeightUnit = 0.00010001;

// ------------------------------------------------------------------------------------------
// Writing

char ExtrapolationLetter(int type) {
    switch (type) {
        case KFCURVE_EXTRAPOLATION_CONSTANT:
            return 'C';
        case KFCURVE_EXTRAPOLATION_REPETITION:
            return 'R';
        case KFCURVE_EXTRAPOLATION_MIRROR_REPETITION:
            return 'M';
        case KFCURVE_EXTRAPOLATION_KEEP_SLOPE:
            return 'K';
        default:
            return '0';
    }
}

int ExtrapolationType(char letter) {
    switch (letter) {
        case 'C':
            return KFCURVE_EXTRAPOLATION_CONSTANT;
        case 'R':
            return KFCURVE_EXTRAPOLATION_REPETITION;
        case 'M':
            return KFCURVE_EXTRAPOLATION_MIRROR_REPETITION;
        case 'K':
            return KFCURVE_EXTRAPOLATION_KEEP_SLOPE;
        default:
            return KFCURVE_EXTRAPOLATION_NONE;
    }
}

void WriteExtrapolation(KQovFieldFile& file, const char* name, int type, uint32_t repetition) {
    if (type == KFCURVE_EXTRAPOLATION_NONE ||
        (type == KFCURVE_EXTRAPOLATION_CONSTANT && repetition == 0))
        return;
    file.FieldWriteBegin(name);
    file.FieldWriteBlockBegin();
    file.FieldWriteBegin("Type");
    file.FieldWriteCh(ExtrapolationLetter(type));
    file.FieldWriteEnd();
    file.FieldWriteBegin("Repetition");
    file.FieldWriteI(static_cast<int32_t>(repetition));
    file.FieldWriteEnd();
    file.FieldWriteBlockEnd();
    file.FieldWriteEnd();
}

// Stored weight units as the double the file holds.
double WeightValue(const KFCurveKey& key, int slot) {
    return double(std::lround(key.GetDataFloat(slot) * 9999.0)) * kWeightUnit;
}

template <class Out>
void WriteWeights(Out& out, const KFCurveKey& key) {
    uint32_t bits = key.GetFlags() & kWeightBits;
    char letter = bits == KFCURVE_WEIGHTED_ALL         ? 'a'
                  : bits == KFCURVE_WEIGHTED_RIGHT     ? 'r'
                  : bits == KFCURVE_WEIGHTED_NEXT_LEFT ? 'l'
                                                       : 'n';
    out.Ch(letter);
    if (bits & KFCURVE_WEIGHTED_RIGHT) out.D(WeightValue(key, KFCURVE_RIGHT_WEIGHT));
    if (bits & KFCURVE_WEIGHTED_NEXT_LEFT) out.D(WeightValue(key, KFCURVE_NEXT_LEFT_WEIGHT));
}

// `previous` is key i - 1, null for the first key.
template <class Out>
void WriteCubicTangent(Out& out, const KFCurve& curve, int i, const KFCurveKey& key,
                       const KFCurveKey* previous, bool olderLayout) {
    const int count = curve.KeyGetCount();
    const uint32_t mode = key.GetTangentMode();
    const double d0 = key.GetDataFloat(KFCURVE_DATA_0), d1 = key.GetDataFloat(KFCURVE_DATA_1);
    switch (mode) {
        case KFCURVE_TANGENT_TCB:
            out.Ch('t');
            out.D(curve.KeyGetDataSlot(i, KFCURVE_DATA_0));
            out.D(curve.KeyGetDataSlot(i, KFCURVE_DATA_1));
            out.D(curve.KeyGetDataSlot(i, KFCURVE_TCB_BIAS));
            return;
        case KFCURVE_TANGENT_USER:
        case KFCURVE_TANGENT_BREAK:
            out.Ch(mode == KFCURVE_TANGENT_USER ? 's' : 'b');
            out.D(d0);
            out.D(d1);
            WriteWeights(out, key);
            return;
        case KFCURVE_TANGENT_AUTO:
        case KFCURVE_TANGENT_AUTO_BREAK:
            break;
        default:
            return;
    }
    if (olderLayout) {
        const bool previousSlope = previous && previous->GetDataFloat(KFCURVE_DATA_1) != 0;
        if (previousSlope || d0 != 0) {
            out.Ch((mode & KFCURVE_GENERIC_BREAK) ? 'b' : 's');
            out.D(curve.KeyGetRightDerivative(i));
            out.D(i + 1 < count ? curve.KeyGetLeftDerivative(i + 1) : 0.0);
            WriteWeights(out, key);
        } else if (i + 1 < count && curve.KeyGet(i + 1)->IsCubic() &&
                   (curve.KeyGetTangentMode(i + 1) & KFCURVE_TANGENT_USER)) {
            out.Ch('d');
            out.D(curve.KeyGetLeftDerivative(i + 1));
            WriteWeights(out, key);
        } else {
            out.Ch('a');
        }
        return;
    }
    // 'a' alone only when reading it back loses nothing: it resets the weights on both sides.
    const bool previousWeight = previous && (previous->GetFlags() & KFCURVE_WEIGHTED_NEXT_LEFT);
    if (mode == KFCURVE_TANGENT_AUTO && d0 == 0 && d1 == 0 && !(key.GetFlags() & kWeightBits) &&
        !previousWeight) {
        out.Ch('a');
        return;
    }
    out.Ch(mode == KFCURVE_TANGENT_AUTO ? 'p' : 'q');
    out.D(d0);
    out.D(d1);
    WriteWeights(out, key);
}

// `ticks`: times as ticks, else as seconds (what FieldWriteT decides by the part's version).
template <class Out>
void WriteKey(Out& out, const KFCurve& curve, int i, const KFCurveKey& key,
              const KFCurveKey* previous, bool olderLayout, bool ticks) {
    if (ticks)
        out.LL(key.GetTime().Get());
    else
        out.D(key.GetTime().GetSecondDouble());
    out.D(key.GetValue());
    switch (key.GetInterpolation()) {
        case KFCURVE_INTERPOLATION_LINEAR:
            out.Ch('L');
            return;
        case KFCURVE_INTERPOLATION_CUBIC:
            out.Ch('U');
            WriteCubicTangent(out, curve, i, key, previous, olderLayout);
            return;
        case KFCURVE_INTERPOLATION_CONSTANT:
            out.Ch('C');
            out.Ch((key.GetFlags() & KFCURVE_CONSTANT_NEXT) ? 'n' : 's');
            return;
        default:
            // A record without its letter could not be read back: keep the key as a step.
            out.Ch('C');
            out.Ch('s');
            return;
    }
}

// Key values encoded straight into the field file's output buffer where the file takes
// encoded values (else into a buffer of their own, handed over when full): KQovValueRun's
// bytes, with the keys most curves hold ('L', 'C' and a mode, 'U' 'a', times in ticks) each
// put in one step.
class KeyBytes {
public:
    explicit KeyBytes(KQovFieldFile& file) : mFile(file) {}
    ~KeyBytes() { Flush(); }
    KeyBytes(const KeyBytes&) = delete;
    KeyBytes& operator=(const KeyBytes&) = delete;

    void Ch(char value) { Put('C', &value, 1); }
    void LL(int64_t value) { Put('L', &value, 8); }
    void D(double value) { Put('D', &value, 8); }
    void Flush() {
        const size_t size = size_t(mAt - mStart);
        if (size > 0 && mStart == mOwn)
            mFile.FieldWriteEncoded(mOwn, size, mCount);
        else if (size > 0)
            mFile.FieldWriteEncodedCommit(size, mCount);
        mStart = mAt = mEnd = nullptr;
        mCount = 0;
    }
    // Writes the key when it is one of those kinds (the newer layout, ticks); false, with
    // nothing written, for any other.
    bool Plain(const KFCurveKey& key, const KFCurveKey* previous) {
        char letter, second;
        const uint32_t flags = key.GetFlags();
        switch (key.GetInterpolation()) {
            case KFCURVE_INTERPOLATION_LINEAR:
                letter = 'L';
                second = 0;
                break;
            case KFCURVE_INTERPOLATION_CONSTANT:
                letter = 'C';
                second = (flags & KFCURVE_CONSTANT_NEXT) ? 'n' : 's';
                break;
            case KFCURVE_INTERPOLATION_CUBIC:
                // WriteCubicTangent's 'a' alone.
                if (key.GetTangentMode() != KFCURVE_TANGENT_AUTO ||
                    key.GetDataFloat(KFCURVE_DATA_0) != 0 ||
                    key.GetDataFloat(KFCURVE_DATA_1) != 0 || (flags & kWeightBits) ||
                    (previous && (previous->GetFlags() & KFCURVE_WEIGHTED_NEXT_LEFT)))
                    return false;
                letter = 'U';
                second = 'a';
                break;
            default:
                return false;
        }
        Reserve(22);
        const int64_t ticks = key.GetTime().Get();
        const double value = key.GetValue();
        uint8_t* at = mAt;
        at[0] = 'L';
        std::memcpy(at + 1, &ticks, 8);
        at[9] = 'D';
        std::memcpy(at + 10, &value, 8);
        at[18] = 'C';
        at[19] = uint8_t(letter);
        if (second) {
            at[20] = 'C';
            at[21] = uint8_t(second);
            mAt += 22;
            mCount += 4;
        } else {
            mAt += 20;
            mCount += 3;
        }
        return true;
    }

private:
    static constexpr size_t kRoom = 16384;
    void Reserve(size_t size) {
        if (size_t(mEnd - mAt) >= size) return;
        Flush();
        mStart = mFile.FieldWriteEncodedRoom(kRoom);
        if (!mStart) mStart = mOwn;
        mAt = mStart;
        mEnd = mStart + kRoom;
    }
    void Put(char type, const void* payload, size_t size) {
        Reserve(1 + size);
        mAt[0] = static_cast<uint8_t>(type);
        std::memcpy(mAt + 1, payload, size);
        mAt += 1 + size;
        ++mCount;
    }

    KQovFieldFile& mFile;
    uint8_t* mStart = nullptr;
    uint8_t* mAt = nullptr;
    uint8_t* mEnd = nullptr;
    size_t mCount = 0;
    uint8_t mOwn[kRoom];
};

// ------------------------------------------------------------------------------------------
// Reading

// Stored units of a weight read from a file, handed to the key so that they survive its
// truncating conversion.
float WeightFromFile(double weight) {
    if (!(weight >= kWeightUnit)) weight = kWeightUnit;
    if (weight > 0.99) weight = 0.99;
    return float((double(std::lround(weight * 9999.0)) + 0.5) / 9999.0);
}

// The weight every key read starts from.
const float kDefaultWeight = WeightFromFile(1.0 / 3.0);

void ResetWeights(KFCurveKey& key) {
    key.SetFlags(key.GetFlags() & ~(kWeightBits | KFCURVE_VELOCITY_ALL));
    key.SetDataFloat(KFCURVE_RIGHT_WEIGHT, kDefaultWeight);
    key.SetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT, kDefaultWeight);
    key.SetDataFloat(KFCURVE_RIGHT_VELOCITY, 0.0f);
    key.SetDataFloat(KFCURVE_NEXT_LEFT_VELOCITY, 0.0f);
}

// A key's state as every getter sees it.
bool SameKey(const KFCurveKey& a, const KFCurveKey& b) {
    if (a.GetTime() != b.GetTime() || a.GetFlags() != b.GetFlags() || a.GetBias() != b.GetBias() ||
        !(a.GetValue() == b.GetValue()))
        return false;
    for (int slot = KFCURVE_DATA_0; slot <= KFCURVE_NEXT_LEFT_VELOCITY; ++slot)
        if (!(a.GetDataFloat(slot) == b.GetDataFloat(slot))) return false;
    return true;
}

// What a plain key of each kind ('L', 'C' 's', 'C' 'n', 'U' 'a') is but its time and value,
// and whether clearing its next left weight, as the key after a 'U' key does, leaves it as it
// is.
struct PlainKind {
    KFCurveKey key;
    bool clearKeeps = false;
};

struct PlainKinds {
    PlainKind kinds[4];
    PlainKinds() {
        KFCurveKey start;
        ResetWeights(start);
        for (int kind = 0; kind < 4; ++kind) {
            KFCurveKey& key = kinds[kind].key;
            key = start;
            if (kind == 0) {
                key.SetInterpolation(KFCURVE_INTERPOLATION_LINEAR);
            } else if (kind < 3) {
                key.SetInterpolation(KFCURVE_INTERPOLATION_CONSTANT);
                if (kind == 2) key.SetFlags(key.GetFlags() | KFCURVE_CONSTANT_NEXT);
            } else {
                key.SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
                key.SetTangentMode(KFCURVE_TANGENT_AUTO);
                key.SetDataFloat(KFCURVE_DATA_0, 0.0f);
                key.SetDataFloat(KFCURVE_DATA_1, 0.0f);
            }
            KFCurveKey cleared = key;
            cleared.SetFlags(cleared.GetFlags() & ~KFCURVE_WEIGHTED_NEXT_LEFT);
            cleared.SetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT, kDefaultWeight);
            kinds[kind].clearKeeps = SameKey(cleared, key);
        }
    }
};

const PlainKind* ThePlainKinds() {
    static const PlainKinds table;
    return table.kinds;
}

// Keeping times increasing: the last time kept, if any.
struct KeyOrder {
    bool accepted = false;
    KTime last;
    // True when a good key at `time` breaks the order; else it is the last one kept.
    bool Breaks(KTime time) {
        if (accepted && !(last < time)) return true;
        accepted = true;
        last = time;
        return false;
    }
};

// Where plain keys are taken from a field's stored bytes: the next value, the end, the values
// left and those taken so far.
struct RawKeys {
    const uint8_t* at;
    const uint8_t* end;
    uint32_t left, taken;
};

// Plain keys straight from stored bytes, key after key into keys[0 .. count) (keys `first`
// on), each a ticks value ('L' and 8 bytes), a double ('D' and 8) and 'C' 'L' alone or 'C'
// and a letter after it ('C' 'C' 'n'/'s', 'C' 'U' 'C' 'a'); the number taken, up to the first
// key of another shape. `before` is the key before keys[0] (read only when `first` > 0),
// `kind` the kind of the last key taken (-1 for none) and `letter` its interpolation letter;
// a key breaking the order is handed to broke(index). Touches nothing but its arguments: it
// may run on a thread of its own.
template <class Broke>
int DecodeRawKeys(RawKeys& raw, KFCurveKey* keys, int first, int count, KFCurveKey* before,
                  int& kind, char& letter, KeyOrder& order, Broke broke) {
    const PlainKind* const kinds = ThePlainKinds();
    const uint8_t* p = raw.at;
    uint32_t left = raw.left;
    int previousKind = kind;
    int k = 0;
    for (; k < count; ++k) {
        const size_t room = size_t(raw.end - p);
        if (left < 3 || room < 20 || p[0] != 'L' || p[9] != 'D' || p[18] != 'C') break;
        const char keyLetter = char(p[19]);
        int keyKind = 0;
        uint32_t values = 3;
        if (keyLetter != 'L') {
            if (left < 4 || room < 22 || p[20] != 'C') break;
            const char second = char(p[21]);
            if (keyLetter == 'C' && second)
                keyKind = second == 'n' ? 2 : 1;
            else if (keyLetter == 'U' && second == 'a')
                keyKind = 3;
            else
                break;
            values = 4;
        }
        int64_t ticks;
        std::memcpy(&ticks, p + 1, 8);
        if (ticks == std::numeric_limits<int64_t>::min()) break;
        double value;
        std::memcpy(&value, p + 10, 8);
        const int i = first + k;
        KFCurveKey& key = keys[k];
        key = kinds[keyKind].key;
        key.SetTime(KTime(ticks));
        key.SetValue(float(value));
        letter = keyLetter;
        // Clearing the key before's next left weight, where it changes anything.
        if (keyKind == 3 && i > 0 && !(previousKind >= 0 && kinds[previousKind].clearKeeps)) {
            KFCurveKey& previous = k > 0 ? keys[k - 1] : *before;
            previous.SetFlags(previous.GetFlags() & ~KFCURVE_WEIGHTED_NEXT_LEFT);
            previous.SetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT, kDefaultWeight);
        }
        if (order.Breaks(key.GetTime())) broke(i);
        previousKind = keyKind;
        p += values == 3 ? 20 : 22;
        left -= values;
        raw.taken += values;
    }
    raw.at = p;
    raw.left = left;
    if (k > 0) kind = previousKind;
    return k;
}

class KeyReader {
public:
    KeyReader(KFCurve& curve, KQovFieldFile& file, int version)
        : mCurve(curve), mFile(file), mVersion(version), mTyped(file.HasTypedValues()) {
        ResetWeights(mStart);
    }

    // Reads keys into slots 0 .. n-1, which may be unset (each is written whole); returns
    // the flags of the bad keys, none when no key is bad.
    std::vector<uint8_t> ReadKeys(int n);

private:
    // The key values of a binary file come a chunk at a time as stored and are converted
    // here as the field file converts them; others (ASCII, texts) one at a time.
    bool Buffered() {
        if (mAt < mCount) return true;
        mAt = 0;
        mCount = mTyped ? mFile.FieldReadStored(mBuffer, kBuffer) : 0;
        return mCount > 0;
    }
    char Type() {
        return Buffered() ? mFile.GetTree()->ReportedType(mBuffer[mAt]) : mFile.FieldReadGetType();
    }
    bool Typed(char type) { return !mTyped || Type() == type; }
    bool HasValue() const {
        return mRaw ? mRawLeft > 0 : mAt < mCount || mFile.FieldReadGetRemain() > 0;
    }
    double D() {
        return Buffered() ? mFile.GetTree()->ToDouble(mBuffer[mAt++]) : mFile.FieldReadD();
    }
    char Ch() { return Buffered() ? mFile.GetTree()->ToChar(mBuffer[mAt++]) : mFile.FieldReadCh(); }
    KTime T() {
        if (!Buffered()) return mFile.FieldReadT();
        const KQovFieldReader::Value& value = mBuffer[mAt++];
        if (value.type == 'L' || mFile.GetPartVersionInUse() >= 2001)
            return KTime(mFile.GetTree()->ToInt64(value));
        KTime time;
        time.SetSecondDouble(mFile.GetTree()->ToDouble(value));
        return time;
    }
    KFCurveKey& K(int i) { return *mCurve.KeyGet(i); }
    void SetMode(KFCurveKey& key, uint32_t mode) { key.SetTangentMode(mode); }
    void ReadWeights(KFCurveKey& key);
    void ClearPreviousLeftWeight(int i);
    bool ReadKey(int i);
    bool ReadPlainKey(int i);
    void SetPlainKey(int i, KTime time, double value, char letter, char second);
    void OpenRaw();
    void CloseRaw();
    using Order = KeyOrder;
    int ReadRawKeys(KFCurveKey* keys, int first, int count, Order& order);
    bool ReadCubicTangent(int i);
    void ReadOldestCubic(int i, char letter);
    double Delta(int a, int b) { return (K(b).GetTime() - K(a).GetTime()).GetSecondDouble(); }

    KFCurve& mCurve;
    KQovFieldFile& mFile;
    const int mVersion;
    const bool mTyped;
    char mTimeType = 0;
    // Interpolation letters of the key read last and of the one before it, for the 'B' layout.
    char mLetter = 0, mPreviousLetter = 0;
    // Which keys are bad, made at the first bad key: most reads have none.
    std::vector<uint8_t> mBad;
    int mKeyCount = 0;
    void MarkBad(int i) {
        if (mBad.empty()) mBad.assign(size_t(mKeyCount), 0);
        mBad[size_t(i)] = 1;
    }
    KFCurveKey* mKey = nullptr;       // the key being read
    KFCurveKey* mPrevious = nullptr;  // the one before it, null for the first
    KFCurveKey mStart;                // a blank slot with its weights reset: what a key starts as
    // What SetPlainKey makes of each kind; mPreviousKind: the kind of the key before, -1 for
    // any other.
    const PlainKind* const mKinds = ThePlainKinds();
    int mPreviousKind = -1, mKind = -1;
    static constexpr size_t kBuffer = 256;
    KQovFieldReader::Value mBuffer[kBuffer];
    size_t mAt = 0, mCount = 0;
    // The field's bytes, for plain keys read straight from them while the buffer above is
    // empty: the next value, the end, the values left and those taken since the field's cursor.
    const uint8_t* mRaw = nullptr;
    const uint8_t* mRawStart = nullptr;
    const uint8_t* mRawEnd = nullptr;
    uint32_t mRawLeft = 0, mRawTaken = 0;
};

void KeyReader::ReadWeights(KFCurveKey& key) {
    uint32_t bits;
    switch (Ch()) {
        case 'a':
            bits = KFCURVE_WEIGHTED_ALL;
            break;
        case 'l':
            bits = KFCURVE_WEIGHTED_NEXT_LEFT;
            break;
        case 'r':
            bits = KFCURVE_WEIGHTED_RIGHT;
            break;
        default:
            bits = 0;
            break;
    }
    key.SetFlags((key.GetFlags() & ~kWeightBits) | bits);
    if (bits & KFCURVE_WEIGHTED_RIGHT) key.SetDataFloat(KFCURVE_RIGHT_WEIGHT, WeightFromFile(D()));
    if (bits & KFCURVE_WEIGHTED_NEXT_LEFT)
        key.SetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT, WeightFromFile(D()));
}

void KeyReader::ClearPreviousLeftWeight(int i) {
    if (i == 0) return;
    KFCurveKey& p = *mPrevious;
    p.SetFlags(p.GetFlags() & ~KFCURVE_WEIGHTED_NEXT_LEFT);
    p.SetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT, kDefaultWeight);
}

std::vector<uint8_t> KeyReader::ReadKeys(int n) {
    mBad.clear();
    mKeyCount = n;
    OpenRaw();
    mTimeType = mRaw ? char(*mRaw) : Type();
    if (mTimeType != 'L') CloseRaw();
    Order order;
    // Each slot is blanked one key ahead of its read: reading a key may look at the next slot
    // (its auto tangents) and must find it blank, as in a new buffer. Plain keys look at no
    // slot after their own.
    if (n > 0) K(0) = KFCurveKey();
    int i = 0;
    while (i < n) {
        int run = 0;
        KFCurveKey* keys = mCurve.KeyGetRun(i, run);
        for (int r = 0; r < run;) {
            if (mRaw) {
                const int taken = ReadRawKeys(keys + r, i, run - r, order);
                r += taken;
                i += taken;
                if (r == run) break;
            }
            if (!HasValue()) {
                // The rest of the keys are missing: their slots stay blank.
                for (int j = i; j < n; ++j) {
                    K(j) = KFCurveKey();
                    MarkBad(j);
                }
                CloseRaw();
                return std::move(mBad);
            }
            mPrevious = i > 0 ? mKey : nullptr;
            mKey = keys + r;
            mPreviousKind = mKind;
            mKind = -1;
            CloseRaw();
            if (i + 1 < n) (r + 1 < run ? keys[r + 1] : K(i + 1)) = KFCurveKey();
            bool keyBad = ReadKey(i);
            if (mAt == mCount && mTimeType == 'L') OpenRaw();
            if (!keyBad && order.Breaks(mKey->GetTime())) keyBad = true;
            if (keyBad) MarkBad(i);
            ++r;
            ++i;
        }
    }
    CloseRaw();
    return std::move(mBad);
}

void KeyReader::OpenRaw() {
    if (!mTyped || mVersion < kKeyVersion) return;
    size_t size = 0;
    const uint8_t* bytes = mFile.FieldReadStoredBytes(size);
    if (!bytes) return;
    mRaw = mRawStart = bytes;
    mRawEnd = bytes + size;
    mRawLeft = uint32_t(mFile.FieldReadGetRemain());
    mRawTaken = 0;
}

// The field's cursor moved over what was taken from its bytes.
void KeyReader::CloseRaw() {
    if (!mRaw) return;
    mFile.FieldReadSkipStored(int(mRawTaken), size_t(mRaw - mRawStart));
    mRaw = nullptr;
}

// ReadPlainKey on the field's bytes (DecodeRawKeys).
int KeyReader::ReadRawKeys(KFCurveKey* keys, int first, int count, Order& order) {
    RawKeys raw{mRaw, mRawEnd, mRawLeft, mRawTaken};
    const int k = DecodeRawKeys(raw, keys, first, count, mKey, mKind, mLetter, order,
                                [this](int i) { MarkBad(i); });
    mRaw = raw.at;
    mRawLeft = raw.left;
    mRawTaken = raw.taken;
    if (k > 0) mKey = keys + (k - 1);
    return k;
}

// The keys most files hold, in the current layout of a binary file (ticks, a double value,
// then 'L', 'C' and its mode, or 'U' and 'a'), taken from the buffer with their types checked
// up front; what the general path below makes of them. False, with nothing taken, for any
// other key.
bool KeyReader::ReadPlainKey(int i) {
    if (mVersion < kKeyVersion || mTimeType != 'L' || !Buffered() || mCount - mAt < 4) return false;
    const KQovFieldReader::Value* v = mBuffer + mAt;
    if (v[0].type != 'L' || v[1].type != 'D' || v[2].type != 'C') return false;
    const char letter = char(v[2].data[0]);
    const char second = v[3].type == 'C' ? char(v[3].data[0]) : 0;
    if (!(letter == 'L' || (letter == 'C' && second) || (letter == 'U' && second == 'a')))
        return false;
    const KTime time(mFile.GetTree()->ToInt64(v[0]));
    if (time.Get() == std::numeric_limits<int64_t>::min()) return false;
    SetPlainKey(i, time, mFile.GetTree()->ToDouble(v[1]), letter, second);
    mAt += letter == 'L' ? 3 : 4;
    return true;
}

// A key of ReadPlainKey's kinds, its letters checked: a copy of what the kind makes.
void KeyReader::SetPlainKey(int i, KTime time, double value, char letter, char second) {
    const int kind = letter == 'L' ? 0 : letter == 'C' ? (second == 'n' ? 2 : 1) : 3;
    KFCurveKey& key = *mKey;
    key = mKinds[kind].key;
    key.SetTime(time);
    key.SetValue(float(value));
    mLetter = letter;
    if (kind == 3 && !(mPreviousKind >= 0 && mKinds[mPreviousKind].clearKeeps))
        ClearPreviousLeftWeight(i);
    mKind = kind;
}

// True when the key is bad.
bool KeyReader::ReadKey(int i) {
    if (ReadPlainKey(i)) return false;
    KFCurveKey& key = *mKey;
    bool bad = false;
    key = mStart;  // the slot is blank: nothing of it is kept

    KTime time;
    if (mTyped) {
        char type = Type();
        while (type != mTimeType && HasValue()) {
            T();
            type = Type();
        }
        if (type != mTimeType || !HasValue()) {
            bad = true;
            time = KTIME_INFINITE;
        } else {
            time = T();
        }
    } else {
        time = T();
    }
    if (time.Get() == std::numeric_limits<int64_t>::min()) bad = true;
    key.SetTime(time);

    const char valueType = mTyped ? Type() : 'D';
    if (valueType == 'D' || valueType == 'F') {
        key.SetValue(float(D()));
    } else {
        bad = true;
        key.SetValue(0.0f);
        // An integer in the value's place is taken off, so the keys after it stay in step.
        if (valueType == 'I' || valueType == 'L' || valueType == 'Y') D();
    }

    char c = 0;
    if (Typed('C'))
        c = Ch();
    else
        bad = true;
    if (c < 'A' || c > 'Z') bad = true;
    mPreviousLetter = mLetter;
    mLetter = c;

    const bool hasPrevious = i > 0;
    switch (c) {
        case 'A':
        case 'C':
        case 'Z':
        case 'L': {
            bool constant = c != 'L';
            key.SetInterpolation(constant ? KFCURVE_INTERPOLATION_CONSTANT
                                          : KFCURVE_INTERPOLATION_LINEAR);
            if (constant) {
                bool next = false;
                if (mVersion >= kKeyVersion && Typed('C')) next = Ch() == 'n';
                key.SetFlags((key.GetFlags() & ~KFCURVE_CONSTANT_NEXT) |
                             (next ? uint32_t(KFCURVE_CONSTANT_NEXT) : 0u));
            }
            if (mVersion < kKeyVersion && hasPrevious && mPrevious->IsCubic() &&
                (mPrevious->GetTangentMode() & KFCURVE_TANGENT_AUTO))
                mCurve.KeySetLeftAuto(i, 100.0f);
            break;
        }
        case 'U':
            key.SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
            if (ReadCubicTangent(i)) bad = true;
            break;
        case 'B':
        case 'H':
        case 'I':
        case 'O':
        case 'R':
        case 'T':
            ReadOldestCubic(i, c);
            break;
        default:
            bad = true;
            break;
    }
    return bad;
}

// The tangent of a 'U' key; true when the key is bad.
bool KeyReader::ReadCubicTangent(int i) {
    KFCurveKey& key = *mKey;
    KFCurveKey* p = mPrevious;
    char t = 'a';
    if (Typed('C')) t = Ch();
    if (t < 'A' || t > 't') return true;
    switch (t) {
        case 'A':
        case 'a': {
            SetMode(key, KFCURVE_TANGENT_AUTO);
            bool afterLinear = mVersion < kKeyVersion && p &&
                               p->GetInterpolation() == KFCURVE_INTERPOLATION_LINEAR;
            key.SetDataFloat(KFCURVE_DATA_0, afterLinear ? -100.0f : 0.0f);
            key.SetDataFloat(KFCURVE_DATA_1, 0.0f);
            if (mVersion >= 4002) ClearPreviousLeftWeight(i);
            if (mVersion < kKeyVersion && p && p->IsCubic() &&
                (p->GetTangentMode() & KFCURVE_TANGENT_USER))
                p->SetDataFloat(KFCURVE_DATA_1, 0.0f);
            if (mVersion == 4000) key.SetDataFloat(KFCURVE_DATA_1, float(D()));
            return false;
        }
        case 'S':
        case 's':
        case 'B':
        case 'b': {
            bool user = t == 'S' || t == 's';
            SetMode(key, user ? KFCURVE_TANGENT_USER : KFCURVE_TANGENT_BREAK);
            float d0 = float(D());
            key.SetDataFloat(KFCURVE_DATA_0, d0);
            key.SetDataFloat(KFCURVE_DATA_1, float(D()));
            if (mVersion < 4000 && p && p->IsCubic() && p->GetTangentMode() == KFCURVE_TANGENT_AUTO)
                p->SetDataFloat(KFCURVE_DATA_1, d0);
            if (mVersion >= 4002) ReadWeights(key);
            return false;
        }
        case 'D':
        case 'd':
            SetMode(key, KFCURVE_TANGENT_AUTO);
            key.SetDataFloat(KFCURVE_DATA_1, float(D()));
            key.SetDataFloat(KFCURVE_DATA_0, 0.0f);
            if (mVersion >= 4002) {
                ClearPreviousLeftWeight(i);
                ReadWeights(key);
            }
            return false;
        case 'P':
        case 'p':
        case 'Q':
        case 'q': {
            const bool plain = t == 'P' || t == 'p';
            SetMode(key, plain ? KFCURVE_TANGENT_AUTO : KFCURVE_TANGENT_AUTO_BREAK);
            key.SetDataFloat(KFCURVE_DATA_0, float(D()));
            key.SetDataFloat(KFCURVE_DATA_1, float(D()));
            // Auto values that do not mirror each other make a broken auto key.
            if (plain && p &&
                std::fabs(double(mCurve.KeyGetRightAuto(i)) + mCurve.KeyGetLeftAuto(i)) > 0.001)
                SetMode(key, KFCURVE_TANGENT_AUTO_BREAK);
            ReadWeights(key);
            return false;
        }
        case 'T':
        case 't': {
            float tension = float(D()), continuity = float(D()), bias = float(D());
            key.SetTCB(key.GetTime(), key.GetValue(), tension, continuity, bias);
            return false;
        }
        default:
            return true;
    }
}

// Cubic keys of the oldest layout ('B' stores Bezier control values, not derivatives).
void KeyReader::ReadOldestCubic(int i, char letter) {
    KFCurveKey& key = *mKey;
    KFCurveKey* p = mPrevious;
    key.SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
    if (letter == 'T') {
        float tension = float(D()), continuity = float(D()), bias = float(D());
        key.SetTCB(key.GetTime(), key.GetValue(), tension, continuity, bias);
    } else {
        const bool previousTcb = p && p->GetTangentMode() == KFCURVE_TANGENT_TCB;
        char second = Ch();
        if (second == 'A' || second == 'a') {
            SetMode(key, KFCURVE_TANGENT_AUTO);
        } else if (second == 'B' || second == 'b') {
            SetMode(key, KFCURVE_TANGENT_BREAK);
            float x = float(D());
            if (p && !previousTcb) p->SetDataFloat(KFCURVE_DATA_1, x);
            key.SetDataFloat(KFCURVE_DATA_0, float(D()));
        } else {
            SetMode(key, KFCURVE_TANGENT_USER);
            float x = float(D());
            if (p && !previousTcb) p->SetDataFloat(KFCURVE_DATA_1, x);
            key.SetDataFloat(KFCURVE_DATA_0, x);
        }
    }
    if (p && mPreviousLetter == 'B') {
        double delta = Delta(i - 1, i);
        if (delta > 0.0) {
            double d0 = (p->GetDataFloat(KFCURVE_DATA_0) - p->GetValue()) * 3.0 / delta;
            double d1 = letter == 'B'
                            ? (p->GetDataFloat(KFCURVE_DATA_1) - key.GetValue()) * -3.0 / delta
                            : 0.0;
            p->SetDataFloat(KFCURVE_DATA_0, float(d0));
            p->SetDataFloat(KFCURVE_DATA_1, float(d1));
        }
    }
}

// Removes the bad keys as repeated removal from the last one would, in one pass.
void RemoveBadKeys(KFCurve& curve, const std::vector<uint8_t>& bad) {
    const int n = curve.KeyGetCount();
    int kept = 0;
    for (int i = 0; i < n; ++i) kept += bad[size_t(i)] ? 0 : 1;
    if (kept == n) return;
    if (kept == 0) {
        float first = curve.KeyGetValue(0);
        curve.KeyClear();
        curve.SetValue(first);
        return;
    }
    struct Seam {
        int index;
        KFCurveKeyTangentInfo info;
    };
    std::vector<Seam> seams;
    int j = 0;
    for (int i = 0; i < n; ++i) {
        if (bad[size_t(i)]) continue;
        if (i > 0 && bad[size_t(i - 1)]) seams.push_back({j, curve.KeyGetLeftTangentInfo(i)});
        if (i != j) *curve.KeyGet(j) = *curve.KeyGet(i);
        ++j;
    }
    curve.CommitKeys(kept);
    // Only the left side: the left setters of a user key also set its right slope, which
    // differs from the left one after a linear or constant key.
    for (const Seam& seam : seams) {
        if (seam.index < 1) continue;
        KFCurveKey& key = *curve.KeyGet(seam.index);
        const float right = key.GetDataFloat(KFCURVE_DATA_0);
        curve.KeySetLeftTangentInfo(seam.index, seam.info);
        key.SetDataFloat(KFCURVE_DATA_0, right);
    }
}

// Incoming TCB derivative at key j with the tension, continuity and bias given.
double TcbIncoming(const KFCurve& curve, int j, double t, double c, double b) {
    const int count = curve.KeyGetCount();
    auto delta = [&](int a, int z) {
        return (curve.KeyGetTime(z) - curve.KeyGetTime(a)).GetSecondDouble();
    };
    auto slope = [&](int a, int z, double factor) {
        double d = delta(a, z);
        return d > 0.0 ? (curve.KeyGetValue(z) - curve.KeyGetValue(a)) * factor / d : 0.0;
    };
    if (j >= count - 1) return (1 - t) * slope(j - 1, j, (1 - c) * (1 + b));
    double next = float(slope(j, j + 1, (1 - b) * (1 + c)));
    return (slope(j - 1, j, (1 - c) * (1 + b)) + next) * (1 - t) * 0.5;
}

bool IsMode(const KFCurve& curve, int i, uint32_t mode) {
    return curve.KeyGet(i)->IsCubic() && curve.KeyGetTangentMode(i) == mode;
}

bool IsUserOrBreakKey(const KFCurve& curve, int i) {
    return IsMode(curve, i, KFCURVE_TANGENT_USER) || IsMode(curve, i, KFCURVE_TANGENT_BREAK);
}

void SetCubic(KFCurveKey& key, uint32_t mode, float d0, float d1) {
    key.SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
    key.SetTangentMode(mode);
    key.SetDataFloat(KFCURVE_DATA_0, d0);
    key.SetDataFloat(KFCURVE_DATA_1, d1);
}

// Keys of the layouts below 4000 meant something else by their data.
void ConvertOldestLayout(KFCurve& curve) {
    const int count = curve.KeyGetCount();
    if (count == 0) return;
    KFCurveKey& last = *curve.KeyGet(count - 1);
    last.SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
    last.SetFlags((last.GetFlags() & ~0xE06u) | 0x108u);

    for (int i = count - 1; i >= 1; --i) {
        KFCurveKey& key = *curve.KeyGet(i);
        const int p = i - 1;
        const bool previousTcb = IsMode(curve, p, KFCURVE_TANGENT_TCB);
        if (IsMode(curve, i, KFCURVE_TANGENT_USER) && previousTcb) {
            key.SetTangentMode(KFCURVE_TANGENT_BREAK);
        } else if (key.GetInterpolation() == KFCURVE_INTERPOLATION_LINEAR && previousTcb) {
            float d = curve.KeyGetRightDerivative(i);
            SetCubic(key, KFCURVE_TANGENT_BREAK, d, d);
        } else if (IsMode(curve, i, KFCURVE_TANGENT_AUTO)) {
            double d = i < count - 1 ? curve.KeyGetRightDerivative(i + 1) : 0.0;
            if (i + 1 == count - 1) {
                double delta = (curve.KeyGetTime(i + 1) - curve.KeyGetTime(i)).GetSecondDouble();
                d = delta > 0.0 ? (curve.KeyGetValue(i + 1) - curve.KeyGetValue(i)) / delta : 0.0;
            }
            KFCurveKey& previous = *curve.KeyGet(p);
            if (IsUserOrBreakKey(curve, p)) {
                SetCubic(key, KFCURVE_TANGENT_USER, previous.GetDataFloat(KFCURVE_DATA_1),
                         float(d));
            } else if (previousTcb) {
                key.SetTCB(key.GetTime(), key.GetValue(), curve.KeyGetDataSlot(p, KFCURVE_DATA_0),
                           curve.KeyGetDataSlot(p, KFCURVE_DATA_1),
                           curve.KeyGetDataSlot(p, KFCURVE_TCB_BIAS));
                if (i < count - 1) {
                    float left = curve.KeyGetLeftDerivative(i);
                    SetCubic(key, KFCURVE_TANGENT_USER, left, float(d));
                }
            } else if (previous.GetInterpolation() == KFCURVE_INTERPOLATION_CONSTANT) {
                SetCubic(key, KFCURVE_TANGENT_USER, 0.0f, float(d));
            }
        }
    }

    for (int i = 1; i < count; ++i) {
        if (IsMode(curve, i - 1, KFCURVE_TANGENT_AUTO) && !IsMode(curve, i, KFCURVE_TANGENT_AUTO)) {
            float d0 = curve.KeyGetRightDerivative(i - 1), d1 = curve.KeyGetRightDerivative(i);
            SetCubic(*curve.KeyGet(i - 1), KFCURVE_TANGENT_USER, d0, d1);
        }
    }

    for (int i = count - 1; i >= 1; --i) {
        if (!IsMode(curve, i, KFCURVE_TANGENT_TCB) || !IsUserOrBreakKey(curve, i - 1)) continue;
        float d0 = curve.KeyGetRightDerivative(i);
        double d1 = 0.0;
        if (i + 1 < count) {
            if (!IsMode(curve, i + 1, KFCURVE_TANGENT_TCB))
                d1 = TcbIncoming(curve, i + 1, curve.KeyGetDataSlot(i, KFCURVE_DATA_0),
                                 curve.KeyGetDataSlot(i, KFCURVE_DATA_1),
                                 curve.KeyGetDataSlot(i, KFCURVE_TCB_BIAS));
            else
                d1 = curve.KeyGetLeftDerivative(i + 1);
        }
        KFCurveKey& key = *curve.KeyGet(i);
        key.SetTangentMode(KFCURVE_TANGENT_BREAK);
        key.SetDataFloat(KFCURVE_DATA_0, d0);
        key.SetDataFloat(KFCURVE_DATA_1, float(d1));
    }
}

void ReadExtrapolation(KFCurve& curve, KQovFieldFile& file, const char* name, bool pre) {
    if (!file.FieldReadBegin(name)) return;
    if (file.FieldReadBlockBegin()) {
        int type = ExtrapolationType(file.FieldReadCh("Type", 0));
        uint32_t repetition = static_cast<uint32_t>(file.FieldReadI("Repetition", 0));
        if (pre) {
            curve.SetPreExtrapolation(type);
            curve.SetPreExtrapolationCount(repetition);
        } else {
            curve.SetPostExtrapolation(type);
            curve.SetPostExtrapolationCount(repetition);
        }
        file.FieldReadBlockEnd();
    }
    file.FieldReadEnd();
}

}  // namespace

int KFCurveStore(const KFCurve& curve, KQovFieldFile& file, bool defaultOnly, bool withColor,
                 bool olderLayout) {
    file.FieldWriteBegin("Default");
    file.FieldWriteD(curve.GetValue());
    file.FieldWriteEnd();
    if (defaultOnly) return 0;
    const int count = curve.KeyGetCount();
    if (count > 0) {
        file.FieldWriteBegin("KeyVer");
        file.FieldWriteI(kKeyVersion);
        file.FieldWriteEnd();
        file.FieldWriteBegin("KeyCount");
        file.FieldWriteI(count);
        file.FieldWriteEnd();
        file.FieldWriteBegin("Key");
        const bool ticks = file.GetPartVersionInUse() >= 2001;
        const KFCurveKey* previous = nullptr;
        if (file.CanWriteEncoded()) {
            KeyBytes out(file);
            const bool plain = ticks && !olderLayout;
            for (int i = 0; i < count;) {
                int run = 0;
                const KFCurveKey* keys = curve.KeyGetRun(i, run);
                for (const KFCurveKey* key = keys; key != keys + run; ++key, ++i) {
                    if (!plain || !out.Plain(*key, previous))
                        WriteKey(out, curve, i, *key, previous, olderLayout, ticks);
                    previous = key;
                }
            }
            out.Flush();
        } else {
            KQovValueRun out(file);
            for (int i = 0; i < count;) {
                int run = 0;
                const KFCurveKey* keys = curve.KeyGetRun(i, run);
                for (const KFCurveKey* key = keys; key != keys + run; ++key, ++i) {
                    WriteKey(out, curve, i, *key, previous, olderLayout, ticks);
                    previous = key;
                }
            }
            out.Flush();
        }
        file.FieldWriteEnd();
        WriteExtrapolation(file, "Pre-Extrapolation", curve.GetPreExtrapolation(),
                           curve.GetPreExtrapolationCount());
        WriteExtrapolation(file, "Post-Extrapolation", curve.GetPostExtrapolation(),
                           curve.GetPostExtrapolationCount());
    }
    if (withColor) {
        const float* color = curve.GetColor();
        file.FieldWriteBegin("Color");
        for (int i = 0; i < 3; ++i) file.FieldWriteD(color[i]);
        file.FieldWriteEnd();
    }
    return 0;
}

int KFCurveRetrieve(KFCurve& curve, KQovFieldFile& file, bool defaultOnly, bool withColor) {
    (void)withColor;  // a colour present is always read
    curve.KeyClear();
    curve.SetValue(float(file.FieldReadD()));
    file.FieldReadEnd();
    if (defaultOnly) return 0;

    const int version = file.FieldReadI("KeyVer", 0);
    int n = std::max(file.FieldReadI("KeyCount", 0), 0);
    std::vector<uint8_t> bad;
    if (n > 0 && file.FieldReadBegin("Key")) {
        // Every key takes at least one value: the count cannot exceed what the field holds.
        n = std::min(n, file.FieldReadGetRemain());
        curve.KeyClear();
        KFCurveKeysAhead* ahead = KFCurveKeysAhead::Of(file);
        if (ahead && ahead->Take(file, version, n, curve)) {
            curve.CommitKeys(n);
            curve.SetImmediateNotification(false);
        } else {
            curve.PrepareKeysForOverwrite(n);
            curve.CommitKeys(n);
            curve.SetImmediateNotification(false);
            KeyReader reader(curve, file, version);
            bad = reader.ReadKeys(n);
        }
        file.FieldReadEnd();
        curve.CommitKeys(n);

        curve.SetPreExtrapolation(KFCURVE_EXTRAPOLATION_CONSTANT);
        curve.SetPreExtrapolationCount(0);
        curve.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_CONSTANT);
        curve.SetPostExtrapolationCount(0);
        ReadExtrapolation(curve, file, "Pre-Extrapolation", true);
        ReadExtrapolation(curve, file, "Post-Extrapolation", false);
    }
    if (file.FieldReadBegin("Color")) {
        float color[3];
        for (float& c : color) c = float(file.FieldReadD());
        curve.SetColor(color);
        file.FieldReadEnd();
    }
    if (!bad.empty()) RemoveBadKeys(curve, bad);
    if (version < 4000 && curve.KeyGetCount() > 0) ConvertOldestLayout(curve);
    return 0;
}

KFCurve* KFCurveRetrieveInto(KQovFieldFile& file, KFCurve* curve, bool defaultOnly,
                             bool withColor) {
    if (!file.FieldReadBegin("Default")) return nullptr;
    if (!curve) curve = new KFCurve;
    KFCurveRetrieve(*curve, file, defaultOnly, withColor);
    return curve;
}

KFCurve* KFCurveRetrieveNew(KQovFieldFile& file, bool defaultOnly, bool withColor) {
    return KFCurveRetrieveInto(file, nullptr, defaultOnly, withColor);
}

// ------------------------------------------------------------------------------------------
// Keys decoded ahead

namespace {

std::atomic<int> sKeysAheadFrom{2048};
std::atomic<bool> sWaitForThread{false};
std::atomic<long> sTakenTotal{0};

// The value of the block's one `name` field as FieldReadI reads it; `otherwise` without one
// field of that name.
int32_t IntOf(KQovFieldReader& tree, int32_t block, const char* name, int32_t otherwise) {
    const int32_t index = tree.FindName(block, name);
    if (index < 0) return otherwise;
    const KQovFieldReader::Name& field = tree.GetBlock(block).names[size_t(index)];
    if (field.count != 1) return otherwise;
    KQovFieldReader::Record record = tree.GetRecord(field.first);
    KQovFieldReader::Value value;
    return tree.NextValue(record, value) ? int32_t(tree.ToInt64(value)) : 0;
}

}  // namespace

KFCurveKeysAhead::KFCurveKeysAhead() = default;

KFCurveKeysAhead::~KFCurveKeysAhead() {
    mStop.store(true);
    mThread.Join();
}

int KFCurveKeysAhead::SetFrom(int keys) {
    return sKeysAheadFrom.exchange(keys);
}

bool KFCurveKeysAhead::SetWaitForThread(bool wait) {
    return sWaitForThread.exchange(wait);
}

long KFCurveKeysAhead::GetTakenTotal() {
    return sTakenTotal.load();
}

void KFCurveKeysAhead::Add(KQovFieldFile& file, int32_t block) {
    KQovFieldReader* tree = file.GetTree();
    if (!tree || !file.HasTypedValues() || file.GetByteOrder() != kHostByteOrder || block < 0 ||
        size_t(block) >= tree->GetBlockCount())
        return;
    const int from = std::max(sKeysAheadFrom.load(), 1);
    const uint32_t first = tree->GetBlock(block).firstRecord, end = tree->GetBlock(block).endRecord;
    // The blocks inside a block follow it, in file order.
    for (size_t b = size_t(block); b < tree->GetBlockCount(); ++b) {
        const int32_t channel = int32_t(b);
        const uint32_t owner = tree->GetBlock(channel).owner;
        if (channel != block && (owner < first || owner >= end)) break;
        const int32_t keyName = tree->FindName(channel, "Key");
        if (keyName < 0 || tree->GetBlock(channel).names[size_t(keyName)].count != 1) continue;
        const int32_t version = IntOf(*tree, channel, "KeyVer", 0);
        const int32_t count = IntOf(*tree, channel, "KeyCount", 0);
        if (version < kKeyVersion || count < from) continue;
        const uint32_t index = tree->GetBlock(channel).names[size_t(keyName)].first;
        KQovFieldReader::Record record = tree->GetRecord(index);
        size_t size = 0;
        const uint8_t* bytes = tree->StoredBytes(index, record, size);
        if (!bytes || record.valueCount == 0) continue;
        std::unique_ptr<Job> job(new Job);
        job->bytes = bytes;
        job->size = size;
        job->values = record.valueCount;
        job->version = version;
        job->n = int(std::min<int64_t>(count, record.valueCount));
        job->mapped = tree->IsMapped();
        if (!mJobs.empty() && mJobs.back()->bytes >= bytes) continue;  // file order only
        mJobs.push_back(std::move(job));
    }
}

void KFCurveKeysAhead::Start() {
    if (mJobs.empty()) return;
    mThread.Start([this] {
        Run();
        mRunDone.store(true, std::memory_order_release);
    });
}

void KFCurveKeysAhead::JoinIfDone() {
    if (mRunDone.load(std::memory_order_acquire)) mThread.Join();
}

void KFCurveKeysAhead::Run() {
    // From the last list back: a read that catches up with the thread decodes the first
    // lists itself while the thread does the last, and the two meet at most once instead of
    // the read waiting on each list in turn.
    for (auto at = mJobs.rbegin(); at != mJobs.rend(); ++at) {
        const std::unique_ptr<Job>& job = *at;
        if (mStop.load(std::memory_order_relaxed)) return;
        int state = kWaiting;
        if (!job->state.compare_exchange_strong(state, kDecoding)) continue;
        const bool decoded = Decode(*job);
        if (!decoded) job->keys.Release();
        // The keys' bytes in a mapping are not needed in memory any more: they come back from
        // the file if read again. The scene then does not hold them beside their keys.
        if (decoded && job->mapped)
            KPlatformDiscardPagesInside(const_cast<uint8_t*>(job->bytes), job->takenBytes);
        job->state.store(decoded ? kDecoded : kFailed, std::memory_order_release);
        mDone.WakeAll();
    }
}

// The keys as KeyReader::ReadKeys reads a list whose every key is plain and in order.
bool KFCurveKeysAhead::Decode(Job& job) {
    if (job.version < kKeyVersion || job.n <= 0 || job.size == 0 || job.bytes[0] != 'L')
        return false;
    try {
        job.keys.ReserveForOverwrite(size_t(job.n));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (job.keys.Run(0, size_t(job.n)) != size_t(job.n)) return false;
    RawKeys raw{job.bytes, job.bytes + job.size, job.values, 0};
    int kind = -1;
    char letter = 0;
    KeyOrder order;
    bool broke = false;
    const int decoded = DecodeRawKeys(raw, &job.keys[0], 0, job.n, nullptr, kind, letter, order,
                                      [&broke](int) { broke = true; });
    if (decoded != job.n || broke) return false;
    job.taken = raw.taken;
    job.takenBytes = size_t(raw.at - job.bytes);
    return true;
}

bool KFCurveKeysAhead::Take(KQovFieldFile& file, int version, int n, KFCurve& curve) {
    size_t size = 0;
    const uint8_t* bytes = file.FieldReadStoredBytes(size);
    if (!bytes || mJobs.empty()) return false;
    const auto found = std::lower_bound(
        mJobs.begin(), mJobs.end(), bytes,
        [](const std::unique_ptr<Job>& job, const uint8_t* at) { return job->bytes < at; });
    if (found == mJobs.end() || (*found)->bytes != bytes) return false;
    Job& job = **found;
    if (job.version != version || job.n != n) return false;
    if (sWaitForThread.load(std::memory_order_relaxed))
        mDone.WaitUntil([&job] { return job.state.load() != kWaiting; });
    // Not begun: the read decodes it itself, and the thread passes it over.
    int state = kWaiting;
    if (job.state.compare_exchange_strong(state, kTaken)) return false;
    if (state == kDecoding) {
        mDone.WaitUntil([&job] { return job.state.load() != kDecoding; });
        state = job.state.load();
    }
    if (state != kDecoded) return false;
    job.state.store(kTaken, std::memory_order_relaxed);
    ++sTakenTotal;
    curve.AdoptKeysForOverwrite(job.keys);
    file.FieldReadSkipStored(int(job.taken), job.takenBytes);
    return true;
}
