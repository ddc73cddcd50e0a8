#include "attributes/KQovMaterialProperties.h"

#include "attributes/KQovMaterial.h"
#include "attributes/KQovShadingScene.h"
#include "scene/KQovEntityContainer.h"

namespace {

using MaterialRow = KQovPropertyDescriptor;

MaterialRow Row(const char* name, int typeCode, double value) {
    MaterialRow d{name, typeCode};
    d.animatable = true;
    d.userFlags = 8;
    d.defaultValue[0] = d.defaultValue[1] = d.defaultValue[2] = value;
    return d;
}

const MaterialRow kRows[KQovMaterialProperties::eRowCount] = {
    Row("Emissive", KProperty::eCOLORRGB, 0.0), Row("Ambient", KProperty::eCOLORRGB, 0.2),
    Row("Diffuse", KProperty::eCOLORRGB, 0.8),  Row("Specular", KProperty::eCOLORRGB, 0.2),
    Row("Opacity", KProperty::eDOUBLE, 1.0),    Row("Reflectivity", KProperty::eDOUBLE, 0.3),
    Row("Shininess", KProperty::eDOUBLE, 6.4),
};

}  // namespace

KQovMaterialProperties::KQovMaterialProperties(KQovMaterial* material)
    : KQovPropertyHandler(material) {
    CreateTableProperties(kRows, eRowCount);
}

bool KQovMaterialProperties::Notify(const KPlugChain* chain, int code, KPlug* sender, int index,
                                    KPlug* other, int type, void* extra) {
    if (KQovEntityContainer* scene = KQovShadingScene::OfNewDestination(this, code, sender, other))
        KQovShadingScene::Register(scene, static_cast<KQovMaterial*>(GetOwner()));
    return KQovPropertyHandler::Notify(chain, code, sender, index, other, type, extra);
}

const KQovPropertyDescriptor* KQovMaterialProperties::GetDescriptors() {
    return kRows;
}

double KQovMaterialProperties::GetNumber(int row) const {
    const KQovEmbeddedProperty* p = GetEmbedded(row);
    return p ? p->GetNumbers()[0] : 0.0;
}

void KQovMaterialProperties::GetColor(int row, double* rgb) const {
    const KQovEmbeddedProperty* p = GetEmbedded(row);
    for (int i = 0; i < 3; ++i) rgb[i] = p ? p->GetNumbers()[i] : 0.0;
}
