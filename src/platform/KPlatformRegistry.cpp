#include "platform/KPlatformRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/KPlatformAscii.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSystem.h"

namespace {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            unsigned char x = (unsigned char)KPlatformLowerAscii(a[i]),
                          y = (unsigned char)KPlatformLowerAscii(b[i]);
            if (x != y) return x < y;
        }
        return a.size() < b.size();
    }
};

struct Value {
    uint32_t type = 0;
    std::string data;
};

struct Key {
    std::string className;
    std::map<std::string, Value, NoCaseLess> values;
};

// Full key path (levels joined by '\', "" for the root itself) to key.
typedef std::map<std::string, Key, NoCaseLess> Store;

struct OpenKey {
    KPlatformHKey root;
    std::string path;
};

std::mutex gMutex;  // the handle table and in-process writers
std::map<KPlatformHKey, OpenKey> gHandles;
KPlatformHKey gNextHandle = 0x1000;

// Resolves a handle to its root and key path; false for an unknown handle.
bool Resolve(KPlatformHKey key, OpenKey& out) {
    if (KPlatformRegRootName(key)) {
        out.root = key;
        out.path.clear();
        return true;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = gHandles.find(key);
    if (it == gHandles.end()) return false;
    out = it->second;
    return true;
}

// Joins a key path and a sub key given by the caller; empty levels vanish.
std::string JoinPath(const std::string& base, const char* sub) {
    std::string result = base;
    std::string level;
    for (const char* p = sub;; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!level.empty()) {
                if (!result.empty()) result += '\\';
                result += level;
                level.clear();
            }
            if (*p == 0) break;
        } else {
            level += *p;
        }
    }
    return result;
}

