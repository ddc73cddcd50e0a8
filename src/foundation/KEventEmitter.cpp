#include "foundation/KEventEmitter.h"

#include <string>

#include "foundation/KDirIterator.h"
#include "foundation/KFileStream.h"
#include "platform/KPlatformFile.h"

namespace {

KEventEmitter* gEmitter = nullptr;
bool gEmitterClosed = false;
const uint32_t kListenerFlags = 0x7FFFFFFF;

}  // namespace

KEventEmitter* KEventEmitter::GetInstance() {
    if (!gEmitter && !gEmitterClosed) {
        gEmitterClosed = true;
        gEmitter = new KEventEmitter;
    }
    return gEmitter;
}

void KEventEmitter::Release() {
    if (gEmitter == this) gEmitter = nullptr;
    delete this;
}

int KEventEmitter::AddListener(int32_t eventId, void* receiver, KCallbackFunction handler) {
    if (eventId != kEventId) return 1;
    mListeners.Add(receiver, handler, kListenerFlags);
    return 0;
}

int KEventEmitter::RemoveListener(int32_t eventId, void* receiver, KCallbackFunction handler) {
    if (eventId != kEventId) return 1;
    mListeners.Remove(receiver, handler);
    return 0;
}

int KEventEmitter::Subscribe(int32_t eventId, void* receiver, KCallbackFunction handler) {
    KEventEmitter* emitter = GetInstance();
    return emitter ? emitter->AddListener(eventId, receiver, handler) : 1;
}

int KEventEmitter::Unsubscribe(int32_t eventId, void* receiver, KCallbackFunction handler) {
    // Never creates the emitter just to leave it.
    return gEmitter ? gEmitter->RemoveListener(eventId, receiver, handler) : 1;
}

void KEventEmitter::Emit(void* object, int32_t code) {
    if (!gEmitter) return;
    KEmitterEvent event;
    event.eventId = kEventId;
    event.code = code;
    event.object = object;
    gEmitter->mListeners.Dispatch(&gEmitter->mSecond, &event);
}

void* KEventEmitter::QueryInterface(int id) {
    if (id == 0 || id == 2) return this;
    if (id == 3) return &mSecond;
    return nullptr;
}

KTempFileRecord::~KTempFileRecord() {
    if (!mDelete) return;
    KRemoveFile(mPath.Buffer());
    std::string path = mPath.Buffer();
    size_t sep = path.find_last_of("/\\");
    if (sep == std::string::npos) return;  // no folder part: the current folder stays
    std::string folder = path.substr(0, sep + 1);
    std::string bare = folder;
    while (!bare.empty() && (bare.back() == '/' || bare.back() == '\\')) bare.pop_back();
    // Never the root (of the file system or a drive), nor the shared temporary folder.
    if (bare.empty() || bare.back() == ':' || bare == KPlatformGetTempFolder()) return;
    if (KDirIterator::IsDirectoryEmpty(bare.c_str())) KDirIterator::RemoveDirectory(bare.c_str());
}

KEventListener& KEventListener::GetInstance() {
    static KEventListener listener;
    return listener;
}

KEventListener::KEventListener() {
    KEventEmitter::Subscribe(KEventEmitter::kEventId, this,
                             KCallbackMethod<KEventListener, &KEventListener::OnEvent>);
}

KEventListener::~KEventListener() {
    KEventEmitter::Unsubscribe(KEventEmitter::kEventId, this,
                               KCallbackMethod<KEventListener, &KEventListener::OnEvent>);
    Clear();
}

int KEventListener::AddFile(const char* path, bool deleteFile) {
    KString name(path ? path : "");
    for (size_t i = 0; i < mFiles.size(); ++i)
        if (name == mFiles[i]->GetPath()) return int(i);
    mFiles.emplace_back(new KTempFileRecord(name.Buffer(), deleteFile));
    return int(mFiles.size()) - 1;
}

void KEventListener::OnEvent(void*, KEventRecordHeader* record) {
    if (!record || record->eventId != KEventEmitter::kEventId) return;
    if (static_cast<KEmitterEvent*>(record)->code == KEventEmitter::kCodeReleaseTempFiles) Clear();
}

void KEventListener::Clear() {
    std::vector<std::unique_ptr<KTempFileRecord>> files;
    files.swap(mFiles);  // a record's destructor must not see a half-cleared list
    for (auto& file : files) {
        if (mKeep) file->SetDelete(false);
        file.reset();
    }
}

const KTempFileRecord* KEventListener::GetFile(int index) const {
    return index >= 0 && index < GetFileCount() ? mFiles[index].get() : nullptr;
}
