#pragma once
// A text picture of scene objects for golden comparisons: names, properties as
// text, takes, channels and keys, one item per line, two spaces per level.

#include <string>

class KFCurve;
class KFCurveNode;
class KQovNode;
class KQovObject;
class KQovTakeNode;

namespace SceneDump {

enum : unsigned {
    eProperties = 0x1,  // property lines
    eTakes = 0x2,       // take and channel lines
    eKeys = 0x4,        // key lines under each curve
    eAll = 0x7,
};

// "curve default 0.5 colour 1 0 0 keys 2"; with keys, one line per key.
std::string Curve(const KFCurve& curve, int indent, unsigned what = eAll);
// The channel and its subtree.
std::string Channels(const KFCurveNode& channel, int indent = 0, unsigned what = eAll);
// The take's name (marked when current), then its root channel.
std::string Take(const KQovTakeNode& take, int indent = 0, unsigned what = eAll,
                 bool current = false);
// Name, object type, properties, user properties and takes (the current one marked).
std::string Object(KQovObject& object, int indent = 0, unsigned what = eAll);
// The node and its subtree, children indented below their parent.
std::string NodeTree(KQovNode& node, unsigned what = eAll, int indent = 0);

}  // namespace SceneDump
