#include <gtest/gtest.h>

#include "formats/geometry/dxf/KDxfPalette.h"

TEST(KDxfPalette, NumbersToColours) {
    struct Case {
        int number;
        double r, g, b;
    } cases[] = {{1, 1, 0, 0},       {8, 0.502, 0.502, 0.502}, {10, 1, 0, 0},
                 {11, 1, 0.5, 0.5},  {30, 1, 0.5, 0},          {52, 0.65, 0.65, 0},
                 {130, 0, 1, 1},     {210, 1, 0, 1},           {255, 1, 1, 1},
                 {250, 0.33, 0.33, 0.33}, {99, 0.075, 0.15, 0.075}};
    for (const Case& c : cases) {
        double rgb[3] = {-1, -1, -1};
        KDxfAciToRgb(c.number, rgb);
        EXPECT_NEAR(rgb[0], c.r, 1e-12) << c.number;
        EXPECT_NEAR(rgb[1], c.g, 1e-12) << c.number;
        EXPECT_NEAR(rgb[2], c.b, 1e-12) << c.number;
    }
    for (int outside : {0, 256, -1}) {
        double rgb[3] = {0.25, 0.5, 0.75};
        KDxfAciToRgb(outside, rgb);
        EXPECT_EQ(rgb[1], 0.5) << outside;
    }
}

TEST(KDxfPalette, ColoursToNumbers) {
    struct Case {
        double r, g, b;
        int number;
    } cases[] = {{1, 0.5, 0, 30},     {0.5, 0.5, 0.5, 251}, {0.9, 0.9, 0.9, 254},
                 {0, 0, 0, 250},      {0, 1, 1, 4},         {0.753, 0.753, 0.753, 9},
                 {0.1, 0.05, 0, 38},  {-1, -1, -1, 250}};
    for (const Case& c : cases) EXPECT_EQ(KDxfRgbToAci(c.r, c.g, c.b), c.number) << c.r << c.g << c.b;
}

// Every palette colour maps back to a number of the same colour (1 to 7 alias hues).
TEST(KDxfPalette, EveryColourComesBack) {
    for (int n = 1; n <= 255; ++n) {
        double rgb[3], back[3];
        KDxfAciToRgb(n, rgb);
        KDxfAciToRgb(KDxfRgbToAci(rgb[0], rgb[1], rgb[2]), back);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(back[i], rgb[i]) << n;
    }
}
