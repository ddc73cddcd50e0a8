#pragma once
// Scene-wide values that are not objects of the scene: ambient light, fog and
// shadow planes; the seven producer cameras and the default camera; time mode,
// format, snapping and time markers. Each class is a handle over a private
// state so that its layout can grow without changing the class.

#include <memory>

#include "foundation/KColor.h"
#include "foundation/KError.h"
#include "foundation/KString.h"
#include "foundation/KTime.h"
#include "foundation/KVector4.h"

class KQovCamera;
class KQovNode;
class KQovNodeAttribute;
class KQovObjectManager;
class KQovScene;

struct KQovShadowPlane {
    bool enabled = true;
    KVector4 origin{0.0, 0.0, 0.0};
    KVector4 normal{0.0, 1.0, 0.0};
};

struct KQovTimeMarker {
    KString name;
    KTime time;     // "Time"
    int loop = 0;   // "Loop"
};

class KQovGlobalLightSettings {
public:
    enum : int { eIndexOutOfRange = 0 };

    KQovGlobalLightSettings();
    ~KQovGlobalLightSettings();
    KQovGlobalLightSettings(const KQovGlobalLightSettings&) = delete;
    KQovGlobalLightSettings& operator=(const KQovGlobalLightSettings&) = delete;

    void SetAmbientColor(const KColor& color);
    KColor GetAmbientColor() const;
    void SetFogEnable(bool enable);
    bool GetFogEnable() const;
    void SetFogColor(const KColor& color);
    KColor GetFogColor() const;
    void SetFogMode(int mode);
    int GetFogMode() const;
    void SetFogDensity(double density);
    double GetFogDensity() const;
    // Kept within [0, fog end].
    void SetFogStart(double start);
    double GetFogStart() const;
    // Never below the fog start.
    void SetFogEnd(double end);
    double GetFogEnd() const;
    void SetShadowEnable(bool enable);
    bool GetShadowEnable() const;
    // Kept within [0, 300].
    void SetShadowIntensity(double intensity);
    double GetShadowIntensity() const;
    int GetShadowPlaneCount() const;
    // Null and "Index out of range." outside 0..count-1.
    KQovShadowPlane* GetShadowPlane(int index);
    // Appends a copy; its index.
    int AddShadowPlane(const KQovShadowPlane& plane);
    void RemoveAllShadowPlanes();
    void Reset();
    KError& GetError();

private:
    struct State;
    std::unique_ptr<State> mState;
};

// How the producer cameras are made and set up; their class lives in a later
// layer, which installs these (without them there are no producer cameras).
struct KQovCameraHooks {
    KQovCamera* (*create)(KQovObjectManager* manager) = nullptr;
    // The camera as the node's attribute.
    void (*attach)(KQovNode* node, KQovCamera* camera) = nullptr;
    // Reset to defaults, focal length from a 40 degree field of view, then
    // the projection (0 perspective, 1 orthogonal), planes, position and up.
    void (*setUp)(KQovCamera* camera, int projection, double nearPlane, double farPlane,
                  const KVector4& position, const KVector4& up) = nullptr;
    void (*copy)(KQovCamera* to, const KQovCamera* from) = nullptr;
};

class KQovGlobalCameraSettings {
public:
    enum : int { eNullParameter = 0, eUnknownCameraName = 1 };
    enum EProducer : int { ePerspective, eTop, eBottom, eFront, eBack, eRight, eLeft, eProducerCount };

    static void SetCameraHooks(const KQovCameraHooks& hooks);
    static const KQovCameraHooks& GetCameraHooks();
    // "Producer Perspective" ... "Producer Left"; null outside the seven.
    static const char* GetProducerName(int producer);

    // Makes the seven cameras and their invisible nodes, then resets.
    KQovGlobalCameraSettings(KQovObjectManager* manager, KQovScene* scene);
    // Destroys the producer nodes (with their cameras) through the manager.
    ~KQovGlobalCameraSettings();
    KQovGlobalCameraSettings(const KQovGlobalCameraSettings&) = delete;
    KQovGlobalCameraSettings& operator=(const KQovGlobalCameraSettings&) = delete;

    KQovCamera* GetProducerCamera(int producer) const;
    KQovNode* GetProducerNode(int producer) const;
    // The producer camera as the attribute the scene owns (on its node or not); null when none.
    KQovNodeAttribute* GetProducerAttribute(int producer) const;
    KQovCamera* GetProducerPerspective() const { return GetProducerCamera(ePerspective); }
    KQovCamera* GetProducerTop() const { return GetProducerCamera(eTop); }
    KQovCamera* GetProducerBottom() const { return GetProducerCamera(eBottom); }
    KQovCamera* GetProducerFront() const { return GetProducerCamera(eFront); }
    KQovCamera* GetProducerBack() const { return GetProducerCamera(eBack); }
    KQovCamera* GetProducerRight() const { return GetProducerCamera(eRight); }
    KQovCamera* GetProducerLeft() const { return GetProducerCamera(eLeft); }

    // A producer name, "Camera Switcher" or a node under the scene's root.
    bool SetDefaultCamera(const char* name);
    const char* GetDefaultCamera() const;
    void SetDefaultViewingMode(int mode);
    int GetDefaultViewingMode() const;
    // The producer camera of that name takes the source's settings.
    void CopyProducerCamera(const KString& name, const KQovCamera* source);
    void Reset();
    KError& GetError();

private:
    struct State;
    std::unique_ptr<State> mState;
};

class KQovGlobalTimeSettings {
public:
    enum : int { eIndexOutOfRange = 0 };

    KQovGlobalTimeSettings();
    ~KQovGlobalTimeSettings();
    KQovGlobalTimeSettings(const KQovGlobalTimeSettings&) = delete;
    KQovGlobalTimeSettings& operator=(const KQovGlobalTimeSettings&) = delete;

    void SetTimeMode(int mode);
    // The default mode (0) reads as the global mode, else 6.
    int GetTimeMode() const;
    void SetTimeFormat(int format);
    // The default format (2) reads as the global protocol, else 1.
    int GetTimeFormat() const;
    void SetSnapOnFrames(int snap);
    int GetSnapOnFrames() const;
    int GetTimeMarkerCount() const;
    KQovTimeMarker* GetTimeMarker(int index);
    void AddTimeMarker(const KQovTimeMarker& marker);
    // Only the index of an existing marker.
    bool SetReferenceTimeIndex(int index);
    int GetReferenceTimeIndex() const;
    void Reset();
    KError& GetError();

private:
    struct State;
    std::unique_ptr<State> mState;
};
