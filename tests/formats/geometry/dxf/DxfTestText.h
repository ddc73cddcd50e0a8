#pragma once
// Drawing texts for the tests, written as groups separated by '|'.

#include <string>

inline std::string DxfText(std::string groups) {
    for (char& c : groups)
        if (c == '|') c = '\n';
    return groups + "\n";
}

// An ENTITIES section holding `entities`, closed by EOF.
inline std::string DxfEntities(const std::string& entities, const std::string& before = "") {
    return DxfText(before + "0|SECTION|2|ENTITIES|" + entities + "0|ENDSEC|0|EOF");
}
