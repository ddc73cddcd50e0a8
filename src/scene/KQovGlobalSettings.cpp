#include "scene/KQovGlobalSettings.h"

#include <cstring>
#include <vector>

#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {
const char* const kIndexTable[] = {"Index out of range."};
const char* const kCameraTable[] = {"Null parameter.", "Unknown camera name."};
const char* const kProducerNames[] = {"Producer Perspective", "Producer Top",  "Producer Bottom",
                                      "Producer Front",       "Producer Back", "Producer Right",
                                      "Producer Left"};
const char kCameraSwitcherName[] = "Camera Switcher";
KQovCameraHooks gCameraHooks;
}  // namespace

// --- light ---------------------------------------------------------------

struct KQovGlobalLightSettings::State {
    KColor ambient{0.4, 0.4, 0.4, 0.0};
    bool fogEnable = false;
    KColor fogColor{1.0, 1.0, 1.0, 0.0};
    int fogMode = 0;
    double fogStart = 0.3;
    double fogEnd = 1000.0;
    double fogDensity = 0.002;
    bool useShadow = false;
    double shadowIntensity = 0.0;
    std::vector<KQovShadowPlane> planes;
    KError error{kIndexTable, 1};
};

KQovGlobalLightSettings::KQovGlobalLightSettings() : mState(new State) {}
KQovGlobalLightSettings::~KQovGlobalLightSettings() = default;

void KQovGlobalLightSettings::SetAmbientColor(const KColor& c) { mState->ambient = c; }
KColor KQovGlobalLightSettings::GetAmbientColor() const { return mState->ambient; }
void KQovGlobalLightSettings::SetFogEnable(bool e) { mState->fogEnable = e; }
bool KQovGlobalLightSettings::GetFogEnable() const { return mState->fogEnable; }
void KQovGlobalLightSettings::SetFogColor(const KColor& c) { mState->fogColor = c; }
KColor KQovGlobalLightSettings::GetFogColor() const { return mState->fogColor; }
void KQovGlobalLightSettings::SetFogMode(int m) { mState->fogMode = m; }
int KQovGlobalLightSettings::GetFogMode() const { return mState->fogMode; }
void KQovGlobalLightSettings::SetFogDensity(double d) { mState->fogDensity = d; }
double KQovGlobalLightSettings::GetFogDensity() const { return mState->fogDensity; }
double KQovGlobalLightSettings::GetFogStart() const { return mState->fogStart; }
double KQovGlobalLightSettings::GetFogEnd() const { return mState->fogEnd; }
void KQovGlobalLightSettings::SetShadowEnable(bool e) { mState->useShadow = e; }
bool KQovGlobalLightSettings::GetShadowEnable() const { return mState->useShadow; }
double KQovGlobalLightSettings::GetShadowIntensity() const { return mState->shadowIntensity; }
int KQovGlobalLightSettings::GetShadowPlaneCount() const { return int(mState->planes.size()); }
void KQovGlobalLightSettings::RemoveAllShadowPlanes() { mState->planes.clear(); }
KError& KQovGlobalLightSettings::GetError() { return mState->error; }

void KQovGlobalLightSettings::SetFogStart(double v) {
    mState->fogStart = v > mState->fogEnd ? mState->fogEnd : (v < 0.0 ? 0.0 : v);
}

void KQovGlobalLightSettings::SetFogEnd(double v) {
    mState->fogEnd = v < mState->fogStart ? mState->fogStart : v;
}

void KQovGlobalLightSettings::SetShadowIntensity(double v) {
    mState->shadowIntensity = v < 0.0 ? 0.0 : (v > 300.0 ? 300.0 : v);
}

KQovShadowPlane* KQovGlobalLightSettings::GetShadowPlane(int index) {
    if (index < 0 || index >= GetShadowPlaneCount()) {
        mState->error.SetError(eIndexOutOfRange);
        return nullptr;
    }
    return &mState->planes[size_t(index)];
}

int KQovGlobalLightSettings::AddShadowPlane(const KQovShadowPlane& plane) {
    mState->planes.push_back(plane);
    return GetShadowPlaneCount() - 1;
}

void KQovGlobalLightSettings::Reset() {
    State fresh;
    mState->ambient = fresh.ambient;
    mState->fogEnable = fresh.fogEnable;
    mState->fogColor = fresh.fogColor;
    mState->fogMode = fresh.fogMode;
    mState->fogStart = fresh.fogStart;
    mState->fogEnd = fresh.fogEnd;
    mState->fogDensity = fresh.fogDensity;
    mState->useShadow = fresh.useShadow;
    mState->shadowIntensity = fresh.shadowIntensity;
    mState->planes.clear();
}

