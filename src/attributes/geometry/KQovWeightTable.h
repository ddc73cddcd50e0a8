#pragma once
// Two small tools of the surface-to-mesh conversion: the corner numbers that cut a polygon into
// triangles, and a two-sided table of weighted links between two sets of items (control points
// of a surface on side 0, mesh vertices or clusters on side 1).

#include <cstdint>
#include <vector>

// Writes 3 × (n − 2) corner numbers (0..n − 1) for n − 2 triangles covering a polygon of n
// corners, alternating between the two sides of the polygon. The array must hold 3 × (n − 2)
// numbers. n < 3 writes nothing. Returns how many numbers were written.
int BuildPolygonStripIndices(int* indices, int n);

struct KQovWeightEntry {
    int32_t index;  // the item on the other side
    double weight;
};

class KQovWeightTable {
public:
    explicit KQovWeightTable(int count0 = 0, int count1 = 0);

    // Drops every list, then makes count0 empty lists on side 0 and count1 on side 1
    // (a negative count gives none).
    void Init(int count0, int count1);
    void Clear();

    // Links item i of side 0 with item j of side 1, once in each side's list. A pair outside
    // the table is ignored (false).
    bool Add(int i, int j, double weight);

    int GetListCount(int side) const;
    // 0 for a side or list outside the table.
    int GetEntryCount(int side, int list) const;
    // Null for an index outside the table.
    const KQovWeightEntry* GetEntry(int side, int list, int k) const;
    double SumWeights(int side, int list, bool absolute) const;

    // Scales every list of the side to a weight sum of 1 (of absolute values when `absolute`,
    // which also makes every weight positive); a list summing to 0 gets weights 0. Each new
    // weight is written to its mirror too: the first entry of the other side's list that points
    // back to the list.
    void Normalize(int side, bool absolute);

private:
    using List = std::vector<KQovWeightEntry>;
    bool HasList(int side, int list) const;

    std::vector<List> mSides[2];
};
