#include "formats/geometry/dxf/KDxfPalette.h"

namespace {

const int kRampU[8] = {4, 4, 4, 4, 4, 3, 2, 1};
const int kRampV[8] = {0, 1, 2, 3, 4, 4, 4, 4};
const double kBrightness[5] = {1.0, 0.65, 0.5, 0.3, 0.15};

// Base numbers of the hue table by the rank of m (0 the lowest band); columns: red-green,
// red-blue, green-red, green-blue, blue-red, blue-green (largest, middle).
const int kHueBase[5][6] = {
    {10, 10, 90, 90, 170, 170},
    {20, 240, 80, 100, 180, 160},
    {30, 230, 70, 110, 190, 150},
    {40, 220, 60, 120, 200, 140},
    {50, 210, 50, 130, 210, 130},
};

}  // namespace

void KDxfAciToRgb(int number, double rgb[3]) {
    static const double kFirst[9][3] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1},
                                        {1, 0, 1}, {1, 1, 1}, {0.502, 0.502, 0.502},
                                        {0.753, 0.753, 0.753}};
    if (number < 1 || number > 255) return;
    if (number <= 9) {
        for (int i = 0; i < 3; ++i) rgb[i] = kFirst[number - 1][i];
        return;
    }
    if (number >= 250) {
        rgb[0] = rgb[1] = rgb[2] = 0.33 + (number % 10) * 0.134;
        return;
    }
    const int h = (number - 10) / 10;
    const int k = h % 8;
    double c[3] = {0, 0, 0};
    const int first = h / 8;  // 0 red-green, 1 green-blue, 2 blue-red
    c[first] = kRampU[k] / 4.0;
    c[(first + 1) % 3] = kRampV[k] / 4.0;
    const double scale = kBrightness[(number % 10) / 2];
    for (int i = 0; i < 3; ++i) {
        if (number % 2) c[i] = 0.5 + c[i] / 2;
        rgb[i] = c[i] * scale;
    }
}

int KDxfRgbToAci(double r, double g, double b) {
    static const struct {
        double r, g, b;
        int number;
    } kExact[] = {{1, 0, 0, 1},         {1, 1, 0, 2},         {0, 1, 0, 3},
                  {0, 1, 1, 4},         {0, 0, 1, 5},         {1, 0, 1, 6},
                  {1, 1, 1, 7},         {0.502, 0.502, 0.502, 8},
                  {0.753, 0.753, 0.753, 9}, {0, 0, 0, 250}};
    for (const auto& e : kExact)
        if (r == e.r && g == e.g && b == e.b) return e.number;

    const double c[3] = {r, g, b};
    int hi = 0;
    for (int i = 1; i < 3; ++i)
        if (c[i] > c[hi]) hi = i;
    const int o1 = (hi + 1) % 3, o2 = (hi + 2) % 3;
    // Ties keep red before green before blue.
    int mid, lo;
    if (c[o1] > c[o2] || (c[o1] == c[o2] && o1 < o2)) {
        mid = o1;
        lo = o2;
    } else {
        mid = o2;
        lo = o1;
    }
    const double max = c[hi];
    if (!(max > 0)) return 250;  // black or out of range: no hue to speak of
    const double s = c[lo] / max;
    if (s > 0.8) {
        const double a = (r + g + b) / 3;
        if (a < 0.4) return 250;
        if (a < 0.53) return 251;
        if (a < 0.66) return 252;
        if (a < 0.8) return 253;
        if (a < 0.93) return 254;
        return 255;
    }
    const double m = c[mid] / max;
    auto level = [s](double f) { return s + f * (1 - s); };
    int band = 0;
    if (m > level(0.875)) band = 4;
    else if (m > level(0.625)) band = 3;
    else if (m > level(0.375)) band = 2;
    else if (m > level(0.125)) band = 1;
    int number;
    if (band == 4) {
        number = lo == 2 ? 50 : lo == 1 ? 210 : 130;
    } else {
        static const int kColumn[3][3] = {{-1, 0, 1}, {2, -1, 3}, {4, 5, -1}};
        number = kHueBase[band][kColumn[hi][mid]];
    }
    if (max <= 0.2) number += 8;
    else if (max <= 0.4) number += 6;
    else if (max <= 0.6) number += 4;
    else if (max <= 0.85) number += 2;
    if (s > 0.2) number += 1;
    return number;
}
