#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "common/RefusingHeap.h"
#include "foundation/KMemoryPool.h"
#include "scene/KClassRegistry.h"
#include "scene/KDataType.h"
#include "scene/KPlugFilter.h"
#include "scene/KPlugHandlePool.h"

namespace {

struct Expected {
    const char* name;
    int id;
    const char* parent;
};

// The registration table: name, id, parent.
const Expected kClasses[] = {
    {"KQovNodeProperties", 3, "KQovPropertyHandler"},
    {"KQovSkeletonProperties", 4, "KObject"},
    {"KQovCameraProperties", 5, "KObject"},
    {"KQovPoseProperties", 6, "KQovPropertyHandler"},
    {"KQovLightProperties", 7, "KObject"},
    {"KQovMaterialProperties", 8, "KQovPropertyHandler"},
    {"KQovTextureProperties", 9, "KQovPropertyHandler"},
    {"KQovCharacterProperties", 10, "KQovPropertyHandler"},
    {"KStreamOptionsQov", 11, "KStreamOptions"},
    {"KPlug", 2, nullptr},
    {"KPlugList", 12, "KPlug"},
    {"KDataPlug", 13, "KPlug"},
    {"KProperty", 14, "KPlug"},
    {"KPropertyObjectList", 15, "KProperty"},
    {"KObject", 1, "KPlug"},
    {"KGenericObjectList", 16, "KObject"},
    {"KObjectList", 17, "KGenericObjectList"},
    {"KQovPropertyHandler", 18, "KObject"},
    {"KQovMarkerProperties", 19, "KObject"},
    {"KQovNullProperties", 20, "KObject"},
    {"KQovVideoProperties", 21, "KQovPropertyHandler"},
    {"KQovGenericNodeProperties", 22, "KQovPropertyHandler"},
    {"KQovDeformerProperties", 23, "KQovPropertyHandler"},
    {"KQovControlSetPlugProperties", 24, "KQovPropertyHandler"},
    {"KStream", 25, "KObject"},
    {"KStreamOptions", 26, "KObject"},
    {"KStreamOptions3ds", 27, "KStreamOptionsBase"},
    {"KStreamOptionsBase", 28, "KStreamOptions"},
    {"KStreamOptionsObj", 29, "KStreamOptionsBase"},
    {"KStreamOptionsDxf", 30, "KStreamOptionsBase"},
    {"KStreamOptionsMotion", 31, "KStreamOptions"},
    {"KQovAsfScene", 32, "KObject"},
    {"KPlugFilter", 33, "KPlug"},
    {"KClassIdFilter", 34, "KPlugFilter"},
    {"KEntity", 35, "KObjectSet"},
    {"KEntityList", 36, "KGenericObjectList"},
    {"KTsObject", 37, "KObject"},
    {"KObjectSet", 38, "KTsObject"},
};

TEST(KClassRegistry, TableMatchesTheRegistrationOrder) {
    KQovSdkInit();
    ASSERT_EQ(KClassRegistry::GetSize(), 40);      // "None" and ids 0..38
    EXPECT_EQ(KClassRegistry::GetAt(1), nullptr);  // id 0 is never assigned
    const KClassInfo* none = KClassRegistry::GetAt(0);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none->name, "None");
    EXPECT_EQ(none->id, -1);
    for (const Expected& e : kClasses) {
        const KClassInfo* info = KClassRegistry::GetAt(e.id + 1);
        ASSERT_NE(info, nullptr) << e.name;
        EXPECT_STREQ(info->name, e.name);
        EXPECT_EQ(info->id, e.id);
        if (e.parent) {
            ASSERT_NE(info->parent, nullptr) << e.name;
            EXPECT_STREQ(info->parent->name, e.parent);
        } else {
            EXPECT_EQ(info->parent, nullptr);
        }
        // Every class descends from KPlug, and is-a follows the chain exactly.
        EXPECT_TRUE(KClassIsA(info, 2)) << e.name;
        for (const KClassInfo* a = info; a; a = a->parent) EXPECT_TRUE(KClassIsA(info, a->id));
        ASSERT_NE(KClassRegistry::GetClassIdFilter(e.id), nullptr);
        EXPECT_EQ(KClassRegistry::GetClassIdFilter(e.id)->GetFilterClassId(), e.id);
    }
    EXPECT_TRUE(KClassIsA(&gKEntityClassInfo, gKTsObjectClassInfo.id));
    EXPECT_FALSE(KClassIsA(&gKEntityClassInfo, gKEntityListClassInfo.id));
    EXPECT_FALSE(KClassIsA(&gKObjectClassInfo, gKPropertyClassInfo.id));
    EXPECT_EQ(KClassRegistry::GetClassIdFilter(39), nullptr);
    EXPECT_EQ(KClassRegistry::GetClassIdFilter(0), nullptr);
    EXPECT_EQ(KClassRegistry::GetClassIdFilter(-2), nullptr);
    KQovSdkRelease();
}

TEST(KClassRegistry, FiltersAcceptDescendants) {
    KQovSdkInit();
    KClassIdFilter* none = KClassRegistry::GetClassIdFilter(-1);
    KClassIdFilter* objectFilter = KClassRegistry::GetClassIdFilter(1);
    KClassIdFilter* plugFilter = KClassRegistry::GetClassIdFilter(2);
    ASSERT_TRUE(none && objectFilter && plugFilter);
    EXPECT_TRUE(none->Accept(nullptr));
    EXPECT_FALSE(objectFilter->Accept(nullptr));
    EXPECT_TRUE(none->Accept(objectFilter));
    // A filter is a plug, not an object.
    EXPECT_FALSE(objectFilter->Accept(plugFilter));
    EXPECT_TRUE(plugFilter->Accept(objectFilter));
    KClassIdFilter* again = KClassIdFilter::Create(1);
    EXPECT_TRUE(again->IsSameFilter(objectFilter));
    EXPECT_FALSE(again->IsSameFilter(plugFilter));
    EXPECT_FALSE(again->IsSameFilter(nullptr));
    delete again;
    KQovSdkRelease();
}

