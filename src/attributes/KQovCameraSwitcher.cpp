#include "attributes/KQovCameraSwitcher.h"

#include <cstdint>

#include "animation/KFCurve.h"
#include "attributes/KQovAttributeCommon.h"

namespace {

const char kCameraIndex[] = "Camera Index";

}  // namespace

KQovCameraSwitcher::~KQovCameraSwitcher() {
    KQovLeaveNode(this);
}

void KQovCameraSwitcher::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    // The first camera is live in every take until a take says otherwise.
    static const double kFirst[3] = {1.0, 0.0, 0.0};
    KQovInitAttributeChannel(this, takeNode, KQovAttributeChannel{kCameraIndex}, nullptr, kFirst);
}

void KQovCameraSwitcher::RemoveTakeNodeChannels(KQovTakeNode* takeNode) {
    KQovRemoveAttributeChannel(takeNode, kCameraIndex);
}

int KQovCameraSwitcher::AddCameraName(const char* name) {
    mCameraNames.emplace_back(name ? name : "");
    return GetCameraNameCount() - 1;
}

const char* KQovCameraSwitcher::GetCameraName(int index) const {
    if (index < 0 || index >= GetCameraNameCount()) return nullptr;
    return mCameraNames[size_t(index)].Buffer();
}

int KQovCameraSwitcher::GetDefaultCameraIndex() const {
    const KFCurve* curve = KQovGetDefaultCurve(this, kCameraIndex);
    const double value = curve ? curve->GetValue() : 0.0;
    // A value read from a file may lie outside int (or be NaN).
    if (!(value > -2147483648.0)) return value < 0.0 ? INT32_MIN : 0;
    return value >= 2147483647.0 ? INT32_MAX : int(value);
}

void KQovCameraSwitcher::SetDefaultCameraIndex(int index) {
    if (KFCurve* curve = KQovGetDefaultCurve(this, kCameraIndex)) curve->SetValue(float(index));
}
