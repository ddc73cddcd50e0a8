#include "formats/motion/c3d/KC3dLabels.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "foundation/KLocale.h"

std::string KC3dListParameterName(const char* base, size_t part) {
    return part == 0 ? std::string(base) : base + std::to_string(part + 1);
}

std::vector<std::unique_ptr<KC3dParameter>> KC3dMakeListParameters(const char* base,
                                                                   const std::vector<std::string>& names,
                                                                   int8_t groupId) {
    std::vector<std::unique_ptr<KC3dParameter>> out;
    for (size_t first = 0; first < names.size(); first += kC3dNamesPerParameter) {
        size_t count = std::min(kC3dNamesPerParameter, names.size() - first);
        size_t width = 1;
        for (size_t i = 0; i < count; ++i) width = std::max(width, std::min(names[first + i].size(), kC3dNameMaximum) + 1);
        auto record = std::make_unique<KC3dParameter>();
        record->name = KC3dListParameterName(base, out.size());
        record->groupId = groupId;
        record->data = std::make_unique<KC3dArray>(kC3dTypeChar, std::vector<uint32_t>{uint32_t(width), uint32_t(count)});
        std::vector<uint8_t>& bytes = record->data->Data();
        std::fill(bytes.begin(), bytes.end(), ' ');
        for (size_t i = 0; i < count; ++i) {
            const std::string& name = names[first + i];
            std::memcpy(bytes.data() + i * width, name.data(), std::min(name.size(), kC3dNameMaximum));
        }
        out.push_back(std::move(record));
    }
    return out;
}

bool KC3dTakeListParameter(const KC3dParameter& record, const char* base, int8_t groupId,
                           std::vector<std::string>& names) {
    size_t baseLength = std::strlen(base);
    if (record.groupId != groupId || !record.data || record.data->GetType() != kC3dTypeChar ||
        record.name.compare(0, baseLength, base) != 0)
        return false;
    std::string suffix = record.name.substr(baseLength);
    size_t part = 0;
    if (!suffix.empty()) {
        if (suffix.size() > 3 || !std::all_of(suffix.begin(), suffix.end(), ::isdigit) || suffix[0] == '0') return false;
        part = std::stoul(suffix);
        if (part < 2) return false;
        --part;
    }
    size_t rows = std::min(record.data->GetRowCount(), kC3dNamesPerParameter);
    for (size_t k = 0; k < rows && part * kC3dNamesPerParameter + k < names.size(); ++k) {
        std::string row = record.data->GetRow(k);
        row.erase(row.find_last_not_of(kC3dDroppedAround) + 1);
        names[part * kC3dNamesPerParameter + k] = row;
    }
    return true;
}

KQovNameTerms KC3dLabelTerms(const std::vector<std::string>& names) {
    KQovNameTerms terms;
    terms.format = "C3D";
    terms.splitters = "";
    terms.controls = false;
    terms.foldCase = true;
    terms.trimmed = kC3dDroppedAround;
    terms.empty = nullptr;
    terms.maxLength = kC3dNameMaximum;
    for (size_t k = 0; k < names.size(); ++k)
        if (names[k].find_first_not_of(kC3dDroppedAround) == std::string::npos)
            terms.reserved.push_back(KFormatC("%04d", int(k)));
    // Written blank, such a label is told under the name it is read back as.
    terms.byPlace = [](const std::string& name, size_t index) {
        return name.find_first_not_of(kC3dDroppedAround) == std::string::npos
                   ? KFormatC("%04d", int(index))
                   : std::string();
    };
    terms.byPlaceReason = "a blank C3D label is written blank and read back as its place";
    return terms;
}
