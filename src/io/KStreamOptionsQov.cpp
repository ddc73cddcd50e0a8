#include "io/KStreamOptionsQov.h"

#include "scene/KQovObjectManager.h"

KStreamOptionsQov::KStreamOptionsQov() {
    Reset();
}

KStreamOptionsQov::~KStreamOptionsQov() = default;

void KStreamOptionsQov::Reset() {
    KStreamOptions::Reset();
    mTakes.clear();
    currentTakeName.Empty();
    password.Empty();
    sceneInfo = nullptr;
    passwordFlag = 0;
    templateFlag = 0;
    for (int32_t& count : mCounts) count = 0;
    for (int i = 0; i < eSwitchCount; ++i) mSwitches[i] = i <= ePivots;
}

void KStreamOptionsQov::SetSwitch(int index, bool on) {
    if (index >= 0 && index < eSwitchCount) mSwitches[index] = on;
}

bool KStreamOptionsQov::GetSwitch(int index) const {
    return index >= 0 && index < eSwitchCount && mSwitches[index];
}

void KStreamOptionsQov::SetCount(int index, int32_t value) {
    if (index >= 0 && index < eCountCount) mCounts[index] = value;
}

int32_t KStreamOptionsQov::GetCount(int index) const {
    return index >= 0 && index < eCountCount ? mCounts[index] : 0;
}

KQovTakeInfo* KStreamOptionsQov::GetTake(int index) const {
    return index >= 0 && index < GetTakeCount() ? mTakes[static_cast<size_t>(index)].get()
                                                : nullptr;
}

KQovSceneInfo* KQovCreateSceneInfo(KQovObjectManager* manager) {
    return manager ? manager->CreateSceneInfo() : new KQovSceneInfo;
}

void KQovDestroySceneInfo(KQovObjectManager* manager, KQovSceneInfo* info) {
    if (manager)
        manager->DestroySceneInfo(info);
    else
        delete info;
}