// --- cameras ---------------------------------------------------------------

struct KQovGlobalCameraSettings::State {
    KQovObjectManager* manager = nullptr;
    KQovScene* scene = nullptr;
    KString defaultCamera;
    int viewingMode = 0;
    KQovCamera* cameras[eProducerCount] = {};
    KQovNode* nodes[eProducerCount] = {};
    KQovNodeAttribute* owned[eProducerCount] = {};  // the cameras as attributes
    KError error{kCameraTable, 2};
};

void KQovGlobalCameraSettings::SetCameraHooks(const KQovCameraHooks& hooks) { gCameraHooks = hooks; }
const KQovCameraHooks& KQovGlobalCameraSettings::GetCameraHooks() { return gCameraHooks; }

const char* KQovGlobalCameraSettings::GetProducerName(int producer) {
    return producer >= 0 && producer < eProducerCount ? kProducerNames[producer] : nullptr;
}

KQovGlobalCameraSettings::KQovGlobalCameraSettings(KQovObjectManager* manager, KQovScene* scene)
    : mState(new State) {
    mState->manager = manager;
    mState->scene = scene;
    if (manager && gCameraHooks.create && gCameraHooks.attach) {
        for (int i = 0; i < eProducerCount; ++i) mState->cameras[i] = gCameraHooks.create(manager);
        for (int i = 0; i < eProducerCount; ++i) {
            KQovNode* node = mState->cameras[i] ? manager->CreateNode(kProducerNames[i]) : nullptr;
            if (!node) continue;
            gCameraHooks.attach(node, mState->cameras[i]);
            node->SetVisibility(false);
            node->SetSceneOwned(true);
            // Kept here even off its node: its destroyers refuse it.
            mState->owned[i] = node->GetNodeAttribute();
            if (mState->owned[i]) mState->owned[i]->SetSceneOwned(true);
            mState->nodes[i] = node;
        }
    }
    Reset();
}

KQovGlobalCameraSettings::~KQovGlobalCameraSettings() {
    if (!mState->manager) return;
    for (KQovNodeAttribute* camera : mState->owned)
        if (camera) camera->SetSceneOwned(false);
    for (KQovNode* node : mState->nodes) {
        if (node) node->SetSceneOwned(false);
        KQovObjectManager::LetGoOfSceneOwnedBelow(node);
        if (node) mState->manager->DestroyNode(node, true);
    }
}

KQovCamera* KQovGlobalCameraSettings::GetProducerCamera(int producer) const {
    return producer >= 0 && producer < eProducerCount ? mState->cameras[producer] : nullptr;
}

KQovNodeAttribute* KQovGlobalCameraSettings::GetProducerAttribute(int producer) const {
    return producer >= 0 && producer < eProducerCount ? mState->owned[producer] : nullptr;
}

KQovNode* KQovGlobalCameraSettings::GetProducerNode(int producer) const {
    return producer >= 0 && producer < eProducerCount ? mState->nodes[producer] : nullptr;
}

bool KQovGlobalCameraSettings::SetDefaultCamera(const char* name) {
    if (!name) {
        mState->error.SetError(eNullParameter);
        return false;
    }
    bool known = std::strcmp(name, kCameraSwitcherName) == 0;
    for (const char* producer : kProducerNames) known = known || std::strcmp(name, producer) == 0;
    KQovNode* root = mState->scene ? mState->scene->GetRootNode() : nullptr;
    if (!known && !(root && root->FindChild(name, true))) {
        mState->error.SetError(eUnknownCameraName);
        return false;
    }
    mState->defaultCamera = name;
    return true;
}

const char* KQovGlobalCameraSettings::GetDefaultCamera() const { return mState->defaultCamera.Buffer(); }
void KQovGlobalCameraSettings::SetDefaultViewingMode(int mode) { mState->viewingMode = mode; }
int KQovGlobalCameraSettings::GetDefaultViewingMode() const { return mState->viewingMode; }
KError& KQovGlobalCameraSettings::GetError() { return mState->error; }

