// A scene with a 1,000,000-polygon mesh and 100 nodes animated with 10,000 keys each, written
// into a version-6 binary file and read back, against fwrite and fread of the same bytes
// (targets: each direction within 3x), with the peak memory of each direction against the
// scene's own size (target: under 3x).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMesh.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovReaderQov.h"
#include "io/qov/KQovWriterQov6.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

constexpr int kGrid = 1000;  // kGrid x kGrid quads
constexpr int kAnimatedNodes = 100;
constexpr int kKeys = 10000;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::strlen(key), key) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

// The peak resident size is reset to the current one.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct BigScene {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();

    BigScene() {
        KQovMesh* mesh = manager.CreateMesh();
        const int side = kGrid + 1;
        mesh->InitControlPoints(side * side);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                mesh->GetControlPoints().SetAt(y * side + x, KVector4(x, y, 0.0, 1.0));
        for (int y = 0; y < kGrid; ++y)
            for (int x = 0; x < kGrid; ++x) {
                mesh->BeginPolygon(-1, -1, -1);
                const int at = y * side + x;
                for (int v : {at, at + 1, at + side + 1, at + side}) mesh->AddPolygonVertex(v);
            }
        KQovNode* ground = manager.CreateNode("Ground");
        ground->SetNodeAttribute(mesh);
        scene->GetRootNode()->AddChild(ground);
        for (int n = 0; n < kAnimatedNodes; ++n) {
            KQovNode* node = manager.CreateNode(("Mover" + std::to_string(n)).c_str());
            scene->GetRootNode()->AddChild(node);
            node->AddTakeNode("Run");
            KFCurve* curve = node->GetTakeNode(1)->GetTranslationX();
            curve->ResizeKeyBuffer(kKeys);
            for (int k = 0; k < kKeys; ++k)
                curve->KeySet(k, KTime(int64_t(k) * 1539538600), float(k % 97) * 0.5f);
            curve->CommitKeys(kKeys);
        }
    }
};

struct Files {
    std::string folder, file, copy;
    Files() {
        std::string pattern = KPlatformGetTempFolder() + "/qov_roundtrip_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        folder = mkdtemp(buffer.data());
        file = folder + "/scene.qov";
        copy = folder + "/copy.bin";
    }
    ~Files() {
        std::remove(file.c_str());
        std::remove(copy.c_str());
        rmdir(folder.c_str());
    }
};

struct Fixture {
    Files files;
    long sceneKilobytes = 0;
    std::unique_ptr<BigScene> big;
    Fixture() {
        const long before = StatusKilobytes("VmRSS:");
        big = std::make_unique<BigScene>();
        sceneKilobytes = StatusKilobytes("VmRSS:") - before;
    }
};

Fixture& GetFixture() {
    static Fixture fixture;
    return fixture;
}

bool Write(KQovScene* scene, const std::string& name) {
    KStreamOptionsQov options;
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
    KQovWriterQov6 writer(scene->GetObjectManager(), nullptr);
    writer.SetFileMode(KQovWriterQov6::eBinary);
    if (!writer.FileCreate(name.c_str())) return false;
    const bool ok = writer.Write(scene, &options);
    return writer.FileClose() && ok;
}

bool Read(const std::string& name) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovReaderQov reader(&manager, nullptr);
    if (!reader.FileOpen(name.c_str())) return false;
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    if (!options) return false;
    const bool ok = reader.Read(scene, options.get());
    KQovDestroySceneInfo(&manager, options->sceneInfo);
    return ok && scene->GetRootNode()->GetChildCount() == kAnimatedNodes + 1;
}

std::vector<char> ReadWhole(const std::string& name) {
    std::vector<char> bytes;
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return bytes;
    std::fseek(f, 0, SEEK_END);
    bytes.resize(static_cast<size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    return bytes;
}

void BM_WriteVersion6VsFwrite(benchmark::State& state) {
    Fixture& fixture = GetFixture();
    double writeSeconds = 1e9, fwriteSeconds = 1e9, peak = 0;
    size_t size = 0;
    for (auto _ : state) {
        std::remove(fixture.files.file.c_str());
        ResetPeak();
        const long before = StatusKilobytes("VmRSS:");
        auto start = std::chrono::steady_clock::now();
        if (!Write(fixture.big->scene, fixture.files.file)) state.SkipWithError("write failed");
        const double seconds = Seconds(start);
        peak = std::max(peak, double(StatusKilobytes("VmHWM:") - before));
        writeSeconds = std::min(writeSeconds, seconds);
        state.SetIterationTime(seconds);
        std::vector<char> bytes = ReadWhole(fixture.files.file);
        size = bytes.size();
        std::remove(fixture.files.copy.c_str());
        start = std::chrono::steady_clock::now();
        FILE* out = std::fopen(fixture.files.copy.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        fwriteSeconds = std::min(fwriteSeconds, Seconds(start));
    }
    state.counters["file_MB"] = double(size) / 1e6;
    state.counters["scene_MB"] = double(fixture.sceneKilobytes) / 1e3;
    state.counters["write_s"] = writeSeconds;
    state.counters["fwrite_s"] = fwriteSeconds;
    state.counters["ratio"] = writeSeconds / fwriteSeconds;
    state.counters["peak_over_scene"] = peak / double(fixture.sceneKilobytes);
}

void BM_ReadVersion6VsFread(benchmark::State& state) {
    Fixture& fixture = GetFixture();
    struct stat st;
    if (stat(fixture.files.file.c_str(), &st) != 0 &&
        !Write(fixture.big->scene, fixture.files.file))
        state.SkipWithError("write failed");
    double readSeconds = 1e9, freadSeconds = 1e9, peak = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::vector<char> bytes = ReadWhole(fixture.files.file);
        benchmark::DoNotOptimize(bytes.data());
        freadSeconds = std::min(freadSeconds, Seconds(start));
        bytes = std::vector<char>();
        ResetPeak();
        const long before = StatusKilobytes("VmRSS:");
        start = std::chrono::steady_clock::now();
        if (!Read(fixture.files.file)) state.SkipWithError("read failed");
        const double seconds = Seconds(start);
        peak = std::max(peak, double(StatusKilobytes("VmHWM:") - before));
        readSeconds = std::min(readSeconds, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["read_s"] = readSeconds;
    state.counters["fread_s"] = freadSeconds;
    state.counters["ratio"] = readSeconds / freadSeconds;
    state.counters["peak_over_scene"] = peak / double(fixture.sceneKilobytes);
}

}  // namespace

BENCHMARK(BM_WriteVersion6VsFwrite)->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);
BENCHMARK(BM_ReadVersion6VsFread)->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);
