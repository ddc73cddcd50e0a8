#include "scene/KPlug.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <iterator>
#include <new>
#include <unordered_map>

#include "scene/KPlugFilter.h"

namespace {

int gLivePlugs = 0;
uint32_t gSerialCounter = 0;

// Lists shorter than this are searched entry by entry.
constexpr int kIndexFrom = 64;

struct RefHash {
    size_t operator()(const KWeakRef& ref) const {
        return std::hash<const void*>()(ref.handle) ^ (size_t(ref.serial) * 0x9E3779B97F4A7C15ull);
    }
};
using RefCounts = std::unordered_map<KWeakRef, int, RefHash>;

// How often each reference is listed, for the plugs with long lists only: a short-listed
// plug pays nothing for them. Never destroyed, as plugs may outlive static destruction.
std::unordered_map<const void*, RefCounts>& Indexes() {
    static auto* indexes = new std::unordered_map<const void*, RefCounts>;
    return *indexes;
}

uint32_t NextSerial() {
    // Never hand out the released marker (a reference holding it would resolve
    // a free slot) nor 0 (the empty reference).
    do {
        ++gSerialCounter;
    } while (gSerialCounter == 0 || gSerialCounter == KPlugHandlePool::kReleasedSerial);
    return gSerialCounter;
}

}  // namespace

// Raises the busy counters of the plugs taking part in a connection change; a
// Destroy() requested meanwhile is carried out when the outermost change ends.
class KPlug::BusyScope {
public:
    BusyScope() = default;
    BusyScope(KPlug* a, KPlug* b) {
        Add(a);
        Add(b);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    void Add(KPlug* plug) {
        if (mCount < kInline)
            mInline[mCount++] = plug->GetWeakRef();
        else
            mMore.push_back(plug->GetWeakRef());
        ++plug->mBusy;
    }
    ~BusyScope() {
        ForEach([](const KWeakRef& ref) {
            if (KPlug* plug = ref.Resolve()) --plug->mBusy;
        });
        ForEach(Finish);
    }

private:
    static void Finish(const KWeakRef& ref) {
        KPlug* plug = ref.Resolve();
        if (plug && plug->mBusy == 0 && (plug->mFlags & eDestroyRequested)) {
            plug->mFlags &= ~uint32_t(eDestroyRequested);
            plug->Destroy();
        }
    }
    template <class F>
    void ForEach(F f) const {
        for (int i = 0; i < mCount; ++i) f(mInline[i]);
        for (const KWeakRef& ref : mMore) f(ref);
    }
    static constexpr int kInline = 4;
    KWeakRef mInline[kInline];
    int mCount = 0;
    std::vector<KWeakRef> mMore;  // sub-plug chains deeper than one level
};

KPlug::KPlug() {
    KQovSdkEnsureStarted();
    // Made before the class table's filters: no filter at all until one is set.
    if (!KClassRegistry::GetClassIdFilter(-1)) MakeLinks().ownFilter = true;
    if (gLivePlugs == 0) KPlugHandlePool::AddRef();
    const uint32_t serial = NextSerial();
    try {
        mHandle = KPlugHandlePool::Acquire(this, serial);
    } catch (...) {
        // No plug was made: it is not counted, and the pool it alone took goes again.
        if (gLivePlugs == 0) KPlugHandlePool::Release();
        throw;
    }
    ++gLivePlugs;
}

KPlug::~KPlug() {
    // Already going: a Destroy() from a notification of the disconnections below
    // (a plug deleted directly, as an embedded member is) must not delete it again.
    ++mBusy;
    // A plug without links (most properties) has no connection, sub-plug or index to undo.
    if (!IsSubPlug()) {
        if (mLinks) {
            DisconnectAll(true);
            DisconnectAll(false);
        }
    } else if (mParent) {
        mParent->RemoveSubPlug(this);
    }
    if (mLinks) {
        ReleaseSubPlugs();
        DropIndex();
    }
    KPlugHandlePool::Release(this, mHandle);
    if (--gLivePlugs == 0) KPlugHandlePool::Release();
}

int KPlug::GetLivePlugCount() {
    return gLivePlugs;
}

void* KPlug::GetInterface(uint32_t id) {
    if (id == 0 || id == 2 || id == kPlugInterfaceId) return this;
    return nullptr;
}

void KPlug::Destroy() {
    if (mBusy > 0) {
        mFlags |= eDestroyRequested;
        return;
    }
    mBusy = 1;
    PrepareDestroy();
    delete this;
}

void KPlug::OnAttach(void*) {}

void KPlug::PrepareDestroy() {
    SendStateEvent(nullptr, eStateDestroying, this, nullptr, nullptr, nullptr);
    if (!IsSubPlug()) {
        DisconnectAllSrc();
        DisconnectAllDst();
    }
    ReleaseSubPlugs();
}

void KPlug::ReleaseSubPlugs() {
    while (mLinks && !mLinks->subPlugs.empty()) {
        KPlug* sub = mLinks->subPlugs.back();
        mLinks->subPlugs.pop_back();
        TrimLinks();
        if (sub->mFlags & eOwnedSubPlug) {
            sub->mParent = nullptr;
            sub->Destroy();
        } else {
            // No longer listed here: forget the parent rather than keep a pointer that may dangle.
            sub->mParent = nullptr;
            sub->DropMirrors();
        }
    }
}

KPlug* KPlug::CreateSubPlug(KPlugFilter*) {
    KPlug* plug = new KPlug;
    plug->OnAttach(nullptr);
    return plug;
}

bool KPlug::IsLinked(KPlug* a, KPlug* b) {
    return mParent ? mParent->IsLinked(a, b) : false;
}

bool KPlug::SendValueEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                           const void* b, const void* c) {
    if (mParent && !(mFlags & eOwnedSubPlug))
        return mParent->SendValueEvent(chain, code, sender, a, b, c);
    return true;
}