void KQovGlobalCameraSettings::CopyProducerCamera(const KString& name, const KQovCamera* source) {
    if (name.IsEmpty() || !source || !gCameraHooks.copy) return;
    for (int i = 0; i < eProducerCount; ++i)
        if (name == kProducerNames[i] && mState->cameras[i]) gCameraHooks.copy(mState->cameras[i], source);
}

void KQovGlobalCameraSettings::Reset() {
    struct Setup {
        int projection;
        double nearPlane, farPlane;
        KVector4 position, up;
    };
    static const Setup kSetups[eProducerCount] = {
        {0, 10.0, 4000.0, {0, 71.3, 287.5, 1}, {0, 1, 0, 1}},
        {1, 1.0, 30000.0, {0, 4000, 0, 1}, {0, 0, -1, 1}},
        {1, 1.0, 30000.0, {0, -4000, 0, 1}, {0, 0, -1, 1}},
        {1, 1.0, 30000.0, {0, 0, 4000, 1}, {0, 1, 0, 1}},
        {1, 1.0, 30000.0, {0, 0, -4000, 1}, {0, 1, 0, 1}},
        {1, 1.0, 30000.0, {4000, 0, 0, 1}, {0, 1, 0, 1}},
        {1, 1.0, 30000.0, {-4000, 0, 0, 1}, {0, 1, 0, 1}},
    };
    mState->defaultCamera = kProducerNames[ePerspective];
    mState->viewingMode = 0;
    if (!gCameraHooks.setUp) return;
    for (int i = 0; i < eProducerCount; ++i) {
        const Setup& s = kSetups[i];
        if (mState->cameras[i])
            gCameraHooks.setUp(mState->cameras[i], s.projection, s.nearPlane, s.farPlane, s.position, s.up);
    }
}

// --- time ------------------------------------------------------------------

struct KQovGlobalTimeSettings::State {
    int mode = KTime::eFRAMES30;
    int format = KTime::eFRAME_COUNT;
    int snap = 0;
    std::vector<KQovTimeMarker> markers;
    int referenceIndex = -1;
    KError error{kIndexTable, 1};
};

KQovGlobalTimeSettings::KQovGlobalTimeSettings() : mState(new State) {}
KQovGlobalTimeSettings::~KQovGlobalTimeSettings() = default;

void KQovGlobalTimeSettings::SetTimeMode(int mode) { mState->mode = mode; }
int KQovGlobalTimeSettings::GetTimeMode() const {
    if (mState->mode != KTime::eDEFAULT_MODE) return mState->mode;
    int global = KTime::GetGlobalTimeMode();
    return global != KTime::eDEFAULT_MODE ? global : KTime::eFRAMES30;
}
void KQovGlobalTimeSettings::SetTimeFormat(int format) { mState->format = format; }
int KQovGlobalTimeSettings::GetTimeFormat() const {
    if (mState->format != KTime::eDEFAULT_PROTOCOL) return mState->format;
    int global = KTime::GetGlobalTimeProtocol();
    return global != KTime::eDEFAULT_PROTOCOL ? global : KTime::eFRAME_COUNT;
}
void KQovGlobalTimeSettings::SetSnapOnFrames(int snap) { mState->snap = snap; }
int KQovGlobalTimeSettings::GetSnapOnFrames() const { return mState->snap; }
int KQovGlobalTimeSettings::GetTimeMarkerCount() const { return int(mState->markers.size()); }
void KQovGlobalTimeSettings::AddTimeMarker(const KQovTimeMarker& marker) { mState->markers.push_back(marker); }
int KQovGlobalTimeSettings::GetReferenceTimeIndex() const { return mState->referenceIndex; }
KError& KQovGlobalTimeSettings::GetError() { return mState->error; }

KQovTimeMarker* KQovGlobalTimeSettings::GetTimeMarker(int index) {
    if (index < 0 || index >= GetTimeMarkerCount()) {
        mState->error.SetError(eIndexOutOfRange);
        return nullptr;
    }
    return &mState->markers[size_t(index)];
}

bool KQovGlobalTimeSettings::SetReferenceTimeIndex(int index) {
    if (index < 0 || index >= GetTimeMarkerCount()) {
        mState->error.SetError(eIndexOutOfRange);
        return false;
    }
    mState->referenceIndex = index;
    return true;
}

void KQovGlobalTimeSettings::Reset() {
    mState->mode = KTime::eFRAMES30;
    mState->format = KTime::eFRAME_COUNT;
    mState->snap = 0;
    mState->markers.clear();
    mState->referenceIndex = -1;
}
