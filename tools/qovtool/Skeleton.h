#pragma once
// The skeleton file an Acclaim motion file (.amc) is read onto, for `info` and `convert`.

#include <string>

class KQovObjectManager;
class KQovScene;
class KStreamOptions;

// Reading ids of the Acclaim pair.
constexpr int kQovToolAsfReader = 6, kQovToolAmcReader = 7;

// False, having said so on stderr, when --skeleton is given (`chosen` not null) for a file
// that is not an AMC file by its extension: a flag that would do nothing is refused.
bool QovToolSkeletonFlagApplies(const char* file, const char* chosen);

// The skeleton of the file `file` read with reading id `readId`: for an AMC file the one chosen
// (--skeleton), else the first candidate that exists (the .asf beside it, the one its header
// names); empty for any other file. False, with `error`, when an AMC file has none or another
// file is given one.
bool QovToolFindSkeleton(const std::string& file, int readId, const char* chosen,
                         std::string& skeleton, std::string& error);

// The skeleton file read into the scene with the motion file's read options, which keep its
// skeleton for the motion file. False, with the reader's error, when it cannot be read.
bool QovToolReadSkeleton(KQovObjectManager& manager, KQovScene* scene,
                         const std::string& skeleton, KStreamOptions* options, std::string& error);
