#pragma once
// The animation of one object in one take: the take's name and a channel tree whose root is
// named "Defaults".

#include "animation/KQovTakeNameWatcher.h"
#include "foundation/KError.h"
#include "foundation/KString.h"
#include "foundation/KTime.h"

class KDataType;
class KFCurve;
class KFCurveNode;

class KQovTakeNode {
public:
    enum { eCurveNotFound = 0 };

    explicit KQovTakeNode(const char* takeName);
    // Deep copy: every node and curve of the tree is new; layer chains are not copied.
    KQovTakeNode(const KQovTakeNode& other);
    // The same copy under another name.
    KQovTakeNode(const KQovTakeNode& other, const char* takeName);
    KQovTakeNode& operator=(const KQovTakeNode&) = delete;
    ~KQovTakeNode();

    const char* GetName() const { return mName.Buffer(); }
    void SetName(const char* name);
    // The holder told of renames; copies have none.
    void SetNameWatcher(KQovTakeNameWatcher* watcher) { mNameWatcher = watcher; }
    KFCurveNode* GetRoot() const { return mRoot; }
    KError& GetError() { return mError; }

    bool GetAnimationInterval(KTime& start, KTime& stop) const;

    // Each name may be null, which skips that step.
    KFCurve* FindCurve(const char* name1, const char* name2, const char* name3);
    KFCurve* FindCurveByType(const char* name1, const char* name2, const KDataType* dataType);
    bool HasKeys(const char* name1, const char* name2, const char* name3);
    bool HasKeysByType(const char* name1, const char* name2, const KDataType* dataType);

    KFCurve* GetTranslationX() { return FindCurve("Transform", "T", "X"); }
    KFCurve* GetTranslationY() { return FindCurve("Transform", "T", "Y"); }
    KFCurve* GetTranslationZ() { return FindCurve("Transform", "T", "Z"); }
    KFCurve* GetRotationX() { return FindCurve("Transform", "R", "X"); }
    KFCurve* GetRotationY() { return FindCurve("Transform", "R", "Y"); }
    KFCurve* GetRotationZ() { return FindCurve("Transform", "R", "Z"); }
    KFCurve* GetScalingX() { return FindCurve("Transform", "S", "X"); }
    KFCurve* GetScalingY() { return FindCurve("Transform", "S", "Y"); }
    KFCurve* GetScalingZ() { return FindCurve("Transform", "S", "Z"); }
    KFCurve* GetVisibility() { return FindCurveByTypeName("Visibility"); }
    KFCurve* GetColorR() { return FindCurve("Color", "X", nullptr); }
    KFCurve* GetColorG() { return FindCurve("Color", "Y", nullptr); }
    KFCurve* GetColorB() { return FindCurve("Color", "Z", nullptr); }
    KFCurve* GetIntensity() { return FindCurve("Intensity", nullptr, nullptr); }
    KFCurve* GetConeAngle() { return FindCurve("Cone angle", nullptr, nullptr); }
    KFCurve* GetFog() { return FindCurve("Fog", nullptr, nullptr); }
    KFCurve* GetFieldOfView() { return FindCurve("FieldOfView", nullptr, nullptr); }
    KFCurve* GetFieldOfViewX() { return FindCurve("FieldOfViewX", nullptr, nullptr); }
    KFCurve* GetFieldOfViewY() { return FindCurve("FieldOfViewY", nullptr, nullptr); }
    KFCurve* GetOpticalCenterX() { return FindCurve("OpticalCenterX", nullptr, nullptr); }
    KFCurve* GetOpticalCenterY() { return FindCurve("OpticalCenterY", nullptr, nullptr); }
    KFCurve* GetRoll() { return FindCurve("Roll", nullptr, nullptr); }
    KFCurve* GetTurnTable() { return FindCurve("TurnTable", nullptr, nullptr); }
    KFCurve* GetBackgroundColorR() { return FindCurve("BackgroundColor (Color)", "X", nullptr); }
    KFCurve* GetBackgroundColorG() { return FindCurve("BackgroundColor (Color)", "Y", nullptr); }
    KFCurve* GetBackgroundColorB() { return FindCurve("BackgroundColor (Color)", "Z", nullptr); }
    KFCurve* GetCameraIndex() { return FindCurve("Camera Index", nullptr, nullptr); }
    KFCurve* GetOcclusion() { return FindCurveByTypeName("Occlusion"); }
    KFCurve* GetIKReachTranslation() { return FindCurveByTypeName("IK Reach Translation"); }
    KFCurve* GetIKReachRotation() { return FindCurveByTypeName("IK Reach Rotation"); }
    KFCurve* GetTextureTranslationX() { return FindCurve("Translation", "X", nullptr); }
    KFCurve* GetTextureTranslationY() { return FindCurve("Translation", "Y", nullptr); }
    KFCurve* GetTextureTranslationZ() { return FindCurve("Translation", "Z", nullptr); }
    KFCurve* GetTextureRotationX() { return FindCurve("Rotation", "X", nullptr); }
    KFCurve* GetTextureRotationY() { return FindCurve("Rotation", "Y", nullptr); }
    KFCurve* GetTextureRotationZ() { return FindCurve("Rotation", "Z", nullptr); }
    KFCurve* GetTextureScalingX() { return FindCurve("Scaling", "X", nullptr); }
    KFCurve* GetTextureScalingY() { return FindCurve("Scaling", "Y", nullptr); }
    KFCurve* GetTextureScalingZ() { return FindCurve("Scaling", "Z", nullptr); }
    KFCurve* GetTextureAlpha() { return FindCurve("Alpha", nullptr, nullptr); }
    KFCurve* GetEmissiveR() { return FindCurve("Emissive", "X", nullptr); }
    KFCurve* GetEmissiveG() { return FindCurve("Emissive", "Y", nullptr); }
    KFCurve* GetEmissiveB() { return FindCurve("Emissive", "Z", nullptr); }
    KFCurve* GetAmbientR() { return FindCurve("Ambient", "X", nullptr); }
    KFCurve* GetAmbientG() { return FindCurve("Ambient", "Y", nullptr); }
    KFCurve* GetAmbientB() { return FindCurve("Ambient", "Z", nullptr); }
    KFCurve* GetDiffuseR() { return FindCurve("Diffuse", "X", nullptr); }
    KFCurve* GetDiffuseG() { return FindCurve("Diffuse", "Y", nullptr); }
    KFCurve* GetDiffuseB() { return FindCurve("Diffuse", "Z", nullptr); }
    KFCurve* GetSpecularR() { return FindCurve("Specular", "X", nullptr); }
    KFCurve* GetSpecularG() { return FindCurve("Specular", "Y", nullptr); }
    KFCurve* GetSpecularB() { return FindCurve("Specular", "Z", nullptr); }
    KFCurve* GetOpacity() { return FindCurve("Opacity", nullptr, nullptr); }
    KFCurve* GetReflectivity() { return FindCurve("Reflectivity", nullptr, nullptr); }
    KFCurve* GetShininess() { return FindCurve("Shininess", nullptr, nullptr); }

private:
    KFCurveNode* Walk(const char* name1, const char* name2) const;
    KFCurve* Result(KFCurveNode* node);
    KFCurve* FindCurveByTypeName(const char* typeName);

    KString mName;
    KQovTakeNameWatcher* mNameWatcher = nullptr;
    KFCurveNode* mRoot;
    KError mError;
};
