#include "tools/qovtool/Streams.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>

#include "platform/KPlatformSameFile.h"

namespace {
bool gOutputWritten = false;
bool gErrorWritten = false;
}  // namespace

void QovToolAvoidStreamsOf(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        gOutputWritten = gOutputWritten || KPlatformIsStandardStream(file.c_str(), stdout);
        gErrorWritten = gErrorWritten || KPlatformIsStandardStream(file.c_str(), stderr);
    }
}

std::FILE* QovToolMessageStream() {
    return !gErrorWritten ? stderr : !gOutputWritten ? stdout : nullptr;
}

std::FILE* QovToolStatusStream() {
    return !gOutputWritten ? stdout : !gErrorWritten ? stderr : nullptr;
}

namespace {

// The length of the well-formed UTF-8 character at `p` (at most `left` bytes), 0 when none: an
// overlong form (E0 82 9B for U+009B), a surrogate or a code past U+10FFFF is none, as a
// terminal may still decode it.
size_t CharacterLength(const unsigned char* p, size_t left) {
    const size_t length = p[0] < 0xc2 ? 0 : p[0] < 0xe0 ? 2 : p[0] < 0xf0 ? 3 : p[0] < 0xf5 ? 4 : 0;
    if (length == 0 || length > left) return 0;
    for (size_t k = 1; k < length; ++k)
        if ((p[k] & 0xc0) != 0x80) return 0;
    // The second byte's range where the first allows less than every continuation.
    if ((p[0] == 0xe0 && p[1] < 0xa0) || (p[0] == 0xed && p[1] > 0x9f) ||
        (p[0] == 0xf0 && p[1] < 0x90) || (p[0] == 0xf4 && p[1] > 0x8f))
        return 0;
    return length;
}

}  // namespace

namespace {

// Hands `emit` the text in runs, each control byte (and with `breaks` line breaks and tabs too)
// as \x1b and so on.
template <typename Emit>
void Escape(const char* text, size_t length, bool breaks, Emit emit) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t run = 0;  // where the bytes not yet handed on begin
    for (size_t i = 0; i < length;) {
        const size_t character = p[i] < 0x80 ? 1 : CharacterLength(p + i, length - i);
        // C0 and C1 controls (the C1 ones as UTF-8: U+0080 to U+009F) and bytes that are no
        // UTF-8.
        const bool control = (p[i] < 0x20 && (breaks || (p[i] != '\t' && p[i] != '\n'))) ||
                             p[i] == 0x7f || character == 0 || (p[i] == 0xc2 && p[i + 1] < 0xa0);
        if (!control) {
            i += character;
            continue;
        }
        if (i > run) emit(text + run, i - run);
        for (size_t k = 0; k < (character ? character : 1); ++k) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(p[i + k]));
            emit(hex, 4);
        }
        i += character ? character : 1;
        run = i;
    }
    if (length > run) emit(text + run, length - run);
}

}  // namespace

const char* QovToolShownIfRoom(const char* text, std::string& shown) noexcept {
    try {
        shown = QovToolShown(text);
        return shown.c_str();
    } catch (const std::bad_alloc&) {
        return text ? text : "";
    }
}

void QovToolWriteEscaped(std::FILE* stream, const char* text, size_t length, bool breaks) {
    // Line breaks and tabs stay unless asked: a message may run over several lines.
    Escape(text, length, breaks,
           [stream](const char* bytes, size_t n) { std::fwrite(bytes, 1, n, stream); });
}

std::string QovToolShown(const char* text) {
    std::string shown;
    if (text)
        Escape(text, std::strlen(text), true,
               [&shown](const char* bytes, size_t n) { shown.append(bytes, n); });
    return shown;
}

namespace {

void PrintEscaped(std::FILE* stream, const char* format, va_list args) {
    // Formatted first, then written with what a file's names may hold escaped; no allocation for
    // the usual message, as memory may be short when it is told.
    char local[4096];
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(local, sizeof local, format, args);
    const char* text = local;
    std::unique_ptr<char[]> large;
    size_t size = length > 0 ? std::min(size_t(length), sizeof local - 1) : 0;
    if (length >= int(sizeof local)) {
        large.reset(new (std::nothrow) char[size_t(length) + 1]);
        if (large) {
            std::vsnprintf(large.get(), size_t(length) + 1, format, again);
            text = large.get();
            size = size_t(length);
        }
    }
    va_end(again);
    QovToolWriteEscaped(stream, text, size);
    // Without memory for the whole of a long message, its start, said to be cut, on a line of its
    // own.
    if (size < size_t(std::max(length, 0))) std::fputs("...\n", stream);
}

}  // namespace

void QovToolSay(const char* format, ...) {
    std::FILE* stream = QovToolMessageStream();
    if (!stream) return;
    va_list args;
    va_start(args, format);
    PrintEscaped(stream, format, args);
    va_end(args);
}

void QovToolPrint(std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintEscaped(stream, format, args);
    va_end(args);
}
