#pragma once
// What a caller sets in a writer's options before Export, taken from a scene that was just
// read (or built): the take to write, its time span and rate, and the nodes the marker
// writers write. Without it the motion writers write no frame and the marker writers no
// marker, since they take all of this from their options.

#include "foundation/KTime.h"

class KQovScene;
class KStreamOptions;

// The frames of the scene's current take as a writer samples them.
struct KQovWriteTiming {
    KTime start;
    int frameCount = 1;
    // A time mode (1 to 13), or 0 with a rate of its own (a file's 250 Hz).
    int timeMode = 0;
    double rate = 0.0;
};

// The current take's local time span (the animation of the root's tree when the take has no
// record; frame 0 alone when nothing is animated) at the rate of `readOptions` when those are
// the motion options the scene was read with, else at the scene's time mode; but when the
// take's keys lie on a regular grid whose step is no whole number of the mode's frames (a
// 250 Hz capture in a 30 fps scene), or two or more of them with some curve keyed at every
// step, three keys at least (a 10 Hz capture in a 30 fps scene), at the rate of that grid.
// Key frames shaped by their author (TCB keys, set tangents) take no grid's rate coarser than
// the mode's frames: the motion between them is the scene's, sampled at its time mode.
// The frame count counts both ends: a span of 0 to 299 frames is 300 frames.
KQovWriteTiming KQovGetWriteTiming(KQovScene& scene, const KStreamOptions* readOptions = nullptr);

// The start of the span that KQovGetWriteTiming gives: where a still pose of the scene stands.
KTime KQovGetTakeStart(KQovScene& scene);

// Fills `options`, made by the writer's GetWriteOptions, from `scene`:
// - motion options: the start time, frame count and rate of KQovGetWriteTiming, and every
//   node with a marker attribute marked (the marker writers write the marked nodes);
// - 3DS options: the current take's name (the writer writes that take's span as the file's
//   key-frame length and segment);
// - other options keep their values (the QOV writers take the take list from the scene).
// When `readOptions` are motion options with a time mode, that mode becomes the scene's, so
// that a file written from the scene (QOV) keeps the rate it was read at. Returns the number
// of marker nodes (0 for other than motion options).
int KQovFillWriteOptions(KQovScene& scene, KStreamOptions& options,
                         const KStreamOptions* readOptions = nullptr);
