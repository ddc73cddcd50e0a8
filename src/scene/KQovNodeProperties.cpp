#include "scene/KQovNodeProperties.h"

#include <utility>

#include "scene/KPropertyObjectList.h"
#include "scene/KQovNode.h"

namespace {

using D = KQovPropertyDescriptor;

const char* const kRotationOrderNames[] = {"Euler XYZ", "Euler XZY", "Euler YZX",  "Euler YXZ",
                                           "Euler ZXY", "Euler ZYX", "Spheric XYZ", nullptr};
// Type 1 really shows the same text as type 0.
const char* const kInheritTypeNames[] = {"RrSs", "RrSs", "Rrs", nullptr};

int NodePropertiesClassId() {
    return KQovNodeProperties::ClassId();
}

D Bool(const char* name, bool value = false) {
    D d{name, KProperty::eBOOL};
    d.defaultValue[0] = value ? 1.0 : 0.0;
    return d;
}
D Vector(const char* name, uint32_t userFlags = 0) {
    D d{name, KProperty::eVECTOR3D};
    d.defaultValue[3] = 1.0;
    d.userFlags = userFlags;
    return d;
}
D Double(const char* name) {
    return D{name, KProperty::eDOUBLE};
}
D Enum(const char* name, const char* const* labels) {
    D d{name, KProperty::eENUM};
    d.enumLabels = labels;
    return d;
}
D ObjectList(const char* name) {
    D d{name, KProperty::eOBJECT};
    d.form = D::eObjectList;
    d.userFlags = 1;
    d.objectClass = &NodePropertiesClassId;
    d.objectWord = 1;
    d.objectDirection = KPlug::eAcceptsSources;
    return d;
}
D Created(const char* name, double x, double y, double z) {
    D d{name, 0, name};  // the type code follows the data type of the same name
    d.form = D::eCreated;
    d.animatable = true;
    d.userFlags = 8;
    d.defaultValue[0] = x;
    d.defaultValue[1] = y;
    d.defaultValue[2] = z;
    return d;
}

const D kRows[KQovNodeProperties::eRowCount] = {
    Bool("QuaternionInterpolate"),
    Vector("RotationOffset"),
    Vector("RotationPivot"),
    Vector("RotationPivotUpdateOffset", 16),
    Vector("ScalingOffset"),
    Vector("ScalingPivot"),
    Vector("ScalingPivotUpdateOffset", 16),
    Bool("TranslationActive"),
    Vector("TranslationMin"),
    Vector("TranslationMax"),
    Bool("TranslationMinX"),
    Bool("TranslationMinY"),
    Bool("TranslationMinZ"),
    Bool("TranslationMaxX"),
    Bool("TranslationMaxY"),
    Bool("TranslationMaxZ"),
    Enum("RotationOrder", kRotationOrderNames),
    Bool("RotationSpaceForLimitOnly"),
    Double("RotationStiffnessX"),
    Double("RotationStiffnessY"),
    Double("RotationStiffnessZ"),
    Double("AxisLen"),
    Vector("PreRotation"),
    Vector("PostRotation"),
    Bool("RotationActive"),
    Vector("RotationMin"),
    Vector("RotationMax"),
    Bool("RotationMinX"),
    Bool("RotationMinY"),
    Bool("RotationMinZ"),
    Bool("RotationMaxX"),
    Bool("RotationMaxY"),
    Bool("RotationMaxZ"),
    Enum("InheritType", kInheritTypeNames),
    Bool("ScalingActive"),
    Vector("ScalingMin"),
    Vector("ScalingMax"),
    Bool("ScalingMinX"),
    Bool("ScalingMinY"),
    Bool("ScalingMinZ"),
    Bool("ScalingMaxX"),
    Bool("ScalingMaxY"),
    Bool("ScalingMaxZ"),
    Vector("GeometricTranslation"),
    Vector("GeometricRotation"),
    Vector("GeometricScaling"),  // the node's reset makes it 1, 1, 1
    ObjectList("LookAtProperty"),
    ObjectList("UpVectorProperty"),
    Bool("Show", true),
    Bool("NegativePercentShapeSupport", true),
    Created("Lcl Translation", 0.0, 0.0, 0.0),
    Created("Lcl Rotation", 0.0, 0.0, 0.0),
    Created("Lcl Scaling", 1.0, 1.0, 1.0),
    Created("Visibility", 1.0, 0.0, 0.0),
};

}  // namespace

