#pragma once
// Typed values in the registry store: KRegistry holds one root and one open key and keeps the
// last result; KRegistryStore is the global store of option values under one base path of
// HKEY_CURRENT_USER.

#include <cstddef>
#include <cstdint>

#include "foundation/KString.h"
#include "platform/KPlatformRegistry.h"

class KRegistry {
public:
    KRegistry() = default;
    ~KRegistry() { Close(); }
    KRegistry(const KRegistry&) = delete;
    KRegistry& operator=(const KRegistry&) = delete;

    // Every operation keeps the platform result in GetLastError and returns true on success.
    // HKEY_CLASSES_ROOT and HKEY_CURRENT_USER are reachable only with a null machine.
    bool Connect(KPlatformHKey root, const char* machine);
    // `options`, `access` and `security` are kept for callers written against them; the
    // store has no use for them.
    bool CreateKey(const char* path, const char* className = nullptr, uint32_t options = 0,
                   uint32_t access = 0, const void* security = nullptr,
                   uint32_t* disposition = nullptr);
    bool OpenKey(const char* path, uint32_t access = 0);
    bool QueryKeyInfo();
    bool QueryValue(const char* name, uint32_t* type, void* buffer, uint32_t* size);
    // A value of another type than REG_DWORD (or not 4 bytes long) is a failure.
    bool QueryDword(const char* name, uint32_t& value);
    // A REG_SZ value of any length, always terminated; `text` is empty on failure.
    bool QueryString(const char* name, KString& text);
    bool SetDword(const char* name, uint32_t value);
    bool SetString(const char* name, const char* text);
    // Closes the open key and the root; when the root cannot be closed, false and nothing
    // is reset.
    bool Close();
    // Forgets everything without closing.
    void Reset();

    uint32_t GetLastError() const { return mLastError; }
    KPlatformHKey GetRoot() const { return mRoot; }
    KPlatformHKey GetKey() const { return mKey; }
    const KString& GetClassName() const { return mClassName; }
    const KString& GetMachineName() const { return mMachineName; }
    const KString& GetRootName() const { return mRootName; }
    const KString& GetKeyPath() const { return mKeyPath; }
    const KPlatformRegKeyInfo& GetKeyInfo() const { return mInfo; }

    // "HKEY_LOCAL_MACHINE" ... for the predefined roots, "Unknown" for anything else.
    static const char* RootName(KPlatformHKey root);

private:
    bool Result(long result);
    void CloseKey();

    KPlatformHKey mRoot = 0;
    KPlatformHKey mKey = 0;
    KString mClassName;
    KString mMachineName;
    KString mRootName;
    KString mKeyPath;
    KPlatformRegKeyInfo mInfo;
    uint32_t mLastError = 0;
};

class KRegistryStore {
public:
    static KRegistryStore& GetInstance();

    // Connects to HKEY_CURRENT_USER and creates (or opens) basePath\subPath; the result of
    // the creation.
    bool Open(const char* basePath, const char* subPath);
    void Close();

    // Values live at basePath[\subPath]\key, under `name`. Reads give the default when the key
    // or the value is missing or of another type.
    int32_t GetInt(const char* key, const char* name, int32_t defaultValue);
    float GetFloat(const char* key, const char* name, float defaultValue);
    KString& GetString(const char* key, const char* name, const char* defaultValue, KString& out);
    // Creates the key when it is missing; true when written.
    bool SetInt(const char* key, const char* name, int32_t value);
    bool SetString(const char* key, const char* name, const char* text);

    KRegistry& GetRegistry() { return mRegistry; }

private:
    KString FullPath(const char* key) const;
    bool ReadDword(const char* key, const char* name, uint32_t& value);
    bool OpenOrCreate(const char* key);

    KString mBasePath;
    KString mSubPath;
    KRegistry mRegistry;
};

// This computer's name (host name up to its first '.'); "?" and false when it cannot be read.
bool KGetLocalComputerName(char* buffer, size_t size);
