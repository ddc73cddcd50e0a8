#include "scene/KClassRegistry.h"

#include <cstddef>
#include <vector>

#include "foundation/KMemoryPool.h"
#include "scene/KDataType.h"
#include "scene/KPlugFilter.h"
#include "scene/KPlugHandlePool.h"

// The records point at each other statically, so a parent link never depends
// on the registration order; the ids are those the registration gives.
#define KQOV_RECORD(Name, id, Parent) KClassInfo g##Name##ClassInfo = {id, Parent, #Name, nullptr};
#define P(Name) &g##Name##ClassInfo

KQOV_RECORD(KPlug, 2, nullptr)
KQOV_RECORD(KObject, 1, P(KPlug))
KQOV_RECORD(KQovPropertyHandler, 18, P(KObject))
KQOV_RECORD(KQovNodeProperties, 3, P(KQovPropertyHandler))
KQOV_RECORD(KQovSkeletonProperties, 4, P(KObject))
KQOV_RECORD(KQovCameraProperties, 5, P(KObject))
KQOV_RECORD(KQovPoseProperties, 6, P(KQovPropertyHandler))
KQOV_RECORD(KQovLightProperties, 7, P(KObject))
KQOV_RECORD(KQovMaterialProperties, 8, P(KQovPropertyHandler))
KQOV_RECORD(KQovTextureProperties, 9, P(KQovPropertyHandler))
KQOV_RECORD(KQovCharacterProperties, 10, P(KQovPropertyHandler))
KQOV_RECORD(KStreamOptions, 26, P(KObject))
KQOV_RECORD(KStreamOptionsQov, 11, P(KStreamOptions))
KQOV_RECORD(KPlugList, 12, P(KPlug))
KQOV_RECORD(KDataPlug, 13, P(KPlug))
KQOV_RECORD(KProperty, 14, P(KPlug))
KQOV_RECORD(KPropertyObjectList, 15, P(KProperty))
KQOV_RECORD(KGenericObjectList, 16, P(KObject))
KQOV_RECORD(KObjectList, 17, P(KGenericObjectList))
KQOV_RECORD(KQovMarkerProperties, 19, P(KObject))
KQOV_RECORD(KQovNullProperties, 20, P(KObject))
KQOV_RECORD(KQovVideoProperties, 21, P(KQovPropertyHandler))
KQOV_RECORD(KQovGenericNodeProperties, 22, P(KQovPropertyHandler))
KQOV_RECORD(KQovDeformerProperties, 23, P(KQovPropertyHandler))
KQOV_RECORD(KQovControlSetPlugProperties, 24, P(KQovPropertyHandler))
KQOV_RECORD(KStream, 25, P(KObject))
KQOV_RECORD(KStreamOptionsBase, 28, P(KStreamOptions))
KQOV_RECORD(KStreamOptions3ds, 27, P(KStreamOptionsBase))
KQOV_RECORD(KStreamOptionsObj, 29, P(KStreamOptionsBase))
KQOV_RECORD(KStreamOptionsDxf, 30, P(KStreamOptionsBase))
KQOV_RECORD(KStreamOptionsMotion, 31, P(KStreamOptions))
KQOV_RECORD(KQovAsfScene, 32, P(KObject))
KQOV_RECORD(KPlugFilter, 33, P(KPlug))
KQOV_RECORD(KClassIdFilter, 34, P(KPlugFilter))
KQOV_RECORD(KTsObject, 37, P(KObject))
KQOV_RECORD(KObjectSet, 38, P(KTsObject))
KQOV_RECORD(KEntity, 35, P(KObjectSet))
KQOV_RECORD(KEntityList, 36, P(KGenericObjectList))

#undef P
#undef KQOV_RECORD

