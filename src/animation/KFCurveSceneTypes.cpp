#include "animation/KFCurveSceneTypes.h"

#include "scene/KDataType.h"

const KDataType* KFCurveGetDataType(const char* name) {
    return KDataType::FindByName(name);
}

// Properties cannot be bound to channels yet: a node keeps its own name.
const char* KFCurvePropertyName(const KProperty* property) {
    (void)property;
    return nullptr;
}

const KDataType* KFCurveLclTranslationType() {
    return KFCurveGetDataType("Lcl Translation");
}
const KDataType* KFCurveLclRotationType() {
    return KFCurveGetDataType("Lcl Rotation");
}
const KDataType* KFCurveLclScalingType() {
    return KFCurveGetDataType("Lcl Scaling");
}
const KDataType* KFCurveNumberType() {
    return KFCurveGetDataType("Number");
}
const KDataType* KFCurveTimeWarpType() {
    return KFCurveGetDataType("TimeWarp");
}
