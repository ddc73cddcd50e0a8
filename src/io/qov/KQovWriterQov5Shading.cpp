// Version-5 material and texture blocks, written inside the model of each geometry that uses
// them, and the flags of their channels animated in some take.

#include <string>

#include "attributes/KQovMaterial.h"
#include "attributes/KQovShadingChannels.h"
#include "attributes/KQovTexture.h"
#include "foundation/KQuotedText.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

bool KQovWriterAnimatedInTakes(KQovTakeNodeContainer* object, const char* channel);

namespace {

const char* const kTextureChannels[] = {"Translation", "Rotation", "Scaling", "Alpha"};
const char* const kMaterialChannels[] = {"Ambient", "Diffuse",   "Specular",    "Emissive",
                                         "Opacity", "Shininess", "Reflectivity"};
// The order the material's animated lists name its flags in.
const int kMaterialListOrder[] = {3, 0, 1, 2, 4, 6, 5};

const char* Named(int value, std::initializer_list<const char*> names, const char* otherwise) {
    if (value < 0 || value >= int(names.size())) return otherwise;
    return names.begin()[value];
}

void WriteFlaggedLists(KQovFieldFile* f, const std::vector<bool>* flags, const char* const* names,
                       const int* order, int count) {
    if (!flags) return;
    bool any = false;
    for (bool flag : *flags) any = any || flag;
    if (!any) return;
    for (const char* list : {"AnimatedProperty", "Animated"}) {
        f->FieldWriteBegin(list);
        for (int i = 0; i < count; ++i) {
            const int at = order ? order[i] : i;
            if ((*flags)[size_t(at)]) f->FieldWriteC(names[at]);
        }
        f->FieldWriteEnd();
    }
}

}  // namespace

void KQovWriterQov5::BuildAnimatedMaps(KQovScene* scene) {
    mAnimated.clear();
    KQovEntityContainer* entity = scene->GetEntityContainer();
    for (int pass = 0; pass < 2; ++pass) {
        const bool textures = pass == 0;
        const int count = textures ? entity->GetTextureCount() : entity->GetMaterialCount();
        for (int i = 0; i < count; ++i) {
            auto* object = dynamic_cast<KQovTakeNodeContainer*>(textures ? entity->GetTexture(i)
                                                                         : entity->GetMaterial(i));
            if (!object) continue;
            std::vector<bool> flags;
            for (const char* channel : textures
                                           ? std::vector<const char*>(std::begin(kTextureChannels),
                                                                      std::end(kTextureChannels))
                                           : std::vector<const char*>(std::begin(kMaterialChannels),
                                                                      std::end(kMaterialChannels)))
                flags.push_back(KQovWriterAnimatedInTakes(object, channel));
            mAnimated[object] = flags;
        }
    }
}

void KQovWriterQov5::NameShadingUserProperties(KQovScene* scene) {
    // The layout keeps user properties in model blocks only; its reader reads none elsewhere.
    KQovEntityContainer* entity = scene->GetEntityContainer();
    for (int pass = 0; entity && pass < 2; ++pass) {
        const bool textures = pass == 0;
        const int count = textures ? entity->GetTextureCount() : entity->GetMaterialCount();
        for (int i = 0; i < count; ++i) {
            KQovObject* object = textures ? static_cast<KQovObject*>(entity->GetTexture(i))
                                          : static_cast<KQovObject*>(entity->GetMaterial(i));
            // Records still to be made wrap the object's own properties: none is a user's.
            if (!object || object->AreRecordsDeferred()) continue;
            for (int u = 0; u < object->GetUserPropertyCount(); ++u) {
                KQovUserProperty* user = object->GetUserProperty(u);
                if (!user->GetFlag(KQovUserProperty::eFlagUserProperty)) continue;
                mStatus += ((textures ? "Texture \"" : "Material \"") +
                            KQovMessageText(object->GetNameWithoutPrefix().Buffer()) +
                            "\" user property \"" + KQovMessageText(user->GetName().Buffer()) +
                            "\" not written: version-5 QOV files keep user properties of models "
                            "only\n")
                               .c_str();
            }
        }
    }
}

void KQovWriterQov5::FreeAnimatedMaps() {
    mAnimated.clear();
}

const std::vector<bool>* KQovWriterQov5::AnimatedFlags(const KQovObject* object) const {
    auto found = mAnimated.find(object);
    return found == mAnimated.end() ? nullptr : &found->second;
}

