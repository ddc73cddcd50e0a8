// Writes or reads one option value through the registry store, so that tests can check that
// a value written by one process is read by another.
//   registry_probe set-int KEY NAME VALUE | set-string KEY NAME TEXT
//   registry_probe get-int KEY NAME       | get-string KEY NAME
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/KRegistry.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    KRegistryStore& store = KRegistryStore::GetInstance();
    if (!store.Open("Software\\Velto\\QOV", "Probe")) return 3;
    const char* command = argv[1];
    int status = 0;
    if (strcmp(command, "set-int") == 0 && argc == 5) {
        status = store.SetInt(argv[2], argv[3], atoi(argv[4])) ? 0 : 4;
    } else if (strcmp(command, "set-string") == 0 && argc == 5) {
        status = store.SetString(argv[2], argv[3], argv[4]) ? 0 : 4;
    } else if (strcmp(command, "get-int") == 0) {
        printf("%d", store.GetInt(argv[2], argv[3], -1));
    } else if (strcmp(command, "get-string") == 0) {
        KString text;
        printf("%s", store.GetString(argv[2], argv[3], "<none>", text).Buffer());
    } else {
        status = 2;
    }
    store.Close();
    return status;
}