TEST(KClassRegistry, StartUpIsCounted) {
    // Take the library down to zero users, then check that only the first init
    // and the last release create and destroy the shared state.
    KQovSdkEnsureStarted();
    EXPECT_GE(KQovSdkGetUserCount(), 1);
    const int held = KQovSdkGetInitCount();
    for (int i = 0; i < held; ++i) KQovSdkRelease();
    ASSERT_EQ(KQovSdkGetInitCount(), 0);
    EXPECT_FALSE(KClassRegistry::Exists());
    EXPECT_EQ(KDataType::GetTypeCount(), 0);
    EXPECT_EQ(KPlug::GetLivePlugCount(), 0);
    EXPECT_FALSE(KPlugHandlePool::Exists());
    EXPECT_FALSE(KMemoryPoolsActive());

    EXPECT_TRUE(KQovSdkInit());
    EXPECT_TRUE(KMemoryPoolsActive());
    const KMemoryPool* pool = KMemoryPoolDefault();
    const KClassIdFilter* filter = KClassRegistry::GetClassIdFilter(1);
    EXPECT_TRUE(KClassRegistry::Exists());
    EXPECT_EQ(KDataType::GetTypeCount(), 46);
    EXPECT_TRUE(KQovSdkInit());
    EXPECT_EQ(KClassRegistry::GetClassIdFilter(1), filter);
    EXPECT_EQ(KQovSdkGetInitCount(), 2);
    KQovSdkRelease();
    EXPECT_TRUE(KClassRegistry::Exists());
    EXPECT_EQ(KClassRegistry::GetClassIdFilter(1), filter);
    EXPECT_EQ(KMemoryPoolDefault(), pool);
    KQovSdkRelease();
    EXPECT_FALSE(KMemoryPoolsActive());
    EXPECT_FALSE(KClassRegistry::Exists());
    EXPECT_FALSE(KPlugHandlePool::Exists());
    EXPECT_EQ(KPlug::GetLivePlugCount(), 0);
    EXPECT_EQ(KDataType::FindByName("Number"), nullptr);

    // The ids do not depend on how often the library was started.
    for (int i = 0; i < held; ++i) KQovSdkInit();
    EXPECT_EQ(KClassRegistry::GetClassIdFilter(34)->GetFilterClassId(), 34);
    EXPECT_STREQ(KClassRegistry::GetAt(35)->name, "KClassIdFilter");
}

TEST(KClassRegistry, RequestedIdsDoNotMoveTheCounter) {
    KQovSdkInit();
    static KClassInfo extra = {0, &gKObjectClassInfo, "Extra", nullptr};
    // The counter continues after the 36 counted registrations.
    int id = KClassRegistry::Register(&extra, -1);
    EXPECT_EQ(id, 39);
    EXPECT_EQ(extra.id, 39);
    EXPECT_EQ(KClassRegistry::GetAt(40), &extra);
    EXPECT_EQ(KClassRegistry::Register(&extra, 45), 45);
    EXPECT_EQ(KClassRegistry::GetAt(46), &extra);
    EXPECT_EQ(KClassRegistry::GetAt(44), nullptr);
    EXPECT_EQ(KClassRegistry::Register(&extra, -1), 40);
    KQovSdkRelease();
}

// Each allocation of a first start-up refused in turn: the start that failed is undone whole
// (a table left with part of the classes was taken as complete by the next start, whose
// scenes then lost the children their roots had accepted), and the next one is whole.
TEST(KClassRegistry, AStartUpOutOfMemoryIsUndoneWhole) {
    KQovSdkEnsureStarted();
    const int held = KQovSdkGetInitCount();
    for (int i = 0; i < held; ++i) KQovSdkRelease();
    ASSERT_FALSE(KClassRegistry::Exists());
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        bool started = false;
        gThrowIn = n;
        try {
            started = KQovSdkInit();
        } catch (const std::bad_alloc&) {
        }
        const bool done = gThrowIn.exchange(-1) >= 0;
        if (!started) {
            EXPECT_EQ(KQovSdkGetInitCount(), 0);
            EXPECT_FALSE(KClassRegistry::Exists());
            EXPECT_EQ(KDataType::GetTypeCount(), 0);
            EXPECT_FALSE(KMemoryPoolsActive());
            EXPECT_FALSE(KPlugHandlePool::Exists());
            EXPECT_EQ(KPlug::GetLivePlugCount(), 0);
            continue;
        }
        int classes = 0;
        for (int position = 0; position < KClassRegistry::GetSize(); ++position)
            if (const KClassInfo* info = KClassRegistry::GetAt(position)) {
                EXPECT_NE(info->filter, nullptr) << info->name;
                ++classes;
            }
        EXPECT_EQ(classes, 39);  // "None" and the 38 classes
        EXPECT_EQ(KDataType::GetTypeCount(), 46);
        KQovSdkRelease();
        if (done) break;
    }
    EXPECT_GT(n, 40);
    for (int i = 0; i < held; ++i) KQovSdkInit();
}

}  // namespace
