#include "foundation/KQuotedText.h"

#include <algorithm>

namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

}  // namespace

std::string KQovMessageText(std::string_view text) {
    if (std::none_of(text.begin(), text.end(), IsControl)) return std::string(text);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        if (!IsControl(c)) {
            out += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
    return out;
}
