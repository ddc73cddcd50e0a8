#pragma once
// Curve helpers of the resample filter and the key reducer: sampling a curve at
// a fixed period, splicing a rewritten stretch of keys back into a curve, and a
// census of key kinds.

#include "foundation/KTime.h"

class KFCurve;

// Most keys one sampling may make; a longer request is refused.
constexpr int64_t kFCurveMaxSampleCount = 1 << 24;

// Number of keys FCurveResample makes over [start, stop] at the period (the stop key
// included when asked for and off the grid); 0 when the request is refused.
int64_t FCurveSampleCount(KTime start, KTime stop, KTime period, bool addStopKey);

// counts: [0] constant, [1] linear, cubic [2] auto, [3] auto break, [4] user, [5] break, [6] TCB.
bool FCurveKeyStatistics(const KFCurve& curve, int counts[7]);

// Samples the source into the target at start, start + period, ... up to stop, every key of
// one kind. Nothing happens (false) unless stop > start, period > 0 and the count is allowed.
bool FCurveResample(KFCurve& source, KFCurve& target, KTime start, KTime stop, KTime period,
                    int interpolation, int tangentMode, bool addStopKey);
// The same, each sample keeping the kind of the source key that governs it.
bool FCurveResampleKeepKind(KFCurve& source, KFCurve& target, KTime start, KTime stop, KTime period,
                            bool addStopKey);

// The target receives the base curve's keys, the stretch that the rewritten curve covers
// replaced by the rewritten keys. The target must be neither of the two.
void FCurveMerge(KFCurve& base, KFCurve& rewritten, KFCurve& target);
