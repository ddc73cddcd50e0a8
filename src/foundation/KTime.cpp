#include "foundation/KTime.h"

#include <cmath>
#include <cstring>

#include "foundation/KLocale.h"
#include "foundation/KTimeModeTable.h"

namespace {

// How a mode counts timecode: plain seconds of real time, N frames (and two
// fields each) a timecode second, or N frames with drop-frame labels.
enum class Counting { Plain, Fields, Drop };

struct ModeInfo {
    int64_t frame;      // frame length in ticks
    int64_t perSecond;  // frames a timecode second (Fields and Drop)
    Counting counting;
};

constexpr ModeInfo kModes[KTime::eTIME_MODE_COUNT] = {
    {0, 0, Counting::Plain},  // 0 maps to the global mode
    {384884650, 0, Counting::Plain},
    {461861580, 0, Counting::Plain},
    {769769300, 0, Counting::Plain},
    {923723160, 0, Counting::Plain},
    {962211625, 0, Counting::Plain},
    {1539538600, 30, Counting::Fields},
    {1539538600, 30, Counting::Drop},
    {1541078334, 30, Counting::Drop},
    {1541078334, 30, Counting::Fields},
    {1847446320, 25, Counting::Fields},
    {1924423250, 0, Counting::Plain},
    {46186158, 0, Counting::Plain},
    {1926349600, 24, Counting::Drop},
};

constexpr int64_t kSecond = KTime::kOneSecond;

const ModeInfo* FindModeInfo(int mode) {
    if (mode == KTime::eDEFAULT_MODE) mode = KTime::GetGlobalTimeMode();
    if (mode < 1 || mode >= KTime::eTIME_MODE_COUNT) return nullptr;
    return &kModes[mode];
}

constexpr uint64_t U(int64_t v) {
    return static_cast<uint64_t>(v);
}
constexpr int64_t S(uint64_t v) {
    return static_cast<int64_t>(v);
}

// Drop-frame counting: frames in a ten-minute block (labels 0 and 1 are skipped
// in nine minutes of ten).
constexpr int64_t DropBlockFrames(int64_t n) {
    return 600 * n - 18;
}

// Ticks of a timecode position; wraps on overflow.
uint64_t TimecodeTicks(const ModeInfo& info, int64_t hours, int64_t minutes, int64_t seconds,
                       int64_t frames, int64_t fields) {
    const uint64_t f = U(info.frame);
    const uint64_t half = f / 2;
    const uint64_t n = U(info.perSecond);
    switch (info.counting) {
        case Counting::Plain:
            return ((U(hours) * 60 + U(minutes)) * 60 + U(seconds)) * U(kSecond) + U(frames) * f;
        case Counting::Fields:
            return ((((U(hours) * 60 + U(minutes)) * 60 + U(seconds)) * n + U(frames)) * 2 +
                    U(fields)) *
                   half;
        case Counting::Drop:
            break;
    }
    const int64_t unit = minutes % 10;
    const uint64_t minuteFrames = 60 * n;
    uint64_t inMinute;
    if (unit == 0) {
        inMinute = n * U(seconds) + U(frames);
    } else if (seconds > 0) {
        inMinute = n * U(seconds) + U(frames) - 2;
    } else {
        inMinute = frames < 2 ? 0 : U(frames) - 2;
    }
    const uint64_t inBlock =
        unit == 0 ? inMinute : minuteFrames + U(unit - 1) * (minuteFrames - 2) + inMinute;
    const uint64_t blockFrames = U(DropBlockFrames(info.perSecond));
    return ((U(hours) * 6 + U(minutes / 10)) * 2 * blockFrames + U(fields)) * half + inBlock * f;
}

// The time of `residual` hundredths of a frame: (frames' ticks + 99) / 100, truncated.
uint64_t ResidualTicks(const ModeInfo& info, int64_t residual) {
    if (residual == 0) return 0;
    const int64_t frames = S(TimecodeTicks(info, 0, 0, 0, residual, 0));
    return U(S(U(frames) + 99) / 100);
}

// A sum that overflowed goes to the infinity of its direction; the smallest
// value, which is not a time, becomes minus infinity.
KTime ClampToInfinity(bool overflow, bool upward, int64_t sum) {
    if (overflow) return upward ? KTIME_INFINITE : KTIME_MINUS_INFINITE;
    return KTime(sum < KTime::kMinusInfinite ? KTime::kMinusInfinite : sum);
}

// value = quotient * d + remainder with 0 <= remainder < d (d > 0).
void FloorDivide(int64_t value, int64_t d, int64_t& quotient, int64_t& remainder) {
    quotient = value / d;
    remainder = value % d;
    if (remainder < 0) {
        remainder += d;
        --quotient;
    }
}

}  // namespace

