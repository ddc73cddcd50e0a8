#pragma once
// Ordered handler lists that can be dispatched re-entrantly while handlers add or remove
// entries (or destroy the list), a process-wide registry of named lists, and named
// registrations in it.

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/KString.h"
#include "foundation/KStringMap.h"

// Every event record begins with these two fields; a handler sets `handled` to stop the
// dispatch.
struct KEventRecordHeader {
    int32_t eventId = 0;
    bool handled = false;
};

typedef void (*KCallbackFunction)(void* receiver, void* sender, KEventRecordHeader* record);

// Turns a member function into a KCallbackFunction:
//   list.Add(this, KCallbackMethod<Foo, &Foo::OnEvent>, 0);
template <class T, void (T::*Method)(void* sender, KEventRecordHeader* record)>
void KCallbackMethod(void* receiver, void* sender, KEventRecordHeader* record) {
    (static_cast<T*>(receiver)->*Method)(sender, record);
}

class KCallbackList {
public:
    KCallbackList() = default;
    ~KCallbackList();
    KCallbackList(const KCallbackList&) = delete;
    KCallbackList& operator=(const KCallbackList&) = delete;

    // Inserts at the front; a dispatch in progress does not call the new entry.
    void Add(void* receiver, KCallbackFunction handler, uint32_t flags);
    // Removes the first entry with both equal; 0, or 1 when none matches.
    int Remove(void* receiver, KCallbackFunction handler);
    void Clear();
    bool Contains(void* receiver, KCallbackFunction handler) const;
    int GetCount() const { return int(mEntries.size()); }
    // Calls the entries oldest first; stops when `record` (may be null) is marked handled.
    // Returns 0.
    int Dispatch(void* sender, KEventRecordHeader* record);

private:
    struct Entry {
        void* receiver;
        KCallbackFunction handler;
        uint32_t reserved;
        uint32_t flags;
    };
    // One per dispatch in progress, innermost last; kept by the list (not on the dispatcher's
    // stack) so that no pointer to a dispatcher's local is ever stored.
    struct Cursor {
        int current;
        int lowerBound;
    };

    std::vector<std::unique_ptr<Entry>> mEntries;
    std::vector<Cursor> mCursors;
    // Cleared by the destructor: a dispatch whose handler destroyed the list stops at once.
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

// The process-wide map from registration name (without regard to case) to KCallbackList.
class KCallbackRegistry {
public:
    // Created on the first call; null once it has been destroyed at process exit.
    static KStringMap* GetInstance();
    // The list registered under `name`, null when none.
    static KCallbackList* Find(const char* name);
};

// One registration of a handler under a name in the registry.
class KNamedCallback {
public:
    KNamedCallback() = default;
    ~KNamedCallback();
    KNamedCallback(const KNamedCallback&) = delete;
    KNamedCallback& operator=(const KNamedCallback&) = delete;

    // Registers (after unregistering a previous registration); false when the registry is
    // gone or the handler is null.
    bool Register(const char* name, void* receiver, KCallbackFunction handler, uint32_t flags = 0);
    // Removes the registration; a list left empty is destroyed and its name removed. True
    // when something was removed.
    bool Unregister();

    const char* GetName() const { return mName.Buffer(); }
    bool IsRegistered() const { return mHandler != nullptr; }

private:
    KString mName;
    void* mReceiver = nullptr;
    KCallbackFunction mHandler = nullptr;
};

// Named entries with up to four registrations each, kept for the life of the process and
// destroyed last to first at exit.
struct KNamedEntry {
    KString name;
    KNamedCallback callbacks[4];
};

class KNamedEntryList {
public:
    static KNamedEntryList& GetInstance();
    ~KNamedEntryList();
    // Takes ownership; returns the index.
    int Add(KNamedEntry* entry);
    int GetCount() const { return int(mEntries.size()); }
    KNamedEntry* GetAt(int index) const;

private:
    std::vector<KNamedEntry*> mEntries;
};
