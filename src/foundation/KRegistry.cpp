#include "foundation/KRegistry.h"

#include <cstring>
#include <vector>

#include "platform/KPlatformSystem.h"

namespace {

const uint32_t kFullAccess = 0xF003F;

}  // namespace

const char* KRegistry::RootName(KPlatformHKey root) {
    const char* name = KPlatformRegRootName(root);
    return name ? name : "Unknown";
}

bool KRegistry::Result(long result) {
    mLastError = uint32_t(result);
    return result == KPLATFORM_ERROR_SUCCESS;
}

void KRegistry::CloseKey() {
    if (mKey) KPlatformRegCloseKey(mKey);
    mKey = 0;
}

bool KRegistry::Connect(KPlatformHKey root, const char* machine) {
    KPlatformHKey handle = 0;
    if (root == KPLATFORM_HKEY_CLASSES_ROOT || root == KPLATFORM_HKEY_CURRENT_USER) {
        if (machine) return Result(KPLATFORM_ERROR_INVALID_HANDLE);
        handle = root;
        mLastError = 0;
    } else if (!Result(KPlatformRegConnect(machine, root, &handle))) {
        return false;
    }
    // A new connection replaces the previous one and the key opened under it.
    CloseKey();
    if (mRoot && mRoot != handle) KPlatformRegCloseKey(mRoot);
    mRoot = handle;
    if (machine) {
        mMachineName = machine;
    } else {
        char name[260];
        mMachineName = KPlatformGetComputerName(name, sizeof(name)) ? name : "";
    }
    mRootName = RootName(root);
    return true;
}

bool KRegistry::CreateKey(const char* path, const char* className, uint32_t, uint32_t, const void*,
                          uint32_t* disposition) {
    if (!path) return Result(KPLATFORM_ERROR_INVALID_PARAMETER);
    CloseKey();
    uint32_t done = 0;
    if (!Result(KPlatformRegCreateKey(mRoot, path, className ? className : "", &mKey, &done)))
        return false;
    if (disposition) *disposition = done;
    mKeyPath = path;
    return true;
}

bool KRegistry::OpenKey(const char* path, uint32_t) {
    CloseKey();
    if (!Result(KPlatformRegOpenKey(mRoot, path, &mKey))) return false;
    QueryKeyInfo();
    mKeyPath = path ? path : "";
    return Result(KPLATFORM_ERROR_SUCCESS);
}

bool KRegistry::QueryKeyInfo() {
    char className[2048];
    uint32_t size = sizeof(className);
    if (!Result(KPlatformRegQueryInfoKey(mKey, className, &size, &mInfo))) return false;
    mClassName = className;
    return true;
}

bool KRegistry::QueryValue(const char* name, uint32_t* type, void* buffer, uint32_t* size) {
    if (!name) return Result(KPLATFORM_ERROR_INVALID_PARAMETER);
    return Result(KPlatformRegQueryValue(mKey, name, type, buffer, size));
}

bool KRegistry::QueryDword(const char* name, uint32_t& value) {
    uint32_t type = 0, read = 0, size = sizeof(read);
    if (!QueryValue(name, &type, &read, &size)) return false;
    if (type != KPLATFORM_REG_DWORD || size != sizeof(read))
        return Result(KPLATFORM_ERROR_INVALID_PARAMETER);
    value = read;
    return true;
}

bool KRegistry::QueryString(const char* name, KString& text) {
    text = "";
    uint32_t type = 0, size = 0;
    if (!QueryValue(name, &type, nullptr, &size)) return false;
    if (type != KPLATFORM_REG_SZ) return Result(KPLATFORM_ERROR_INVALID_PARAMETER);
    std::vector<char> buffer(size_t(size) + 1, 0);  // one spare byte: always terminated
    if (!QueryValue(name, &type, buffer.data(), &size)) return false;
    text = buffer.data();
    return true;
}

