#pragma once
// The key under which textures (materials) that may be equal are looked for among many: the
// bytes of every value their comparison looks at, so equal objects give equal keys and
// different keys tell objects apart without a comparison.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/KLocale.h"

class KQovEqualityKey {
public:
    // 0 and -0 compare equal; a value that is not a number equals nothing, nor does its object.
    void Add(double value) {
        if (std::isnan(value)) mEqualsNothing = true;
        if (value == 0.0) value = 0.0;
        AddBytes(&value, sizeof value);
    }
    void Add(int32_t value) { AddBytes(&value, sizeof value); }
    // The text and its zero byte, which no text holds: a text is told from what follows it.
    void AddText(std::string_view text, bool anyCase = false) {
        const size_t at = mKey.size();
        mKey.append(text);
        if (anyCase)
            for (size_t i = at; i < mKey.size(); ++i) mKey[i] = KToUpper(mKey[i]);
        mKey.push_back('\0');
    }
    // One of its own (the object's address, after a byte no other key begins with) for an
    // object equal to nothing.
    std::string Take(const void* object) {
        if (!mEqualsNothing) return std::move(mKey);
        std::string own("n");
        own.append(reinterpret_cast<const char*>(&object), sizeof object);
        return own;
    }

private:
    void AddBytes(const void* at, size_t size) { mKey.append(static_cast<const char*>(at), size); }

    std::string mKey = "k";
    bool mEqualsNothing = false;
};
