#pragma once
// Options passed between the importer or exporter, the QOV reader and the QOV writers: which
// kinds of content to read or write, the take list, the scene information, the password, the
// content counts of the file's Summary and the template flag.

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/KString.h"
#include "io/KStreamOptions.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovTakeInfo.h"

class KQovObjectManager;

class KStreamOptionsQov : public KStreamOptions {
    KQOV_CLASS(KStreamOptionsQov)
public:
    enum Switch {
        eNodeAttributes = 0,
        eMaterials,
        eTexturesAndMedia,
        eVideos,
        eDeformers,
        eShapes,
        eGobos,
        eAnimation,
        eCharacters,
        eGlobalSettings,
        ePivots,
        eTakeChannelTrees,
        eEmbedMedia,
        eSwitchCount
    };
    enum Count {
        eModels = 0,
        eDevices,
        eCharacterCount,
        eActors,
        eConstraints,
        eMedia,
        eCountCount
    };

    KStreamOptionsQov();
    ~KStreamOptionsQov() override;
    static KStreamOptionsQov* Create() { return new KStreamOptionsQov; }

    // Every take record goes; the scene information is forgotten, not freed.
    void Reset() override;

    void SetSwitch(int index, bool on);
    bool GetSwitch(int index) const;
    void SetCount(int index, int32_t value);
    int32_t GetCount(int index) const;

    int GetTakeCount() const { return static_cast<int>(mTakes.size()); }
    KQovTakeInfo* GetTake(int index) const;
    void AddTake(const KQovTakeInfo& take) {
        mTakes.push_back(std::make_unique<KQovTakeInfo>(take));
    }
    void ClearTakes() { mTakes.clear(); }

    KString currentTakeName;
    KQovSceneInfo* sceneInfo = nullptr;  // not owned
    int32_t passwordFlag = 0;
    KString password;
    int32_t templateFlag = 0;

private:
    std::vector<std::unique_ptr<KQovTakeInfo>> mTakes;
    bool mSwitches[eSwitchCount] = {};
    int32_t mCounts[eCountCount] = {};
};

// Scene-information records are the object manager's to make and destroy; with no manager
// (tools, tests) they are plain heap objects.
KQovSceneInfo* KQovCreateSceneInfo(KQovObjectManager* manager);
void KQovDestroySceneInfo(KQovObjectManager* manager, KQovSceneInfo* info);
