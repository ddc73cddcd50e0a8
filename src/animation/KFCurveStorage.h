#pragma once
// A curve's fields in a QOV field file: "Default", "KeyVer", "KeyCount", "Key", the
// extrapolation blocks and "Color". Keys are written in layout 4004; reading also takes the
// older layouts and converts them.

class KFCurve;
class KQovFieldFile;

// With defaultOnly only "Default" is written; olderLayout writes auto keys as derivatives.
// Returns 0.
int KFCurveStore(const KFCurve& curve, KQovFieldFile& file, bool defaultOnly, bool withColor,
                 bool olderLayout);

// Reads the curve whose "Default" field the caller has made current. Returns 0.
int KFCurveRetrieve(KFCurve& curve, KQovFieldFile& file, bool defaultOnly, bool withColor);

// Null when there is no "Default" field here; else the given curve (its keys replaced) or a
// new one when none is given.
KFCurve* KFCurveRetrieveInto(KQovFieldFile& file, KFCurve* curve, bool defaultOnly, bool withColor);
KFCurve* KFCurveRetrieveNew(KQovFieldFile& file, bool defaultOnly, bool withColor);
