#include "foundation/KPath.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "platform/KPlatformFile.h"

namespace {

bool IsSep(char c) {
    return c == '/' || c == '\\';
}

std::string Text(const char* path) {
    return path ? path : "";
}

size_t LastSep(const std::string& path) {
    return path.find_last_of("/\\");
}

// A drive start: one letter and ':' ("C:", "d:\\x"). A ':' anywhere else is part of a name;
// a path that begins with a separator is never a drive path.
template <class Char>
bool HasDrive(const std::basic_string<Char>& text) {
    return text.size() >= 2 && text[1] == Char(':') &&
           ((text[0] >= Char('a') && text[0] <= Char('z')) ||
            (text[0] >= Char('A') && text[0] <= Char('Z')));
}

KString ToK(const std::string& text) {
    return KString(text.data(), int(text.size()));
}

std::string Upper(std::string text) {
    for (char& c : text) c = KToUpper(c);
    return text;
}

// Windows-style roots (drive, share) compare without regard to case; others exactly.
bool PartsEqual(const KString& a, const KString& b, bool ignoreCase) {
    return ignoreCase ? a.CompareNoCase(b.Buffer()) == 0 : a.Compare(b.Buffer()) == 0;
}

struct Folders {
    std::string plugin;
    std::string settings;
    bool pluginSet = false;
    bool settingsSet = false;
};

Folders& GetFolders() {
    static Folders folders;
    return folders;
}

std::string WithTrailingSep(std::string folder) {
    if (!folder.empty() && !IsSep(folder.back())) folder += '/';
    return folder;
}

// The absolute form of a path: relative ones against the current folder, then cleaned.
std::string Absolute(const char* path) {
    std::string text = Text(path);
    if (KIsRelativePath(text.c_str())) text = KPlatformFullPath(text.c_str());
    KString clean = KCleanPath(text.c_str());
    return clean.Buffer();
}

}  // namespace

const char* KGetPluginFolder() {
    Folders& f = GetFolders();
    if (!f.pluginSet) KSetPluginFolder(KPlatformGetEnv("QOV_PLUGIN_DIR"));
    return f.plugin.c_str();
}

void KSetPluginFolder(const char* folder) {
    Folders& f = GetFolders();
    f.plugin = WithTrailingSep(Text(folder));
    f.pluginSet = true;
}

const char* KGetSettingsFolder() {
    Folders& f = GetFolders();
    if (!f.settingsSet) KSetSettingsFolder(KPlatformGetEnv("QOV_SETTINGS_DIR"));
    return f.settings.c_str();
}

void KSetSettingsFolder(const char* folder) {
    Folders& f = GetFolders();
    f.settings = Text(folder);
    f.settingsSet = true;
}

KString KJoinFolder(const char* folder, const char* name) {
    std::string result = WithTrailingSep(Text(folder));
    return ToK(result + Text(name));
}

KString KGetTempFileName(const char* folder, const char* prefix) {
    return ToK(KPlatformCreateTempFile(folder, prefix));
}

KString KChangeFileExtension(const char* path, const char* suffix) {
    std::string text = Text(path);
    size_t dot = text.rfind('.');
    size_t sep = LastSep(text);
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) text.erase(dot);
    return ToK(text + Text(suffix));
}

KString KExtractFileName(const char* path, bool keepExtension) {
    std::string text = Text(path);
    size_t sep = LastSep(text);
    if (sep != std::string::npos) text.erase(0, sep + 1);
    if (!keepExtension) {
        size_t dot = text.rfind('.');
        if (dot != std::string::npos) text.erase(dot);
    }
    return ToK(text);
}

KString KExtractFileExtension(const char* path) {
    std::string text = Text(path);
    size_t dot = text.rfind('.');
    size_t sep = LastSep(text);
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return KString("");
    return ToK(text.substr(dot + 1));
}

KString KExtractDirectory(const char* path) {
    std::string text = Text(path);
    size_t sep = LastSep(text);
    return ToK(sep == std::string::npos ? text : text.substr(0, sep));
}

KString KExtractFileFolder(const char* path) {
    std::string text = Text(path);
    size_t sep = LastSep(text);
    if (sep == std::string::npos) return KString(".");
    return ToK(sep == 0 ? text.substr(0, 1) : text.substr(0, sep));
}

KString KExtractNameFolder(const char* path) {
    std::string text = Text(path);
    size_t sep = text.rfind('/');
    if (sep == std::string::npos) return KString(".");
    return ToK(sep == 0 ? text.substr(0, 1) : text.substr(0, sep));
}

KString KGetPathRoot(const char* path) {
    std::string text = Text(path);
    if (HasDrive(text)) return ToK(Upper(text.substr(0, 2)));
    if (text.size() < 2 || !IsSep(text[0]) || text[0] != text[1]) return KString("");
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsSep(text[i]) && ++count == 4) return ToK(Upper(text.substr(0, i)));
    }
    return count == 3 ? ToK(Upper(text)) : KString("");
}

