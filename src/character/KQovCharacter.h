#pragma once
// A character ("Constraint::"): binds skeleton nodes to the 191 body-role slots
// of the character solver, each with offset transforms, and carries the
// solver's settings, its input, its control set and its property set. Every
// linked node keeps a back-link {character, 0, slot, 0}.

#include <array>
#include <memory>

#include "foundation/KError.h"
#include "foundation/KString.h"
#include "foundation/KVector4.h"
#include "scene/KQovNameWatcher.h"
#include "scene/KQovNode.h"
#include "scene/KQovTakeNodeContainer.h"

class KPropertyObjectList;
class KQovCharacterProperties;
class KQovControlSet;
class KQovSolverParameterStore;

struct KQovCharacterLink {
    KQovNode* model = nullptr;
    KString name;  // a slot with only a name still counts as linked
    KVector4 translationOffset{0.0, 0.0, 0.0, 1.0};
    KVector4 rotationOffset{0.0, 0.0, 0.0, 1.0};
    KVector4 scalingOffset{1.0, 1.0, 1.0, 1.0};
    KPropertyObjectList* linkProperty = nullptr;  // never copied

    KQovCharacterLink() = default;
    KQovCharacterLink(const KQovCharacterLink& other) { CopyFrom(other); }
    KQovCharacterLink& operator=(const KQovCharacterLink& other) {
        CopyFrom(other);
        return *this;
    }
    // Model, name and offsets.
    void CopyFrom(const KQovCharacterLink& other);
    // Everything but the link property.
    void Reset();
};

class KQovCharacter : public KQovTakeNodeContainer,
                      public KQovNodeLinkOwner,
                      private KQovNameWatcher {
public:
    static constexpr int kSlotCount = 191;
    // Input types.
    enum : int { eInputActor = 0, eInputCharacter = 1, eNoInput = 4 };
    static constexpr int kActorObjectType = 6;

    KQovCharacter(KQovObjectManager* manager, const char* name);
    ~KQovCharacter() override;

    void PrepareDestroy() override;
    int GetObjectType() const override { return eCharacter; }
    KQovPropertyHandler* GetPropertyHandler() const override;
    KQovCharacterProperties* GetCharacterProperties() const { return mProperties; }
    KString GetTypeName() const override { return KString("Character"); }
    KStringList GetTypeNames() const override;
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;

    bool GetCharacterLink(int slot, KQovCharacterLink* link) const;
    bool SetCharacterLink(int slot, const KQovCharacterLink& link, bool update);
    // The slot's record whether linked or not; null out of range.
    const KQovCharacterLink* GetLinkRecord(int slot) const {
        return slot >= 0 && slot < kSlotCount ? &mLinks[size_t(slot)] : nullptr;
    }
    // The slot's link property (null for the slots without a name or out of range).
    KPropertyObjectList* GetLinkProperty(int slot) const;
    void SetLinkProperty(int slot, KPropertyObjectList* property);

    // The input may be of any scene or manager: when it is destroyed the character has none.
    // May throw std::bad_alloc, the character then unchanged.
    void SetInput(int type, KQovObject* object);
    int GetInputType() const { return mInputType; }
    KQovObject* GetInput() const;

    KQovControlSet* GetControlSet() const { return mControlSet.get(); }
    KQovSolverParameterStore* GetSolverStore() const { return mStore.get(); }

    void ClearNodeLink(KQovNode* node, int kind, int slot, int subIndex) override;

private:
    bool InputFits(int type, KQovObject* object) const;
    void NameChanged(KQovObject*, const char*) override {}
    void ObjectGoing(KQovObject* object) override;

    KError mError;
    int mInputType = eNoInput;
    KQovObject* mInput = nullptr;
    std::array<KQovCharacterLink, kSlotCount> mLinks;
    std::unique_ptr<KQovControlSet> mControlSet;
    std::unique_ptr<KQovSolverParameterStore> mStore;
    KQovCharacterProperties* mProperties = nullptr;
};
