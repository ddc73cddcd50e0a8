#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformRegistry.h"
#include "platform/KPlatformSystem.h"

namespace {

class RegistryFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mTemp.ok());
        setenv("QOV_REGISTRY_DIR", (mFolder + "/store").c_str(), 1);
    }
    void TearDown() override { unsetenv("QOV_REGISTRY_DIR"); }
    TempTestFolder mTemp{"kreg"};
    std::string mFolder = mTemp.path();
};

TEST_F(RegistryFolder, ConnectRules) {
    KPlatformHKey root = 1;
    EXPECT_EQ(KPlatformRegConnect(nullptr, KPLATFORM_HKEY_LOCAL_MACHINE, &root), 0);
    EXPECT_EQ(root, KPLATFORM_HKEY_LOCAL_MACHINE);
    char host[256];
    ASSERT_TRUE(KPlatformGetComputerName(host, sizeof(host)));
    EXPECT_EQ(KPlatformRegConnect((std::string("\\\\") + host).c_str(),
                                  KPLATFORM_HKEY_LOCAL_MACHINE, &root),
              0);
    EXPECT_EQ(KPlatformRegConnect("no-such-machine-xyz", KPLATFORM_HKEY_LOCAL_MACHINE, &root),
              KPLATFORM_ERROR_BAD_NETPATH);
    EXPECT_EQ(KPlatformRegConnect(nullptr, 1234, &root), KPLATFORM_ERROR_INVALID_HANDLE);
    EXPECT_EQ(KPlatformRegCloseKey(KPLATFORM_HKEY_CURRENT_USER), 0);
    EXPECT_EQ(KPlatformRegCloseKey(0x999), KPLATFORM_ERROR_INVALID_HANDLE);
}

TEST_F(RegistryFolder, KeysAndValuesIgnoreCase) {
    KPlatformHKey key = 0;
    uint32_t disposition = 0;
    EXPECT_EQ(KPlatformRegOpenKey(KPLATFORM_HKEY_CURRENT_USER, "Software\\Velto", &key),
              KPLATFORM_ERROR_NOT_FOUND);
    ASSERT_EQ(KPlatformRegCreateKey(KPLATFORM_HKEY_CURRENT_USER, "Software\\Velto\\QOV", "cls",
                                    &key, &disposition),
              0);
    EXPECT_EQ(disposition, KPLATFORM_REG_CREATED_NEW_KEY);
    uint32_t value = 42;
    EXPECT_EQ(KPlatformRegSetValue(key, "Count", KPLATFORM_REG_DWORD, &value, 4), 0);
    const char text[] = "with spaces % and ~ and\nnewline";
    EXPECT_EQ(KPlatformRegSetValue(key, "Name Here", KPLATFORM_REG_SZ, text, sizeof(text)), 0);
    EXPECT_EQ(KPlatformRegSetValue(key, "", KPLATFORM_REG_BINARY, "", 0), 0);
    EXPECT_EQ(KPlatformRegCloseKey(key), 0);
    EXPECT_EQ(KPlatformRegCloseKey(key), KPLATFORM_ERROR_INVALID_HANDLE);

    KPlatformHKey parent = 0;
    ASSERT_EQ(KPlatformRegOpenKey(KPLATFORM_HKEY_CURRENT_USER, "SOFTWARE\\velto", &parent), 0);
    KPlatformRegKeyInfo info;
    ASSERT_EQ(KPlatformRegQueryInfoKey(parent, nullptr, nullptr, &info), 0);
    EXPECT_EQ(info.subKeys, 1u);
    EXPECT_EQ(info.maxSubKeyLength, 3u);
    ASSERT_EQ(KPlatformRegOpenKey(parent, "qov", &key), 0);
    ASSERT_EQ(KPlatformRegCreateKey(parent, "Qov", nullptr, &key, &disposition), 0);
    EXPECT_EQ(disposition, KPLATFORM_REG_OPENED_EXISTING_KEY);

    uint32_t type = 0, read = 0, size = 4;
    EXPECT_EQ(KPlatformRegQueryValue(key, "COUNT", &type, &read, &size), 0);
    EXPECT_EQ(type, KPLATFORM_REG_DWORD);
    EXPECT_EQ(read, 42u);
    char buffer[64];
    size = 3;
    EXPECT_EQ(KPlatformRegQueryValue(key, "name here", &type, buffer, &size),
              KPLATFORM_ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof(text));
    EXPECT_EQ(KPlatformRegQueryValue(key, "name here", &type, buffer, &size), 0);
    EXPECT_EQ(memcmp(buffer, text, sizeof(text)), 0);
    EXPECT_EQ(KPlatformRegQueryValue(key, "", &type, nullptr, &size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(KPlatformRegQueryValue(key, "missing", &type, nullptr, &size),
              KPLATFORM_ERROR_NOT_FOUND);

    char className[8];
    uint32_t classSize = sizeof(className);
    ASSERT_EQ(KPlatformRegQueryInfoKey(key, className, &classSize, &info), 0);
    EXPECT_STREQ(className, "cls");
    EXPECT_EQ(info.values, 3u);
    EXPECT_EQ(info.maxValueNameLength, 9u);
    EXPECT_EQ(KPlatformRegCloseKey(key), 0);
    EXPECT_EQ(KPlatformRegCloseKey(parent), 0);

    // One store file per root, and no temporary file left behind.
    std::vector<KPlatformDirEntry> entries;
    ASSERT_TRUE(KPlatformListDirectory((mFolder + "/store/*.reg").c_str(), entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "HKEY_CURRENT_USER.reg");
    EXPECT_FALSE(KPlatformListDirectory((mFolder + "/store/*.tmp").c_str(), entries));
}

TEST_F(RegistryFolder, DamagedStoreReadsWhatIsSound) {
    ASSERT_EQ(system(("mkdir -p '" + mFolder + "/store'").c_str()), 0);
    FILE* f = fopen((mFolder + "/store/HKEY_USERS.reg").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("QOVREG 1\nV 4 orphan %01%00%00%00\nK A ~\nV 1 v %4\nV 1 w ok%00\nK B", f);
    fclose(f);
    KPlatformHKey key = 0;
    ASSERT_EQ(KPlatformRegOpenKey(KPLATFORM_HKEY_USERS, "a", &key), 0);
    uint32_t size = 0;
    EXPECT_EQ(KPlatformRegQueryValue(key, "v", nullptr, nullptr, &size), KPLATFORM_ERROR_NOT_FOUND);
    EXPECT_EQ(KPlatformRegQueryValue(key, "w", nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, 3u);
    KPlatformRegCloseKey(key);
    EXPECT_EQ(KPlatformRegOpenKey(KPLATFORM_HKEY_USERS, "B", &key), KPLATFORM_ERROR_NOT_FOUND);
}

}  // namespace