bool KFileExists(const char* path) {
    if (!path || !*path) return false;
    KFileStream stream;
    if (!stream.Open(path, "rb")) return false;
    stream.Close();
    return true;
}

std::vector<KString> KSplitPath(const char* text) {
    std::vector<KString> parts;
    std::string rest = Text(text);
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || IsSep(rest[i])) {
            parts.push_back(ToK(rest.substr(start, i - start)));
            start = i + 1;
        }
    }
    return parts;
}

bool KIsFileExtension(const char* path, const char* extension) {
    return KExtractFileExtension(path).CompareNoCase(extension ? extension : "") == 0;
}

bool KIsQovFile(const char* path) {
    return KIsFileExtension(path, "qov");
}

bool KIsRelativePath(const char* path) {
    if (!path) return false;
    if (HasDrive(Text(path))) return false;
    return !IsSep(path[0]);  // also covers "\\server"
}

KString KGetCurrentDirectory() {
    return ToK(KPlatformGetCurrentDirectory());
}

bool KCreatePath(const char* path) {
    if (!path || !*path) return false;
    std::string full = KPlatformFullPath(path);  // '/' separators from here on
    size_t last = full.rfind('/');
    std::string folder = full.substr(0, last + 1);
    if (KPlatformIsDirectory(folder.c_str())) return true;
    for (size_t i = 1; i < folder.size(); ++i) {
        if (folder[i] != '/') continue;
        std::string level = folder.substr(0, i);
        if (!KPlatformIsDirectory(level.c_str()) && !KPlatformMakeDirectory(level.c_str()) &&
            !KPlatformIsDirectory(level.c_str()))
            return false;
    }
    return KPlatformIsDirectory(folder.c_str());
}

char* KReadLine(char* buffer, int size, FILE* file) {
    if (!buffer || size < 1 || !file) return nullptr;
    int length = 0;
    while (length < size - 1) {
        int c = fgetc(file);
        if (c == EOF) break;
        buffer[length++] = char(c);
        if (c == '\n') break;
        if (c == '\r') {
            int next = fgetc(file);
            if (next == '\n' && length < size - 1)
                buffer[length++] = '\n';
            else if (next != EOF)
                ungetc(next, file);
            break;
        }
    }
    buffer[length] = 0;
    if (length == 0 && size > 1) return nullptr;  // end of file, nothing read
    return buffer;
}

KString KGetDirWithoutRoot(const char* path) {
    std::string text = Text(path);
    std::string folder = KExtractDirectory(path).Buffer();
    if (folder.empty())
        folder = (!text.empty() && IsSep(text[0])) ? "" : KPlatformGetCurrentDirectory();
    folder += '/';
    std::string root = KGetPathRoot(folder.c_str()).Buffer();
    return ToK(folder.substr(root.size()));
}

namespace {

template <class Char>
bool IsSepOf(Char c, bool stored = true) {
    return c == Char('/') || (stored && c == Char('\\'));
}

template <class Char>
bool IsDots(const std::basic_string<Char>& part, size_t count) {
    if (part.size() != count) return false;
    for (Char c : part)
        if (c != Char('.')) return false;
    return true;
}

// The one normalisation of both character widths. A name stored in a file (`stored`) may
// come from a system of drives and '\\' separators; a name of this system has neither.
template <class Char>
std::basic_string<Char> Clean(const std::basic_string<Char>& text, bool stored = true) {
    using Text = std::basic_string<Char>;
    const Text sep(1, Char('/'));
    std::vector<Text> parts;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || IsSepOf(text[i], stored)) {
            if (i > start) parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    bool rooted = false;
    Text root;
    size_t first = 0;
    if (stored && HasDrive(text)) {
        rooted = true;
        root = parts[0];
        first = 1;
    } else if (stored && text.size() >= 2 && IsSepOf(text[0]) && IsSepOf(text[1])) {
        rooted = true;
        root = sep;  // "//server/share"
    } else if (!text.empty() && IsSepOf(text[0], stored)) {
        rooted = true;  // "/home"
    }
    std::vector<Text> kept, up;
    for (size_t i = first; i < parts.size(); ++i) {
        if (IsDots(parts[i], 1)) continue;
        if (!IsDots(parts[i], 2))
            kept.push_back(parts[i]);
        else if (!kept.empty())
            kept.pop_back();
        else
            up.push_back(parts[i]);
    }
    Text result;
    if (rooted) {
        if (!up.empty()) return Text();
        result = root + sep;
        for (size_t i = 0; i < kept.size(); ++i) result += (i ? sep : Text()) + kept[i];
        return result;
    }
    for (const Text& part : up) result += (result.empty() ? Text() : sep) + part;
    for (const Text& part : kept) result += (result.empty() ? Text() : sep) + part;
    return result;
}

bool IsWideDelimiter(const wchar_t* delimiters, wchar_t c) {
    return delimiters && c != L'\0' && std::wcschr(delimiters, c) != nullptr;
}

// The next token at or after `pos`: its start and length; false when there is none.
bool NextWideToken(const wchar_t* text, const wchar_t* delimiters, size_t& pos, size_t& start,
                   size_t& length) {
    while (text[pos] && IsWideDelimiter(delimiters, text[pos])) ++pos;
    if (!text[pos]) return false;
    start = pos;
    while (text[pos] && !IsWideDelimiter(delimiters, text[pos])) ++pos;
    length = pos - start;
    return true;
}

}  // namespace

