#pragma once
// Time value of the library: a signed 64-bit tick count, 46,186,158,000 ticks a
// second, with the frame-rate modes, timecode conversions and the text forms.

#include <cstddef>
#include <cstdint>

class KTime {
public:
    // Frame-rate modes; 0 stands for the global default mode.
    enum ETimeMode {
        eDEFAULT_MODE = 0,
        eFRAMES120 = 1,
        eFRAMES100 = 2,
        eFRAMES60 = 3,
        eFRAMES50 = 4,
        eFRAMES48 = 5,
        eFRAMES30 = 6,
        eFRAMES30_DROP = 7,
        eNTSC_DROP_FRAME = 8,
        eNTSC_FULL_FRAME = 9,
        ePAL = 10,
        eFRAMES24 = 11,
        eFRAMES1000 = 12,
        eFILM_DROP_FRAME = 13,
        eTIME_MODE_COUNT = 14
    };

    // Text protocols: timecode, frame count, or the global default protocol.
    enum ETimeProtocol { eSMPTE = 0, eFRAME_COUNT = 1, eDEFAULT_PROTOCOL = 2 };

    static constexpr int64_t kOneSecond = 46186158000LL;
    static constexpr int64_t kInfinite = INT64_MAX;
    static constexpr int64_t kMinusInfinite = INT64_MIN + 1;

    constexpr KTime() : mTime(0) {}
    constexpr explicit KTime(int64_t ticks) : mTime(ticks) {}

    constexpr void Set(int64_t ticks) { mTime = ticks; }
    constexpr int64_t Get() const { return mTime; }

    // Tick arithmetic wraps around (two's complement); it never traps.
    KTime operator+(const KTime& other) const { return KTime(Wrap(U(mTime) + U(other.mTime))); }
    KTime operator-(const KTime& other) const { return KTime(Wrap(U(mTime) - U(other.mTime))); }
    KTime operator*(int64_t factor) const { return KTime(Wrap(U(mTime) * U(factor))); }
    KTime operator*(const KTime& other) const { return KTime(Wrap(U(mTime) * U(other.mTime))); }
    // Truncating quotient of two times; a zero divisor gives 0.
    int64_t operator/(const KTime& other) const;
    KTime& operator+=(const KTime& other) { return *this = *this + other; }
    KTime& operator-=(const KTime& other) { return *this = *this - other; }

    constexpr bool operator<(const KTime& other) const { return mTime < other.mTime; }
    constexpr bool operator>(const KTime& other) const { return mTime > other.mTime; }
    constexpr bool operator<=(const KTime& other) const { return mTime <= other.mTime; }
    constexpr bool operator>=(const KTime& other) const { return mTime >= other.mTime; }
    constexpr bool operator==(const KTime& other) const { return mTime == other.mTime; }
    constexpr bool operator!=(const KTime& other) const { return mTime != other.mTime; }

    double GetSecondDouble() const { return double(mTime) / double(kOneSecond); }
    // Truncates toward zero; out-of-range values become +/- infinity, NaN gives 0.
    void SetSecondDouble(double seconds);

    // Timecode position in a mode; an unknown mode leaves the time unchanged.
    void SetTime(int64_t hours, int64_t minutes, int64_t seconds, int64_t frames = 0,
                 int64_t fields = 0, int mode = eDEFAULT_MODE);
    // Same, plus a residual in hundredths of a frame.
    void SetTime(int64_t hours, int64_t minutes, int64_t seconds, int64_t frames, int64_t fields,
                 int64_t residual, int mode);
    // Splits the time; false (all outputs 0) for an unknown mode.
    bool GetTime(int64_t& hours, int64_t& minutes, int64_t& seconds, int64_t& frames,
                 int64_t& fields, int64_t& residual, int mode = eDEFAULT_MODE) const;

    int64_t GetFrame(bool cumulative, int mode = eDEFAULT_MODE) const;
    int64_t GetSecond(bool cumulative, int mode = eDEFAULT_MODE) const;
    int64_t GetResidual(int mode = eDEFAULT_MODE) const;

    // Text forms. GetTimeString writes at most `size` bytes (32 hold every form).
    char* GetTimeString(char* buffer, size_t size, int elements = 5, int mode = eDEFAULT_MODE,
                        int protocol = eDEFAULT_PROTOCOL) const;
    void SetTimeString(const char* text, int mode = eDEFAULT_MODE,
                       int protocol = eDEFAULT_PROTOCOL);

    static double GetFrameRate(int mode);
    static int ConvertFrameRateToTimeMode(double rate, double precision);
    static constexpr int GetGlobalTimeMode() { return eFRAMES30; }
    static constexpr int GetGlobalTimeProtocol() { return eFRAME_COUNT; }
    // Length of one frame of the mode in ticks (mode 0 = global); 0 for an unknown mode.
    static int64_t GetFrameLength(int mode);

private:
    static constexpr uint64_t U(int64_t v) { return static_cast<uint64_t>(v); }
    static constexpr int64_t Wrap(uint64_t v) { return static_cast<int64_t>(v); }

    int64_t mTime;
};

inline constexpr KTime KTIME_ZERO{0};
inline constexpr KTime KTIME_ONE_SECOND{KTime::kOneSecond};
inline constexpr KTime KTIME_INFINITE{KTime::kInfinite};
inline constexpr KTime KTIME_MINUS_INFINITE{KTime::kMinusInfinite};

// Absolute value; the most negative value gives plus infinity.
KTime KTimeAbs(const KTime& time);
// The earlier of two times; the second when they are equal.
KTime KTimeMin(const KTime& a, const KTime& b);
// Sums and differences that stop at +/- infinity instead of wrapping.
KTime KTimeSaturatingAdd(const KTime& a, const KTime& b);
KTime KTimeSaturatingSub(const KTime& a, const KTime& b);

// A start and a stop time.
class KTimeSpan {
public:
    constexpr KTimeSpan() = default;
    constexpr KTimeSpan(const KTime& start, const KTime& stop) : mStart(start), mStop(stop) {}

    constexpr void Set(const KTime& start, const KTime& stop) {
        mStart = start;
        mStop = stop;
    }
    constexpr const KTime& GetStart() const { return mStart; }
    constexpr const KTime& GetStop() const { return mStop; }
    constexpr void SetStart(const KTime& start) { mStart = start; }
    constexpr void SetStop(const KTime& stop) { mStop = stop; }
    constexpr bool IsInfinite() const {
        return mStart == KTIME_MINUS_INFINITE && mStop == KTIME_INFINITE;
    }
    constexpr bool operator==(const KTimeSpan& other) const {
        return mStart == other.mStart && mStop == other.mStop;
    }
    constexpr bool operator!=(const KTimeSpan& other) const { return !(*this == other); }

private:
    KTime mStart;
    KTime mStop;
};

inline constexpr KTimeSpan KTIMESPAN_INFINITE{KTIME_MINUS_INFINITE, KTIME_INFINITE};