void KQovWriterQov5::WriteMaterial(KQovMaterial* material, bool ofModelOnly) {
    KQovFieldFile* f = mFile;
    KQovWriteBlockBegin(f, "Material", material->GetName());
    KQovWriteIntField(f, "Version", 100);
    std::string model = material->GetShadingModel().Buffer();
    for (char& c : model) c = char(std::tolower(static_cast<unsigned char>(c)));
    f->FieldWriteC("ShadingModel", model.c_str());
    const KColor colors[] = {material->GetDefaultAmbient(), material->GetDefaultDiffuse(),
                             material->GetDefaultSpecular(), material->GetDefaultEmissive()};
    static const char* const kColors[] = {"Ambient", "Diffuse", "Specular", "Emissive"};
    for (int i = 0; i < 4; ++i)
        KQovWriteDoublesField(f, kColors[i], {colors[i].mRed, colors[i].mGreen, colors[i].mBlue});
    // The "Shininess" channel may stand past full shininess (128, as 100 here): kept so.
    const double channel = KQovShadingChannels::GetDefault(*material, "Shininess", -1, 0.0) / 128.0;
    KQovWriteDoublesField(
        f, "Shininess", {(channel > 1.0 ? channel : material->GetDefaultShininess()) * 100.0});
    KQovWriteDoublesField(f, "Alpha", {material->GetDefaultOpacity()});
    KQovWriteDoublesField(f, "Reflectivity", {material->GetDefaultReflectivity()});
    WriteFlaggedLists(f, AnimatedFlags(material), kMaterialChannels, kMaterialListOrder, 7);
    if (ofModelOnly) KQovWriteIntField(f, "ModelOnly", 1);
    KQovWriteBlockEnd(f);
}

void KQovWriterQov5::WriteTexture(KQovTexture* texture, bool ofModelOnly) {
    KQovFieldFile* f = mFile;
    KQovWriteBlockBegin(f, "Texture", texture->GetName());
    f->FieldWriteC("Type", texture->GetTypeName().Buffer());
    KQovWriteIntField(f, "Version", 202);
    f->FieldWriteC("TextureName", texture->GetName());
    f->FieldWriteC("Media", MediaNameOf(texture).Buffer());
    KQovWriteDoublesField(f, "Translation",
                          {texture->GetDefaultTranslationU(), texture->GetDefaultTranslationV()});
    KQovWriteDoublesField(f, "Scaling", {texture->GetDefaultScaleU(), texture->GetDefaultScaleV()});
    KQovWriteDoublesField(
        f, "ModelUVTranslation",
        {texture->GetUVTranslation().mData[0], texture->GetUVTranslation().mData[1]});
    KQovWriteDoublesField(f, "ModelUVScaling",
                          {texture->GetUVScaling().mData[0], texture->GetUVScaling().mData[1]});
    KQovWriteDoublesField(f, "Rotation",
                          {texture->GetDefaultRotationU(), texture->GetDefaultRotationV(),
                           texture->GetDefaultRotationW()});
    KQovWriteDoublesField(f, "TextureAlpha", {texture->GetDefaultAlpha()});
    f->FieldWriteC("Texture_Alpha_Source", Named(texture->GetAlphaSource(),
                                                 {"None", "RGB_Intensity", "Alpha_Black"}, "None"));
    f->FieldWriteBegin("Cropping");
    for (int c : {texture->GetCroppingC0(), texture->GetCroppingC1(), texture->GetCroppingC2(),
                  texture->GetCroppingC3()})
        f->FieldWriteI(c);
    f->FieldWriteEnd();
    f->FieldWriteC("Texture_Mapping_Type", Named(texture->GetMappingType(),
                                                 {"None", "Planar", "Spherical", "Cylindrical",
                                                  "Box", "Face", "UV", "Environment"},
                                                 "UV"));
    f->FieldWriteC("Texture_Planar_Mapping_Normal",
                   Named(texture->GetPlanarMappingNormal(), {"X", "Y", "Z"}, "X"));
    KQovWriteIntField(f, "SwapUV", texture->GetSwapUV() ? 1 : 0);
    KQovWriteIntField(f, "MaterialMode", texture->GetMaterialUse());
    f->FieldWriteC("TextureUse",
                   Named(texture->GetTextureUse(),
                         {"Standard", "ShadowMap", "LightMap", "SphericalReflexionMap",
                          "SphereReflexionMap", "BumpNormalMap"},
                         "Standard"));
    KQovWriteIntField(f, "WrapU", texture->GetWrapModeU());
    KQovWriteIntField(f, "WrapV", texture->GetWrapModeV());
    KQovWriteIntField(f, "BlendMode", texture->GetBlendMode());
    WriteFlaggedLists(f, AnimatedFlags(texture), kTextureChannels, nullptr, 4);
    if (ofModelOnly) KQovWriteIntField(f, "ModelOnly", 1);
    KQovWriteBlockEnd(f);
}