void KQovPivotSet::Reset() {
    const KVector4 zero(0.0, 0.0, 0.0, 1.0);
    rotationOffset = rotationPivot = rotationPivotUpdateOffset = zero;
    preRotation = postRotation = zero;
    scalingOffset = scalingPivot = scalingPivotUpdateOffset = zero;
    geometricTranslation = geometricRotation = zero;
    geometricScaling = KVector4(1.0, 1.0, 1.0, 1.0);
    rotationOrder = 0;
    rotationSpaceForLimitOnly = 0;
    globalMatrixValid = 0;
    pivotState = 1;
}

KQovNodeProperties::KQovNodeProperties(KQovNode* node)
    : KQovPropertyHandler(node), mNode(node) {
    // Most nodes never have their properties asked for: the rows wait.
    DeferTableProperties(kRows, eRowCount);
}

KQovNodeProperties::~KQovNodeProperties() = default;

const KQovPropertyDescriptor* KQovNodeProperties::GetDescriptors() {
    return kRows;
}

KQovPivotSet* KQovNodeProperties::GetPivotSet(int index) {
    return const_cast<KQovPivotSet*>(std::as_const(*this).GetPivotSet(index));
}

const KQovPivotSet* KQovNodeProperties::GetPivotSet(int index) const {
    if (index == 0) return &mPivotSet0;
    if (index != 1) return nullptr;
    if (!mPivotSet1) mPivotSet1 = std::make_unique<KQovPivotSet>();
    return mPivotSet1.get();
}

KQovPivotSet* KQovNodeProperties::FindPivotSet(int index) const {
    if (index == 0) return const_cast<KQovPivotSet*>(&mPivotSet0);
    return index == 1 ? mPivotSet1.get() : nullptr;
}

void KQovNodeProperties::ResetStoredPivotSet(int index) {
    if (index == 0)
        mPivotSet0.Reset();
    else if (index == 1 && mPivotSet1)
        mPivotSet1->Reset();
}

bool KQovNodeProperties::GetBool(int row) const {
    const double* numbers = GetEmbeddedNumbers(row);
    return numbers && numbers[0] != 0.0;
}

void KQovNodeProperties::SetBool(int row, bool value) {
    SetNumber(row, value ? 1.0 : 0.0);
}

double KQovNodeProperties::GetNumber(int row) const {
    const double* numbers = GetEmbeddedNumbers(row);
    return numbers ? numbers[0] : 0.0;
}

void KQovNodeProperties::SetNumber(int row, double value) {
    SetEmbeddedNumbers(row, &value, 1);
}

KVector4 KQovNodeProperties::GetVector(int row) const {
    const double* v = GetEmbeddedNumbers(row);
    if (!v) return KVector4(0.0, 0.0, 0.0, 1.0);
    return KVector4(v[0], v[1], v[2], 1.0);
}

void KQovNodeProperties::SetVector(int row, const KVector4& value) {
    SetEmbeddedNumbers(row, value.mData, 3);
}

KPropertyObjectList* KQovNodeProperties::GetLookAtProperty() const {
    return static_cast<KPropertyObjectList*>(GetTableProperty(eLookAtProperty));
}

KPropertyObjectList* KQovNodeProperties::GetUpVectorProperty() const {
    return static_cast<KPropertyObjectList*>(GetTableProperty(eUpVectorProperty));
}

const char* KQovNodeProperties::GetRotationOrderName(int value) {
    return value >= 0 && value < 7 ? kRotationOrderNames[value] : nullptr;
}

const char* KQovNodeProperties::GetInheritTypeName(int value) {
    return value >= 0 && value < 3 ? kInheritTypeNames[value] : nullptr;
}