bool KPlug::SendStateEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                           const void* b, const void* c) {
    if (mParent && !(mFlags & eOwnedSubPlug))
        return mParent->SendStateEvent(chain, code, sender, a, b, c);
    return true;
}

bool KPlug::Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other,
                   int type, void* extra) {
    if (mParent && !(mFlags & eOwnedSubPlug)) {
        KPlugChain link{chain, this};
        return mParent->Notify(&link, code, sender, index, other, type, extra);
    }
    return true;
}

bool KPlug::NotifyEvent16() {
    return Notify(nullptr, 16, this, -1, nullptr, 0, nullptr);
}
bool KPlug::NotifyEvent17() {
    return Notify(nullptr, 17, this, -1, nullptr, 0, nullptr);
}

void KPlug::SetPlugFlags(uint32_t bits, bool on) {
    if (on)
        mFlags |= bits;
    else
        mFlags &= ~bits;
}

// --- Parents, children and sub-plugs ---

bool KPlug::SetParent(KPlug* parent) {
    if (parent == mParent) return false;
    if (parent) {
        for (KPlug* p = parent; p; p = p->mParent) {
            if (p == this) return false;
        }
        SetParent(nullptr);
        mParent = parent;
        if (IsSubPlug()) {
            parent->AddSubPlug(this);
            CopyParentConnections();
        }
    } else {
        if (IsSubPlug() && mParent) {
            mParent->RemoveSubPlug(this);
            DropMirrors();
        }
        mParent = nullptr;
    }
    return true;
}

// A sub-plug's entries mirror its parent's connections: they go when it leaves.
void KPlug::DropMirrors() {
    if (!mLinks) return;
    DropIndex();
    mLinks->connections.clear();
    mLinks->front = 0;
    mLinks->srcCount = 0;
    TrimLinks();
}

KPlug::Links& KPlug::MakeLinks() {
    if (!mLinks) mLinks = std::make_unique<Links>();
    return *mLinks;
}

void KPlug::TrimLinks() {
    if (mLinks && mLinks->connections.size() == mLinks->front && mLinks->subPlugs.empty() &&
        !mLinks->indexed && !mLinks->ownFilter)
        mLinks.reset();
}

const std::vector<KPlug*>& KPlug::SubPlugs() const {
    static const std::vector<KPlug*> kNone;
    return mLinks ? mLinks->subPlugs : kNone;
}

void KPlug::AddSubPlug(KPlug* sub) {
    MakeLinks().subPlugs.push_back(sub);
}

void KPlug::RemoveSubPlug(KPlug* sub) {
    if (!mLinks) return;
    auto& list = mLinks->subPlugs;
    list.erase(std::remove(list.begin(), list.end(), sub), list.end());
    TrimLinks();
}

bool KPlug::AddChild(KPlug* plug) {
    if (!plug || plug->mParent == this) return false;
    for (KPlug* p = this; p; p = p->mParent) {
        if (p == plug) return false;
    }
    if (plug->mParent) plug->mParent->RemoveChild(plug);
    return plug->SetParent(this);
}

bool KPlug::RemoveChild(KPlug* plug) {
    if (!plug || plug->mParent != this) return false;
    plug->SetParent(nullptr);
    return true;
}

KPlug* KPlug::GetSubPlugAt(int index) const {
    return index >= 0 && index < GetSubPlugCount() ? mLinks->subPlugs[size_t(index)] : nullptr;
}

