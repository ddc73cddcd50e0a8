#pragma once
// How the OBJ reader takes names, for it and for the writer: a group name runs to the end of
// its line, trimmed, its first blank or tab read as '_'; a line ending in a backslash goes on
// into the next; names apart in letter case alone are groups and materials of their own.

#include <string>
#include <string_view>

#include "io/KQovWrittenNames.h"

struct KObjNames {
    // The group a "g" line's rest (trimmed) names.
    static std::string GroupName(std::string_view rest);
    // Group names as the writer writes them so that the reader takes each back whole.
    static KQovNameTerms GroupTerms();
    // Material names: other readers end them at a blank, and a number follows with no
    // separator ("wood1").
    static KQovNameTerms MaterialTerms();
};