namespace {

// Position n + 1 holds the record of id n; position 0 the "None" record.
std::vector<KClassInfo*>* gTable = nullptr;
KClassInfo* gNoneRecord = nullptr;
int gNextId = 3;
int gRegistryCount = 0;
int gSdkCount = 0;
int gUserCount = 0;
bool gStarting = false;

void CreateTable() {
    gTable = new std::vector<KClassInfo*>;
    gTable->reserve(16);
    gNextId = 3;
    gNoneRecord = new KClassInfo{-1, nullptr, "None", nullptr};
    gTable->push_back(gNoneRecord);
    gNoneRecord->filter = KClassIdFilter::Create(-1);
}

void DestroyTable() {
    if (!gTable) return;
    for (size_t i = gTable->size(); i-- > 0;) {
        KClassInfo* info = (*gTable)[i];
        if (info && info->filter) {
            KClassIdFilter* filter = info->filter;
            info->filter = nullptr;
            delete filter;
        }
    }
    delete gNoneRecord;
    gNoneRecord = nullptr;
    delete gTable;
    gTable = nullptr;
}

void RegisterAll() {
    // KPlug and KObject keep their reserved ids; the rest count up from 3.
#define KQOV_REGISTER(Name)                                                                   \
    KClassRegistry::Register(&g##Name##ClassInfo, &g##Name##ClassInfo == &gKPlugClassInfo ? 2 \
                                                  : &g##Name##ClassInfo == &gKObjectClassInfo \
                                                      ? 1                                     \
                                                      : -1);
    KQOV_CLASS_RECORDS(KQOV_REGISTER)
#undef KQOV_REGISTER
}

// Holds one users count for the life of the process once any plug exists.
struct StartupHolder {
    StartupHolder() { KQovSdkAddUser(); }
    ~StartupHolder() { KQovSdkRemoveUser(); }
};

}  // namespace

bool KClassIsA(const KClassInfo* info, int id) {
    for (; info; info = info->parent) {
        if (info->id == id) return true;
    }
    return false;
}

int KClassRegistry::Register(KClassInfo* info, int requestedId) {
    if (!gTable) CreateTable();
    int id = requestedId;
    if (id == -1) id = gNextId++;
    if (id < -1 || !info) return id;
    size_t position = size_t(id) + 1;
    while (gTable->size() <= position) gTable->push_back(nullptr);
    (*gTable)[position] = info;
    info->id = id;
    if (!info->filter || info->filter->GetFilterClassId() != id) {
        // Made before the old one goes: a refused allocation leaves no deleted filter behind.
        KClassIdFilter* filter = KClassIdFilter::Create(id);
        delete info->filter;
        info->filter = filter;
    }
    return id;
}

KClassIdFilter* KClassRegistry::GetClassIdFilter(int id) {
    if (!gTable || id < -1) return nullptr;
    size_t position = size_t(id + 1);
    if (position >= gTable->size() || !(*gTable)[position]) return nullptr;
    return (*gTable)[position]->filter;
}

bool KClassRegistry::Exists() {
    return gTable != nullptr;
}

int KClassRegistry::GetSize() {
    return gTable ? int(gTable->size()) : 0;
}

const KClassInfo* KClassRegistry::GetAt(int position) {
    if (!gTable || position < 0 || position >= int(gTable->size())) return nullptr;
    return (*gTable)[size_t(position)];
}

void KClassRegistryInit() {
    if (gRegistryCount == 0) KPlugHandlePool::AddRef();
    ++gRegistryCount;
}

void KClassRegistryShutdown() {
    if (gRegistryCount <= 0) return;
    if (--gRegistryCount == 0) {
        DestroyTable();
        KPlugHandlePool::Release();
    }
}

bool KQovSdkInit() {
    if (gSdkCount == 0) {
        gStarting = true;
        const bool hadTable = gTable != nullptr;
        const bool hadPools = KMemoryPoolsActive();
        bool registryCounted = false;
        try {
            KClassRegistryInit();
            registryCounted = true;
            if (!hadTable) RegisterAll();
            KMemoryPoolsInit();
            KDataType::RegisterAll();  // all or none
        } catch (...) {
            // A start that failed is undone whole, so the next one starts from nothing: a
            // table missing the classes not yet registered would be taken as complete.
            if (!hadPools) KMemoryPoolsShutdown();
            if (!hadTable) DestroyTable();
            if (registryCounted) KClassRegistryShutdown();
            gStarting = false;
            throw;
        }
        gStarting = false;
    }
    ++gSdkCount;
    return true;
}

void KQovSdkRelease() {
    if (gSdkCount <= 0) return;
    if (--gSdkCount == 0) {
        KDataType::UnregisterAll();
        KMemoryPoolsShutdown();
        KClassRegistryShutdown();
    }
}

int KQovSdkGetInitCount() {
    return gSdkCount;
}

void KQovSdkAddUser() {
    if (gUserCount == 0) KQovSdkInit();
    ++gUserCount;
}

void KQovSdkRemoveUser() {
    if (gUserCount <= 0) return;
    if (--gUserCount == 0) KQovSdkRelease();
}

int KQovSdkGetUserCount() {
    return gUserCount;
}

void KQovSdkEnsureStarted() {
    if (gStarting || gTable) return;
    static StartupHolder holder;
}