KPlug* KPlug::FindSubPlug(KPlugFilter* filter) {
    KClassIdFilter* none = KClassRegistry::GetClassIdFilter(-1);
    KClassIdFilter* plugFilter = KClassRegistry::GetClassIdFilter(KPlug::ClassId());
    if (!filter || (none && none->IsSameFilter(filter)) ||
        (plugFilter && plugFilter->IsSameFilter(filter)))
        return this;
    const std::vector<KPlug*>& subs = SubPlugs();
    for (size_t i = subs.size(); i-- > 0;) {
        KPlugFilter* own = subs[i]->GetFilter();
        if (own && own->IsSameFilter(filter)) return subs[i];
    }
    return nullptr;
}

KPlug* KPlug::GetSubPlug(KPlugFilter* filter) {
    if (KPlug* found = FindSubPlug(filter)) return found;
    KPlug* sub = CreateSubPlug(filter);
    if (!sub) return nullptr;
    try {
        AddChild(sub);
        sub->SetFilter(filter, eSubPlug);
    } catch (...) {
        // Half made: out of this plug's lists, then gone.
        RemoveSubPlug(sub);
        sub->DropMirrors();
        sub->mParent = nullptr;
        sub->Destroy();
        throw;
    }
    sub->mFlags |= eOwnedSubPlug;
    return sub;
}

