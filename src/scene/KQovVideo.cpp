#include "scene/KQovVideo.h"

#include <cstring>

#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"

namespace {

const char* const kVideoErrors[] = {"Take node error"};
const char* const kAccessModes[] = {"Disk", "Memory", "Disk Async"};
const char* const kInterlaceModes[] = {"None",           "Fields",          "Half Frame Even",
                                       "Half Frame Odd", "Full Frame Even", "Full Frame Odd",
                                       "Full Frame Even/Odd", "Full Frame Odd/Even"};

template <size_t N>
const char* NameAt(const char* const (&names)[N], int value) {
    return value >= 0 && size_t(value) < N ? names[value] : nullptr;
}

using VideoRow = KQovPropertyDescriptor;
VideoRow Row(const char* name, int typeCode, double value = 0.0) {
    VideoRow d{name, typeCode};
    d.defaultValue[0] = value;
    return d;
}
const VideoRow kVideoRows[KQovVideoProperties::eRowCount] = {
    Row("FrameRate", KProperty::eDOUBLE), Row("LastFrame", KProperty::eINT),
    Row("Width", KProperty::eINT),        Row("Height", KProperty::eINT),
    Row("Path", KProperty::eCHARPTR),     Row("StartFrame", KProperty::eINT),
    Row("StopFrame", KProperty::eINT),    Row("PlaySpeed", KProperty::eDOUBLE, 1.0),
    Row("Offset", KProperty::eTIME),      Row("InterlaceMode", KProperty::eENUM),
    Row("FreeRunning", KProperty::eBOOL), Row("Loop", KProperty::eBOOL),
    Row("AccessMode", KProperty::eENUM),
};

KQovMediaHooks gHooks;

KQovObject* HandlerOwnerOf(KPlug* plug) {
    auto* set = KObjectSafeCast<KQovPropertyHandler>(plug);
    return set ? set->GetOwner() : nullptr;
}

}  // namespace

KQovVideoProperties::KQovVideoProperties(KQovObject* owner) : KQovPropertyHandler(owner) {
    CreateTableProperties(kVideoRows, eRowCount);
    GetTableProperty(eInterlaceMode)->SetEnumSource(&GetAccessModeName);
    GetTableProperty(eAccessMode)->SetEnumSource(&GetInterlaceModeName);
}

const char* KQovVideoProperties::GetAccessModeName(int value) {
    return NameAt(kAccessModes, value);
}

const char* KQovVideoProperties::GetInterlaceModeName(int value) {
    return NameAt(kInterlaceModes, value);
}

void KQovVideoProperties::SetNumber(int row, double value) {
    GetEmbedded(row)->SetNumbers(&value, 1);
}

double KQovVideoProperties::GetNumber(int row) const {
    return GetEmbedded(row)->GetNumbers()[0];
}

void KQovVideoProperties::SetPath(const char* text) {
    GetEmbedded(ePath)->SetText(text);
}

const char* KQovVideoProperties::GetPath() const {
    return GetEmbedded(ePath)->GetText().Buffer();
}

void KQovVideoProperties::SetOffset(KTime time) {
    GetEmbedded(eOffset)->SetTime(time);
}

KTime KQovVideoProperties::GetOffset() const {
    return GetEmbedded(eOffset)->GetTime();
}

bool KQovVideoProperties::Notify(const KPlugChain* chain, int code, KPlug* sender, int index,
                                 KPlug* other, int type, void* extra) {
    KQovObject* connected =
        sender == this && code == eDestinationAdded ? HandlerOwnerOf(other) : nullptr;
    if (connected && connected->GetObjectType() == KQovObject::eTexture) {
        if (gHooks.setTextureFileName) gHooks.setTextureFileName(connected, GetPath());
        if (gHooks.setTextureRelativeFileName)
            gHooks.setTextureRelativeFileName(connected, relativeFileName.Buffer());
        if (gHooks.setTextureMediaName) gHooks.setTextureMediaName(connected, GetOwner()->GetName());
    } else if (connected && connected->GetObjectType() == KQovObject::eNode) {
        KQovNodeAttribute* light =
            static_cast<KQovNode*>(connected)->GetAttributeOfType(KQovNodeAttribute::eLight);
        if (light && gHooks.setLightGoboFileName) gHooks.setLightGoboFileName(light, GetPath());
    }
    if (connected) RegisterInScene();
    return KQovPropertyHandler::Notify(chain, code, sender, index, other, type, extra);
}

void KQovVideo::SetMediaHooks(const KQovMediaHooks& hooks) {
    gHooks = hooks;
}

const KQovMediaHooks& KQovVideo::GetMediaHooks() {
    return gHooks;
}

KQovVideo::KQovVideo(KQovObjectManager* manager, const char* name)
    : KQovTakeNodeContainer(manager, name, &mError),
      mError(kVideoErrors, 1),
      mProperties(new KQovVideoProperties(this)) {
    AddDefaultTakeNode();
}

KQovVideo::~KQovVideo() {
    mProperties->Destroy();
}

template <class F>
void KQovVideo::ForEachTexture(F&& f) {
    for (int i = 0; i < mProperties->GetDstCount(); ++i) {
        KQovObject* connected = HandlerOwnerOf(mProperties->GetDst(i));
        if (connected && connected->GetObjectType() == KQovObject::eTexture) f(connected);
    }
}

bool KQovVideo::SetFileName(const char* name) {
    if (!name || !*name) return false;
    if (std::strcmp(GetFileName(), name) == 0) return true;
    mProperties->SetPath(name);
    if (gHooks.setTextureFileName)
        ForEachTexture([&](KQovObject* texture) { gHooks.setTextureFileName(texture, name); });
    return true;
}

bool KQovVideo::SetRelativeFileName(const char* name) {
    if (!name || !*name) return false;
    if (mProperties->relativeFileName == name) return true;
    mProperties->relativeFileName = name;
    if (gHooks.setTextureRelativeFileName)
        ForEachTexture([&](KQovObject* texture) { gHooks.setTextureRelativeFileName(texture, name); });
    return true;
}
