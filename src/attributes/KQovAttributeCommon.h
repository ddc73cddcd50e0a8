#pragma once
// What the attribute kinds share: a property set built from a table that
// belongs to no scene object, the attribute that owns such a set and lists its
// properties after the node's, and the channels an attribute keeps in every
// take of its node (linked to its properties in "Default").

#include <initializer_list>
#include <vector>

#include "foundation/KColor.h"
#include "foundation/KStringList.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovPropertyHandler.h"

class KFCurve;
class KQovTakeNode;

// Row builders for attribute tables.
namespace KQovAttributeRows {
// An embedded row (bool, int, enum, double, vector or colour) and its default.
KQovPropertyDescriptor Embedded(const char* name, int typeCode, double x = 0.0, double y = 0.0,
                                double z = 0.0, const char* const* enumLabels = nullptr);
// An animatable row: made by the set's CreateProperty with the type code of
// `dataType`, attribute flag 2 and persistent user flag 8.
KQovPropertyDescriptor Animatable(const char* name, const char* dataType, double x = 0.0,
                                  double y = 0.0, double z = 0.0);
}  // namespace KQovAttributeRows

// A type-name list of the given names, in order.
KStringList KQovTypeNames(std::initializer_list<const char*> names);

// An attribute's property set. Accessors work on the embedded rows directly,
// without events, as the attribute's own setters do.
class KQovAttributeProperties : public KQovPropertyHandler {
public:
    KQovAttributeProperties(const KQovPropertyDescriptor* rows, int count);

    // 0.0 for a row that is not embedded or a component past the third.
    double GetNumber(int row, int component = 0) const;
    void SetNumber(int row, double value);
    void SetNumbers(int row, double x, double y, double z);
    bool GetBool(int row) const { return GetNumber(row) != 0.0; }
    int GetInt(int row) const { return int(GetNumber(row)); }
    KColor GetColor(int row) const;
};

// An attribute owning a property set: the set is made by the subclass and
// destroyed here.
class KQovPropertySetAttribute : public KQovNodeAttribute {
public:
    ~KQovPropertySetAttribute() override;
    void CollectProperties(std::vector<KProperty*>& out) override;
    KQovAttributeProperties* GetPropertySet() const { return mSet; }

protected:
    KQovPropertySetAttribute(KQovObjectManager* manager, KQovAttributeProperties* set)
        : KQovNodeAttribute(manager), mSet(set) {}

private:
    KQovAttributeProperties* mSet;
};

// Destructors of attributes with channels call this first: only the subclass
// can remove its channels, and the node must not keep a pointer to it.
void KQovLeaveNode(KQovNodeAttribute* attribute);

// One channel of an attribute in a take node.
struct KQovAttributeChannel {
    const char* name;                // under the take's root
    int components = 1;              // 1: a curve on the channel; 3: curves on "X", "Y", "Z"
    const char* dataType = nullptr;  // registered type of a created channel node, null for none
    float color[3] = {0.0f, 0.0f, 0.0f};  // display colour; components show red, green, blue
};

// Finds or creates the channel and its curves in `take`. When `take` is the
// "Default" take (any case) of the attribute's node and `property` is given,
// each curve is linked to its property component. Then every curve gets its
// default value from `defaults` (one per component) and its display colour;
// a linked property takes the value through the link.
void KQovInitAttributeChannel(KQovNodeAttribute* attribute, KQovTakeNode* take,
                              const KQovAttributeChannel& channel, KProperty* property,
                              const double* defaults);
// Deletes the channel from the take's root, when it is there.
void KQovRemoveAttributeChannel(KQovTakeNode* take, const char* name);

// The curve of a channel (its component child when `component` is given) in
// the default take of the attribute's node; null without node, take or curve.
KFCurve* KQovGetDefaultCurve(const KQovNodeAttribute* attribute, const char* channel,
                             const char* component = nullptr);
// The default value of a channel's curve; without the curve, component
// `index` of the property (0.0 without both).
double KQovGetDefaultValue(const KQovNodeAttribute* attribute, const char* channel,
                           const char* component, KProperty* property, int index = 0);
// Writes the default value into the channel's curve when there is one, then
// into component `index` of the property through its set-value operation.
void KQovSetDefaultValue(const KQovNodeAttribute* attribute, const char* channel,
                         const char* component, KProperty* property, int index, double value);
// The same for the first `count` components at once: every component curve
// ("X", "Y", "Z") first, then the property in one set-value operation.
void KQovSetDefaultValues(const KQovNodeAttribute* attribute, const char* channel,
                          KProperty* property, const double* values, int count);
