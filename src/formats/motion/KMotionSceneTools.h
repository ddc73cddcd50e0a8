#pragma once
// Scene work the motion readers and writers share: skeleton nodes and their rest transform,
// motion keys and the filters run over them, the take a read file becomes, and the node-name
// check of the writers.

#include "foundation/KMatrix.h"
#include "foundation/KString.h"
#include "foundation/KTime.h"
#include "foundation/KVector4.h"

class KFCurve;
class KQovNode;
class KQovObjectManager;
class KQovScene;
class KStreamOptionsMotion;

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
// Keys, the curve filters and the take of a read file: KQovMotionTextIO.h.
// False when a node name below `node` (itself included) holds a blank; each such name is
// appended to `message` on a line of its own.
bool KMotionCheckBlanks(KQovNode* node, KString& message);
// The local matrix of `node` at `time` (its global one when `global`) as translation and
// Euler X, Y, Z rotation in degrees, scaling taken off.
void KMotionDecompose(KMatrix m, KVector4& translation, KVector4& rotation);
// `m` with its axis rows brought to unit length (a zero row stays zero).
KMatrix KMotionNormalizeAxes(KMatrix m);
void KMotionSampleNode(KQovNode* node, KTime time, bool global, KVector4& translation,
                       KVector4& rotation);