namespace {

// The view, or null when it cannot be made for want of memory.
KPlug* ViewOf(KPlug* plug, KPlugFilter* filter) noexcept {
    try {
        return plug->GetSubPlug(filter);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

int KPlug::CountFiltered(KPlugFilter* filter, bool source) noexcept {
    if (KPlug* view = ViewOf(this, filter)) return source ? view->GetSrcCount() : view->GetDstCount();
    int count = 0;
    for (int i = 0; i < (source ? GetSrcCount() : GetDstCount()); ++i)
        count += filter->Accept(source ? GetSrc(i) : GetDst(i)) ? 1 : 0;
    return count;
}

KPlug* KPlug::GetFiltered(KPlugFilter* filter, bool source, int index) noexcept {
    if (KPlug* view = ViewOf(this, filter)) return source ? view->GetSrc(index) : view->GetDst(index);
    for (int i = 0; index >= 0 && i < (source ? GetSrcCount() : GetDstCount()); ++i) {
        KPlug* plug = source ? GetSrc(i) : GetDst(i);
        if (filter->Accept(plug) && index-- == 0) return plug;
    }
    return nullptr;
}

void KPlug::SetFilter(KPlugFilter* filter, uint32_t subPlugFlag) {
    KClassIdFilter* none = KClassRegistry::GetClassIdFilter(-1);
    if (filter && filter == none) {
        if (mLinks) {
            mLinks->ownFilter = false;
            mLinks->filter = nullptr;
        }
    } else {
        Links& links = MakeLinks();
        links.ownFilter = true;
        links.filter = filter;
    }
    bool wasSub = IsSubPlug();
    if (subPlugFlag & eSubPlug) {
        mFlags |= eSubPlug;
        if (!wasSub && mParent) {
            mParent->AddSubPlug(this);
            CopyParentConnections();
        }
    } else {
        if (wasSub && mParent) {
            mParent->RemoveSubPlug(this);
            DropMirrors();
        }
        mFlags &= ~uint32_t(eSubPlug);
    }
    TrimLinks();
}

KPlugFilter* KPlug::GetFilter() const {
    if (mLinks && mLinks->ownFilter) return mLinks->filter;
    return KClassRegistry::GetClassIdFilter(-1);
}

void KPlug::CopyParentConnections() {
    const KPlug* parent = mParent;
    for (int i = 0; i < parent->SrcCount(); ++i) {
        const Entry& e = parent->At(size_t(i));
        if (CanAcceptSource(e.Ref().Resolve())) InsertEntry(true, SrcCount(), e.Ref(), e.type);
    }
    for (size_t i = size_t(parent->SrcCount()); i < parent->Size(); ++i) {
        const Entry& e = parent->At(i);
        if (CanAcceptDestination(e.Ref().Resolve()))
            InsertEntry(false, GetDstCount(), e.Ref(), e.type);
    }
}

bool KPlug::CanAcceptSource(KPlug* plug) const {
    if (!(mFlags & eAcceptsSources)) return false;
    KPlugFilter* filter = GetFilter();
    return !filter || filter->Accept(plug);
}

bool KPlug::AcceptsSource(KPlug* plug, int type) {
    return CanAcceptSource(plug) &&
           Notify(nullptr, eQueryAcceptSource, this, -1, plug, type, nullptr);
}

bool KPlug::CanAcceptDestination(KPlug* plug) const {
    if (!(mFlags & eAcceptsDestinations)) return false;
    KPlugFilter* filter = GetFilter();
    return !filter || filter->Accept(plug);
}

bool KPlug::AcceptsDestination(KPlug* plug, int type) {
    return CanAcceptDestination(plug) &&
           Notify(nullptr, eQueryAcceptDestination, this, -1, plug, type, nullptr);
}

// --- Connection lists ---

KPlug* KPlug::GetSrc(int index) const {
    if (index < 0 || index >= SrcCount()) return nullptr;
    return At(size_t(index)).Ref().Resolve();
}

KPlug* KPlug::GetDst(int index) const {
    if (index < 0 || index >= GetDstCount()) return nullptr;
    return At(size_t(SrcCount() + index)).Ref().Resolve();
}

KPlug* KPlug::GetSrcObject(int index, int classId) {
    if (classId == -1) return GetSrc(index);
    KClassIdFilter* filter = KClassRegistry::GetClassIdFilter(classId);
    if (!filter) return nullptr;  // no such class: nothing is of it
    return GetFiltered(filter, true, index);
}

KPlug* KPlug::GetDstObject(int index, int classId) {
    if (classId == -1) return GetDst(index);
    KClassIdFilter* filter = KClassRegistry::GetClassIdFilter(classId);
    if (!filter) return nullptr;  // no such class: nothing is of it
    return GetFiltered(filter, false, index);
}

int KPlug::GetSrcType(int index) const {
    return index >= 0 && index < SrcCount() ? At(size_t(index)).type : 0;
}

int KPlug::GetDstType(int index) const {
    return index >= 0 && index < GetDstCount() ? At(size_t(SrcCount() + index)).type : 0;
}

// The last entry naming `ref`. A long list knows how often each reference is in it: one
// listed once is looked for outwards from the last one found, so a wide parent whose children
// go first to last, or last to first, costs no pass over the list per child.
int KPlug::FindEntry(bool source, const KWeakRef& ref) const {
    if (!ref.handle || !mLinks) return -1;
    int first = source ? 0 : mLinks->srcCount;
    int end = source ? mLinks->srcCount : int(Size());
    // The last entry is the one asked for when a list is emptied from its end.
    if (end > first && At(size_t(end - 1)).Ref() == ref) return end - 1 - first;
    if (end - first >= kIndexFrom) {
        RefCounts& counts = Indexes()[this];
        if (!mLinks->indexed) {
            mLinks->indexed = true;
            for (size_t i = 0; i < Size(); ++i) ++counts[At(i).Ref()];
        }
        auto found = counts.find(ref);
        if (found == counts.end()) return -1;
        if (found->second == 1) {
            int at = FindNear(first, end, ref);
            return at < 0 ? -1 : at - first;
        }
    }
    // From the end: removals usually concern the latest connections.
    for (int i = end; i-- > first;) {
        if (At(size_t(i)).Ref() == ref) return i - first;
    }
    return -1;
}

int KPlug::FindNear(int first, int end, const KWeakRef& ref) const {
    const int hint = std::clamp(int(mLinks->hint), first, end - 1);
    for (int d = 0; hint - d >= first || hint + d < end; ++d) {
        int at = -1;
        if (hint + d < end && At(size_t(hint + d)).Ref() == ref)
            at = hint + d;
        else if (d > 0 && hint - d >= first && At(size_t(hint - d)).Ref() == ref)
            at = hint - d;
        if (at >= 0) {
            mLinks->hint = uint32_t(at);
            return at;
        }
    }
    return -1;
}

void KPlug::CountEntry(const KWeakRef& ref, int delta) {
    if (!mLinks || !mLinks->indexed) return;
    RefCounts& counts = Indexes()[this];
    auto found = counts.try_emplace(ref, 0).first;
    if ((found->second += delta) == 0) counts.erase(found);
}

void KPlug::DropIndex() {
    if (!mLinks || !mLinks->indexed) return;
    Indexes().erase(this);
    mLinks->indexed = false;
}

int KPlug::FindConnectionIndex(const KPlug* plug) const {
    const KWeakRef ref = plug ? plug->GetWeakRef() : KWeakRef{};
    for (int i = int(Size()); i-- > 0;)
        if (At(size_t(i)).Ref() == ref) return i;
    return -1;
}

int KPlug::IndexOfSrc(const KPlug* plug) const {
    return plug ? FindEntry(true, plug->GetWeakRef()) : -1;
}

int KPlug::IndexOfDst(const KPlug* plug) const {
    return plug ? FindEntry(false, plug->GetWeakRef()) : -1;
}

void KPlug::InsertEntry(bool source, int index, const KWeakRef& ref, int type) {
    Links& links = MakeLinks();
    int count = source ? links.srcCount : GetDstCount();
    index = std::clamp(index, 0, count);
    size_t at = size_t(source ? index : links.srcCount + index);
    // Counted first: a refused insertion takes the count back, which allocates nothing, so the
    // entry is there and counted or neither.
    CountEntry(ref, 1);
    if (at == 0 && links.front > 0) {
        --links.front;
        At(0) = Entry{ref, type};
    } else {
        try {
            links.connections.insert(links.connections.begin() + ptrdiff_t(links.front + at),
                                     Entry{ref, type});
        } catch (...) {
            CountEntry(ref, -1);
            throw;
        }
    }
    if (source) ++links.srcCount;
}

void KPlug::EraseEntry(bool source, int index) {
    Links& links = *mLinks;
    size_t at = size_t(source ? index : links.srcCount + index);
    CountEntry(At(at).Ref(), -1);
    // The shorter side moves: in the front half, what comes before shifts up into the gap.
    auto begin = links.connections.begin() + ptrdiff_t(links.front);
    if (at < Size() / 2) {
        std::move_backward(begin, begin + ptrdiff_t(at), begin + ptrdiff_t(at + 1));
        ++links.front;
    } else {
        links.connections.erase(begin + ptrdiff_t(at));
    }
    if (size_t(links.front) > Size()) {
        links.connections.erase(links.connections.begin(),
                                links.connections.begin() + ptrdiff_t(links.front));
        links.front = 0;
    }
    links.hint = uint32_t(at);
    if (source) --links.srcCount;
    // The links stay when the last entry goes, as a list keeps its room: a plug that connected
    // once mostly connects again.
}

void KPlug::DropDeadEntry(bool source, int index) {
    KWeakRef ref = At(size_t(source ? index : SrcCount() + index)).Ref();
    EraseEntry(source, index);
    for (KPlug* sub : SubPlugs()) {
        int i = sub->FindEntry(source, ref);
        if (i >= 0) sub->EraseEntry(source, i);
    }
}

// Position in this sub-plug's list that keeps the order of the parent-level
// list `top` when an entry is inserted there at `topIndex`.
int KPlug::MirrorPosition(bool source, const KPlug* top, int topIndex) const {
    int count = source ? SrcCount() : GetDstCount();
    int topCount = source ? top->SrcCount() : top->GetDstCount();
    if (topIndex >= topCount) return count;
    int topBase = source ? 0 : top->SrcCount();
    int base = source ? 0 : SrcCount();
    int j = 0;
    for (int i = 0; i < topIndex && j < count; ++i) {
        if (At(size_t(base + j)).Ref() == top->At(size_t(topBase + i)).Ref()) ++j;
    }
    return j;
}

// --- Connecting ---

bool KPlug::ConnectSrc(KPlug* src, int type) {
    return Connect(src, {}, this, {}, type);
}

bool KPlug::ConnectDst(KPlug* dst, int type) {
    return Connect(this, {}, dst, {}, type);
}

bool KPlug::ConnectSrcAt(int index, KPlug* src, int type) {
    return Connect(src, {}, this, EntryRef(true, index), type);
}

bool KPlug::ConnectDstAt(int index, KPlug* dst, int type) {
    return Connect(this, EntryRef(false, index), dst, {}, type);
}

bool KPlug::Connect(KPlug* src, KWeakRef beforeDst, KPlug* dst, KWeakRef beforeSrc, int type) {
    // Busy from the first query on: a plug destroyed by a query handler stays
    // valid until the connection is made or refused.
    BusyScope busy;
    for (;;) {
        if (!src || !dst || src == dst) return false;
        busy.Add(src);
        busy.Add(dst);
        if (dst->mFlags & eOneSidedDestination) type |= eOneSided;
        if (!dst->AcceptsSource(src, type)) return false;
        if (!(type & eOneSided) && !src->AcceptsDestination(dst, type)) return false;
        if (!src->IsSubPlug() && !dst->IsSubPlug()) break;
        if (src->IsSubPlug()) src = src->mParent;
        if (dst->IsSubPlug()) dst = dst->mParent;
    }
    const bool twoSided = !(type & eOneSided);
    const KWeakRef srcRef = src->GetWeakRef();
    const KWeakRef dstRef = dst->GetWeakRef();

    dst->Notify(nullptr, eSourceAdding, dst, -1, src, type, nullptr);
    if (twoSided) src->Notify(nullptr, eDestinationAdding, src, -1, dst, type, nullptr);
    if (!srcRef.Resolve() || !dstRef.Resolve()) return false;

    int dstIndex = dst->FindEntry(true, beforeSrc);
    if (dstIndex < 0) dstIndex = dst->SrcCount();
    int srcIndex = src->GetDstCount();
    if (twoSided) {
        srcIndex = src->FindEntry(false, beforeDst);
        if (srcIndex < 0) srcIndex = src->GetDstCount();
    }

    struct Mirror {
        KWeakRef sub;
        int index;
    };
    std::vector<Mirror> dstMirrors, srcMirrors;
    // By index: a handler may change the sub-plug lists.
    for (size_t k = 0; k < dst->SubPlugs().size(); ++k) {
        KPlug* sub = dst->SubPlugs()[k];
        if (sub->CanAcceptSource(src) &&
            sub->Notify(nullptr, eQueryAcceptSource, sub, -1, src, type, nullptr))
            dstMirrors.push_back({sub->GetWeakRef(), sub->MirrorPosition(true, dst, dstIndex)});
    }
    if (twoSided) {
        for (size_t k = 0; k < src->SubPlugs().size(); ++k) {
            KPlug* sub = src->SubPlugs()[k];
            if (sub->CanAcceptDestination(dst) &&
                sub->Notify(nullptr, eQueryAcceptDestination, sub, -1, dst, type, nullptr))
                srcMirrors.push_back(
                    {sub->GetWeakRef(), sub->MirrorPosition(false, src, srcIndex)});
        }
    }
    for (const Mirror& m : dstMirrors) {
        if (KPlug* sub = m.sub.Resolve())
            sub->Notify(nullptr, eSourceAdding, sub, -1, src, type, nullptr);
    }
    for (const Mirror& m : srcMirrors) {
        if (KPlug* sub = m.sub.Resolve())
            sub->Notify(nullptr, eDestinationAdding, sub, -1, dst, type, nullptr);
    }
    if (!srcRef.Resolve() || !dstRef.Resolve()) return false;

    // All or none: memory refused part of the way takes back what was entered, so that no end
    // lists a connection the other does not know, and no one is told of it.
    struct Entered {
        KPlug* plug;
        bool source;
        int index;
    };
    // Kept in place for the few views a plug has: a connection costs no allocation for them.
    Entered inPlace[8];
    std::vector<Entered> more;
    const size_t most = 2 + dstMirrors.size() + srcMirrors.size();
    if (most > std::size(inPlace)) more.resize(most);
    Entered* const entered = most > std::size(inPlace) ? more.data() : inPlace;
    size_t enteredCount = 0;
    const auto enter = [entered, &enteredCount](KPlug* plug, bool source, int index,
                                                const KWeakRef& ref, int type) {
        plug->InsertEntry(source, index, ref, type);
        entered[enteredCount++] = {plug, source, index};
    };
    try {
        dstIndex = std::min(dstIndex, dst->SrcCount());
        enter(dst, true, dstIndex, srcRef, type);
        if (twoSided) {
            srcIndex = std::min(srcIndex, src->GetDstCount());
            enter(src, false, srcIndex, dstRef, type);
        }
        for (Mirror& m : dstMirrors) {
            if (KPlug* sub = m.sub.Resolve()) {
                m.index = std::min(m.index, sub->SrcCount());
                enter(sub, true, m.index, srcRef, type);
            }
        }
        for (Mirror& m : srcMirrors) {
            if (KPlug* sub = m.sub.Resolve()) {
                m.index = std::min(m.index, sub->GetDstCount());
                enter(sub, false, m.index, dstRef, type);
            }
        }
    } catch (...) {
        while (enteredCount > 0) {
            const Entered& at = entered[--enteredCount];
            at.plug->EraseEntry(at.source, at.index);
        }
        throw;
    }

    dst->Notify(nullptr, eSourceAdded, dst, dstIndex, src, type, nullptr);
    if (twoSided && srcRef.Resolve() && dstRef.Resolve())
        src->Notify(nullptr, eDestinationAdded, src, srcIndex, dst, type, nullptr);
    for (const Mirror& m : dstMirrors) {
        KPlug* sub = m.sub.Resolve();
        if (sub && srcRef.Resolve())
            sub->Notify(nullptr, eSourceAdded, sub, m.index, src, type, nullptr);
    }
    for (const Mirror& m : srcMirrors) {
        KPlug* sub = m.sub.Resolve();
        if (sub && dstRef.Resolve())
            sub->Notify(nullptr, eDestinationAdded, sub, m.index, dst, type, nullptr);
    }
    return true;
}

// --- Disconnecting ---

bool KPlug::DisconnectDst(KPlug* dst) {
    return Disconnect(this, dst);
}

bool KPlug::DisconnectSrc(KPlug* src) {
    return Disconnect(src, this);
}

namespace {

struct Holder {
    KWeakRef sub;
    int index;
};
// The views of a plug are few: held in place, so that taking an object apart (which
// disconnects it) allocates nothing; more than that many go to the heap.
struct Holders {
    Holder first[8];
    size_t count = 0;
    std::vector<Holder> more;
    void push_back(const Holder& h) {
        if (count < std::size(first))
            first[count++] = h;
        else
            more.push_back(h);
    }
    template <class F>
    bool any_of(F f) const {
        return std::any_of(first, first + count, f) || std::any_of(more.begin(), more.end(), f);
    }
    template <class F>
    void for_each(F f) const {
        std::for_each(first, first + count, f);
        std::for_each(more.begin(), more.end(), f);
    }
};

}  // namespace

bool KPlug::Disconnect(KPlug* src, KPlug* dst) {
    while (src && dst && (src->IsSubPlug() || dst->IsSubPlug())) {
        if (src->IsSubPlug()) src = src->mParent;
        if (dst->IsSubPlug()) dst = dst->mParent;
    }
    if (!src || !dst) return false;
    if (!dst->CanAcceptSource(src) || !src->CanAcceptDestination(dst)) return false;

    const KWeakRef srcRef = src->GetWeakRef();
    const KWeakRef dstRef = dst->GetWeakRef();
    int dstIndex = dst->FindEntry(true, srcRef);
    int srcIndex = src->FindEntry(false, dstRef);
    if (dstIndex < 0 && srcIndex < 0) return false;

    Holders dstHolders, srcHolders;
    for (KPlug* sub : dst->SubPlugs()) {
        int i = sub->FindEntry(true, srcRef);
        if (i >= 0) dstHolders.push_back({sub->GetWeakRef(), i});
    }
    for (KPlug* sub : src->SubPlugs()) {
        int i = sub->FindEntry(false, dstRef);
        if (i >= 0) srcHolders.push_back({sub->GetWeakRef(), i});
    }

    BusyScope busy(src, dst);
    dst->BeginConnectionChange();
    src->BeginConnectionChange();

    if (dstIndex >= 0) dst->Notify(nullptr, eSourceRemoving, dst, dstIndex, src, 0, nullptr);
    if (srcIndex >= 0) src->Notify(nullptr, eDestinationRemoving, src, srcIndex, dst, 0, nullptr);
    dstHolders.for_each([&](const Holder& h) {
        if (KPlug* sub = h.sub.Resolve())
            sub->Notify(nullptr, eSourceRemoving, sub, -1, src, 0, nullptr);
    });
    srcHolders.for_each([&](const Holder& h) {
        if (KPlug* sub = h.sub.Resolve())
            sub->Notify(nullptr, eDestinationRemoving, sub, -1, dst, 0, nullptr);
    });

    // Notifications may have changed the lists: find the entries again.
    auto erase = [](KPlug* plug, bool source, const KWeakRef& ref) {
        if (!plug) return;
        int i = plug->FindEntry(source, ref);
        if (i >= 0) plug->EraseEntry(source, i);
    };
    erase(dstRef.Resolve(), true, srcRef);
    erase(srcRef.Resolve(), false, dstRef);
    dstHolders.for_each([&](const Holder& h) { erase(h.sub.Resolve(), true, srcRef); });
    srcHolders.for_each([&](const Holder& h) { erase(h.sub.Resolve(), false, dstRef); });
    // A sub-plug made by a notification above copied the entry: drop it there too.
    // Erasing calls nothing out, so the lists hold still during the walk.
    auto eraseFromNew = [&erase](KPlug* plug, bool source, const KWeakRef& ref,
                                 const Holders& holders) {
        if (!plug) return;
        for (KPlug* sub : plug->SubPlugs()) {
            const KWeakRef subRef = sub->GetWeakRef();
            if (!holders.any_of([&subRef](const Holder& h) { return h.sub == subRef; }))
                erase(sub, source, ref);
        }
    };
    eraseFromNew(dstRef.Resolve(), true, srcRef, dstHolders);
    eraseFromNew(srcRef.Resolve(), false, dstRef, srcHolders);

    // Both ends are busy, so neither was deleted by the notifications.
    if (dstIndex >= 0) dst->Notify(nullptr, eSourceRemoved, dst, dstIndex, src, 0, nullptr);
    if (srcIndex >= 0) src->Notify(nullptr, eDestinationRemoved, src, srcIndex, dst, 0, nullptr);
    dstHolders.for_each([&](const Holder& h) {
        if (KPlug* sub = h.sub.Resolve())
            sub->Notify(nullptr, eSourceRemoved, sub, h.index, src, 0, nullptr);
    });
    srcHolders.for_each([&](const Holder& h) {
        if (KPlug* sub = h.sub.Resolve())
            sub->Notify(nullptr, eDestinationRemoved, sub, h.index, dst, 0, nullptr);
    });
    dst->EndConnectionChange();
    src->EndConnectionChange();
    return true;
}

bool KPlug::DisconnectAt(bool source, int index) {
    int count = source ? SrcCount() : GetDstCount();
    if (index < 0 || index >= count) return false;
    KPlug* far = At(size_t(source ? index : SrcCount() + index)).Ref().Resolve();
    if (!far) {
        DropDeadEntry(source, index);
        return true;
    }
    return source ? Disconnect(far, this) : Disconnect(this, far);
}

bool KPlug::DisconnectDstAt(int index) {
    return DisconnectAt(false, index);
}

bool KPlug::DisconnectSrcAt(int index) {
    return DisconnectAt(true, index);
}

void KPlug::DisconnectAll(bool source) {
    KWeakRef self = GetWeakRef();
    int i = source ? SrcCount() : GetDstCount();
    // Emptied from its end, a long list and its mirrors find every entry last: counts kept per
    // reference would only be upkeep. A lookup that needs them again makes them anew.
    if (i >= kIndexFrom) {
        DropIndex();
        for (KPlug* sub : SubPlugs()) sub->DropIndex();
    }
    while (--i >= 0) {
        if (self.handle && !self.Resolve()) return;
        int count = source ? SrcCount() : GetDstCount();
        if (i >= count) i = count - 1;
        if (i < 0) break;
        DisconnectAt(source, i);
    }
}

void KPlug::DisconnectAllSrc() {
    DisconnectAll(true);
}

void KPlug::DisconnectAllDst() {
    DisconnectAll(false);
}

// --- Replacing ---

void KPlug::SendReplace(KPlug* srcEnd, KPlug* dstEnd, KPlug* newPlug, int srcCode, int dstCode) {
    int srcIndex = srcEnd->IndexOfDst(dstEnd);
    int dstIndex = dstEnd->IndexOfSrc(srcEnd);
    srcEnd->Notify(nullptr, srcCode, srcEnd, srcIndex, dstEnd, 0, newPlug);
    dstEnd->Notify(nullptr, dstCode, dstEnd, dstIndex, srcEnd, 0, newPlug);
    std::vector<KWeakRef> subs;
    for (KPlug* sub : dstEnd->SubPlugs()) subs.push_back(sub->GetWeakRef());
    for (const KWeakRef& ref : subs) {
        if (KPlug* sub = ref.Resolve())
            sub->Notify(nullptr, dstCode, sub, dstIndex, srcEnd, 0, newPlug);
    }
    subs.clear();
    for (KPlug* sub : srcEnd->SubPlugs()) subs.push_back(sub->GetWeakRef());
    for (const KWeakRef& ref : subs) {
        if (KPlug* sub = ref.Resolve())
            sub->Notify(nullptr, srcCode, sub, srcIndex, dstEnd, 0, newPlug);
    }
}

KWeakRef KPlug::EntryRef(bool source, int index) const {
    int count = source ? SrcCount() : GetDstCount();
    if (index < 0 || index >= count) return {};
    return At(size_t(source ? index : SrcCount() + index)).Ref();
}

// `old` is one of this plug's sources (`source`) or destinations; `newPlug` takes
// its place, and its own list position `position` when that is valid.
bool KPlug::Replace(bool source, KPlug* old, KPlug* newPlug, int position) {
    int index = source ? IndexOfSrc(old) : IndexOfDst(old);
    if (index < 0) return false;
    const KWeakRef self = GetWeakRef(), oldRef = old->GetWeakRef();
    const KWeakRef newRef = newPlug ? newPlug->GetWeakRef() : KWeakRef{};
    BusyScope busy(this, old);
    KPlug* srcEnd = source ? old : this;
    KPlug* dstEnd = source ? this : old;
    SendReplace(srcEnd, dstEnd, newPlug, eDestinationReplacing, eSourceReplacing);
    bool connected = false;
    if (source ? DisconnectSrc(old) : DisconnectDst(old)) {
        // The new plug is no party to the disconnection: it may have gone meanwhile.
        newPlug = newRef.Resolve();
        KWeakRef mine = EntryRef(source, index);
        KWeakRef theirs = newPlug ? newPlug->EntryRef(!source, position) : KWeakRef{};
        connected = source ? Connect(newPlug, theirs, this, mine, 0)
                           : Connect(this, mine, newPlug, theirs, 0);
    }
    if (self.Resolve() && oldRef.Resolve())
        SendReplace(srcEnd, dstEnd, newPlug, eDestinationReplaced, eSourceReplaced);
    return connected;
}

bool KPlug::ReplaceDst(KPlug* oldDst, KPlug* newDst, int position) {
    return Replace(false, oldDst, newDst, position);
}

bool KPlug::ReplaceSrc(KPlug* oldSrc, KPlug* newSrc, int position) {
    return Replace(true, oldSrc, newSrc, position);
}

bool KPlug::ReplaceAt(bool source, int index, KPlug* newPlug) {
    int count = source ? SrcCount() : GetDstCount();
    if (index < 0) return false;
    if (index >= count) return source ? ConnectSrc(newPlug) : ConnectDst(newPlug);
    KPlug* old = EntryRef(source, index).Resolve();
    if (!old) {
        DropDeadEntry(source, index);
        return source ? ConnectSrcAt(index, newPlug) : ConnectDstAt(index, newPlug);
    }
    return source ? ReplaceSrc(old, newPlug, -1) : ReplaceDst(old, newPlug, -1);
}

bool KPlug::ReplaceDstAt(int index, KPlug* newDst) {
    return ReplaceAt(false, index, newDst);
}

bool KPlug::ReplaceSrcAt(int index, KPlug* newSrc) {
    return ReplaceAt(true, index, newSrc);
}