int64_t KTime::operator/(const KTime& other) const {
    if (other.mTime == 0) return 0;
    if (other.mTime == -1) return Wrap(0 - U(mTime));
    return mTime / other.mTime;
}

void KTime::SetSecondDouble(double seconds) {
    const double ticks = seconds * double(kOneSecond);
    if (std::isnan(ticks)) {
        mTime = 0;
    } else if (ticks >= 9223372036854775808.0) {
        mTime = kInfinite;
    } else if (ticks <= -9223372036854775808.0) {
        mTime = kMinusInfinite;
    } else {
        mTime = static_cast<int64_t>(ticks);
    }
}

void KTime::SetTime(int64_t hours, int64_t minutes, int64_t seconds, int64_t frames, int64_t fields,
                    int mode) {
    const ModeInfo* info = FindModeInfo(mode);
    if (!info) return;
    mTime = Wrap(TimecodeTicks(*info, hours, minutes, seconds, frames, fields));
}

void KTime::SetTime(int64_t hours, int64_t minutes, int64_t seconds, int64_t frames, int64_t fields,
                    int64_t residual, int mode) {
    const ModeInfo* info = FindModeInfo(mode);
    if (!info) return;
    mTime = Wrap(TimecodeTicks(*info, hours, minutes, seconds, frames, fields) +
                 ResidualTicks(*info, residual));
}

bool KTime::GetTime(int64_t& hours, int64_t& minutes, int64_t& seconds, int64_t& frames,
                    int64_t& fields, int64_t& residual, int mode) const {
    hours = minutes = seconds = frames = fields = residual = 0;
    const ModeInfo* info = FindModeInfo(mode);
    if (!info) return false;
    const int64_t f = info->frame;
    const int64_t half = f / 2;
    const int64_t n = info->perSecond;
    int64_t r = 0;
    if (info->counting == Counting::Plain) {
        FloorDivide(mTime, 3600 * kSecond, hours, r);
        minutes = r / (60 * kSecond);
        r -= minutes * 60 * kSecond;
        seconds = r / kSecond;
        r -= seconds * kSecond;
        frames = r / f;
        r -= frames * f;
        residual = r * 100 / f % 100;
        return true;
    }
    const int64_t second = n * f;
    if (info->counting == Counting::Fields) {
        FloorDivide(mTime, 3600 * second, hours, r);
        minutes = r / (60 * second);
        r -= minutes * 60 * second;
    } else {
        const int64_t block = DropBlockFrames(n) * f;
        FloorDivide(mTime, 6 * block, hours, r);
        const int64_t blocks = r / block;
        r -= blocks * block;
        // Skip the two dropped labels of every minute passed after the block's first.
        r += 2 * f * ((r - 2 * f) / ((60 * n - 2) * f));
        minutes = r / (60 * second);
        r -= minutes * 60 * second;
        minutes += 10 * blocks;
    }
    seconds = r / second;
    r -= seconds * second;
    frames = r / f;
    r -= frames * f;
    fields = r / half;
    r -= fields * half;
    residual = r * 100 / f + 50 * fields;
    return true;
}

int64_t KTime::GetFrame(bool cumulative, int mode) const {
    if (cumulative) {
        const int64_t f = GetFrameLength(mode);
        return f ? mTime / f : 0;
    }
    int64_t h, m, s, frames, fields, residual;
    GetTime(h, m, s, frames, fields, residual, mode);
    return frames;
}

int64_t KTime::GetSecond(bool cumulative, int mode) const {
    if (cumulative) return mTime / kOneSecond;
    int64_t h, m, seconds, f, fields, residual;
    GetTime(h, m, seconds, f, fields, residual, mode);
    return seconds;
}

int64_t KTime::GetResidual(int mode) const {
    int64_t h, m, s, f, fields, residual;
    GetTime(h, m, s, f, fields, residual, mode);
    return residual;
}

int64_t KTime::GetFrameLength(int mode) {
    const ModeInfo* info = FindModeInfo(mode);
    return info ? info->frame : 0;
}

double KTime::GetFrameRate(int mode) {
    if (mode == eDEFAULT_MODE) mode = GetGlobalTimeMode();
    const KTimeModeRow* row = KTimeModeTable::FindRow(mode);
    return row ? row->rate : 30.0;
}

int KTime::ConvertFrameRateToTimeMode(double rate, double precision) {
    for (int mode = 1; mode < eTIME_MODE_COUNT; ++mode) {
        const double r = GetFrameRate(mode);
        if (r - precision <= rate && rate <= r + precision) return mode;
    }
    return eDEFAULT_MODE;
}

