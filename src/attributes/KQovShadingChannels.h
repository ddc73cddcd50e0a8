#pragma once
// The channels materials and textures keep in each take node: a vector channel
// with component curves "X", "Y", "Z" coloured red, green and blue, or a single
// curve coloured dark red; and access to the curves of the "Default" take.

class KFCurve;
class KProperty;
class KQovTakeNode;
class KQovTakeNodeContainer;

class KQovShadingChannels {
public:
    // Adds channel `name` of data type `dataType` under the take's root, its
    // curves holding `values`. With a `linker`, the curves drive the components
    // of `property` (component 0 for a single curve).
    static void AddVector(KQovTakeNode* take, const char* name, const char* dataType,
                          const double* values, KQovTakeNodeContainer* linker = nullptr,
                          KProperty* property = nullptr);
    static void AddSingle(KQovTakeNode* take, const char* name, const char* dataType, double value,
                          KQovTakeNodeContainer* linker = nullptr, KProperty* property = nullptr);

    // The "Default" take's curve of a channel (component -1: the channel's own
    // curve); null when the take, channel or curve is missing.
    static KFCurve* DefaultCurve(const KQovTakeNodeContainer& object, const char* name,
                                 int component = -1);
    // That curve's default value, `fallback` without a curve.
    static double GetDefault(const KQovTakeNodeContainer& object, const char* name, int component,
                             double fallback);
    // Writes the curve's default value (single precision); false without a curve.
    static bool SetDefault(const KQovTakeNodeContainer& object, const char* name, int component,
                           double value);
};
