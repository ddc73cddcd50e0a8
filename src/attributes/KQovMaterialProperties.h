#pragma once
// The property set of a material: its four colours and three factors, in file
// order. The values are animatable: the material's "Default" take drives them.

#include "scene/KQovPropertyHandler.h"

class KQovMaterial;

class KQovMaterialProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovMaterialProperties)
public:
    enum : int {
        eEmissive,
        eAmbient,
        eDiffuse,
        eSpecular,
        eOpacity,
        eReflectivity,
        eShininess,
        eRowCount
    };

    explicit KQovMaterialProperties(KQovMaterial* material);
    // Connected to an object of a scene, the material registers with that scene
    // unless the scene already holds a material of its name.
    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override;
    static const KQovPropertyDescriptor* GetDescriptors();

    // The stored values of a row, without events: one number, or r, g, b.
    double GetNumber(int row) const;
    void GetColor(int row, double* rgb) const;
};