std::string Escape(const std::string& text) {
    if (text.empty()) return "~";
    std::string out;
    for (unsigned char c : text) {
        if (c <= ' ' || c >= 0x7F || c == '%' || c == '~') {
            char hex[4];
            snprintf(hex, sizeof(hex), "%%%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(const std::string& token, std::string& out) {
    out.clear();
    if (token == "~") return true;
    for (size_t i = 0; i < token.size(); ++i) {
        if (token[i] != '%') {
            out += token[i];
            continue;
        }
        if (i + 2 >= token.size()) return false;
        int hi = HexDigit(token[i + 1]), lo = HexDigit(token[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += char(hi * 16 + lo);
        i += 2;
    }
    return true;
}

std::string StoreFile(KPlatformHKey root) {
    return KPlatformRegistryFolder() + "/" + KPlatformRegRootName(root) + ".reg";
}

// Reads the store of a root; a missing or damaged file reads as far as it is sound.
Store Load(KPlatformHKey root) {
    Store store;
    store[""];
    FILE* file = fopen(StoreFile(root).c_str(), "rb");
    if (!file) return store;
    std::string line;
    Key* current = nullptr;
    int c;
    auto handle = [&](const std::string& l) {
        std::vector<std::string> tokens;
        size_t start = 0;
        while (start <= l.size()) {
            size_t space = l.find(' ', start);
            if (space == std::string::npos) space = l.size();
            tokens.push_back(l.substr(start, space - start));
            start = space + 1;
        }
        std::string a, b;
        if (tokens.size() == 3 && tokens[0] == "K" && Unescape(tokens[1], a) &&
            Unescape(tokens[2], b)) {
            current = &store[a];
            current->className = b;
        } else if (tokens.size() == 4 && tokens[0] == "V" && current && Unescape(tokens[2], a) &&
                   Unescape(tokens[3], b)) {
            Value& v = current->values[a];
            v.type = uint32_t(strtoul(tokens[1].c_str(), nullptr, 10));
            v.data = b;
        }
    };
    while ((c = fgetc(file)) != EOF) {
        if (c == '\n') {
            handle(line);
            line.clear();
        } else {
            line += char(c);
        }
    }
    fclose(file);
    return store;
}

bool MakeFolders(const std::string& folder) {
    std::string prefix;
    for (size_t i = 0; i <= folder.size(); ++i) {
        if (i == folder.size() || (folder[i] == '/' && i > 0)) {
            prefix = folder.substr(0, i);
            if (!KPlatformIsDirectory(prefix.c_str()) && !KPlatformMakeDirectory(prefix.c_str()) &&
                !KPlatformIsDirectory(prefix.c_str()))
                return false;
        }
    }
    return true;
}

// Serialises every writer of one root, across processes, for a load-change-save cycle.
class StoreLock {
public:
    explicit StoreLock(KPlatformHKey root) : mLock(gMutex) {
        std::string folder = KPlatformRegistryFolder();
        if (!MakeFolders(folder)) return;
        std::string name = folder + "/" + KPlatformRegRootName(root) + ".lock";
        mFd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (mFd >= 0 && flock(mFd, LOCK_EX) != 0) {
            close(mFd);
            mFd = -1;
        }
    }
    ~StoreLock() {
        if (mFd >= 0) {
            flock(mFd, LOCK_UN);
            close(mFd);
        }
    }
    bool Held() const { return mFd >= 0; }

private:
    std::lock_guard<std::mutex> mLock;
    int mFd = -1;
};

bool Save(KPlatformHKey root, const Store& store) {
    std::string target = StoreFile(root);
    std::string temp = KPlatformCreateTempFile(KPlatformRegistryFolder().c_str(), "reg");
    if (temp.empty()) return false;
    FILE* file = fopen(temp.c_str(), "wb");
    bool ok = file != nullptr;
    if (ok) {
        ok = fputs("QOVREG 1\n", file) >= 0;
        for (const auto& key : store) {
            ok = ok && fprintf(file, "K %s %s\n", Escape(key.first).c_str(),
                               Escape(key.second.className).c_str()) > 0;
            for (const auto& value : key.second.values)
                ok = ok &&
                     fprintf(file, "V %u %s %s\n", value.second.type, Escape(value.first).c_str(),
                             Escape(value.second.data).c_str()) > 0;
        }
        ok = fflush(file) == 0 && ok;
        ok = fsync(fileno(file)) == 0 && ok;
        ok = fclose(file) == 0 && ok;
    }
    if (ok) ok = KPlatformRenameFile(temp.c_str(), target.c_str());
    if (!ok) KPlatformDeleteFile(temp.c_str());
    return ok;
}

KPlatformHKey NewHandle(KPlatformHKey root, const std::string& path) {
    std::lock_guard<std::mutex> lock(gMutex);
    KPlatformHKey handle = gNextHandle;
    gNextHandle += 8;
    gHandles[handle] = OpenKey{root, path};
    return handle;
}

std::string ThisComputer() {
    char name[256];
    return KPlatformGetComputerName(name, sizeof(name)) ? name : "";
}

}  // namespace

const char* KPlatformRegRootName(KPlatformHKey root) {
    switch (root) {
        case KPLATFORM_HKEY_CLASSES_ROOT:
            return "HKEY_CLASSES_ROOT";
        case KPLATFORM_HKEY_CURRENT_USER:
            return "HKEY_CURRENT_USER";
        case KPLATFORM_HKEY_LOCAL_MACHINE:
            return "HKEY_LOCAL_MACHINE";
        case KPLATFORM_HKEY_USERS:
            return "HKEY_USERS";
        case KPLATFORM_HKEY_PERFORMANCE_DATA:
            return "HKEY_PERFORMANCE_DATA";
        case KPLATFORM_HKEY_CURRENT_CONFIG:
            return "HKEY_CURRENT_CONFIG";
        case KPLATFORM_HKEY_DYN_DATA:
            return "HKEY_DYN_DATA";
        default:
            return nullptr;
    }
}

std::string KPlatformRegistryFolder() {
    const char* env = getenv("QOV_REGISTRY_DIR");
    if (env && *env) return KPlatformNativePath(env);
    return KPlatformGetConfigFolder() + "/qov/registry";
}

long KPlatformRegConnect(const char* machine, KPlatformHKey root, KPlatformHKey* result) {
    if (!result) return KPLATFORM_ERROR_INVALID_PARAMETER;
    *result = 0;
    if (!KPlatformRegRootName(root)) return KPLATFORM_ERROR_INVALID_HANDLE;
    if (machine && *machine) {
        while (*machine == '\\') ++machine;
        if (!KPlatformEqualNoCase(machine, ThisComputer())) return KPLATFORM_ERROR_BAD_NETPATH;
    }
    *result = root;
    return KPLATFORM_ERROR_SUCCESS;
}

long KPlatformRegCreateKey(KPlatformHKey key, const char* subKey, const char* className,
                           KPlatformHKey* result, uint32_t* disposition) {
    if (!subKey || !result) return KPLATFORM_ERROR_INVALID_PARAMETER;
    *result = 0;
    OpenKey base;
    if (!Resolve(key, base)) return KPLATFORM_ERROR_INVALID_HANDLE;
    std::string path = JoinPath(base.path, subKey);
    uint32_t done = KPLATFORM_REG_OPENED_EXISTING_KEY;
    {
        StoreLock lock(base.root);
        if (!lock.Held()) return KPLATFORM_ERROR_NOT_FOUND;
        Store store = Load(base.root);
        if (store.count(path) == 0) {
            // Every missing level is created, as the path is walked.
            for (size_t i = 0; i <= path.size(); ++i)
                if (i == path.size() || path[i] == '\\') store[path.substr(0, i)];
            store[path].className = className ? className : "";
            if (!Save(base.root, store)) return KPLATFORM_ERROR_NOT_FOUND;
            done = KPLATFORM_REG_CREATED_NEW_KEY;
        }
    }
    if (disposition) *disposition = done;
    *result = NewHandle(base.root, path);
    return KPLATFORM_ERROR_SUCCESS;
}

long KPlatformRegOpenKey(KPlatformHKey key, const char* subKey, KPlatformHKey* result) {
    if (!result) return KPLATFORM_ERROR_INVALID_PARAMETER;
    *result = 0;
    OpenKey base;
    if (!Resolve(key, base)) return KPLATFORM_ERROR_INVALID_HANDLE;
    std::string path = JoinPath(base.path, subKey ? subKey : "");
    Store store = Load(base.root);
    if (store.count(path) == 0) return KPLATFORM_ERROR_NOT_FOUND;
    *result = NewHandle(base.root, path);
    return KPLATFORM_ERROR_SUCCESS;
}

long KPlatformRegQueryInfoKey(KPlatformHKey key, char* className, uint32_t* classSize,
                              KPlatformRegKeyInfo* info) {
    OpenKey open;
    if (!Resolve(key, open)) return KPLATFORM_ERROR_INVALID_HANDLE;
    Store store = Load(open.root);
    auto it = store.find(open.path);
    if (it == store.end()) return KPLATFORM_ERROR_NOT_FOUND;
    const Key& k = it->second;
    KPlatformRegKeyInfo result;
    std::string prefix = open.path.empty() ? "" : open.path + "\\";
    for (const auto& other : store) {
        const std::string& p = other.first;
        if (p.size() <= prefix.size() ||
            (!prefix.empty() && !KPlatformEqualNoCase(p.substr(0, prefix.size()), prefix)))
            continue;
        std::string rest = p.substr(prefix.size());
        if (rest.find('\\') != std::string::npos) continue;
        ++result.subKeys;
        result.maxSubKeyLength = std::max(result.maxSubKeyLength, uint32_t(rest.size()));
        result.maxClassLength =
            std::max(result.maxClassLength, uint32_t(other.second.className.size()));
    }
    for (const auto& v : k.values) {
        ++result.values;
        result.maxValueNameLength = std::max(result.maxValueNameLength, uint32_t(v.first.size()));
        result.maxValueLength = std::max(result.maxValueLength, uint32_t(v.second.data.size()));
    }
    if (info) *info = result;
    if (classSize) {
        uint32_t room = *classSize;
        *classSize = uint32_t(k.className.size());
        if (className) {
            if (room < k.className.size() + 1) return KPLATFORM_ERROR_MORE_DATA;
            memcpy(className, k.className.c_str(), k.className.size() + 1);
        }
    }
    return KPLATFORM_ERROR_SUCCESS;
}

long KPlatformRegQueryValue(KPlatformHKey key, const char* name, uint32_t* type, void* data,
                            uint32_t* size) {
    if (data && !size) return KPLATFORM_ERROR_INVALID_PARAMETER;
    OpenKey open;
    if (!Resolve(key, open)) return KPLATFORM_ERROR_INVALID_HANDLE;
    Store store = Load(open.root);
    auto k = store.find(open.path);
    if (k == store.end()) return KPLATFORM_ERROR_NOT_FOUND;
    auto v = k->second.values.find(name ? name : "");
    if (v == k->second.values.end()) return KPLATFORM_ERROR_NOT_FOUND;
    if (type) *type = v->second.type;
    if (!size) return KPLATFORM_ERROR_SUCCESS;
    uint32_t room = *size;
    *size = uint32_t(v->second.data.size());
    if (!data) return KPLATFORM_ERROR_SUCCESS;
    if (room < v->second.data.size()) return KPLATFORM_ERROR_MORE_DATA;
    memcpy(data, v->second.data.data(), v->second.data.size());
    return KPLATFORM_ERROR_SUCCESS;
}

long KPlatformRegSetValue(KPlatformHKey key, const char* name, uint32_t type, const void* data,
                          uint32_t size) {
    if (!data && size) return KPLATFORM_ERROR_INVALID_PARAMETER;
    OpenKey open;
    if (!Resolve(key, open)) return KPLATFORM_ERROR_INVALID_HANDLE;
    StoreLock lock(open.root);
    if (!lock.Held()) return KPLATFORM_ERROR_NOT_FOUND;
    Store store = Load(open.root);
    auto k = store.find(open.path);
    if (k == store.end()) return KPLATFORM_ERROR_NOT_FOUND;
    Value& v = k->second.values[name ? name : ""];
    v.type = type;
    v.data.assign(static_cast<const char*>(data), size);
    return Save(open.root, store) ? KPLATFORM_ERROR_SUCCESS : KPLATFORM_ERROR_NOT_FOUND;
}

long KPlatformRegCloseKey(KPlatformHKey key) {
    if (KPlatformRegRootName(key)) return KPLATFORM_ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(gMutex);
    return gHandles.erase(key) ? KPLATFORM_ERROR_SUCCESS : KPLATFORM_ERROR_INVALID_HANDLE;
}