bool KRegistry::SetDword(const char* name, uint32_t value) {
    if (!name) return Result(KPLATFORM_ERROR_INVALID_PARAMETER);
    return Result(KPlatformRegSetValue(mKey, name, KPLATFORM_REG_DWORD, &value, sizeof(value)));
}

bool KRegistry::SetString(const char* name, const char* text) {
    if (!name || !text) return Result(KPLATFORM_ERROR_INVALID_PARAMETER);
    return Result(
        KPlatformRegSetValue(mKey, name, KPLATFORM_REG_SZ, text, uint32_t(strlen(text) + 1)));
}

bool KRegistry::Close() {
    CloseKey();
    if (mRoot && !Result(KPlatformRegCloseKey(mRoot))) return false;
    Reset();
    return true;
}

void KRegistry::Reset() {
    mRoot = 0;
    mKey = 0;
    mClassName = "";
    mMachineName = "";
    mRootName = "";
    mKeyPath = "";
    mInfo = KPlatformRegKeyInfo();
    mLastError = 0;
}

KRegistryStore& KRegistryStore::GetInstance() {
    static KRegistryStore store;
    return store;
}

KString KRegistryStore::FullPath(const char* key) const {
    KString path = mBasePath;
    if (!mSubPath.IsEmpty()) path += "\\" + mSubPath;
    path += "\\";
    path += key ? key : "";
    return path;
}

bool KRegistryStore::Open(const char* basePath, const char* subPath) {
    mBasePath = basePath ? basePath : "";
    mSubPath = subPath ? subPath : "";
    mRegistry.Connect(KPLATFORM_HKEY_CURRENT_USER, nullptr);
    KString path = mBasePath;
    if (!mSubPath.IsEmpty()) path += "\\" + mSubPath;
    return mRegistry.CreateKey(path.Buffer(), nullptr, 0, kFullAccess);
}

void KRegistryStore::Close() {
    mRegistry.Close();
}

bool KRegistryStore::ReadDword(const char* key, const char* name, uint32_t& value) {
    return mRegistry.OpenKey(FullPath(key).Buffer(), kFullAccess) &&
           mRegistry.QueryDword(name, value);
}

int32_t KRegistryStore::GetInt(const char* key, const char* name, int32_t defaultValue) {
    uint32_t value = 0;
    return ReadDword(key, name, value) ? int32_t(value) : defaultValue;
}

float KRegistryStore::GetFloat(const char* key, const char* name, float defaultValue) {
    uint32_t value = 0;
    if (!ReadDword(key, name, value)) return defaultValue;
    float result;
    memcpy(&result, &value, sizeof(result));  // the 32 bits are the single-precision value
    return result;
}

KString& KRegistryStore::GetString(const char* key, const char* name, const char* defaultValue,
                                   KString& out) {
    if (!mRegistry.OpenKey(FullPath(key).Buffer(), kFullAccess) ||
        !mRegistry.QueryString(name, out))
        out = defaultValue ? defaultValue : "";
    return out;
}

bool KRegistryStore::OpenOrCreate(const char* key) {
    KString path = FullPath(key);
    return mRegistry.OpenKey(path.Buffer(), kFullAccess) ||
           mRegistry.CreateKey(path.Buffer(), nullptr, 0, kFullAccess);
}

bool KRegistryStore::SetInt(const char* key, const char* name, int32_t value) {
    return OpenOrCreate(key) && mRegistry.SetDword(name, uint32_t(value));
}

bool KRegistryStore::SetString(const char* key, const char* name, const char* text) {
    return OpenOrCreate(key) && mRegistry.SetString(name, text);
}

bool KGetLocalComputerName(char* buffer, size_t size) {
    if (!buffer || size == 0) return false;
    if (KPlatformGetComputerName(buffer, size)) return true;
    if (size >= 2) {
        buffer[0] = '?';
        buffer[1] = 0;
    } else {
        buffer[0] = 0;
    }
    return false;
}
