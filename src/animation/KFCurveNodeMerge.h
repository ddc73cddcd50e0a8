#pragma once
// Baking a curve node's animation layers into plain curves: the layered value is sampled over
// a span and the resulting curves go to one receiver (an output node, or a layer of the chain).

#include <cstdint>

#include "foundation/KArray.h"
#include "foundation/KTime.h"

class KFCurve;
class KFCurveNode;

// MergeLayers flags.
enum : uint32_t {
    KFCURVENODE_MERGE_REMOVE = 2,        // remove the merged layers
    KFCURVENODE_MERGE_NEUTRALISE = 4,    // empty the merged layers over the span (wins over REMOVE)
    KFCURVENODE_MERGE_REPLACE_SPAN = 8,  // write into layer layerId over the span
    KFCURVENODE_MERGE_SUBSTITUTE = 16,   // replace layer layerId's curves (ignored with 8)
};

// Key mode: besides the period grid, samples at, just before and just after every layer key,
// with optional tangent fitting and refinement. Owned by the caller.
struct MergeLayersOptions {
    bool mEnabled = false;
    bool mFitTangents = false;
    double mTangentTolerance = 0.0;
    KTime mKeyOffset;
    bool mRefine = false;
    double mValueTolerance = 0.0;
    bool mFitInsertedKeys = false;
    int32_t mSubdivisions = 0;
    bool mDenseResult = false;
};

// Combines the layers of node's chain over [start, stop], sampled every period (one sample
// beyond stop), and hands the result curves to outputNode, or else to layer layerId (flags 8
// or 16). layerIds (ascending) limits the merge to those layers; null merges them all.
// splitLayer: combine that layer's values with the layers below and above layerId instead.
// REMOVE acts on the listed layers only: without an id list it removes nothing.
// A period <= 0, a span that gives no sample (start after stop) and a span of more than 2^24
// periods change nothing. An output
// node takes the result alone: flags 8 and 16 are then not applied.
void MergeLayers(KFCurveNode* node, const KArrayInt* layerIds, int layerId, uint32_t flags,
                 KTime start, KTime stop, KTime period, KFCurveNode* outputNode,
                 KFCurveNode* splitLayer, bool useTimeWarp, const MergeLayersOptions* options);

// The file reader's bake of one layered channel: the whole chain merged into layer 0 by curve
// substitution over [start, stop], through the channel's time warp, at the default sampling
// period; the baked layers are then removed, so that evaluation and later writes never apply
// them twice. A span that gives no sample changes nothing.
void BakeLayersIntoBase(KFCurveNode* node, KTime start, KTime stop);

// What the file reader does with every layered channel of a tree it read: merges each node's
// layers into its base layer over the key span of its time warp (or its own), at the default
// sampling period, and removes the merged layers, so that evaluation and later writes never
// apply them twice.
void MergeLayersAfterRead(KFCurveNode* root);

// Inserts keys into sparse's curves where they depart from dense's by more than the tolerance.
void RefineKeys(KFCurveNode* sparse, KFCurveNode* dense, double valueTolerance, int subdivisions,
                bool fitInserted, KTime keyOffset, double tangentTolerance, bool withSiblings,
                const KArrayPtr<KFCurve>* siblingCurves,
                const KArrayPtr<KFCurve>* siblingReferences);

// Refines one key interval of curve against reference. Always false.
bool RefineSegment(KTime t0, KTime t1, KFCurve* curve, KFCurve* reference, double valueTolerance,
                   int subdivisions, bool fitInserted, KTime keyOffset, double tangentTolerance,
                   bool withSiblings, const KArrayPtr<KFCurve>* siblingCurves,
                   const KArrayPtr<KFCurve>* siblingReferences);
