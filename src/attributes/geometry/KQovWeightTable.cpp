#include "attributes/geometry/KQovWeightTable.h"

#include <algorithm>
#include <cmath>
#include <utility>

int BuildPolygonStripIndices(int* indices, int n) {
    if (!indices || n < 3) return 0;
    const int total = 3 * (n - 2);
    int written = 0;
    auto emit = [&](int a, int b, int c) {
        if (written >= total) return;
        indices[written++] = a;
        indices[written++] = b;
        indices[written++] = c;
    };
    emit(0, 1, 2);
    int a = 2, b = 3, c = 0, d = n - 1;
    while (b <= d && written < total) {
        emit(a, b, c);
        emit(c, b, d);
        a = b;
        ++b;
        c = d;
        --d;
    }
    return written;
}

KQovWeightTable::KQovWeightTable(int count0, int count1) {
    Init(count0, count1);
}

void KQovWeightTable::Init(int count0, int count1) {
    Clear();
    mSides[0].resize(count0 > 0 ? size_t(count0) : 0);
    mSides[1].resize(count1 > 0 ? size_t(count1) : 0);
}

void KQovWeightTable::Clear() {
    mSides[0].clear();
    mSides[0].shrink_to_fit();
    mSides[1].clear();
    mSides[1].shrink_to_fit();
}

bool KQovWeightTable::HasList(int side, int list) const {
    return (side == 0 || side == 1) && list >= 0 && size_t(list) < mSides[side].size();
}

bool KQovWeightTable::Add(int i, int j, double weight) {
    if (!HasList(0, i) || !HasList(1, j)) return false;
    mSides[0][size_t(i)].push_back({j, weight});
    mSides[1][size_t(j)].push_back({i, weight});
    return true;
}

int KQovWeightTable::GetListCount(int side) const {
    return (side == 0 || side == 1) ? int(mSides[side].size()) : 0;
}

int KQovWeightTable::GetEntryCount(int side, int list) const {
    return HasList(side, list) ? int(mSides[side][size_t(list)].size()) : 0;
}

const KQovWeightEntry* KQovWeightTable::GetEntry(int side, int list, int k) const {
    if (!HasList(side, list) || k < 0) return nullptr;
    const List& entries = mSides[side][size_t(list)];
    return size_t(k) < entries.size() ? &entries[size_t(k)] : nullptr;
}

double KQovWeightTable::SumWeights(int side, int list, bool absolute) const {
    if (!HasList(side, list)) return 0.0;
    double total = 0.0;
    for (const KQovWeightEntry& e : mSides[side][size_t(list)])
        total += absolute ? std::fabs(e.weight) : e.weight;
    return total;
}

void KQovWeightTable::Normalize(int side, bool absolute) {
    if (side != 0 && side != 1) return;
    std::vector<List>& lists = mSides[side];
    std::vector<List>& others = mSides[1 - side];

    // Where each list's mirrors are: for list L, the pairs (other list j, position of the first
    // entry of j pointing to L), by ascending j. One pass keeps this linear in the entries,
    // where searching the other list per entry would be quadratic in the list lengths.
    std::vector<std::vector<std::pair<int32_t, int32_t>>> mirrors(lists.size());
    for (size_t j = 0; j < others.size(); ++j) {
        const List& other = others[j];
        for (size_t p = 0; p < other.size(); ++p) {
            auto& found = mirrors[size_t(other[p].index)];
            if (found.empty() || found.back().first != int32_t(j))
                found.emplace_back(int32_t(j), int32_t(p));
        }
    }

    for (size_t list = 0; list < lists.size(); ++list) {
        const double total = SumWeights(side, int(list), absolute);
        const auto& found = mirrors[list];
        for (KQovWeightEntry& e : lists[list]) {
            double w = total == 0.0 ? 0.0 : e.weight / total;
            if (absolute) w = std::fabs(w);
            e.weight = w;
            auto it =
                std::lower_bound(found.begin(), found.end(), std::make_pair(e.index, int32_t(0)));
            if (it != found.end() && it->first == e.index)
                others[size_t(e.index)][size_t(it->second)].weight = w;
        }
    }
}
