#pragma once
// The property set of a character: 191 value properties kept in step with the
// character's solver store, one link property per named slot ("HipsLink", ...)
// kept in step with the character's links, and five object lists, the last of
// which ("ControlSet") fills the character's control set from a connected plug.

#include <unordered_map>

#include "scene/KQovPropertyHandler.h"

class KPropertyObjectList;
class KQovCharacter;

// How a value property meets the solver store.
struct KQovCharacterPropertySpec {
    enum : uint8_t { eNone, eMode, eValue, eVector };
    uint8_t fill = eNone;  // what fills it at construction
    uint8_t push = eNone;  // what its setter writes (eMode or eValue), eNone when only stored
    int16_t row = -1;      // first solver row of the fill and the push
    double low = 0.0, high = 0.0;  // clamp of the push; low == high for none
};

class KQovCharacterProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovCharacterProperties)
public:
    static constexpr int kValueCount = 191;
    static constexpr uint32_t kNoSetterFlag = 32;
    static constexpr uint32_t kAnimatableFlag = 8;

    explicit KQovCharacterProperties(KQovCharacter* character);
    ~KQovCharacterProperties() override;

    KQovCharacter* GetCharacter() const { return mCharacter; }
    static const KQovPropertyDescriptor* GetDescriptors();
    static const KQovCharacterPropertySpec* GetSpecs();

    bool SendValueEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                        const void* b, const void* c) override;
    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override;

private:
    void FillFromStore();
    void Push(int row);
    void CreateLinkProperties();

    KQovCharacter* mCharacter;
    KPropertyObjectList* mControlSet = nullptr;
    std::unordered_map<const KPlug*, int> mValueRows;
    bool mFilling = false;
};
