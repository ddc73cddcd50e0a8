#include "formats/geometry/obj/KObjNames.h"

namespace {

// Every blank a writer writes '_' for: the reader keeps the others, but other readers do not.
constexpr const char* kObjBlanks = " \t\r\n\v\f";

KQovNameTerms ObjTerms() {
    KQovNameTerms terms;
    terms.format = "OBJ";
    terms.splitters = kObjBlanks;
    terms.controls = false;
    terms.trailing = "\\";
    return terms;
}

}  // namespace

std::string KObjNames::GroupName(std::string_view rest) {
    std::string name(rest.empty() ? std::string_view("default") : rest);
    const size_t blank = name.find_first_of(" \t");
    if (blank != std::string::npos) name[blank] = '_';
    return name;
}

KQovNameTerms KObjNames::GroupTerms() {
    return ObjTerms();
}

KQovNameTerms KObjNames::MaterialTerms() {
    KQovNameTerms terms = ObjTerms();
    terms.object = "Material";
    terms.splitReason = "other OBJ readers end a material name at a blank";
    terms.numberSeparator = "";
    return terms;
}
