#include "character/KQovSolverParameterStore.h"

#include <cstddef>

#include "character/KQovSolverParameterTable.h"

KQovSolverParameterStore::KQovSolverParameterStore() {
    mRecords.reserve(size_t(KQovSolverParameterTable::kCount));
    for (int i = 0; i < KQovSolverParameterTable::kCount; ++i) {
        const KQovSolverParameterDesc* row = KQovSolverParameterTable::GetParameter(i);
        mRecords.push_back({row->mDefaultMode, row->mDefaultValue});
    }
}

void KQovSolverParameterStore::SetMode(int index, int32_t mode) {
    if (!Valid(index)) return;
    if (KQovSolverParameterTable::AcceptsMode(KQovSolverParameterTable::GetParameterType(index),
                                              mode))
        mRecords[size_t(index)].mMode = mode;
}

int32_t KQovSolverParameterStore::GetMode(int index) const {
    return Valid(index) ? mRecords[size_t(index)].mMode : 0;
}

void KQovSolverParameterStore::SetValue(int index, double value) {
    if (Valid(index)) mRecords[size_t(index)].mValue = value;
}

double KQovSolverParameterStore::GetValue(int index) const {
    return Valid(index) ? mRecords[size_t(index)].mValue : 0.0;
}
