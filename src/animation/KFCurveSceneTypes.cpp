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
    return KDataType::FindStandard(KDataType::eStandardLclTranslation);
}
const KDataType* KFCurveLclRotationType() {
    return KDataType::FindStandard(KDataType::eStandardLclRotation);
}
const KDataType* KFCurveLclScalingType() {
    return KDataType::FindStandard(KDataType::eStandardLclScaling);
}
const KDataType* KFCurveNumberType() {
    return KFCurveGetDataType("Number");
}
const KDataType* KFCurveTimeWarpType() {
    return KFCurveGetDataType("TimeWarp");
}
