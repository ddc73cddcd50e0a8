#pragma once
// The drawing colour numbers 1 to 255 and their red, green and blue values, both ways.

// Writes the colour of `number` into rgb; numbers outside 1..255 leave rgb unchanged.
void KDxfAciToRgb(int number, double rgb[3]);
// The colour number (1 to 255) that stands closest for a colour.
int KDxfRgbToAci(double r, double g, double b);
