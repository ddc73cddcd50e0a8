#include "scene/KQovTakeNames.h"

#include "fieldfile/KQovFieldFile.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"

std::string KQovTakeNames::Add(const char* name, Clash& clash) {
    const std::string own = name ? name : "";
    clash = own.empty()         ? eEmpty
            : own == "Default"  ? eDefault
            : mTaken.count(own) ? eEarlier
                                : eNone;
    if (clash == eNone) {
        mTaken.insert(own);
        mNumbers.ClaimAside(own);
        return own;
    }
    const std::string stem = own.empty() ? "Take" : own;
    std::string made;
    const uint64_t n = mNumbers.Find(stem, 1, [&](uint64_t number) {
        made = stem + "_" + std::to_string(number);
        return mTaken.count(made) == 0 && !mNumbers.IsAside(made);
    });
    mTaken.insert(made);
    mNumbers.Take(stem, n);
    return made;
}

std::string KQovTakeNames::Warning(const char* verb, const char* name, const std::string& made,
                                   Clash clash) {
    const char* why = clash == eDefault ? "the default take has that name"
                      : clash == eEmpty ? "the take has no name"
                                        : "an earlier take has that name";
    // Quoted as a QOV text is, its other control bytes as every message quotes them: a line
    // break in a name does not end the warning's line.
    return KFormatC("Take \"%s\" %s as \"%s\": %s\n", KQovMessageText(KQovEscapeText(name)).c_str(),
                    verb, KQovMessageText(KQovEscapeText(made.c_str())).c_str(), why);
}
