#include "foundation/KLocale.h"

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

// Switches this thread to the C locale for the lifetime of the guard.
class CLocaleGuard {
public:
    CLocaleGuard() : previous_(uselocale(CLocale())) {}
    ~CLocaleGuard() { uselocale(previous_); }
    CLocaleGuard(const CLocaleGuard&) = delete;
    CLocaleGuard& operator=(const CLocaleGuard&) = delete;

private:
    locale_t previous_;
};

std::string_view TrimAscii(std::string_view s) {
    while (!s.empty() && KIsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && KIsSpace(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

int KVsnprintfC(char* buffer, size_t size, const char* format, va_list args) {
    CLocaleGuard guard;
    return std::vsnprintf(buffer, size, format, args);
}

int KSnprintfC(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = KVsnprintfC(buffer, size, format, args);
    va_end(args);
    return n;
}

std::string KVFormatC(const char* format, va_list args) {
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int n = KVsnprintfC(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    KVsnprintfC(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string KFormatC(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = KVFormatC(format, args);
    va_end(args);
    return s;
}

double KStrtodC(const char* text, char** end) {
    return strtod_l(text, end, CLocale());
}

double KAtofC(const char* text) {
    return text ? strtod_l(text, nullptr, CLocale()) : 0.0;
}

int KSscanfC(const char* text, const char* format, ...) {
    CLocaleGuard guard;
    va_list args;
    va_start(args, format);
    int n = std::vsscanf(text, format, args);
    va_end(args);
    return n;
}

namespace {

template <typename T>
std::string ShortestText(T value) {
    char buffer[64];
    std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general);
    return std::string(buffer, r.ptr);
}

}  // namespace

std::string KShortestText(double value) {
    return ShortestText(value);
}

std::string KShortestText(float value) {
    return ShortestText(value);
}

namespace {

std::string DecimalText(double value, int digits) {
    if (!std::isfinite(value)) return ShortestText(value);
    // Past 10^15 a plain text would print the binary value's noise digits by the dozen. Told
    // by the value itself: the logarithm of one just below rounds up to 15.
    if (std::fabs(value) >= 1e15) return KFormatC("%.*g", digits, value);
    const int magnitude = value == 0.0 ? 0 : int(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::min(std::max(digits - 1 - magnitude, 0), 60);
    std::string text = KFormatC("%.*f", decimals, value);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

}  // namespace

std::string KDecimalText(double value) {
    return DecimalText(value, 9);
}

std::string KDecimalText(float value) {
    // The significant digits of the shortest text that reads back to the float.
    const std::string shortest = ShortestText(value);
    int digits = 0;
    bool leading = true;
    for (const char c : shortest) {
        if (c == 'e' || c == 'E') break;
        if (c < '0' || c > '9') continue;
        if (leading && c == '0') continue;
        leading = false;
        ++digits;
    }
    // The double that text reads as: a large float's own binary digits are noise
    // (1e11f is 99999997952).
    double decimal = double(value);
    KParseDouble(shortest, decimal);
    return DecimalText(decimal, std::max(digits, 1));
}

bool KParseDouble(std::string_view text, double& value) {
    text = TrimAscii(text);
    if (text.empty()) return false;
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    double v = strtod_l(copy.c_str(), &end, CLocale());
    if (end != copy.c_str() + copy.size()) return false;
    value = v;
    return true;
}

bool KParseInt64(std::string_view text, long long& value) {
    text = TrimAscii(text);
    if (text.empty()) return false;
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    long long v = strtoll_l(copy.c_str(), &end, 10, CLocale());
    if (end != copy.c_str() + copy.size() || errno == ERANGE) return false;
    value = v;
    return true;
}

namespace {

// A number followed at once by a letter or '_' is part of a word ("0x1F", "1e", "12abc").
bool GluedToWord(std::string_view text, size_t used) {
    return used < text.size() && (KIsAlpha(text[used]) || text[used] == '_');
}

// Short numbers exactly: at most 15 significant digits and a power of ten up to 22 are both
// exact doubles, so one multiplication or division rounds correctly. False for other numbers.
bool FastDecimal(std::string_view text, double& value) {
    static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) ++i;
    long long mantissa = 0;
    int digits = 0, scale = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            point = true;
            continue;
        }
        if (!KIsDigit(c)) break;
        if (mantissa == 0 && c == '0') {
            if (point) --scale;
            continue;
        }
        if (++digits > 15) return false;
        mantissa = mantissa * 10 + (c - '0');
        if (point) --scale;
    }
    if (i < text.size()) {  // an exponent
        size_t j = i + 1;
        const bool negativeExponent = j < text.size() && text[j] == '-';
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        int exponent = 0;
        for (; j < text.size(); ++j) {
            exponent = exponent * 10 + (text[j] - '0');
            if (exponent > 400) return false;
        }
        scale += negativeExponent ? -exponent : exponent;
    }
    double v = double(mantissa);
    if (mantissa != 0) {
        if (scale < -22 || scale > 22) return false;
        v = scale < 0 ? v / kPowers[-scale] : v * kPowers[scale];
    }
    value = negative ? -v : v;
    return true;
}

size_t ScanDigits(std::string_view text, size_t at) {
    size_t i = at;
    while (i < text.size() && KIsDigit(text[i])) ++i;
    return i - at;
}

}  // namespace

size_t KScanDecimal(std::string_view text, double& value) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t whole = ScanDigits(text, i);
    i += whole;
    size_t fraction = 0;
    if (i < text.size() && text[i] == '.') {
        fraction = ScanDigits(text, i + 1);
        i += 1 + fraction;
    }
    if (whole + fraction == 0) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        const size_t exponent = ScanDigits(text, j);
        if (exponent > 0) i = j + exponent;
    }
    if (GluedToWord(text, i)) return 0;
    if (FastDecimal(text.substr(0, i), value)) return i;
    // strtod needs a terminated copy; the grammar above already fixed where it ends.
    char small[64];
    std::string large;
    const char* copy = small;
    if (i < sizeof small) {
        std::memcpy(small, text.data(), i);
        small[i] = '\0';
    } else {
        large.assign(text.data(), i);
        copy = large.c_str();
    }
    errno = 0;
    const double v = strtod_l(copy, nullptr, CLocale());
    if (errno == ERANGE && std::isinf(v)) return 0;  // beyond the double range
    value = v;
    return i;
}

size_t KScanFileNumber(std::string_view text, double& value) {
    double v = 0;
    const size_t used = KScanDecimal(text, v);
    if (used == 0 || !KIsFileNumber(v)) return 0;
    value = v;
    return used;
}

const char kFileNumberError[] =
    "A number that is not finite or is larger than 2^100 (about 1.27e30) cannot be written";

bool KFileNumbersOnly(const char* format, va_list args) {
    va_list list;
    va_copy(list, args);
    bool ok = true;
    for (const char* p = format; ok && p && *p; ++p) {
        if (*p != '%') continue;
        if (*++p == '%') continue;
        while (*p && std::strchr("-+ #0'", *p)) ++p;
        // A width or precision given as '*' takes an int argument of its own.
        for (int part = 0; part < 2; ++part) {
            if (part == 1) {
                if (*p != '.') break;
                ++p;
            }
            if (*p == '*') {
                (void)va_arg(list, int);
                ++p;
            }
            while (KIsDigit(*p)) ++p;
        }
        // Length modifiers: 'L' makes a long double; 'l', 'z', 't' and 'j' a 64-bit integer
        // (short and char arguments, and characters, arrive as int).
        bool longDouble = false, wideInteger = false;
        for (; *p && std::strchr("hlLztj", *p); ++p) {
            if (*p == 'L') longDouble = true;
            if (*p != 'h' && *p != 'L') wideInteger = true;
        }
        const char c = *p;
        if (!c) break;
        if (std::strchr("fFeEgGaA", c)) {
            const double v = longDouble ? double(va_arg(list, long double)) : va_arg(list, double);
            ok = KIsFileNumber(v);
        } else if (std::strchr("diouxXc", c)) {
            if (wideInteger && c != 'c')
                (void)va_arg(list, long long);
            else
                (void)va_arg(list, int);
        } else if (c == 's' || c == 'p' || c == 'n') {
            (void)va_arg(list, void*);
        }
    }
    va_end(list);
    return ok;
}

size_t KScanInteger(std::string_view text, long long& value) {
    size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t digits = ScanDigits(text, i);
    if (digits == 0) return 0;
    // Accumulated negatively so that the smallest value fits; up to 18 digits cannot overflow.
    long long v = 0;
    for (size_t k = i; k < i + digits; ++k) {
        const int d = text[k] - '0';
        if (digits > 18 && v < (LLONG_MIN + d) / 10) return 0;
        v = v * 10 - d;
    }
    if (!negative && v == LLONG_MIN) return 0;
    i += digits;
    if (GluedToWord(text, i)) return 0;
    value = negative ? v : -v;
    return i;
}

size_t KScanInteger(std::string_view text, int& value) {
    long long wide = 0;
    const size_t used = KScanInteger(text, wide);
    if (used == 0 || wide < INT_MIN || wide > INT_MAX) return 0;
    value = static_cast<int>(wide);
    return used;
}

bool KParseDecimal(std::string_view text, double& value) {
    text = TrimAscii(text);
    double v = 0;
    if (text.empty() || KScanDecimal(text, v) != text.size()) return false;
    value = v;
    return true;
}

bool KParseInteger(std::string_view text, int& value) {
    text = TrimAscii(text);
    int v = 0;
    if (text.empty() || KScanInteger(text, v) != text.size()) return false;
    value = v;
    return true;
}

int KStrCaseCmp(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = static_cast<unsigned char>(KToLower(*a));
        int cb = static_cast<unsigned char>(KToLower(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

int KStrNCaseCmp(const char* a, const char* b, size_t n) {
    for (; n > 0; --n, ++a, ++b) {
        int ca = static_cast<unsigned char>(KToLower(*a));
        int cb = static_cast<unsigned char>(KToLower(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
    return 0;
}
