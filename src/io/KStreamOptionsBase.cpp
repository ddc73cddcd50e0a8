#include "io/KStreamOptionsBase.h"

void KStreamOptionsBase::Reset() {
    KStreamOptions::Reset();
    for (Record& record : mRecords) record.value = record.defaultValue;
    mTakeName.Empty();
}

const KStreamOptionsBase::Record* KStreamOptionsBase::Find(int index) const {
    if (index < kFirstIndex || index > kLastIndex || !mRecords[index].name) return nullptr;
    return &mRecords[index];
}

bool KStreamOptionsBase::HasOption(int index) const {
    return Find(index) != nullptr;
}

int KStreamOptionsBase::GetOptionValue(int index) const {
    const Record* record = Find(index);
    return record ? record->value : 0;
}

bool KStreamOptionsBase::SetOptionValue(int index, int value) {
    if (!Find(index)) return false;
    mRecords[index].value = value;
    return true;
}

int KStreamOptionsBase::GetOptionDefault(int index) const {
    const Record* record = Find(index);
    return record ? record->defaultValue : 0;
}

const char* KStreamOptionsBase::GetOptionName(int index) const {
    const Record* record = Find(index);
    return record ? record->name : nullptr;
}

void KStreamOptionsBase::SetTakeName(const char* name) {
    if (mAcceptsTakeName) mTakeName = name ? name : "";
}

void KStreamOptionsBase::DefineOption(int index, const char* name, int defaultValue) {
    if (index < kFirstIndex || index > kLastIndex || !name) return;
    mRecords[index] = Record{name, defaultValue, defaultValue};
}

KStreamOptions3ds::KStreamOptions3ds() {
    DefineOption(1, "Create Reference Node", 0);
    DefineOption(7, "Materials", 1);
    DefineOption(8, "Texture Mapping", 1);
    DefineOption(9, "Anim", 1);
    DefineOption(10, "Geometries", 1);
    DefineOption(11, "Lights", 1);
    DefineOption(12, "Camera", 1);
    DefineOption(13, "Ambient Light", 1);
    DefineOption(14, "Rescale", 1);
    DefineOption(15, "Reduce Keys", 0);
    DefineOption(16, "Smooth Group", 1);
    DefineOption(17, "UV per polygon", 1);
    AcceptTakeName();
}

KStreamOptionsObj::KStreamOptionsObj() {
    DefineOption(1, "Create Reference Node", 1);
    DefineOption(2, "Force Triangulation", 0);
    DefineOption(3, "Evaluate Link/Shape deformations", 1);
}

KStreamOptionsDxf::KStreamOptionsDxf() {
    DefineOption(1, "Create Reference Node", 1);
    DefineOption(2, "Force Triangulation", 1);
    DefineOption(3, "Evaluate Link/Shape deformations", 1);
    DefineOption(4, "Weld Vertices", 1);
    DefineOption(5, "Object Derivation", 0);
    DefineOption(6, "Layer~Block~Entity", 0);
}

void KStreamOptionsDxf::Reset() {
    KStreamOptionsBase::Reset();
    mDerivation = eByLayer;
}

int KStreamOptionsDxf::GetObjectDerivation() {
    switch (GetOptionValue(6)) {
        case 0: mDerivation = eByLayer; break;
        case 1: mDerivation = eByBlock; break;
        case 2: mDerivation = eByEntity; break;
        default: break;
    }
    return mDerivation;
}
