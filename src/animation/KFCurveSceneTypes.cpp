#include "animation/KFCurveSceneTypes.h"

#include "scene/KDataType.h"
#include "scene/KProperty.h"

const KDataType* KFCurveGetDataType(const char* name) {
    return KDataType::FindByName(name);
}

const char* KFCurvePropertyName(const KProperty* property) {
    return property ? property->GetName() : nullptr;
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
