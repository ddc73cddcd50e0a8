#pragma once
// The registry store: typed values under case-insensitive key paths, below predefined roots.
// Each root lives in one text file "<ROOT NAME>.reg" in the folder named by the environment
// variable QOV_REGISTRY_DIR (default: "<user configuration folder>/qov/registry"). Every
// write reaches disk through a temporary file and an atomic rename, under a lock file, so
// other processes see either the old or the new store, never half of one.
// Results are the system's error numbers: 0 success, 2 not found, 6 invalid handle,
// 53 unknown machine, 87 invalid parameter, 234 more data.

#include <cstdint>
#include <string>

typedef uintptr_t KPlatformHKey;

const KPlatformHKey KPLATFORM_HKEY_CLASSES_ROOT = 0x80000000u;
const KPlatformHKey KPLATFORM_HKEY_CURRENT_USER = 0x80000001u;
const KPlatformHKey KPLATFORM_HKEY_LOCAL_MACHINE = 0x80000002u;
const KPlatformHKey KPLATFORM_HKEY_USERS = 0x80000003u;
const KPlatformHKey KPLATFORM_HKEY_PERFORMANCE_DATA = 0x80000004u;
const KPlatformHKey KPLATFORM_HKEY_CURRENT_CONFIG = 0x80000005u;
const KPlatformHKey KPLATFORM_HKEY_DYN_DATA = 0x80000006u;

const uint32_t KPLATFORM_REG_SZ = 1;
const uint32_t KPLATFORM_REG_BINARY = 3;
const uint32_t KPLATFORM_REG_DWORD = 4;

const long KPLATFORM_ERROR_SUCCESS = 0;
const long KPLATFORM_ERROR_NOT_FOUND = 2;
const long KPLATFORM_ERROR_INVALID_HANDLE = 6;
const long KPLATFORM_ERROR_BAD_NETPATH = 53;
const long KPLATFORM_ERROR_INVALID_PARAMETER = 87;
const long KPLATFORM_ERROR_MORE_DATA = 234;

const uint32_t KPLATFORM_REG_CREATED_NEW_KEY = 1;
const uint32_t KPLATFORM_REG_OPENED_EXISTING_KEY = 2;

struct KPlatformRegKeyInfo {
    uint32_t subKeys = 0;
    uint32_t values = 0;
    uint32_t maxSubKeyLength = 0;
    uint32_t maxClassLength = 0;
    uint32_t maxValueNameLength = 0;
    uint32_t maxValueLength = 0;
    uint32_t securityDescriptor = 0;
    uint64_t lastWriteTime = 0;
};

// "HKEY_CURRENT_USER" ... for the predefined roots, null for anything else.
const char* KPlatformRegRootName(KPlatformHKey root);

// The folder holding the store files.
std::string KPlatformRegistryFolder();

// A predefined root, on this computer (null machine, or this computer's name with or without
// leading backslashes); any other machine gives 53.
long KPlatformRegConnect(const char* machine, KPlatformHKey root, KPlatformHKey* result);

// Creates (every missing level) or opens `subKey` below `key`. `disposition` (may be null)
// receives KPLATFORM_REG_CREATED_NEW_KEY or KPLATFORM_REG_OPENED_EXISTING_KEY.
long KPlatformRegCreateKey(KPlatformHKey key, const char* subKey, const char* className,
                           KPlatformHKey* result, uint32_t* disposition);
long KPlatformRegOpenKey(KPlatformHKey key, const char* subKey, KPlatformHKey* result);

// `className` (may be null) receives at most *classSize bytes with the terminator; *classSize
// becomes the class name's length. 234 when it does not fit.
long KPlatformRegQueryInfoKey(KPlatformHKey key, char* className, uint32_t* classSize,
                              KPlatformRegKeyInfo* info);

// Reads a value: with null `data` only the type and the size; 234 (and the needed size) when
// *size is too small. A null name is the key's unnamed value.
long KPlatformRegQueryValue(KPlatformHKey key, const char* name, uint32_t* type, void* data,
                            uint32_t* size);
long KPlatformRegSetValue(KPlatformHKey key, const char* name, uint32_t type, const void* data,
                          uint32_t size);

// Closing a predefined root always succeeds; an unknown handle gives 6.
long KPlatformRegCloseKey(KPlatformHKey key);