KTime KTimeAbs(const KTime& time) {
    const int64_t t = time.Get();
    if (t == INT64_MIN) return KTIME_INFINITE;
    return KTime(t < 0 ? -t : t);
}

KTime KTimeMin(const KTime& a, const KTime& b) {
    return a < b ? a : b;
}

KTime KTimeSaturatingAdd(const KTime& a, const KTime& b) {
    int64_t sum = 0;
    const bool overflow = __builtin_add_overflow(a.Get(), b.Get(), &sum);
    return ClampToInfinity(overflow, b.Get() > 0, sum);
}

KTime KTimeSaturatingSub(const KTime& a, const KTime& b) {
    int64_t difference = 0;
    const bool overflow = __builtin_sub_overflow(a.Get(), b.Get(), &difference);
    return ClampToInfinity(overflow, b.Get() < 0, difference);
}

namespace {

bool IsPlusInfinite(int64_t t) {
    return t == KTime::kInfinite;
}
// The text forms also read the smallest value as minus infinity.
bool IsMinusInfinite(int64_t t) {
    return t == KTime::kMinusInfinite || t == INT64_MIN;
}

void FormatTimecode(const KTime& time, char* buffer, size_t size, int elements, int mode) {
    int64_t h, m, s, f, fields, residual;
    if (!time.GetTime(h, m, s, f, fields, residual, mode)) return;
    const int64_t t = time.Get();
    const long long hh = h, mm = m, ss = s, ff = f, fl = fields;
    switch (elements) {
        case 1:
            KSnprintfC(buffer, size, "%03lld", hh);
            break;
        case 2:
            KSnprintfC(buffer, size, "%03lld:%02lld", hh, mm);
            break;
        case 3:
            KSnprintfC(buffer, size, "%03lld:%02lld:%02lld", hh, mm, ss);
            break;
        case 4:
            KSnprintfC(buffer, size, "%03lld:%02lld:%02lld.%02lld", hh, mm, ss, ff);
            break;
        case 5:
            if (IsPlusInfinite(t)) {
                KSnprintfC(buffer, size, "---:--:--.--");
            } else if (IsMinusInfinite(t)) {
                KSnprintfC(buffer, size, "- ---:--:--.--");
            } else {
                KSnprintfC(buffer, size, "%03lld:%02lld:%02lld.%02lld%s", hh, mm, ss, ff,
                           residual ? "*" : "");
            }
            break;
        case 6:
            if (IsPlusInfinite(t)) {
                KSnprintfC(buffer, size, "---:--:--.-- (--)");
            } else if (IsMinusInfinite(t)) {
                KSnprintfC(buffer, size, "- ---:--:--.-- (--)");
            } else {
                KSnprintfC(buffer, size, "%03lld:%02lld:%02lld.%02lld (%02lld)", hh, mm, ss, ff,
                           fl);
            }
            break;
        default:
            return;
    }
    if (t < 0 && buffer[0]) buffer[0] = '-';
}

void FormatFrameCount(const KTime& time, char* buffer, size_t size, int elements, int mode) {
    const int64_t t = time.Get();
    const bool plusInfinite = IsPlusInfinite(t);
    const bool minusInfinite = IsMinusInfinite(t);
    const bool negative = t < 0;
    const long long frames = time.GetFrame(true, mode);
    const long long absolute = frames < 0 ? -frames : frames;
    const long long residual = time.GetResidual(mode);
    switch (elements) {
        case 1:
        case 2:
        case 3:
        case 4:
            if (plusInfinite || minusInfinite) {
                KSnprintfC(buffer, size, "---");
            } else if (negative) {
                KSnprintfC(buffer, size, "- %lld", absolute);
            } else {
                KSnprintfC(buffer, size, "%lld", frames);
            }
            break;
        case 5:
            if (plusInfinite) {
                KSnprintfC(buffer, size, "  ---");
            } else if (minusInfinite) {
                KSnprintfC(buffer, size, "- ---");
            } else if (residual) {
                KSnprintfC(buffer, size, negative ? "- %lld*" : "%lld*", absolute);
            } else {
                KSnprintfC(buffer, size, negative ? "-%lld" : "%lld", absolute);
            }
            break;
        case 6:
            if (plusInfinite) {
                KSnprintfC(buffer, size, "  --- (--)");
            } else if (minusInfinite) {
                KSnprintfC(buffer, size, "- --- (--)");
            } else {
                KSnprintfC(buffer, size, negative ? "- %lld (%02lld)" : "%lld (%02lld)", absolute,
                           residual);
            }
            break;
        default:
            break;
    }
}

// A whole number read like strtoll (blanks, sign, digits), saturating instead
// of overflowing; digits is 0 when nothing was read.
struct ParsedNumber {
    int64_t value = 0;
    int digits = 0;
};

ParsedNumber ReadNumber(const char* p) {
    ParsedNumber n;
    if (!p) return n;
    while (KIsSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? U(INT64_MAX) + 1 : U(INT64_MAX);
    for (; KIsDigit(*p); ++p, ++n.digits) {
        const uint64_t digit = U(*p - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    n.value = negative ? S(0 - magnitude) : S(magnitude);
    return n;
}

// Hundredths written after a point: reduced into -99..99, a single digit counts tens.
int64_t DecimalResidual(const ParsedNumber& n) {
    int64_t v = n.value;
    while (v > 99 || v < -99) v /= 10;
    if (n.digits == 1) v *= 10;
    return v;
}

bool IsSeparator(char c, const char* separators) {
    return c && std::strchr(separators, c);
}

// strtok-like walk over a private buffer: runs of separators count as one.
class Tokens {
public:
    Tokens(char* text, const char* separators) : mNext(text), mSeparators(separators) {}
    // The next token, or nullptr when none is left.
    const char* Next() {
        while (IsSeparator(*mNext, mSeparators)) ++mNext;
        if (!*mNext) return nullptr;
        char* start = mNext;
        while (*mNext && !IsSeparator(*mNext, mSeparators)) ++mNext;
        if (*mNext) *mNext++ = '\0';
        return start;
    }

private:
    char* mNext;
    const char* mSeparators;
};

constexpr size_t kMaxTimeText = 18;

}  // namespace

char* KTime::GetTimeString(char* buffer, size_t size, int elements, int mode, int protocol) const {
    if (!buffer || size == 0) return buffer;
    buffer[0] = '\0';
    if (mode == eDEFAULT_MODE) mode = GetGlobalTimeMode();
    if (protocol == eDEFAULT_PROTOCOL) protocol = GetGlobalTimeProtocol();
    if (protocol == eSMPTE) {
        FormatTimecode(*this, buffer, size, elements, mode);
    } else {
        FormatFrameCount(*this, buffer, size, elements, mode);
    }
    return buffer;
}

void KTime::SetTimeString(const char* text, int mode, int protocol) {
    if (!text) return;
    const size_t length = strnlen(text, kMaxTimeText + 1);
    if (length < 1 || length > kMaxTimeText) return;
    if (mode == eDEFAULT_MODE) mode = GetGlobalTimeMode();
    if (protocol == eDEFAULT_PROTOCOL) protocol = GetGlobalTimeProtocol();
    const ModeInfo* info = FindModeInfo(mode);
    if (!info) return;

    char copy[kMaxTimeText + 2];  // room for the appended '.'
    std::memcpy(copy, text, length + 1);

    if (protocol != eSMPTE) {
        char* marker = std::strchr(copy, '(');
        const bool parenthesised = marker != nullptr;
        if (!marker) marker = std::strchr(copy, '.');
        int64_t residual = 0;
        if (marker) {
            Tokens tokens(marker + 1, "().");
            const ParsedNumber n = ReadNumber(tokens.Next());
            residual = parenthesised ? n.value : DecimalResidual(n);
            *marker = '\0';
            if (marker == copy) {
                mTime = Wrap(ResidualTicks(*info, residual));
                return;
            }
        }
        const ParsedNumber count = ReadNumber(copy);
        if (count.digits == 0) return;
        // "-0.r": the residual is counted back from zero.
        if (copy[0] == '-' && count.value == 0) {
            if (residual > 0) {
                residual -= 100;
            } else if (residual < 0) {
                residual += 100;
            }
        }
        mTime = Wrap(U(count.value) * U(info->frame) + ResidualTicks(*info, residual));
        return;
    }

    int64_t residual = 0;
    if (char* group = std::strchr(copy, '(')) {
        residual = ReadNumber(group + 1).value;
        *group = '\0';
    }
    const bool leadingPoint = copy[0] == '.';
    std::strcat(copy, ".");
    int colons = 0;
    int points = 0;
    for (char* p = copy; *p; ++p) {
        if (*p == ':' || *p == ';') ++colons;
        if (*p == '.') {
            ++points;
            *p = ':';
        }
    }
    Tokens tokens(copy, ":;");
    auto next = [&tokens] { return ReadNumber(tokens.Next()); };
    const int64_t hours = colons > 1 ? next().value : 0;
    const int64_t minutes = colons > 0 ? next().value : 0;
    const int64_t seconds = points > 0 && (!leadingPoint || colons > 0) ? next().value : 0;
    const int64_t frames = points > 1 ? next().value : 0;
    if (points > 2) residual = Wrap(U(residual) + U(DecimalResidual(next())));
    SetTime(hours, minutes, seconds, frames, 0, residual, mode);
}
