#pragma once
// The process-wide emitter of library events (a file write failed, release the temporary
// files) and its built-in listener, which keeps the list of temporary files.

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/KCallbackList.h"
#include "foundation/KString.h"

struct KEmitterEvent : KEventRecordHeader {
    int32_t code = 0;
    void* object = nullptr;  // what the event concerns
};

class KEventEmitter {
public:
    static constexpr int32_t kEventId = 0x34538402;
    static constexpr int32_t kCodeWriteFailed = 16;
    static constexpr int32_t kCodeReleaseTempFiles = 15;

    // Created on the first call; null after Release (it is never created twice).
    static KEventEmitter* GetInstance();
    // Destroys the emitter.
    void Release();

    // Only kEventId is served: 0, or 1 (and no effect) for any other id.
    int AddListener(int32_t eventId, void* receiver, KCallbackFunction handler);
    int RemoveListener(int32_t eventId, void* receiver, KCallbackFunction handler);
    static int Subscribe(int32_t eventId, void* receiver, KCallbackFunction handler);
    static int Unsubscribe(int32_t eventId, void* receiver, KCallbackFunction handler);

    // Dispatches {kEventId, code, object} when the emitter exists, with the second interface
    // as the sender.
    static void Emit(void* object, int32_t code);

    // Interface ids 0 and 2 answer the emitter, 3 its second interface; null otherwise.
    void* QueryInterface(int id);

private:
    KEventEmitter() = default;
    struct Second {
        KEventEmitter* owner;
    };
    Second mSecond{this};
    KCallbackList mListeners;
};

// A temporary file that the listener keeps; its destructor deletes the file when asked, and
// then the folder the file was in when that is left empty.
class KTempFileRecord {
public:
    KTempFileRecord(const char* path, bool deleteFile)
        : mPath(path ? path : ""), mDelete(deleteFile) {}
    ~KTempFileRecord();
    KTempFileRecord(const KTempFileRecord&) = delete;
    KTempFileRecord& operator=(const KTempFileRecord&) = delete;

    const char* GetPath() const { return mPath.Buffer(); }
    bool GetDelete() const { return mDelete; }
    void SetDelete(bool deleteFile) { mDelete = deleteFile; }

private:
    KString mPath;
    bool mDelete;
};

class KEventListener {
public:
    static KEventListener& GetInstance();
    ~KEventListener();
    KEventListener(const KEventListener&) = delete;
    KEventListener& operator=(const KEventListener&) = delete;

    // The index of the new record, or of the existing one with an equal path.
    int AddFile(const char* path, bool deleteFile);
    // Code 15 releases the temporary files.
    void OnEvent(void* sender, KEventRecordHeader* record);
    // Destroys every record; with the keep flag set (the default), no file is deleted.
    void Clear();

    bool GetKeep() const { return mKeep; }
    void SetKeep(bool keep) { mKeep = keep; }
    int GetFileCount() const { return int(mFiles.size()); }
    const KTempFileRecord* GetFile(int index) const;

private:
    KEventListener();

    bool mKeep = true;
    std::vector<std::unique_ptr<KTempFileRecord>> mFiles;
};
