#pragma once
// Scene work the motion readers and writers share: skeleton nodes and their rest transform,
// motion keys and the filters run over them, the take a read file becomes, and the node-name
// check of the writers.

#include <string>

#include "foundation/KMatrix.h"
#include "foundation/KString.h"
#include "foundation/KTime.h"
#include "foundation/KVector4.h"
#include "io/KStreamOptionsMotion.h"

class KFCurve;
class KQovNode;
class KQovObjectManager;
class KQovScene;

// The take a motion file becomes: named after the file, unless that name is the scene's own
// default take's ("Default.bvh") or empty (".bvh"); then a name of its own ("Default_1"), with a
// warning added to `status`. The default take keeps the scene's rest values apart.
KString KMotionTakeName(const KString& fileName, KString& status);

// A node with a limb-node skeleton attribute.
KQovNode* KMotionCreateLimbNode(KQovObjectManager* manager, const char* name);
// The node's translation and rotation at rest: its properties and the default take's
// channels, which takes added afterwards start from.
void KMotionSetRestTransform(KQovNode* node, const KVector4& translation, const KVector4& rotation);
// Euler X, Y, Z angles (degrees) of the rotation that turns the X axis onto `direction`
// (a half turn about Z when it points straight back); zeros for a zero vector.
KVector4 KMotionAxisAngles(const KVector4& direction);
// Whether the current take (not the default one) keys the node's translation or rotation.
bool KMotionHasTransformKeys(KQovNode* node);
// Whether `root` or a node below it is something the skeleton writers can write: a node
// with a skeleton attribute, or one whose translation or rotation is keyed in the current
// take. A tree of bare meshes would be written as joints at the origin that never move.
bool KMotionHoldsSkeleton(KQovNode* root);
// The end node a skeleton reader gives a chain's last joint: a leaf skeleton node without
// keys, named after its parent with "_End".
bool KMotionIsReaderEndNode(KQovNode* node);
// A leaf that only marks where its joint ends: a reader's end node, which may stand beside
// joints (a file may hold both under one joint), or one named the older way ("_EndSite").
bool KMotionIsEndSite(KQovNode* node);
// Keys, the curve filters and the take of a read file: KQovMotionTextIO.h.
// The local matrix of `node` at `time` (its global one when `global`) as translation and
// Euler X, Y, Z rotation in degrees, scaling taken off.
void KMotionDecompose(KMatrix m, KVector4& translation, KVector4& rotation);
// `m` with its axis rows brought to unit length (a zero row stays zero).
KMatrix KMotionNormalizeAxes(KMatrix m);
void KMotionSampleNode(KQovNode* node, KTime time, bool global, KVector4& translation,
                       KVector4& rotation);

// The latest time, in seconds, that a read clip reaches: about half of what a time holds, so
// that sums of a clip's times never wrap.
constexpr double kMotionLongestClip = 1e8;
constexpr double kMotionFastestRate = KStreamOptionsMotion::kFastestRate;
constexpr double kMotionRateSlack = KStreamOptionsMotion::kRateSlack;
// Why frames `first` to `first + frames - 1` (counted from 0 at time 0) at `rate` frames a
// second cannot be kept: a rate that is none, above kMotionFastestRate, or a clip that runs
// past kMotionLongestClip; empty when they can. A reader passes `reading`, which takes a rate
// a writer wrote in six digits, or through a period of whole ticks, back.
std::string KMotionRateProblem(double rate, double first, int frames, bool reading);
// The options get a file's `rate` (at most kMotionFastestRate) when its frames can be kept at
// it; otherwise the default rate, and the line returned says so after `what` (the file's own
// words for its rate, such as "Frame Time 2 s"). Empty when the rate was kept.
std::string KMotionSetFileRate(KStreamOptionsMotion& options, double rate, double first, int frames,
                               const std::string& what);
// Why a writer cannot write the options' frames at their rate so that a reader takes them
// back (the start counted when `start` says the format keeps it); empty when it can.
std::string KMotionUnwritableRate(const KStreamOptionsMotion& options, bool start);
