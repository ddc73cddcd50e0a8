#include "foundation/KCallbackList.h"

KCallbackList::~KCallbackList() {
    Clear();
    *mAlive = false;
}

void KCallbackList::Add(void* receiver, KCallbackFunction handler, uint32_t flags) {
    mEntries.insert(mEntries.begin(),
                    std::unique_ptr<Entry>(new Entry{receiver, handler, 0, flags}));
    for (Cursor& c : mCursors) {
        ++c.current;
        ++c.lowerBound;
    }
}

int KCallbackList::Remove(void* receiver, KCallbackFunction handler) {
    for (size_t i = 0; i < mEntries.size(); ++i) {
        if (mEntries[i]->receiver != receiver || mEntries[i]->handler != handler) continue;
        mEntries.erase(mEntries.begin() + i);
        int removed = int(i);
        for (Cursor& c : mCursors) {
            if (c.current > removed) --c.current;
            if (c.lowerBound > removed) --c.lowerBound;
        }
        return 0;
    }
    return 1;
}

void KCallbackList::Clear() {
    mEntries.clear();
    for (Cursor& c : mCursors) {
        c.current = -1;  // nothing left to call
        c.lowerBound = 0;
    }
}

bool KCallbackList::Contains(void* receiver, KCallbackFunction handler) const {
    for (const auto& e : mEntries)
        if (e->receiver == receiver && e->handler == handler) return true;
    return false;
}

int KCallbackList::Dispatch(void* sender, KEventRecordHeader* record) {
    std::shared_ptr<bool> alive = mAlive;
    const size_t depth = mCursors.size();
    mCursors.push_back(Cursor{GetCount() - 1, 0});
    // Indexed, not held: a nested dispatch may grow mCursors.
    while (mCursors[depth].current >= mCursors[depth].lowerBound) {
        Cursor& cursor = mCursors[depth];
        if (cursor.current >= GetCount()) {
            cursor.current = GetCount() - 1;
            continue;
        }
        // Copied first: the handler may remove its own entry.
        Entry entry = *mEntries[cursor.current];
        entry.handler(entry.receiver, sender, record);
        if (!*alive) return 0;  // destroyed by a handler: touch nothing
        if (record && record->handled) break;
        --mCursors[depth].current;
    }
    mCursors.pop_back();
    return 0;
}

namespace {

// The registry lives until process exit; afterwards it is never created again.
struct Registry {
    KStringMap map{20};
    ~Registry() {
        for (int i = 0; i < map.GetCount(); ++i) delete static_cast<KCallbackList*>(map.GetAt(i));
    }
};

Registry* gRegistry = nullptr;
bool gRegistryClosed = false;

struct RegistryOwner {
    ~RegistryOwner() {
        Registry* doomed = gRegistry;
        gRegistry = nullptr;
        delete doomed;
    }
};

}  // namespace

KStringMap* KCallbackRegistry::GetInstance() {
    if (!gRegistry && !gRegistryClosed) {
        gRegistryClosed = true;
        gRegistry = new Registry;
        static RegistryOwner owner;
    }
    return gRegistry ? &gRegistry->map : nullptr;
}

KCallbackList* KCallbackRegistry::Find(const char* name) {
    KStringMap* map = GetInstance();
    return map ? static_cast<KCallbackList*>(map->Find(name)) : nullptr;
}

KNamedCallback::~KNamedCallback() {
    Unregister();
}

bool KNamedCallback::Register(const char* name, void* receiver, KCallbackFunction handler,
                              uint32_t flags) {
    Unregister();
    KStringMap* map = KCallbackRegistry::GetInstance();
    if (!map || !handler) return false;
    KCallbackList* list = static_cast<KCallbackList*>(map->Find(name));
    if (!list) {
        list = new KCallbackList;
        if (map->Add(name, list) < 0) {
            delete list;
            return false;
        }
    }
    list->Add(receiver, handler, flags);
    mName = name ? name : "";
    mReceiver = receiver;
    mHandler = handler;
    return true;
}

bool KNamedCallback::Unregister() {
    if (!mHandler) return false;
    KCallbackFunction handler = mHandler;
    mHandler = nullptr;
    KStringMap* map = gRegistry ? &gRegistry->map : nullptr;  // never recreated here
    if (!map) return false;
    KCallbackList* list = static_cast<KCallbackList*>(map->Find(mName.Buffer()));
    if (!list || list->Remove(mReceiver, handler) != 0) return false;
    if (list->GetCount() == 0) {
        map->Remove(mName.Buffer());
        delete list;
    }
    return true;
}

KNamedEntryList& KNamedEntryList::GetInstance() {
    static KNamedEntryList list;
    return list;
}

KNamedEntryList::~KNamedEntryList() {
    for (size_t i = mEntries.size(); i-- > 0;) delete mEntries[i];
}

int KNamedEntryList::Add(KNamedEntry* entry) {
    if (!entry) return -1;
    mEntries.push_back(entry);
    return int(mEntries.size()) - 1;
}

KNamedEntry* KNamedEntryList::GetAt(int index) const {
    return index >= 0 && index < GetCount() ? mEntries[index] : nullptr;
}
