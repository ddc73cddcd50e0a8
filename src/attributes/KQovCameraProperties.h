#pragma once
// Every setting of a camera as a named, typed property: the keys of the
// camera's property block and, for the twelve animatable ones, of its
// channels. Values are the camera's to set (its reset gives the defaults).

#include "attributes/KQovAttributeCommon.h"

class KQovCameraProperties : public KQovAttributeProperties {
    KQOV_CLASS(KQovCameraProperties)
public:
    // Rows, in creation (and property-list) order.
    enum : int {
        eRoll,
        eFieldOfView,
        eFieldOfViewX,
        eFieldOfViewY,
        eOpticalCenterX,
        eOpticalCenterY,
        eBackgroundColor,
        eTurnTable,
        eDisplayTurnTableIcon,
        eMotionBlurIntensity,
        eUseMotionBlur,
        eUseRealTimeMotionBlur,
        eFocalLength,
        eResolutionMode,
        eApertureMode,
        eCameraFormat,
        eAspectW,
        eAspectH,
        ePixelAspectRatio,
        eUseFrameColor,
        eFrameColor,
        eShowName,
        eShowGrid,
        eShowOpticalCenter,
        eShowAzimut,
        eShowTimeCode,
        eNearPlane,
        eFarPlane,
        eFilmWidth,
        eFilmHeight,
        eFilmAspectRatio,
        eFilmSqueezeRatio,
        eFilmFormatIndex,
        eViewFrustum,
        eViewFrustumNearFarPlane,
        eViewFrustumBackPlaneMode,
        eBackPlaneDistance,
        eBackPlaneDistanceMode,
        eViewCameraToLookAt,
        eLockMode,
        eLockInterestNavigation,
        eFitImage,
        eCrop,
        eCenter,
        eKeepRatio,
        eBackgroundMode,
        eBackgroundAlphaTreshold,
        eForegroundTransparent,
        eDisplaySafeArea,
        eSafeAreaDisplayStyle,
        eSafeAreaAspectRatio,
        eUse2DMagnifierZoom,
        e2DMagnifierZoom,
        e2DMagnifierX,
        e2DMagnifierY,
        eCameraProjectionType,
        eUseRealTimeDOFAndAA,
        eUseDepthOfField,
        eFocusSource,
        eFocusAngle,
        eFocusDistance,
        eUseAntialiasing,
        eAntialiasingIntensity,
        eUseAccumulationBuffer,
        eFrameSamplingCount,
        eRowCount
    };

    KQovCameraProperties();
    ~KQovCameraProperties() override;

    static const KQovPropertyDescriptor* GetDescriptors();

    // The first component of a row. Embedded rows are read and written without
    // events; the animatable rows through their value operation.
    double Get(int row) const;
    void Set(int row, double value);
    // Three components (colour rows); `rgb` holds three doubles.
    void GetColor(int row, double* rgb) const;
    void SetColor(int row, double r, double g, double b);
    // Puts every embedded row back to its default, except
    // "LockInterestNavigation", which keeps what it holds.
    void ResetEmbedded();
};
