#pragma once
// The camera attribute of a node: optics (focal length, film back, fields of
// view, clipping planes), output format, viewer, background and render
// options, and the animated channels. Most settings live in the camera's
// property set; the position is the node's "Lcl Translation".
//
// Units: focal length in millimetres, film back in inches, angles in degrees.

#include <cstdint>

#include "attributes/KQovAttributeCommon.h"
#include "attributes/KQovCameraProperties.h"
#include "foundation/KColor.h"
#include "foundation/KString.h"
#include "foundation/KVector4.h"

class KQovObject;

class KQovCamera : public KQovPropertySetAttribute {
    using P = KQovCameraProperties;

public:
    explicit KQovCamera(KQovObjectManager* manager);
    ~KQovCamera() override { KQovLeaveNode(this); }

    int GetAttributeType() const override { return eCamera; }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;
    void RemoveTakeNodeChannels(KQovTakeNode* takeNode) override;
    KString GetTypeName() const override { return KString("Camera"); }
    KStringList GetTypeNames() const override { return KQovTypeNames({"Camera"}); }

    KQovCameraProperties* GetCameraProperties() const {
        return static_cast<KQovCameraProperties*>(GetPropertySet());
    }
    // Every default of the camera and its property set.
    void Reset();
    // The settings a producer camera takes from another camera (see the source
    // for what is left as it is).
    void CopyFrom(const KQovCamera& other);

    // Optics.
    // The full angle of the lens over the film's width (with squeeze) or, in
    // aperture mode 2, its height.
    double ComputeFieldOfViewFromFocalLength(double filmWidth, double filmHeight,
                                             double focalLength) const;
    // From the film back and focal length, within [1, 179].
    double ComputeFieldOfView() const;
    // The angle is taken within [1, 179].
    void SetFocalLengthFromFieldOfView(double degrees);
    // Within [0.001, 600000]; the other plane is dragged along when they cross.
    void SetNearPlane(double value);
    void SetFarPlane(double value);
    double GetNearPlane() const { return Get(P::eNearPlane); }
    double GetFarPlane() const { return Get(P::eFarPlane); }
    // A changed value (at least 0.0001) makes the film format "Custom".
    void SetFilmWidth(double value) { SetFilm(P::eFilmWidth, value); }
    void SetFilmHeight(double value) { SetFilm(P::eFilmHeight, value); }
    void SetFilmSqueezeRatio(double value) { SetFilm(P::eFilmSqueezeRatio, value); }
    double GetFilmWidth() const { return Get(P::eFilmWidth); }
    double GetFilmHeight() const { return Get(P::eFilmHeight); }
    double GetFilmSqueezeRatio() const { return Get(P::eFilmSqueezeRatio); }
    // 1 to 11 set the film back of that format; anything else only makes it "Custom".
    void SetFilmFormat(int index);
    int GetFilmFormatIndex() const { return GetInt(P::eFilmFormatIndex); }
    double GetFocalLength() const { return Get(P::eFocalLength); }
    void SetFocalLength(double value) { Set(P::eFocalLength, value); }
    int GetApertureMode() const { return GetInt(P::eApertureMode); }
    void SetApertureMode(int value) { Set(P::eApertureMode, value); }

    // Output size.
    void SetResolution(int mode, double width, double height);
    int GetResolutionMode() const { return GetInt(P::eResolutionMode); }
    double GetAspectWidth() const { return Get(P::eAspectW); }
    double GetAspectHeight() const { return Get(P::eAspectH); }
    // Within [0.05, 20]; a changed value makes the camera format "Custom".
    void SetPixelAspectRatio(double value);
    double GetPixelAspectRatio() const { return Get(P::ePixelAspectRatio); }
    // A known format sets its pixel size and ratio, kept in the current
    // resolution mode; anything else only makes the format "Custom".
    void SetCameraFormat(int format);
    int GetCameraFormat() const { return GetInt(P::eCameraFormat); }

