#pragma once
// Text lists of the POINT group (LABELS, DESCRIPTIONS): 255 names to a parameter, those
// beyond continuing in LABELS2, LABELS3 ..., each name at most 254 characters so that a
// row with its padding blank fits the one-byte dimension.

#include <memory>
#include <string>
#include <vector>

#include "formats/motion/c3d/KC3dParameter.h"

constexpr size_t kC3dNamesPerParameter = 255;
constexpr size_t kC3dNameMaximum = 254;

// "LABELS" for part 0, "LABELS2" for part 1 ...
std::string KC3dListParameterName(const char* base, size_t part);

// The parameters of group `groupId` holding the names, rows padded with blanks.
std::vector<std::unique_ptr<KC3dParameter>> KC3dMakeListParameters(const char* base,
                                                                   const std::vector<std::string>& names,
                                                                   int8_t groupId);

// When the record is one of the list's parameters in the group, its rows (trailing blanks
// removed) fill their places in `names`, never past its size; true when it was.
bool KC3dTakeListParameter(const KC3dParameter& record, const char* base, int8_t groupId,
                           std::vector<std::string>& names);
