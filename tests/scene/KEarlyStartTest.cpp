// The library started from a static initialiser of another file, before that
// file's neighbours in the library may have run their own.
#include <gtest/gtest.h>

#include "scene/KClassRegistry.h"
#include "scene/KDataType.h"

namespace {

struct EarlyStart {
    int types = 0;
    const char* component = nullptr;
    const char* colour = nullptr;
    EarlyStart() {
        KQovSdkEnsureStarted();
        types = KDataType::GetTypeCount();
        if (const KDataType* t = KDataType::FindByName("Lcl Translation"))
            component = t->GetComponentName(0);
        if (const KDataType* t = KDataType::FindByName("Color")) colour = t->GetComponentName(2);
    }
};
const EarlyStart gEarly;

TEST(KStartUp, FromAStaticInitialiser) {
    EXPECT_EQ(gEarly.types, 46);
    EXPECT_STREQ(gEarly.component, "x");
    EXPECT_STREQ(gEarly.colour, "b");
}

}  // namespace
