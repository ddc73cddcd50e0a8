#pragma once
// Text lists of the POINT group (LABELS, DESCRIPTIONS): 255 names to a parameter, those
// beyond continuing in LABELS2, LABELS3 ..., each name at most 254 characters so that a
// row with its padding blank fits the one-byte dimension.

#include <memory>
#include <string>
#include <vector>

#include "formats/motion/c3d/KC3dParameter.h"
#include "io/KQovWrittenNames.h"

constexpr size_t kC3dNamesPerParameter = 255;
constexpr size_t kC3dNameMaximum = 254;
// White space the reader drops at the end of a row (and a marker reader's name table drops
// the blanks at its start).
constexpr const char* kC3dDroppedAround = " \t\n\v\f\r";

// The labels `names` as the reader takes them back, for a writer: white space around one
// dropped, at most kC3dNameMaximum bytes, told apart without regard to case; an empty label
// is read as its place ("0003"), which no other label then takes.
KQovNameTerms KC3dLabelTerms(const std::vector<std::string>& names);

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
