#pragma once
// RGBA colour whose setters clamp every component to [0, 1].

class KColor {
public:
    KColor() : mRed(1.0), mGreen(1.0), mBlue(1.0), mAlpha(1.0) {}
    KColor(double red, double green, double blue, double alpha = 1.0) {
        Set(red, green, blue, alpha);
    }
    KColor(const KColor& color) = default;

    void Set(double red, double green, double blue, double alpha = 1.0);
    KColor& operator=(const KColor& color);
    // Exact comparison of all four components.
    bool operator!=(const KColor& color) const;

    double mRed;
    double mGreen;
    double mBlue;
    double mAlpha;
};
