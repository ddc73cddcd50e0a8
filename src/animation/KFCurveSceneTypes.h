#pragma once
// What channel trees use of the scene object model: the registered data types that have a
// role in a tree, found by name, and the name of a bound property.

class KDataType;
class KProperty;

// Null when no type of that name is registered.
const KDataType* KFCurveGetDataType(const char* name);

const KDataType* KFCurveLclTranslationType();
const KDataType* KFCurveLclRotationType();
const KDataType* KFCurveLclScalingType();
const KDataType* KFCurveNumberType();
const KDataType* KFCurveTimeWarpType();

// The property's name; null for a null property.
const char* KFCurvePropertyName(const KProperty* property);
