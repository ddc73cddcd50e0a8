#include "scene/KPlugHandlePool.h"

#include <memory>
#include <vector>

#include "platform/KPlatformSystem.h"

namespace {

struct Pool {
    std::vector<std::unique_ptr<KPlugHandle[]>> blocks;
    KPlugHandle* freeHead = nullptr;
    KPlatformMutex lock;

    void Grow() {
        std::unique_ptr<KPlugHandle[]> block(new KPlugHandle[KPlugHandlePool::kBlockSize]);
        for (int i = 0; i < KPlugHandlePool::kBlockSize; ++i) {
            block[i].serial = KPlugHandlePool::kReleasedSerial;
            block[i].next = i + 1 < KPlugHandlePool::kBlockSize ? &block[i + 1] : freeHead;
        }
        // Listed first: a list of blocks that cannot grow leaves the free list as it was, not
        // pointing into a block freed on the way out.
        blocks.push_back(std::move(block));
        freeHead = &blocks.back()[0];
    }
};

// Zero-initialised before any dynamic initialisation, so plugs built by static
// constructors of other files still find a consistent state.
Pool* gPool = nullptr;
int gRefCount = 0;

}  // namespace

namespace KPlugHandlePool {

void AddRef() {
    if (gRefCount == 0 && !gPool) gPool = new Pool;
    ++gRefCount;
}

void Release() {
    if (gRefCount <= 0) return;
    if (--gRefCount == 0) {
        delete gPool;
        gPool = nullptr;
    }
}

int GetRefCount() {
    return gRefCount;
}
bool Exists() {
    return gPool != nullptr;
}
int GetBlockCount() {
    return gPool ? int(gPool->blocks.size()) : 0;
}

KPlugHandle* Acquire(KPlug* object, uint32_t serial) {
    if (!gPool) return nullptr;
    KPlatformLock guard(gPool->lock);
    if (!gPool->freeHead) gPool->Grow();
    KPlugHandle* slot = gPool->freeHead;
    gPool->freeHead = slot->next;
    slot->serial = serial;
    slot->object = object;
    return slot;
}

void Release(KPlug* object, KPlugHandle*& handle) {
    if (!handle) return;
    if (gPool) {
        KPlatformLock guard(gPool->lock);
        if (handle->serial != kReleasedSerial && handle->object == object) {
            handle->serial = kReleasedSerial;
            handle->next = gPool->freeHead;
            gPool->freeHead = handle;
        }
    }
    handle = nullptr;
}

}  // namespace KPlugHandlePool
