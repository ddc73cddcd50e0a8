#include "formats/geometry/3ds/TextureCopy3ds.h"

#include <cstdio>

#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"

bool CopyTextureFile3ds(const char* path, const char* file3ds, std::string& status) {
    if (!path || !file3ds) return false;
    const KString folder = KExtractFileFolder(file3ds);
    const KString name = KExtractFileName(path, true);
    const std::string target = KResolvePath(folder.Buffer(), name.Buffer()).Buffer();
    if (KFileExists(target.c_str())) return true;
    FILE* in = KPlatformOpenFile(path, "rb");
    if (!in) {
        status += std::string("Unable to locate texture file \"") + path + "\".\n";
        return false;
    }
    // No half-written image stays behind: the copy takes its name only when whole.
    KPlatformReplaceFile copy;
    bool ok = copy.Open(target.c_str(), "wb");
    FILE* out = copy.GetFile();
    char block[1024];
    while (ok) {
        const size_t n = fread(block, 1, sizeof block, in);
        if (n == 0) break;
        ok = fwrite(block, 1, n, out) == n;
    }
    ok = ok && feof(in) && !ferror(in);
    fclose(in);
    ok = ok && copy.Commit();
    if (!ok) status += "Error writing texture file \"" + target + "\".\n";
    return ok;
}
