#pragma once
// The root of the object model: a plug takes part in connections (sources
// first, then destinations), owns sub-plugs that mirror the connections their
// filter accepts, and passes value, state and connection events up its parent
// chain. Plugs refer to each other through weak references only.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "scene/KClassRegistry.h"
#include "scene/KPlugHandlePool.h"

class KPlugFilter;
class KProperty;

// The sub-plugs a forwarded notification came through, innermost last.
struct KPlugChain {
    const KPlugChain* previous;
    class KPlug* plug;
};

class KPlug {
public:
    // Plug flags.
    enum : uint32_t {
        eAcceptsSources = 0x1,
        eAcceptsDestinations = 0x2,
        eOneSidedDestination = 0x4,
        eSubPlug = 0x8,
        eOwnedSubPlug = 0x10,
        eDestroyRequested = 0x10000,
    };
    // Connection type bit: recorded in the destination's sources only.
    enum : int { eOneSided = 0x2 };

    // Connection event codes of Notify.
    enum : int {
        eQueryAcceptSource = 0,
        eQueryAcceptDestination = 1,
        eSourceAdding = 2,
        eDestinationAdding = 3,
        eSourceAdded = 4,
        eDestinationAdded = 5,
        eSourceRemoving = 6,
        eDestinationRemoving = 7,
        eSourceRemoved = 8,
        eDestinationRemoved = 9,
        eDestinationReplacing = 10,
        eDestinationReplaced = 11,
        eSourceReplacing = 12,
        eSourceReplaced = 13,
    };
    enum : int { eValueChanging = 20, eValueChanged = 21, eStateDestroying = 23 };

    static constexpr uint32_t kPlugInterfaceId = 0xDE1947F3u;

    KPlug();
    KPlug(const KPlug&) = delete;
    KPlug& operator=(const KPlug&) = delete;
    virtual ~KPlug();

    // Ids 0, 2 and kPlugInterfaceId give this plug; null otherwise.
    virtual void* GetInterface(uint32_t id);
    // Destroys the plug, or defers it to the end of the connection change it is busy in.
    virtual void Destroy();
    virtual void OnAttach(void* index);
    virtual void PrepareDestroy();

    virtual const KClassInfo* GetClassInfo() const { return &gKPlugClassInfo; }
    static KClassInfo* StaticClassInfo() { return &gKPlugClassInfo; }
    static int ClassId() { return gKPlugClassInfo.id; }
    bool IsA(int id) const { return KClassIsA(GetClassInfo(), id); }
    int GetClassId() const { return GetClassInfo()->id; }
    const char* GetClassName() const { return GetClassInfo()->name; }
    // 2 for plugs, filters and properties, 1 for objects. (Named apart from the
    // value type code of KProperty::GetTypeCode.)
    virtual int GetPlugTypeCode() const { return 2; }
    virtual const char* GetNamePrefix() const { return ""; }

    virtual KPlug* CreateSubPlug(KPlugFilter* filter);
    virtual bool IsLinked(KPlug* a, KPlug* b);
    virtual bool HasParent() const { return mParent != nullptr; }

    virtual bool SendValueEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                                const void* b, const void* c);
    virtual bool SendStateEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                                const void* b, const void* c);
    virtual bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other,
                        int type, void* extra);

    // Refuses the current parent and any parent that would close a cycle.
    virtual bool SetParent(KPlug* parent);
    virtual int GetPropertyCount() const { return 0; }
    virtual KProperty* GetProperty(int) const { return nullptr; }
    virtual bool AddChild(KPlug* plug);
    virtual bool RemoveChild(KPlug* plug);
    virtual bool NotifyEvent16();
    virtual bool NotifyEvent17();
    virtual void BeginConnectionChange() {}
    virtual void EndConnectionChange() {}

    KPlug* GetParent() const { return mParent; }
    uint32_t GetPlugFlags() const { return mFlags; }
    void SetPlugFlags(uint32_t bits, bool on);
    bool IsSubPlug() const { return (mFlags & eSubPlug) != 0; }
    bool IsBusy() const { return mBusy > 0; }
    // The serial lives in the plug's handle slot, which is the plug's own until it is gone.
    KWeakRef GetWeakRef() const { return KWeakRef{GetSerial(), mHandle}; }
    uint32_t GetSerial() const { return mHandle ? mHandle->serial : 0; }

    // Connections.
    bool ConnectSrc(KPlug* src, int type = 0);
    bool ConnectDst(KPlug* dst, int type = 0);
    bool ConnectSrcAt(int index, KPlug* src, int type = 0);
    bool ConnectDstAt(int index, KPlug* dst, int type = 0);
    bool ReplaceDst(KPlug* oldDst, KPlug* newDst, int position);
    bool ReplaceSrc(KPlug* oldSrc, KPlug* newSrc, int position);
    bool ReplaceDstAt(int index, KPlug* newDst);
    bool ReplaceSrcAt(int index, KPlug* newSrc);
    bool DisconnectDst(KPlug* dst);
    bool DisconnectSrc(KPlug* src);
    bool DisconnectDstAt(int index);
    bool DisconnectSrcAt(int index);
    void DisconnectAllSrc();
    void DisconnectAllDst();

    int GetSrcCount() const { return mLinks ? mLinks->srcCount : 0; }
    int GetDstCount() const { return int(Size()) - GetSrcCount(); }
    KPlug* GetSrc(int index) const;
    KPlug* GetDst(int index) const;
    int GetSrcType(int index) const;
    int GetDstType(int index) const;
    bool IsConnectedSrc(const KPlug* plug) const { return IndexOfSrc(plug) >= 0; }
    bool IsConnectedDst(const KPlug* plug) const { return IndexOfDst(plug) >= 0; }
    int IndexOfSrc(const KPlug* plug) const;
    // The source / destination at `index`; with a class id, among those of that class
    // (through the class's sub-plug).
    KPlug* GetSrcObject(int index, int classId = -1);
    KPlug* GetDstObject(int index, int classId = -1);
    int IndexOfDst(const KPlug* plug) const;
    // Position in the whole connection list (sources, then destinations) of the last entry
    // naming `plug` by handle and serial; -1 when none. A null plug names an empty entry.
    int FindConnectionIndex(const KPlug* plug) const;

    // Sub-plugs and filters.
    KPlug* FindSubPlug(KPlugFilter* filter);
    // Made when first asked for and kept; a failure to make it (std::bad_alloc) leaves nothing.
    KPlug* GetSubPlug(KPlugFilter* filter);
    // The `index`-th (or the count, for index -1) of this plug's sources or destinations that
    // the filter's view holds: from the view, made when first asked for; without memory to make
    // it, from this plug's own list, filtered as a view made now would be. Never throws, so a
    // destruction can ask.
    int CountFiltered(KPlugFilter* filter, bool source) noexcept;
    KPlug* GetFiltered(KPlugFilter* filter, bool source, int index) noexcept;
    int GetSubPlugCount() const { return mLinks ? int(mLinks->subPlugs.size()) : 0; }
    KPlug* GetSubPlugAt(int index) const;
    void SetFilter(KPlugFilter* filter, uint32_t subPlugFlag = 0);
    KPlugFilter* GetFilter() const;
    bool CanAcceptSource(KPlug* plug) const;
    bool AcceptsSource(KPlug* plug, int type = 0);
    bool CanAcceptDestination(KPlug* plug) const;
    bool AcceptsDestination(KPlug* plug, int type = 0);

    static int GetLivePlugCount();

