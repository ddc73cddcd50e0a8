#include "formats/motion/asf/KQovAcclaimFiles.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSameFile.h"
#include "platform/KPlatformStdio.h"

namespace {

// The header lines looked at; a real header is a handful of lines.
constexpr int kHeaderLines = 200;

std::string Trimmed(const char* text) {
    std::string s = text;
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t first = 0;
    while (first < s.size() && std::isspace(static_cast<unsigned char>(s[first]))) ++first;
    return s.substr(first);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// The file named by the header: a relative path as it stands (from the motion file's folder);
// a rooted one, or one with '\\', without its folder (written on another machine, its folder
// is no use here). Empty when the header names none, or when it could not be read (`error`
// then holds the system's error number).
std::string HeaderSkeletonName(const char* motionPath, int& error) {
    error = 0;
    KFileStream stream;
    if (!stream.Open(motionPath, "r")) {
        // No file at the name, or a folder, is told by the motion file's own read.
        error = KPlatformReadOpenError(motionPath);
        if (KPlatformNoFileThere(error) || error == EISDIR) error = 0;
        return "";
    }
    // Long enough for a header naming a path as long as the system takes (4,096 bytes): a
    // line cut short would name another file.
    std::vector<char> buffer(8192);
    char* line = buffer.data();
    for (int n = 0; n < kHeaderLines && stream.Gets(line, int(buffer.size())); ++n) {
        const std::string text = Trimmed(line);
        if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) break;
        std::string named;
        if (StartsWithNoCase(text, "#!OML:ASF"))
            named = Trimmed(text.c_str() + 9);
        else if (StartsWithNoCase(text, ":ASF-FILE"))
            named = Trimmed(text.c_str() + 9);
        if (named.empty()) continue;
        if (named.find('\\') == std::string::npos && KIsRelativePath(named.c_str())) return named;
        const size_t slash = named.find_last_of("/\\");
        return slash == std::string::npos ? named : named.substr(slash + 1);
    }
    error = stream.GetReadError();
    return "";
}

}  // namespace

KString KQovAcclaimSkeletonBeside(const char* motionPath) {
    return KChangeFileExtension(motionPath, ".asf");
}

std::vector<KString> KQovAcclaimSkeletonCandidates(const char* motionPath, int* headerError) {
    std::vector<KString> names{KQovAcclaimSkeletonBeside(motionPath)};
    int error = 0;
    const std::string named = HeaderSkeletonName(motionPath, error);
    if (headerError) *headerError = error;
    if (!named.empty()) {
        const std::string path = motionPath;
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
        names.push_back(KJoinFolder(folder.c_str(), named.c_str()));
    }
    return names;
}

KString KQovFindAcclaimSkeleton(const char* motionPath, std::string& tried, std::string* problem) {
    tried.clear();
    if (problem) problem->clear();
    int error = 0;
    for (const KString& candidate : KQovAcclaimSkeletonCandidates(motionPath, &error)) {
        if (KFileExists(candidate.Buffer())) return candidate;
        // A skeleton there that could not be opened (no memory for its stream, denied) is no
        // skeleton missing; a later candidate is not taken in its place.
        const int why = KPlatformReadOpenError(candidate.Buffer());
        if (why != 0 && why != EISDIR && !KPlatformNoFileThere(why)) {
            if (problem)
                *problem =
                    why == ENOMEM
                        ? "Out of memory while reading " + KQovMessageText(candidate.Buffer())
                        : "skeleton file not opened: " + KQovMessageText(candidate.Buffer()) +
                              ": " + KPlatformErrorText(why);
            return KString("");
        }
        if (tried.find(candidate.Buffer()) == std::string::npos)
            tried += (tried.empty() ? "" : ", ") + std::string(candidate.Buffer());
    }
    if (problem && error == ENOMEM)
        *problem = "Out of memory while reading " + KQovMessageText(motionPath);
    else if (problem && error)
        *problem = KReadFileError(motionPath, error);
    return KString("");
}

std::string KQovAcclaimHeaderName(const char* motionPath, const char* skeletonPath) {
    if (!motionPath || !skeletonPath || !*skeletonPath) return "";
    if (KPlatformSameReplaceTarget(KQovAcclaimSkeletonBeside(motionPath).Buffer(), skeletonPath))
        return "";
    // The reader follows a relative path from the motion file's folder.
    const std::string folder = KExtractNameFolder(motionPath).Buffer();
    auto reaches = [&](const std::string& name) {
        const KString path = KJoinFolder(folder.c_str(), name.c_str());
        return !name.empty() && KIsRelativePath(name.c_str()) && KFileExists(path.Buffer()) &&
               KPlatformSameFile(path.Buffer(), skeletonPath);
    };
    std::string name = KMakeRelativePathFrom(motionPath, skeletonPath).Buffer();
    if (!reaches(name)) {
        // A folder reached through a link: ".." leaves the folder the link leads to, so the
        // path is made between the folders as they lie on disk.
        const std::string realFolder = KPlatformRealPath(folder.c_str());
        const std::string realSkeleton = KPlatformRealPath(skeletonPath);
        name =
            realFolder.empty() || realSkeleton.empty()
                ? std::string()
                : KMakeRelativePathFrom((realFolder + "/").c_str(), realSkeleton.c_str()).Buffer();
    }
    if (!reaches(name)) name = KExtractFileName(skeletonPath, true).Buffer();
    // The reader takes the rest of the line, trimmed; a '\\' would make it cut the folders.
    if (name.empty() || std::isspace(static_cast<unsigned char>(name.front())) ||
        std::isspace(static_cast<unsigned char>(name.back())))
        return "";
    for (const char c : name)
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20) return "";
    return name;
}

std::string KQovAcclaimOneFileError(const char* skeletonPath, const char* motionPath) {
    // As the reads open them: either name may lead to a file of another case.
    if (!skeletonPath || !motionPath ||
        !KPlatformIsFound(KPlatformNameAsRead(motionPath).c_str(),
                          KPlatformFindAsRead(skeletonPath)))
        return "";
    return "the skeleton file " + KQovMessageText(skeletonPath) + " and the motion file " +
           KQovMessageText(motionPath) + " are one file";
}

void KQovAcclaimWrittenSkeleton::KeepBefore(KStreamOptionsMotion& options) {
    DropBefore();
    KObject* before = options.GetStream();
    if (!before || before == this) return;
    auto* written = dynamic_cast<KQovAcclaimWrittenSkeleton*>(before);
    if (written && !written->mPlaced) {
        // Never placed either: what it kept is kept instead, so that the chain stays short.
        std::swap(mBefore, written->mBefore);
        std::swap(mBeforeOwned, written->mBeforeOwned);
        return;
    }
    mBefore = before->GetWeakRef();
    mBeforeOwned = options.IsStreamOwned();
    // Not released with the options' stream: this skeleton owns it now.
    if (mBeforeOwned) options.SetStream(before, false);
}

void KQovAcclaimWrittenSkeleton::DropBefore() {
    KObject* before = GetBefore();
    if (before && mBeforeOwned) before->Destroy();
    mBefore = KWeakRef();
    mBeforeOwned = false;
}

KObject* KQovAcclaimRememberedStream(KObject* stream) {
    auto* written = dynamic_cast<KQovAcclaimWrittenSkeleton*>(stream);
    // One step at most: KeepBefore keeps no skeleton that was never placed.
    while (written && !written->IsPlaced()) {
        stream = written->GetBefore();
        written = dynamic_cast<KQovAcclaimWrittenSkeleton*>(stream);
    }
    return stream;
}