    // Plain settings.
    int GetProjectionType() const { return GetInt(P::eCameraProjectionType); }
    void SetProjectionType(int value) { Set(P::eCameraProjectionType, value); }
    bool GetLockMode() const { return GetBool(P::eLockMode); }
    void SetLockMode(bool value) { Set(P::eLockMode, value); }
    int GetViewFrustumBackPlaneMode() const { return GetInt(P::eViewFrustumBackPlaneMode); }
    void SetViewFrustumBackPlaneMode(int value) { Set(P::eViewFrustumBackPlaneMode, value); }
    int GetBackgroundMode() const { return GetInt(P::eBackgroundMode); }
    void SetBackgroundMode(int value) { Set(P::eBackgroundMode, value); }
    bool GetForegroundTransparent() const { return GetBool(P::eForegroundTransparent); }
    void SetForegroundTransparent(bool value) { Set(P::eForegroundTransparent, value); }
    double GetBackgroundAlphaTreshold() const { return Get(P::eBackgroundAlphaTreshold); }
    void SetBackgroundAlphaTreshold(double value) { Set(P::eBackgroundAlphaTreshold, value); }
    double GetBackPlaneDistance() const { return Get(P::eBackPlaneDistance); }
    void SetBackPlaneDistance(double value) { Set(P::eBackPlaneDistance, value); }
    int GetBackPlaneDistanceMode() const { return GetInt(P::eBackPlaneDistanceMode); }
    void SetBackPlaneDistanceMode(int value) { Set(P::eBackPlaneDistanceMode, value); }
    bool GetViewCameraToLookAt() const { return GetBool(P::eViewCameraToLookAt); }
    void SetViewCameraToLookAt(bool value) { Set(P::eViewCameraToLookAt, value); }
    bool GetViewFrustumNearFarPlane() const { return GetBool(P::eViewFrustumNearFarPlane); }
    void SetViewFrustumNearFarPlane(bool value) { Set(P::eViewFrustumNearFarPlane, value); }
    bool GetShowGrid() const { return GetBool(P::eShowGrid); }
    void SetShowGrid(bool value) { Set(P::eShowGrid, value); }
    bool GetShowAzimut() const { return GetBool(P::eShowAzimut); }
    void SetShowAzimut(bool value) { Set(P::eShowAzimut, value); }
    bool GetShowName() const { return GetBool(P::eShowName); }
    void SetShowName(bool value) { Set(P::eShowName, value); }
    bool GetShowTimeCode() const { return GetBool(P::eShowTimeCode); }
    void SetShowTimeCode(bool value) { Set(P::eShowTimeCode, value); }
    bool GetDisplaySafeArea() const { return GetBool(P::eDisplaySafeArea); }
    void SetDisplaySafeArea(bool value) { Set(P::eDisplaySafeArea, value); }
    int GetSafeAreaDisplayStyle() const { return GetInt(P::eSafeAreaDisplayStyle); }
    void SetSafeAreaDisplayStyle(int value) { Set(P::eSafeAreaDisplayStyle, value); }
    bool GetUseFrameColor() const { return GetBool(P::eUseFrameColor); }
    void SetUseFrameColor(bool value) { Set(P::eUseFrameColor, value); }
    KColor GetFrameColor() const { return GetColor(P::eFrameColor); }
    void SetFrameColor(const KColor& c) {
        GetCameraProperties()->SetColor(P::eFrameColor, c.mRed, c.mGreen, c.mBlue);
    }
    bool GetUseAntialiasing() const { return GetBool(P::eUseAntialiasing); }
    void SetUseAntialiasing(bool value) { Set(P::eUseAntialiasing, value); }
    double GetAntialiasingIntensity() const { return Get(P::eAntialiasingIntensity); }
    void SetAntialiasingIntensity(double value) { Set(P::eAntialiasingIntensity, value); }
    int GetFrameSamplingCount() const { return GetInt(P::eFrameSamplingCount); }
    void SetFrameSamplingCount(int value) { Set(P::eFrameSamplingCount, value); }
    bool GetUseAccumulationBuffer() const { return GetBool(P::eUseAccumulationBuffer); }
    void SetUseAccumulationBuffer(bool value) { Set(P::eUseAccumulationBuffer, value); }
    bool GetUseDepthOfField() const { return GetBool(P::eUseDepthOfField); }
    void SetUseDepthOfField(bool value) { Set(P::eUseDepthOfField, value); }
    int GetFocusSource() const { return GetInt(P::eFocusSource); }
    void SetFocusSource(int value) { Set(P::eFocusSource, value); }
    double GetFocusDistance() const { return Get(P::eFocusDistance); }
    void SetFocusDistance(double value) { Set(P::eFocusDistance, value); }
    double GetFocusAngle() const { return Get(P::eFocusAngle); }
    void SetFocusAngle(double value) { Set(P::eFocusAngle, value); }

    // Packed options. Placement bits: 1 "FitImage", 2 "Center", 4 "KeepRatio", 8 "Crop".
    void SetBackgroundPlacementOptions(int mask);
    int GetBackgroundPlacementOptions() const;
    // 0 turns real-time depth of field and antialiasing on, 1 off; other values do nothing.
    void SetUseOverSamplingTime(int value);
    int GetUseOverSamplingTime() const { return GetBool(P::eUseRealTimeDOFAndAA) ? 0 : 1; }