KString KCleanPath(const char* path) {
    return ToK(Clean(Text(path)));
}

std::wstring KCleanPathW(const wchar_t* path) {
    return Clean(std::wstring(path ? path : L""));
}

KString KCleanFileName(const char* path) {
    return ToK(Clean(Text(path), false));
}

int KGetTokenCountW(const wchar_t* text, const wchar_t* delimiters) {
    if (!text) return 0;
    int count = 0;
    size_t pos = 0, start = 0, length = 0;
    while (NextWideToken(text, delimiters, pos, start, length)) ++count;
    return count;
}

wchar_t* KGetTokenW(const wchar_t* text, int index, const wchar_t* delimiters, wchar_t* buffer,
                    size_t size) {
    if (!buffer || size == 0) return nullptr;
    buffer[0] = L'\0';
    if (!text || index < 0) return buffer;
    size_t pos = 0, start = 0, length = 0;
    for (int i = 0; NextWideToken(text, delimiters, pos, start, length); ++i) {
        if (i != index) continue;
        // A token the buffer cannot hold is refused whole, never cut.
        if (length >= size) return nullptr;
        std::wmemcpy(buffer, text + start, length);
        buffer[length] = L'\0';
        break;
    }
    return buffer;
}

KString KResolvePath(const char* base, const char* path) {
    if (!KIsRelativePath(path)) return KCleanPath(path);
    // An empty base is the current folder: no separator, which would make the path rooted.
    return KCleanPath(KJoinFolder(base, path).Buffer());
}

KString KResolveFileName(const char* path) {
    std::string text = Text(path);
    if (text.empty()) return KString("");
    const bool folder = KNamesAFolder(text.c_str());
    if (text[0] != '/') text = KPlatformGetCurrentDirectory() + "/" + text;
    std::string clean = Clean(text, false);
    // A name that can only be a folder stays one: no file is made of it by an extension.
    if (folder && (clean.empty() || clean.back() != '/')) clean += '/';
    return ToK(clean);
}

bool KNamesAFolder(const char* path) {
    if (!path || !*path) return false;
    const char* slash = std::strrchr(path, '/');
    const char* last = slash ? slash + 1 : path;
    return !*last || std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0;
}

KString KFindFileBeside(const char* folder, const char* path) {
    if (!path || !*path || !KIsRelativePath(path)) return KString(path ? path : "");
    const KString beside = KResolvePath(folder ? folder : "", path);
    return ToK(Absolute(beside.Buffer()));
}

KString KMakeRelativePathFrom(const char* folder, const char* file) {
    std::string from = Absolute(folder);
    std::string to = Absolute(file);
    KString fromRoot = KGetPathRoot(from.c_str());
    if (fromRoot != KGetPathRoot(to.c_str())) return ToK(to);
    // Absolute(...) dropped a trailing separator of a folder; keep the caller's meaning.
    std::string f = Text(folder), t = Text(file);
    if (!f.empty() && IsSep(f.back())) from += '/';
    if (!t.empty() && IsSep(t.back())) to += '/';

    std::vector<KString> fromParts = KSplitPath(KGetDirWithoutRoot(from.c_str()).Buffer());
    std::vector<KString> toParts = KSplitPath(KGetDirWithoutRoot(to.c_str()).Buffer());
    size_t fromCount = fromParts.size() - 1;  // the part after the trailing '/' is empty
    size_t toCount = toParts.size() - 1;
    bool ignoreCase = !fromRoot.IsEmpty();
    size_t common = 0;
    while (common < fromCount && common < toCount &&
           PartsEqual(fromParts[common], toParts[common], ignoreCase))
        ++common;
    std::string result;
    for (size_t i = common; i < fromCount; ++i) result += "../";
    for (size_t i = common; i < toCount; ++i) result += std::string(toParts[i].Buffer()) + "/";
    result += KExtractFileName(to.c_str(), true).Buffer();
    return ToK(result);
}

KString KMakeRelativePath(const char* reference, const char* path) {
    std::string text = Text(path);
    std::string folder;
    if (LastSep(text) == std::string::npos)
        folder = KPlatformGetCurrentDirectory();  // a bare name is in the current folder
    else
        folder = KExtractDirectory(path).Buffer();
    if (folder.empty() && !IsSep(text[0])) folder = KPlatformGetCurrentDirectory();
    folder += '/';
    KString relative = KMakeRelativePathFrom(reference, folder.c_str());
    return KResolvePath(relative.Buffer(), KExtractFileName(path, true).Buffer());
}
