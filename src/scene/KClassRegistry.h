#pragma once
// Run-time class identity of the object model, the class table and the counted
// start-up and release of the scene library.
//
// Every class record is plain constant-initialised data, so identities never
// depend on the order in which files are initialised. The table itself (and the
// class-id filters it owns) exists between the first KQovSdkInit and the last
// KQovSdkRelease; the first plug ever constructed starts the library once for
// the life of the process.

#include <cstdint>

class KClassIdFilter;

struct KClassInfo {
    int32_t id;          // fixed by the registration order below
    KClassInfo* parent;  // null only for KPlug
    const char* name;
    KClassIdFilter* filter;  // owned by the table while it exists
};

// The records, in registration order (ids 3..38, KPlug 2 and KObject 1).
#define KQOV_CLASS_RECORDS(X)       \
    X(KQovNodeProperties)           \
    X(KQovSkeletonProperties)       \
    X(KQovCameraProperties)         \
    X(KQovPoseProperties)           \
    X(KQovLightProperties)          \
    X(KQovMaterialProperties)       \
    X(KQovTextureProperties)        \
    X(KQovCharacterProperties)      \
    X(KStreamOptionsQov)            \
    X(KPlug)                        \
    X(KPlugList)                    \
    X(KDataPlug)                    \
    X(KProperty)                    \
    X(KPropertyObjectList)          \
    X(KObject)                      \
    X(KGenericObjectList)           \
    X(KObjectList)                  \
    X(KQovPropertyHandler)          \
    X(KQovMarkerProperties)         \
    X(KQovNullProperties)           \
    X(KQovVideoProperties)          \
    X(KQovGenericNodeProperties)    \
    X(KQovDeformerProperties)       \
    X(KQovControlSetPlugProperties) \
    X(KStream)                      \
    X(KStreamOptions)               \
    X(KStreamOptions3ds)            \
    X(KStreamOptionsBase)           \
    X(KStreamOptionsObj)            \
    X(KStreamOptionsDxf)            \
    X(KStreamOptionsMotion)         \
    X(KQovAsfScene)                 \
    X(KPlugFilter)                  \
    X(KClassIdFilter)               \
    X(KEntity)                      \
    X(KEntityList)                  \
    X(KTsObject)                    \
    X(KObjectSet)

#define KQOV_DECLARE_CLASS_RECORD(Name) extern KClassInfo g##Name##ClassInfo;
KQOV_CLASS_RECORDS(KQOV_DECLARE_CLASS_RECORD)
#undef KQOV_DECLARE_CLASS_RECORD

// Inside a class body: binds the class to its record. The class-identity
// operations of KPlug (IsA, GetClassId, GetClassName) read GetClassInfo().
#define KQOV_CLASS(Name)                              \
public:                                               \
    static KClassInfo* StaticClassInfo() {            \
        return &g##Name##ClassInfo;                   \
    }                                                 \
    static int ClassId() {                            \
        return g##Name##ClassInfo.id;                 \
    }                                                 \
    const KClassInfo* GetClassInfo() const override { \
        return &g##Name##ClassInfo;                   \
    }                                                 \
                                                      \
private:

// True when `id` is the id of `info` or of one of its ancestors.
bool KClassIsA(const KClassInfo* info, int id);

class KClassRegistry {
public:
    // Registers a class; -1 takes the next id from the counter (which starts at 3).
    // The returned id is also stored in the record.
    static int Register(KClassInfo* info, int requestedId);
    // The filter of class `id`; -1 gives the "None" filter that accepts everything.
    // Null when the table does not exist or the id was never registered.
    static KClassIdFilter* GetClassIdFilter(int id);
    static bool Exists();
    // Number of positions in the table ("None" included), 0 when there is none.
    static int GetSize();
    static const KClassInfo* GetAt(int position);
};

void KClassRegistryInit();
void KClassRegistryShutdown();

// Counted start-up of the whole library; the first one registers the classes
// and the data types, the last release tears everything down.
bool KQovSdkInit();
void KQovSdkRelease();
int KQovSdkGetInitCount();

// The users count kept by the start-up holder and by the object managers: the
// first user starts the library, the last one releases it.
void KQovSdkAddUser();
void KQovSdkRemoveUser();
int KQovSdkGetUserCount();

// Starts the library once for the life of the process (idempotent); the plug
// constructor calls it so that no caller depends on an explicit start-up.
void KQovSdkEnsureStarted();
