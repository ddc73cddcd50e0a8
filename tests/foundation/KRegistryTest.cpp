#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "foundation/KRegistry.h"
#include "platform/KPlatformFile.h"

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mTemp.ok());
        setenv("QOV_REGISTRY_DIR", mFolder.c_str(), 1);
    }
    void TearDown() override { unsetenv("QOV_REGISTRY_DIR"); }
    TempTestFolder mTemp{"kregt"};
    std::string mFolder = mTemp.path();
};

std::string RunProbe(const std::string& arguments, int* status = nullptr) {
    std::string command = std::string(QOV_PROGRAMS_DIR) + "/registry_probe " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    if (!pipe) return output;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
    int rc = pclose(pipe);
    if (status) *status = rc;
    return output;
}

TEST_F(Registry, ConnectAndRootNames) {
    KRegistry registry;
    EXPECT_FALSE(registry.Connect(KPLATFORM_HKEY_CURRENT_USER, "MACHINE"));
    EXPECT_EQ(registry.GetLastError(), 6u);
    EXPECT_FALSE(registry.Connect(KPLATFORM_HKEY_CLASSES_ROOT, "MACHINE"));
    ASSERT_TRUE(registry.Connect(KPLATFORM_HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_STREQ(registry.GetRootName().Buffer(), "HKEY_LOCAL_MACHINE");
    char name[260];
    ASSERT_TRUE(KGetLocalComputerName(name, sizeof(name)));
    EXPECT_STREQ(registry.GetMachineName().Buffer(), name);
    EXPECT_TRUE(registry.Close());  // a predefined root closes fine
    EXPECT_STREQ(registry.GetRootName().Buffer(), "");
    EXPECT_FALSE(registry.Connect(KPLATFORM_HKEY_USERS, "far-away-machine"));
    EXPECT_EQ(registry.GetLastError(), 53u);
    EXPECT_STREQ(KRegistry::RootName(12345), "Unknown");
    EXPECT_STREQ(KRegistry::RootName(KPLATFORM_HKEY_DYN_DATA), "HKEY_DYN_DATA");
}

TEST_F(Registry, ReconnectingClosesTheKeyOfThePreviousConnection) {
    KRegistry registry;
    ASSERT_TRUE(registry.Connect(KPLATFORM_HKEY_CURRENT_USER, nullptr));
    ASSERT_TRUE(registry.CreateKey("Software\\Reconnect", nullptr, 0, 0));
    const KPlatformHKey key = registry.GetKey();
    ASSERT_NE(key, KPlatformHKey(0));
    ASSERT_TRUE(registry.Connect(KPLATFORM_HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_EQ(registry.GetKey(), KPlatformHKey(0));
    EXPECT_EQ(KPlatformRegCloseKey(key), 6);  // already closed
}

TEST_F(Registry, TypedValues) {
    KRegistry registry;
    ASSERT_TRUE(registry.Connect(KPLATFORM_HKEY_CURRENT_USER, nullptr));
    EXPECT_FALSE(registry.CreateKey(nullptr));
    EXPECT_EQ(registry.GetLastError(), 87u);
    uint32_t disposition = 0;
    ASSERT_TRUE(registry.CreateKey("Software\\T", "Class", 0, 0, nullptr, &disposition));
    EXPECT_EQ(disposition, KPLATFORM_REG_CREATED_NEW_KEY);
    EXPECT_TRUE(registry.SetDword("n", 7));
    EXPECT_TRUE(registry.SetString("s", "text"));
    EXPECT_FALSE(registry.SetString("s", nullptr));
    EXPECT_EQ(registry.GetLastError(), 87u);
    EXPECT_FALSE(registry.SetDword(nullptr, 1));

    ASSERT_TRUE(registry.OpenKey("software\\t"));
    EXPECT_STREQ(registry.GetClassName().Buffer(), "Class");
    EXPECT_EQ(registry.GetKeyInfo().values, 2u);
    uint32_t value = 0;
    EXPECT_TRUE(registry.QueryDword("N", value));
    EXPECT_EQ(value, 7u);
    KString text("old");
    EXPECT_TRUE(registry.QueryString("S", text));
    EXPECT_STREQ(text.Buffer(), "text");
    // Another type than asked for is a failure, never a reinterpretation.
    EXPECT_FALSE(registry.QueryDword("s", value));
    EXPECT_EQ(value, 7u);
    EXPECT_FALSE(registry.QueryString("n", text));
    EXPECT_STREQ(text.Buffer(), "");
    text = "old";
    EXPECT_FALSE(registry.QueryString("missing", text));
    EXPECT_STREQ(text.Buffer(), "");
    EXPECT_EQ(registry.GetLastError(), 2u);
    EXPECT_FALSE(registry.QueryValue(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(registry.GetLastError(), 87u);
    EXPECT_FALSE(registry.OpenKey("Software\\Missing"));
    EXPECT_EQ(registry.GetLastError(), 2u);
}

TEST_F(Registry, LongStrings) {
    KRegistryStore& store = KRegistryStore::GetInstance();
    ASSERT_TRUE(store.Open("Software\\Velto\\QOV", ""));
    for (size_t length : {0u, 2047u, 2048u, 5000u}) {
        std::string text(length, 'x');
        for (size_t i = 0; i < length; ++i) text[i] = char('a' + i % 26);
        ASSERT_TRUE(store.SetString("Long", "Text", text.c_str()));
        KString out;
        EXPECT_EQ(std::string(store.GetString("Long", "Text", "d", out).Buffer()), text);
        EXPECT_EQ(out.GetLen(), int(length));
    }
    store.Close();
}

TEST_F(Registry, StoreDefaultsAndFloats) {
    KRegistryStore& store = KRegistryStore::GetInstance();
    ASSERT_TRUE(store.Open("Software\\Velto\\QOV", "Options"));
    EXPECT_EQ(store.GetInt("Import", "Missing", 42), 42);
    EXPECT_EQ(store.GetInt("NoKey", "Missing", -3), -3);
    KString out;
    EXPECT_STREQ(store.GetString("Import", "Missing", "dflt", out).Buffer(), "dflt");
    EXPECT_TRUE(store.SetInt("Import", "Count", -5));  // creates the key
    EXPECT_EQ(store.GetInt("IMPORT", "count", 0), -5);
    float f = 0.1f;
    int32_t bits;
    memcpy(&bits, &f, 4);
    EXPECT_TRUE(store.SetInt("Import", "Scale", bits));
    EXPECT_EQ(store.GetFloat("Import", "Scale", 9.0f), 0.1f);
    EXPECT_EQ(store.GetFloat("Import", "Nothing", 9.0f), 9.0f);
    EXPECT_TRUE(store.SetString("Import", "Name", "abc"));
    EXPECT_EQ(store.GetInt("Import", "Name", 11), 11);  // wrong type: the default
    EXPECT_EQ(store.GetFloat("Import", "Name", 2.5f), 2.5f);
    store.Close();
}

TEST_F(Registry, ValueCrossesProcesses) {
    int status = -1;
    RunProbe("set-int Export Level 17", &status);
    ASSERT_EQ(status, 0);
    RunProbe("set-string Export Title 'two words'", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(RunProbe("get-int export LEVEL"), "17");
    EXPECT_EQ(RunProbe("get-string Export title"), "two words");
    EXPECT_EQ(RunProbe("get-int Export Other"), "-1");

    // And this process sees what the other one wrote.
    KRegistryStore& store = KRegistryStore::GetInstance();
    ASSERT_TRUE(store.Open("Software\\Velto\\QOV", "Probe"));
    EXPECT_EQ(store.GetInt("Export", "Level", 0), 17);
    EXPECT_TRUE(store.SetInt("Export", "Level", 18));
    store.Close();
    EXPECT_EQ(RunProbe("get-int Export Level"), "18");
}

}  // namespace