    // Animated values: the property and, on a node, the curve of the same
    // channel in its "Default" take. The getters read the curve when there is
    // one and the property otherwise.
    double GetDefaultFieldOfView() const { return GetDefault(P::eFieldOfView); }
    double GetDefaultFieldOfViewX() const { return GetDefault(P::eFieldOfViewX); }
    double GetDefaultFieldOfViewY() const { return GetDefault(P::eFieldOfViewY); }
    double GetDefaultOpticalCenterX() const { return GetDefault(P::eOpticalCenterX); }
    double GetDefaultOpticalCenterY() const { return GetDefault(P::eOpticalCenterY); }
    double GetDefaultRoll() const { return Get(P::eRoll); }
    double GetDefaultTurnTable() const { return Get(P::eTurnTable); }
    void SetDefaultFieldOfView(double value) { SetDefault(P::eFieldOfView, value); }
    void SetDefaultFieldOfViewX(double value) { SetDefault(P::eFieldOfViewX, value); }
    void SetDefaultFieldOfViewY(double value) { SetDefault(P::eFieldOfViewY, value); }
    void SetDefaultOpticalCenterX(double value) { SetDefault(P::eOpticalCenterX, value); }
    void SetDefaultOpticalCenterY(double value) { SetDefault(P::eOpticalCenterY, value); }
    void SetDefaultRoll(double value) { SetDefault(P::eRoll, value); }
    void SetDefaultTurnTable(double value) { SetDefault(P::eTurnTable, value); }
    // Alpha 1.
    KColor GetDefaultBackgroundColor() const;
    KColor GetBackgroundColor() const { return GetColor(P::eBackgroundColor); }
    void SetDefaultBackgroundColor(double r, double g, double b);
    void SetBackgroundColor(double r, double g, double b) { SetDefaultBackgroundColor(r, g, b); }

    // The camera's own fields. Without a node the position is not kept and reads as zero.
    void SetPosition(const KVector4& position);
    KVector4 GetPosition() const;
    void SetUpVector(const KVector4& v) { mUpVector = v; }
    KVector4 GetUpVector() const { return mUpVector; }
    void SetLookAt(const KVector4& v) { mLookAt = v; }
    KVector4 GetLookAt() const { return mLookAt; }
    // The getters give null for an empty name.
    void SetBackgroundMediaName(const char* name) { mBackgroundMediaName = name ? name : ""; }
    const char* GetBackgroundMediaName() const { return NullIfEmpty(mBackgroundMediaName); }
    void SetBackgroundTextureName(const char* name) { mBackgroundTextureName = name ? name : ""; }
    const char* GetBackgroundTextureName() const { return NullIfEmpty(mBackgroundTextureName); }
    void SetShowInfoOnMoving(bool value) { mShowInfoOnMoving = value; }
    bool GetShowInfoOnMoving() const { return mShowInfoOnMoving != 0; }
    void SetDisplaySafeAreaOnRender(bool value) { mDisplaySafeAreaOnRender = value; }
    bool GetDisplaySafeAreaOnRender() const { return mDisplaySafeAreaOnRender != 0; }
    void SetShowAudio(bool value) { mShowAudio = value; }
    bool GetShowAudio() const { return mShowAudio != 0; }
    void SetAudioColor(const KColor& color) { mAudioColor = color; }
    KColor GetAudioColor() const { return mAudioColor; }
    void SetAntialiasingMethod(int value) { mAntialiasingMethod = value; }
    int GetAntialiasingMethod() const { return mAntialiasingMethod; }
    void SetFrameSamplingType(int value) { mFrameSamplingType = value; }
    int GetFrameSamplingType() const { return mFrameSamplingType; }

    // Makes the texture's property set a source of the node's (once), so the
    // texture serves as the background.
    void ConnectBackgroundTexture(KQovObject* texture);

private:
    double Get(int row) const { return GetCameraProperties()->Get(row); }
    int GetInt(int row) const { return int(Get(row)); }
    bool GetBool(int row) const { return Get(row) != 0.0; }
    void Set(int row, double value) { GetCameraProperties()->Set(row, value); }
    KColor GetColor(int row) const;
    void SetFilm(int row, double value);
    void UpdateFilmAspectRatio();
    double GetDefault(int row) const;
    void SetDefault(int row, double value);
    static const char* NullIfEmpty(const KString& s) { return s.IsEmpty() ? nullptr : s.Buffer(); }

    KVector4 mUpVector{0.0, 1.0, 0.0, 1.0};
    KVector4 mLookAt{0.0, 0.0, 0.0, 1.0};
    KString mBackgroundMediaName;
    KString mBackgroundTextureName;
    uint8_t mShowInfoOnMoving = 1;
    uint8_t mDisplaySafeAreaOnRender = 0;
    uint8_t mShowAudio = 0;
    KColor mAudioColor{0.0, 1.0, 0.0, 1.0};
    int32_t mAntialiasingMethod = 0;
    int32_t mFrameSamplingType = 1;
};
