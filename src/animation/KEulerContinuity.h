#pragma once
// Equivalent Euler triples: the angle or triple closest to a reference, so that rotation keys
// set one after another join without a jump. Triples are in degrees, indexed by axis.

// The angle a + 360 n nearest to ref (a fraction of exactly one half keeps n).
double ClosestAngle(double a, double ref);

// The equivalent of value closest to ref for the axis row (i, j, k): the plain form or the
// flipped form (i + 180, 180 - j, k + 180). True when the flipped form was taken.
bool ClosestEquivalent(double out[3], const double value[3], const double ref[3], const int row[3]);

// The axis row of an Euler order code 0-11; false (row untouched) for 12 and invalid codes.
bool KRotationOrderGetRow(int order, int row[3]);

// ClosestEquivalent with the order's row; the spheric order copies value and gives false.
bool KRotationOrderClosestEquivalent(int order, double out[3], const double value[3],
                                     const double ref[3]);
