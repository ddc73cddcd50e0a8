#pragma once
// 3DS lights and cameras to and from scene lights and cameras, and the
// targets and roll written for lights and cameras that look at no node.

#include <string>

#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "formats/geometry/3ds/Settings3ds.h"

// Reading: light type (spot with a spotlight part), gobo and cone angle (the
// falloff, the outer cone).
void SetupLight3ds(const Light3ds& record, KQovLight& light);
// Reading, once the light has its node: intensity from the multiplier (1 as 100), and an
// off light casts no light on objects.
void SetupLightLevel3ds(const Light3ds& record, KQovLight& light);
// Reading: planes scaled by `scale` (the far plane ten times further), focal
// length from the field of view, and the background colour.
void SetupCamera3ds(const Camera3ds& record, KQovCamera& camera, double scale,
                    const Color3ds& background);

// Writing: position (file axes), colour, multiplier and off flag; a spot's hotspot.
void FillLight3ds(const KQovLight& light, const KVector4& translation, const std::string& name,
                  Light3ds& record);
void FillCamera3ds(const KVector4& translation, const std::string& name, Camera3ds& record);

// The horizontal field of view written for a camera field-of-view value. A still camera
// takes it by its aperture mode; a keyed value is the angle at that frame, horizontal
// already under modes 0 and 1 and turned from the vertical one otherwise.
double HorizontalFieldOfView3ds(const KQovCamera& camera, double degrees, bool keyed = false);
// A point 10 units along `axis` turned by the Euler rotation, from `translation`.
KVector4 TargetPoint3ds(const KVector4& translation, const KVector4& rotation,
                        const KVector4& axis);
// Roll of a camera turned by the Euler rotation: 90 less the angle between its
// turned Z axis and the scene's up axis, negative when Z leans to the left.
double DerivedRoll3ds(const KVector4& rotation);
