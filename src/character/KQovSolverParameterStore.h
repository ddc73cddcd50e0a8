#pragma once
// One character's current solver settings: a mode and a value per row of the solver table.

#include <cstdint>
#include <vector>

class KQovSolverParameterStore {
public:
    // Every row starts at the table's default mode and value.
    KQovSolverParameterStore();

    int GetCount() const { return int(mRecords.size()); }
    // Kept only when the row's type admits the mode (see KQovSolverParameterTable::AcceptsMode);
    // a refused mode leaves the old one.
    void SetMode(int index, int32_t mode);
    int32_t GetMode(int index) const;
    // Kept as given: ranges are the caller's business.
    void SetValue(int index, double value);
    double GetValue(int index) const;

private:
    struct Record {
        int32_t mMode;
        double mValue;
    };
    bool Valid(int index) const { return index >= 0 && index < GetCount(); }
    std::vector<Record> mRecords;
};
