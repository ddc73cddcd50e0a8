#include "io/KStreamOptionsMotion.h"

#include <cmath>

KStreamOptionsMotion::KStreamOptionsMotion() {
    Reset();
}

KStreamOptionsMotion::~KStreamOptionsMotion() {
    ReleaseStream();
}

void KStreamOptionsMotion::Reset() {
    KStreamOptions::Reset();
    mStartTime = KTime();
    mFrameCount = 0;
    SetFrameRate(KTime::GetGlobalTimeMode(), 0.0);
    for (int& setting : mSettings) setting = -1;
    ReleaseStream();
}

void KStreamOptionsMotion::SetFrameRate(int timeMode, double rate) {
    if (timeMode == KTime::eDEFAULT_MODE && std::isfinite(rate) && rate > 0.0) {
        timeMode = KTime::ConvertFrameRateToTimeMode(rate, kRateMatch);
        if (timeMode == KTime::eDEFAULT_MODE) {
            mTimeMode = KTime::eDEFAULT_MODE;
            mFrameRate = rate;
            return;
        }
    }
    if (timeMode <= KTime::eDEFAULT_MODE || timeMode >= KTime::eTIME_MODE_COUNT)
        timeMode = KTime::GetGlobalTimeMode();
    mTimeMode = timeMode;
    mFrameRate = KTime::GetFrameRate(timeMode);
}

KTime KStreamOptionsMotion::GetFramePeriod() const {
    if (mTimeMode != KTime::eDEFAULT_MODE) {
        const int64_t length = KTime::GetFrameLength(mTimeMode);
        if (length > 0) return KTime(length);
    }
    KTime period;
    period.SetSecondDouble(1.0 / mFrameRate);
    return period;
}

void KStreamOptionsMotion::SetSetting(int index, int value) {
    if (index >= 0 && index < kSettingCount) mSettings[index] = value;
}

int KStreamOptionsMotion::GetSetting(int index) const {
    return index >= 0 && index < kSettingCount ? mSettings[index] : -1;
}

KObject* KStreamOptionsMotion::GetStream() const {
    return KObject::FromPlug(mStream.Resolve());
}

void KStreamOptionsMotion::SetStream(KObject* object, bool owned) {
    if (object && object == GetStream()) {
        mStreamOwned = owned;
        return;
    }
    ReleaseStream();
    if (!object) return;
    mStream = object->GetWeakRef();
    mStreamOwned = owned;
}

void KStreamOptionsMotion::ReleaseStream() {
    KObject* object = GetStream();
    if (object && mStreamOwned) object->Destroy();
    mStream = KWeakRef();
    mStreamOwned = false;
}