private:
    // A weak reference to the far end and the connection type, packed in 16 bytes.
    struct Entry {
        Entry(const KWeakRef& ref, int connectionType)
            : handle(ref.handle), serial(ref.serial), type(connectionType) {}
        KWeakRef Ref() const { return KWeakRef{serial, handle}; }
        KPlugHandle* handle;
        uint32_t serial;
        int32_t type;
    };
    // The connections, sub-plugs and filter. Most plugs (a node's many properties) never
    // connect: they hold none of this. Made by the first entry, sub-plug or filter of the plug's
    // own; dropped when the last sub-plug or the filter goes and no entry is left (an emptied
    // list keeps its room, as a plug that connected once mostly connects again).
    struct Links {
        std::vector<Entry> connections;  // sources, then destinations
        std::vector<KPlug*> subPlugs;
        int srcCount = 0;
        // Entries erased at the front are left as a gap until it outgrows the list.
        uint32_t front = 0;
        // Where the last entry was found or erased: lists mostly go in order, front or back first.
        uint32_t hint = 0;
        // A long list keeps a count per reference elsewhere (see FindEntry).
        bool indexed = false;
        // A filter other than the class table's "None" filter (which plugs use by default).
        bool ownFilter = false;
        KPlugFilter* filter = nullptr;
    };
    class BusyScope;

    static bool Connect(KPlug* src, KWeakRef beforeDst, KPlug* dst, KWeakRef beforeSrc, int type);
    static bool Disconnect(KPlug* src, KPlug* dst);
    static void SendReplace(KPlug* srcEnd, KPlug* dstEnd, KPlug* newPlug, int srcCode, int dstCode);

    Links& MakeLinks();
    // Drops the links once they hold nothing (entries, sub-plugs, filter).
    void TrimLinks();
    const std::vector<KPlug*>& SubPlugs() const;
    int SrcCount() const { return mLinks ? mLinks->srcCount : 0; }
    int FindEntry(bool source, const KWeakRef& ref) const;
    void InsertEntry(bool source, int index, const KWeakRef& ref, int type);
    void EraseEntry(bool source, int index);
    void DropDeadEntry(bool source, int index);
    void AddSubPlug(KPlug* sub);
    void RemoveSubPlug(KPlug* sub);
    int MirrorPosition(bool source, const KPlug* top, int topIndex) const;
    void CopyParentConnections();
    void DropMirrors();
    void ReleaseSubPlugs();
    void DisconnectAll(bool source);
    bool DisconnectAt(bool source, int index);
    bool ReplaceAt(bool source, int index, KPlug* newPlug);
    bool Replace(bool source, KPlug* old, KPlug* newPlug, int position);
    KWeakRef EntryRef(bool source, int index) const;
    // The live entries start `front` places into the connections; only called with links.
    Entry& At(size_t i) { return mLinks->connections[mLinks->front + i]; }
    const Entry& At(size_t i) const { return mLinks->connections[mLinks->front + i]; }
    size_t Size() const { return mLinks ? mLinks->connections.size() - mLinks->front : 0; }
    int FindNear(int first, int end, const KWeakRef& ref) const;
    void CountEntry(const KWeakRef& ref, int delta);
    void DropIndex();

    KPlugHandle* mHandle = nullptr;
    KPlug* mParent = nullptr;
    std::unique_ptr<Links> mLinks;
    uint32_t mFlags = eAcceptsSources | eAcceptsDestinations;
    int32_t mBusy = 0;
};

// Identity-only plug classes.
class KPlugList : public KPlug {
    KQOV_CLASS(KPlugList)
};
class KDataPlug : public KPlug {
    KQOV_CLASS(KDataPlug)
};
