#pragma once
// Where the skeleton file of an Acclaim motion file lies, and where a written motion file's
// skeleton goes: the two files travel as a pair, the skeleton first.

#include <string>
#include <vector>

#include "formats/motion/asf/KQovAsfScene.h"
#include "foundation/KString.h"

// The skeleton files a motion file may belong to, in the order they are tried: the ".asf" of
// the same base name beside it, then the file its header names (a "#!OML:ASF" comment or an
// ":ASF-FILE" line before the first frame), looked up beside it by its base name. Names may
// repeat; the caller takes the first that exists.
std::vector<KString> KQovAcclaimSkeletonCandidates(const char* motionPath);

// The first of those candidates that exists; empty when none does, with the names looked for
// ("a.asf, b.asf", each once) in `tried`.
KString KQovFindAcclaimSkeleton(const char* motionPath, std::string& tried);

// The skeleton file written beside a motion file: the same name with the extension ".asf".
KString KQovAcclaimSkeletonBeside(const char* motionPath);

// The skeleton of an Acclaim pair. Options that the motion writer makes hold an empty one: a
// motion file written with them writes its skeleton file beside it (KQovAcclaimSkeletonBeside)
// from the same scene, and the two take their places together or not at all.
class KQovAcclaimPairSkeleton : public KQovAsfScene {};
