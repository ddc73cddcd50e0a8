// Reading a generated OBJ grid (490,000 vertices with UVs and normals, about 56 MB) into a
// scene, side by side with an independent reader of the same file. Targets: time at most the
// other reader's, peak memory at most 1.5 times its own (counters "peak_MB", measured in a
// child process each, above the child's start).
#ifdef QOV_HAVE_TINYOBJ
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "formats/geometry/obj/KQovReaderObj.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovRenamer.h"
#include "scene/KQovScene.h"

namespace {

char gGridPath[128];

const std::string& GridFile() {
    static const std::string path = [] {
        std::snprintf(gGridPath, sizeof gGridPath, "/tmp/qov_obj_bench_grid_%d.obj", int(getpid()));
        const std::string name = gGridPath;
        FILE* f = std::fopen(name.c_str(), "wb");
        const int n = 700;  // 490,000 vertices
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                std::fprintf(f, "v %.1f %.1f %.1f\n", x * 0.5, y * 0.5, (x ^ y) * 0.1);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                std::fprintf(f, "vt %.2f %.2f\n", x / double(n), y / double(n));
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) std::fprintf(f, "vn 0 0 1\n");
        for (int y = 0; y + 1 < n; ++y)
            for (int x = 0; x + 1 < n; ++x) {
                const int a = y * n + x + 1, b = a + 1, c = a + n + 1, d = a + n;
                std::fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, c, c,
                             c, d, d, d);
            }
        std::fclose(f);
        std::atexit([] { std::remove(gGridPath); });
        return name;
    }();
    return path;
}

bool ReadIntoScene(const std::string& path) {
    KQovObjectManager manager;
    manager.SetNodeRenamer(std::make_unique<KQovNumberingRenamer>());
    KQovScene* scene = manager.CreateScene();
    KQovReaderObj reader(&manager);
    KStreamOptionsObj options;
    return reader.FileOpen(path.c_str()) && reader.Read(scene, &options);
}

bool ReadIndependently(const std::string& path) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    return tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(), nullptr,
                            false);
}

// A "kB" field of /proc/self/status, in megabytes.
double StatusMB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    double value = -1.0;
    const size_t length = std::strlen(field);
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, length) == 0) value = std::atof(line + length + 1) / 1024.0;
    if (f) std::fclose(f);
    return value;
}

// Peak resident megabytes a child adds running `work` once; -1 when it fails.
double ChildPeakMB(const std::function<bool()>& work) {
    int fds[2];
    if (pipe(fds) != 0) return -1.0;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        malloc_trim(0);
        // Writing 5 resets the peak to the current resident size.
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
        const double start = StatusMB("VmRSS");
        const bool ok = work();
        const double added = ok ? StatusMB("VmHWM") - start : -1.0;
        const ssize_t written = write(fds[1], &added, sizeof added);
        _exit(written == sizeof added ? 0 : 1);
    }
    close(fds[1]);
    double added = -1.0;
    if (read(fds[0], &added, sizeof added) != sizeof added) added = -1.0;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return added;
}

void Run(benchmark::State& state, bool (*read)(const std::string&)) {
    const std::string& path = GridFile();
    state.counters["peak_MB"] = ChildPeakMB([&] { return read(path); });
    for (auto _ : state)
        if (!read(path)) state.SkipWithError("read failed");
}

void BM_ObjReadIntoScene(benchmark::State& state) {
    Run(state, ReadIntoScene);
}
void BM_ObjReadIndependent(benchmark::State& state) {
    Run(state, ReadIndependently);
}

BENCHMARK(BM_ObjReadIntoScene)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ObjReadIndependent)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
#endif
