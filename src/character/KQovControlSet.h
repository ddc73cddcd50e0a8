#pragma once
// The nodes through which an animator drives a character: an FK link per
// character slot and 44 effectors, each with a main node, up to 14 auxiliary
// nodes and five flags. Every node referenced keeps a back-link to the owning
// character (kinds 1 to 3), added and removed here.

#include <array>
#include <cstdint>

#include "foundation/KString.h"

class KQovCharacter;
class KQovControlSetPlug;
class KQovNode;

struct KQovControlSetLink {
    KQovNode* model = nullptr;
    KString name;
};

struct KQovEffectorRecord {
    KQovNode* model = nullptr;
    uint8_t show = 1;
    uint8_t translationActive = 0;
    uint8_t rotationActive = 0;
    uint8_t candidateTranslationActive = 0;
    uint8_t candidateRotationActive = 0;
};

class KQovControlSet {
public:
    static constexpr int kLinkCount = 191;
    static constexpr int kEffectorCount = 44;
    static constexpr int kAuxiliaryCount = 14;  // numbered 1..14

    KQovControlSet();
    // Removes every back-link.
    ~KQovControlSet();
    KQovControlSet(const KQovControlSet&) = delete;
    KQovControlSet& operator=(const KQovControlSet&) = delete;

    void SetOwner(KQovCharacter* owner) { mOwner = owner; }
    KQovCharacter* GetOwner() const { return mOwner; }

    void SetType(int32_t type) { mType = type; }
    int32_t GetType() const { return mType; }
    uint8_t GetUseAxis() const { return mUseAxis; }
    void SetLockTransform(uint8_t flag) { mLockTransform = flag; }
    uint8_t GetLockTransform() const { return mLockTransform; }
    void SetLockPick(uint8_t flag) { mLockPick = flag; }
    uint8_t GetLockPick() const { return mLockPick; }

    bool SetFKLink(int slot, const KQovControlSetLink& link);
    bool GetFKLink(int slot, KQovControlSetLink* link) const;
    // `flags` gives the five bytes; its model is ignored.
    bool SetEffector(int number, KQovNode* model, const KQovEffectorRecord& flags);
    bool GetEffector(int number, KQovEffectorRecord* record) const;
    bool SetAuxEffector(int number, KQovNode* model, int auxiliary);
    bool GetAuxEffector(int number, KQovNode** model, int auxiliary) const;

    static const char* GetEffectorName(int number);
    static int FindEffector(const char* name);

    void Reset();
    // Takes over the plug's type, axis use, links and effectors; nothing for a
    // null plug.
    void FillFromPlug(KQovControlSetPlug* plug);

    // The node is going: clears the place a back-link names (the node forgets
    // its back-links itself).
    void ClearNode(KQovNode* node, int kind, int index, int subIndex);

private:
    void AddBackLink(KQovNode* node, int kind, int index, int subIndex);
    void RemoveBackLink(KQovNode* node, int kind, int index, int subIndex);
    void SetDefaultFlags();

    KQovCharacter* mOwner = nullptr;
    int32_t mType = 0;
    uint8_t mUseAxis = 0;
    uint8_t mLockTransform = 0;
    uint8_t mLockPick = 0;
    std::array<KQovControlSetLink, kLinkCount> mLinks;
    std::array<KQovEffectorRecord, kEffectorCount> mEffectors;
    std::array<std::array<KQovNode*, kAuxiliaryCount>, kEffectorCount> mAuxiliary{};
};
