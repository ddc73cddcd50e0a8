#pragma once
// Number text that never depends on the process locale: files and value texts
// always use '.' as the decimal point, whatever LC_NUMERIC says.

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// printf into a fixed buffer in the C locale; same return value as vsnprintf.
int KSnprintfC(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int KVsnprintfC(char* buffer, size_t size, const char* format, va_list args);

// printf into a growable string in the C locale; nothing is ever truncated.
std::string KFormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string KVFormatC(const char* format, va_list args);

// The shortest text that reads back to the same bits ("%g" style: an exponent only where
// it is shorter), so a value written as text and read again is the value written.
std::string KShortestText(double value);
std::string KShortestText(float value);
// A rate or other measure for a message: plain decimal to nine significant digits, trailing
// zeros dropped ("1000000", "0.00000001", "29.97003"), an exponent only from 10^15 up
// ("1e+30"); a float (a number a file stored as one) to the digits of its shortest text
// (0.001f is "0.001").
std::string KDecimalText(double value);
std::string KDecimalText(float value);

// strtod / strtol / sscanf in the C locale.
double KStrtodC(const char* text, char** end);
double KAtofC(const char* text);
int KSscanfC(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// Strict whole-text parses (leading/trailing ASCII white space allowed); false on junk.
bool KParseDouble(std::string_view text, double& value);
bool KParseInt64(std::string_view text, long long& value);

// Numbers of the interchange files other than QOV stay within this magnitude (2^100, about
// 1.27e30): far beyond any real measure, and small enough that float keys, unit scales and the
// products of transforms built from such numbers stay finite. A power of two, so that a number
// within it stays within it as a float. Readers refuse other numbers, writers never write them.
constexpr double kMaxFileNumber = 0x1p100;
// False for NaN, infinities and magnitudes beyond kMaxFileNumber.
inline bool KIsFileNumber(double value) {
    return value >= -kMaxFileNumber && value <= kMaxFileNumber;
}
// What a file number may become through a unit or scale factor and still be read: 2^120,
// within what a float key holds with room to spare. A writer that divides by the unit again
// then writes a file number.
constexpr double kMaxSceneNumber = 0x1p120;
inline bool KIsSceneNumber(double value) {
    return value >= -kMaxSceneNumber && value <= kMaxSceneNumber;
}
// What a writer of those files says when it meets another number.
extern const char kFileNumberError[];
// False when a floating-point argument of `format` is no file number (see above); integers,
// texts and the rest are not looked at.
bool KFileNumbersOnly(const char* format, va_list args);

// Numbers of the text file formats: a decimal number at the start of `text` (no white space
// skipped), an optional sign, digits with an optional point and an optional exponent.
// "nan", "inf", hex forms, values beyond the type's range and numbers glued to a letter or
// '_' are refused. Returns the characters used, 0 when no number is accepted.
size_t KScanDecimal(std::string_view text, double& value);
// As KScanDecimal, and a magnitude beyond kMaxFileNumber is refused too.
size_t KScanFileNumber(std::string_view text, double& value);
size_t KScanInteger(std::string_view text, long long& value);
size_t KScanInteger(std::string_view text, int& value);
// The same over the whole text, ASCII white space allowed around it.
bool KParseDecimal(std::string_view text, double& value);
bool KParseInteger(std::string_view text, int& value);

// ASCII-only character classes and case mapping, independent of the locale.
inline bool KIsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
inline bool KIsDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool KIsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline char KToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
inline char KToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
int KStrCaseCmp(const char* a, const char* b);
int KStrNCaseCmp(const char* a, const char* b, size_t n);
