#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <set>
#include <string>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "common/RefusingHeap.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"

namespace {

using P = KQovCameraProperties;

const char* const kChannels[] = {"FieldOfView",    "FieldOfViewX",           "FieldOfViewY",
                                 "OpticalCenterX", "OpticalCenterY",         "Roll",
                                 "TurnTable",      "BackgroundColor (Color)"};

double Degrees(double radians) {
    return radians * 180.0 / 3.14159265358979323846;
}

TEST(KQovCamera, FocalLengthFromFieldOfViewRoundTrips) {
    struct Case {
        int apertureMode;
        double squeeze;
        double angle;
        double expected;  // the clamped angle
    };
    const Case cases[] = {{1, 1.0, 10.0, 10.0}, {1, 1.0, 90.0, 90.0},   {1, 2.0, 45.0, 45.0},
                          {2, 1.0, 25.0, 25.0}, {2, 2.0, 170.0, 170.0}, {0, 2.0, 60.0, 60.0},
                          {1, 1.0, 0.0, 1.0},   {2, 1.0, 200.0, 179.0}, {1, 2.0, NAN, 1.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        KQovCamera camera(nullptr);
        camera.SetApertureMode(c.apertureMode);
        camera.SetFilmSqueezeRatio(c.squeeze);
        camera.SetFocalLengthFromFieldOfView(c.angle);
        EXPECT_NEAR(camera.ComputeFieldOfView(), c.expected, 1e-9);
    }
    // The reset lens over the reset film back, vertically; neither the
    // property nor the channels take part.
    KQovCamera camera(nullptr);
    EXPECT_NEAR(camera.ComputeFieldOfView(), 2.0 * Degrees(std::atan(0.612 * 25.4 / 35.0 / 2.0)),
                1e-12);
    camera.SetFocalLength(0.0);
    EXPECT_EQ(camera.ComputeFieldOfView(), 179.0);
}

TEST(KQovCamera, ClippingPlanesClampAndDragEachOther) {
    struct Step {
        bool nearPlane;
        double value, expectedNear, expectedFar;
    };
    const Step steps[] = {{true, 5000.0, 5000.0, 5000.0},  {false, 0.0, 0.001, 0.001},
                          {true, 1e9, 600000.0, 600000.0}, {false, 20.0, 20.0, 20.0},
                          {true, -1.0, 0.001, 20.0},       {false, NAN, 0.001, 0.001}};
    KQovCamera camera(nullptr);
    for (const Step& s : steps) {
        s.nearPlane ? camera.SetNearPlane(s.value) : camera.SetFarPlane(s.value);
        EXPECT_EQ(camera.GetNearPlane(), s.expectedNear) << s.value;
        EXPECT_EQ(camera.GetFarPlane(), s.expectedFar) << s.value;
    }
}

TEST(KQovCamera, FilmBack) {
    const double formats[][3] = {{0.404, 0.295, 1.0}, {0.493, 0.292, 1.0}, {0.864, 0.630, 1.0},
                                 {0.816, 0.612, 1.0}, {0.980, 0.735, 1.0}, {0.825, 0.446, 1.0},
                                 {0.864, 0.732, 2.0}, {2.066, 0.906, 1.0}, {1.485, 0.991, 1.0},
                                 {2.080, 1.480, 1.0}, {2.772, 2.072, 1.0}};
    KQovCamera camera(nullptr);
    KProperty* ratio = camera.GetCameraProperties()->GetProperty(P::eFilmAspectRatio);
    for (int index = 1; index <= 11; ++index) {
        camera.SetFilmFormat(index);
        const double* f = formats[index - 1];
        EXPECT_EQ(camera.GetFilmFormatIndex(), index);
        EXPECT_EQ(camera.GetFilmWidth(), f[0]);
        EXPECT_EQ(camera.GetFilmHeight(), f[1]);
        EXPECT_EQ(camera.GetFilmSqueezeRatio(), f[2]);
        EXPECT_DOUBLE_EQ(ratio->GetDouble(), f[0] / f[1]);
    }
    camera.SetFilmFormat(12);
    EXPECT_EQ(camera.GetFilmFormatIndex(), 0);
    EXPECT_EQ(camera.GetFilmWidth(), 2.772);

    camera.SetFilmFormat(4);
    camera.SetFilmWidth(0.816);  // unchanged: the format stays
    EXPECT_EQ(camera.GetFilmFormatIndex(), 4);
    camera.SetFilmHeight(0.00001);
    EXPECT_EQ(camera.GetFilmFormatIndex(), 0);
    EXPECT_EQ(camera.GetFilmHeight(), 0.0001);
    EXPECT_DOUBLE_EQ(ratio->GetDouble(), 0.816 / 0.0001);
    camera.GetCameraProperties()->Set(P::eFilmHeight, 0.0);  // as a property block may leave it
    camera.SetFilmWidth(1.0);
    EXPECT_DOUBLE_EQ(ratio->GetDouble(), 0.816 / 0.0001);
}

TEST(KQovCamera, OutputSizeAndCameraFormats) {
    struct Resolution {
        int mode;
        double width, height, expectedW, expectedH;
    };
    const Resolution resolutions[] = {{0, 7.0, 9.0, 7.0, 9.0},
                                      {1, 0.0, 5.0, 0.001, 1.0},
                                      {2, 0.5, 0.0, 1.0, 1.0},
                                      {3, 0.0, 0.0, 1.0, 0.001},
                                      {4, 0.0, 0.0, 0.001, 1.0}};
    for (const Resolution& r : resolutions) {
        KQovCamera camera(nullptr);
        camera.SetCameraFormat(2);
        camera.SetResolution(r.mode, r.width, r.height);
        EXPECT_EQ(camera.GetAspectWidth(), r.expectedW) << r.mode;
        EXPECT_EQ(camera.GetAspectHeight(), r.expectedH) << r.mode;
        EXPECT_EQ(camera.GetResolutionMode(), r.mode);
        EXPECT_EQ(camera.GetCameraFormat(), 0);
    }

    const double hd = 0.9999999999562499;
    struct Format {
        int oldMode, format;
        double w, h;
        int mode, cameraFormat;
    };
    const Format formats[] = {
        {0, 5, 1920.0, 1080.0, 2, 5},
        {2, 5, 1920.0, 1080.0, 2, 5},
        {1, 5, 1920.0 * hd / 1080.0, 1.0, 1, 5},
        {3, 5, 1920.0, 1080.0 / 1920.0, 3, 5},
        {4, 5, 1920.0 / 1080.0, 1080.0, 4, 5},
        {0, 9, 320.0, 200.0, 0, 0},
        {0, 11, 320.0, 200.0, 0, 0},
    };
    for (const Format& f : formats) {
        SCOPED_TRACE(testing::Message() << f.oldMode << " " << f.format);
        KQovCamera camera(nullptr);
        camera.SetResolution(f.oldMode, 320.0, 200.0);
        camera.SetCameraFormat(f.format);
        EXPECT_DOUBLE_EQ(camera.GetAspectWidth(), f.w);
        EXPECT_DOUBLE_EQ(camera.GetAspectHeight(), f.h);
        EXPECT_EQ(camera.GetResolutionMode(), f.mode);
        EXPECT_EQ(camera.GetCameraFormat(), f.cameraFormat);
    }

    KQovCamera camera(nullptr);
    camera.SetCameraFormat(3);
    EXPECT_EQ(camera.GetPixelAspectRatio(), 1.1368421052347366);
    camera.SetPixelAspectRatio(100.0);
    EXPECT_EQ(camera.GetPixelAspectRatio(), 20.0);
    EXPECT_EQ(camera.GetCameraFormat(), 0);
    camera.SetPixelAspectRatio(0.0);
    EXPECT_EQ(camera.GetPixelAspectRatio(), 0.05);
}

// The camera's channels in a take, with whether each curve is where it belongs.
std::set<std::string> CameraChannels(KQovTakeNode* take) {
    std::set<std::string> found;
    for (const char* name : kChannels) {
        const int at = take->GetRoot()->FindIndexByName(name);
        if (at < 0) continue;
        KFCurveNode* channel = take->GetRoot()->Get(at);
        const bool scalar = std::string(name) != "BackgroundColor (Color)";
        const bool shaped = scalar ? channel->GetCurve() != nullptr
                                   : !channel->GetCurve() && channel->GetCount() == 3 &&
                                         channel->Find("Z") && channel->Find("Z")->GetCurve();
        if (shaped) found.insert(name);
    }
    return found;
}

TEST(KQovCamera, ChannelsInEveryTakeLinkedOnlyInDefault) {
    KQovNode node(nullptr, "Model::Camera");
    KQovTakeNode* take = node.AddTakeNode("Take 001");
    const int links = node.GetPropertyLinkCount();
    KQovCamera camera(nullptr);
    EXPECT_EQ(camera.GetDefaultFieldOfView(), 40.0);
    camera.SetBackgroundColor(0.2, 0.4, 0.6);
    node.SetNodeAttribute(&camera);
    EXPECT_EQ(node.GetCamera(), &camera);

    const std::set<std::string> all(std::begin(kChannels), std::end(kChannels));
    KQovTakeNode* defaults = node.GetDefaultTakeNode();
    EXPECT_EQ(CameraChannels(defaults), all);
    EXPECT_EQ(CameraChannels(take), all);
    EXPECT_EQ(node.GetPropertyLinkCount(), links + 10);
    for (const char* unchannelled :
         {"Motion Blur Intensity", "2D Magnifier Zoom", "2D Magnifier X"})
        EXPECT_LT(defaults->GetRoot()->FindIndexByName(unchannelled), 0);

    // Linking in "Default" lets the channel defaults reach the properties.
    EXPECT_EQ(camera.GetDefaultFieldOfView(), double(25.115f));
    EXPECT_EQ(camera.GetCameraProperties()->Get(P::eFieldOfView), double(25.115f));
    EXPECT_EQ(camera.GetCameraProperties()->Get(P::eFieldOfViewX), 40.0);
    EXPECT_EQ(take->GetFieldOfView()->GetValue(), 25.115f);
    // The background curves take the colour the camera had, in every take.
    for (KQovTakeNode* t : {defaults, take}) {
        EXPECT_EQ(t->GetBackgroundColorR()->GetValue(), 0.2f);
        EXPECT_EQ(t->GetBackgroundColorB()->GetValue(), 0.6f);
    }
    EXPECT_EQ(camera.GetBackgroundColor().mGreen, double(0.4f));

    take->GetRoll()->SetValue(7.0f);
    EXPECT_EQ(camera.GetDefaultRoll(), 0.0);
    defaults->GetRoll()->SetValue(5.0f);
    EXPECT_EQ(camera.GetDefaultRoll(), 5.0);

    // A setter keeps the property exact and the curve in step.
    camera.SetDefaultFieldOfView(40.1);
    EXPECT_EQ(camera.GetCameraProperties()->Get(P::eFieldOfView), 40.1);
    EXPECT_EQ(camera.GetDefaultFieldOfView(), double(40.1f));
    camera.SetDefaultBackgroundColor(1.0, 0.0, 0.5);
    EXPECT_EQ(defaults->GetBackgroundColorB()->GetValue(), 0.5f);
    EXPECT_EQ(take->GetBackgroundColorB()->GetValue(), 0.6f);

    node.SetNodeAttribute(nullptr);
    EXPECT_TRUE(CameraChannels(defaults).empty());
    EXPECT_TRUE(CameraChannels(take).empty());
    EXPECT_EQ(node.GetPropertyLinkCount(), links);
}

TEST(KQovCamera, DefaultGettersFallBackToTheProperty) {
    KQovNode node(nullptr, "Model::Camera");
    KQovCamera camera(nullptr);
    node.SetNodeAttribute(&camera);
    camera.SetDefaultOpticalCenterX(3.0);
    camera.SetDefaultBackgroundColor(0.25, 0.5, 0.75);
    KFCurveNode* root = node.GetDefaultTakeNode()->GetRoot();
    root->DeleteChild(root->Find("OpticalCenterX"));
    root->Find("BackgroundColor (Color)")->DeleteChild(root->Find("BackgroundColor (Color)/Y"));
    camera.GetCameraProperties()->Set(P::eOpticalCenterX, 4.0);
    camera.GetCameraProperties()->SetColor(P::eBackgroundColor, 0.1, 0.2, 0.3);
    EXPECT_EQ(camera.GetDefaultOpticalCenterX(), 4.0);
    const KColor color = camera.GetDefaultBackgroundColor();
    EXPECT_EQ(color.mRed, 0.25f);          // still a curve
    EXPECT_EQ(color.mGreen, 0.2);          // the property
    camera.SetDefaultOpticalCenterX(6.0);  // no curve to write: the property alone
    EXPECT_EQ(camera.GetDefaultOpticalCenterX(), 6.0);
}

TEST(KQovCamera, DestroyedWhileAttachedLeavesTheNodeClean) {
    KQovNode node(nullptr, "Model::Camera");
    const int links = node.GetPropertyLinkCount();
    auto* camera = new KQovCamera(nullptr);
    node.SetNodeAttribute(camera);
    delete camera;
    EXPECT_EQ(node.GetNodeAttribute(), nullptr);
    EXPECT_TRUE(CameraChannels(node.GetDefaultTakeNode()).empty());
    EXPECT_EQ(node.GetPropertyLinkCount(), links);
}

TEST(KQovCamera, CopyFromTakesTheNamedValuesOnly) {
    const std::set<std::string> copied = {"CameraProjectionType",
                                          "CameraFormat",
                                          "ResolutionMode",
                                          "AspectW",
                                          "AspectH",
                                          "PixelAspectRatio",
                                          "NearPlane",
                                          "FarPlane",
                                          "LockMode",
                                          "FilmFormatIndex",
                                          "ApertureMode",
                                          "FilmWidth",
                                          "FilmHeight",
                                          "FilmSqueezeRatio",
                                          "FocalLength",
                                          "ViewFrustumBackPlaneMode",
                                          "BackgroundMode",
                                          "ForegroundTransparent",
                                          "BackgroundAlphaTreshold",
                                          "FitImage",
                                          "Center",
                                          "KeepRatio",
                                          "Crop",
                                          "BackPlaneDistance",
                                          "BackPlaneDistanceMode",
                                          "ViewFrustum",
                                          "ViewFrustumNearFarPlane",
                                          "ShowGrid",
                                          "ShowAzimut",
                                          "ShowName",
                                          "ShowTimeCode",
                                          "DisplaySafeArea",
                                          "SafeAreaDisplayStyle",
                                          "UseFrameColor",
                                          "FrameColor",
                                          "UseRealTimeDOFAndAA",
                                          "UseAntialiasing",
                                          "AntialiasingIntensity",
                                          "FrameSamplingCount",
                                          "UseAccumulationBuffer",
                                          "UseDepthOfField",
                                          "FocusSource",
                                          "FocusDistance",
                                          "FocusAngle"};
    ASSERT_EQ(copied.size(), 44u);
    KQovCamera source(nullptr), target(nullptr);
    P* from = source.GetCameraProperties();
    P* to = target.GetCameraProperties();
    // Distinct values everywhere, on both sides.
    for (int row = 0; row < P::eRowCount; ++row) {
        from->Set(row, row + 0.5);
        to->Set(row, -row - 0.25);
    }
    from->SetColor(P::eFrameColor, P::eFrameColor + 0.5, 0.2, 1.5);
    source.SetUpVector(KVector4(1, 2, 3, 1));
    source.SetBackgroundTextureName("Texture::Sky");
    source.SetAudioColor(KColor(0.5, 0.5, 0.5, 1.0));
    source.SetShowAudio(true);
    source.SetAntialiasingMethod(3);

    target.CopyFrom(source);
    int embedded = 0;
    for (int row = 0; row < P::eRowCount; ++row) {
        KProperty* p = to->GetProperty(row);
        const std::string name = p->GetName();
        SCOPED_TRACE(name);
        if (name == "Roll" || name == "TurnTable" || name == "BackgroundColor") {
            EXPECT_EQ(to->Get(row), from->Get(row));
        } else if (p->IsAnimatable()) {
            EXPECT_EQ(to->Get(row), -row - 0.25);
        } else {
            ++embedded;
            EXPECT_EQ(to->Get(row), copied.count(name) ? row + 0.5 : -row - 0.25);
        }
    }
    EXPECT_EQ(embedded, 53);
    double rgb[3];
    to->GetColor(P::eFrameColor, rgb);
    EXPECT_EQ(rgb[2], 1.5);
    EXPECT_EQ(target.GetUpVector()[2], 3.0);
    EXPECT_STREQ(target.GetBackgroundTextureName(), "Texture::Sky");
    EXPECT_EQ(target.GetBackgroundMediaName(), nullptr);
    EXPECT_EQ(target.GetAudioColor().mRed, 0.5);
    EXPECT_TRUE(target.GetShowAudio());
    EXPECT_EQ(target.GetAntialiasingMethod(), 3);
}

TEST(KQovCamera, PackedOptionsResetAndPosition) {
    KQovCamera camera(nullptr);
    for (int mask = 0; mask < 16; ++mask) {
        camera.SetBackgroundPlacementOptions(mask);
        EXPECT_EQ(camera.GetBackgroundPlacementOptions(), mask);
    }
    camera.SetUseOverSamplingTime(0);
    EXPECT_EQ(camera.GetUseOverSamplingTime(), 0);
    camera.SetUseOverSamplingTime(2);
    EXPECT_EQ(camera.GetUseOverSamplingTime(), 0);
    camera.SetUseOverSamplingTime(1);
    EXPECT_EQ(camera.GetUseOverSamplingTime(), 1);

    camera.SetPosition(KVector4(1, 2, 3));  // no node: nothing kept
    EXPECT_EQ(camera.GetPosition()[2], 0.0);
    KQovNode node(nullptr, "Model::Camera"), texture(nullptr, "Model::Texture");
    node.SetNodeAttribute(&camera);
    camera.GetCameraProperties()->Set(P::eLockInterestNavigation, 1.0);
    camera.GetCameraProperties()->Set(P::eFocalLength, 50.0);
    camera.Reset();
    EXPECT_EQ(camera.GetPosition()[2], -50.0);
    EXPECT_EQ(camera.GetFocalLength(), 35.0);
    EXPECT_EQ(camera.GetCameraProperties()->Get(P::eLockInterestNavigation), 1.0);
    EXPECT_EQ(camera.GetTypeName(), KString("Camera"));

    const int sources = node.GetPropertyHandler()->GetSrcCount();
    camera.ConnectBackgroundTexture(&texture);
    camera.ConnectBackgroundTexture(&texture);
    EXPECT_EQ(node.GetPropertyHandler()->GetSrcCount(), sources + 1);
    EXPECT_TRUE(node.GetPropertyHandler()->IsConnectedSrc(texture.GetPropertyHandler()));
}

}  // namespace

// A camera on a node links its channels' curves to its properties: each allocation refused in
// turn, no link is left that its curve was not told of (it would be read after the curve
// goes, as the manager goes).
TEST(KQovCamera, ALinkedCameraOutOfMemoryLeavesNoLinkToAGoneCurve) {
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        LeaksNotChecked leaks;
        KQovObjectManager manager;
        KQovNode* node = manager.CreateNode("n");
        KQovCamera* camera = manager.CreateCamera();
        gThrowIn = n;
        try {
            node->SetNodeAttribute(camera);
        } catch (const std::bad_alloc&) {
        }
        if (gThrowIn.exchange(-1) >= 0) break;
    }
    EXPECT_GT(n, 20);
}
