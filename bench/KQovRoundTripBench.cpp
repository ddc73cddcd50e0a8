// The library's own format at the speed of its bytes, each figure a ratio against its peer
// from the same run, repetitions interleaved so that load on the machine hits both alike:
//  - a scene with a 1,000,000-polygon mesh and 100 nodes animated with 10,000 keys each,
//    written into a version-6 binary file against fwrite of the same bytes (goal <= 2x), and
//    read back against fread (goal <= 2x). The fread peer reads the whole file into a buffer
//    allocated for each repetition (our reader maps a file this large instead), neither
//    zero-filled nor kept between repetitions, with the large-page preference; in
//    each repetition the two go in turn, who goes first alternating, so that load on the
//    machine and the state of its free memory hit both alike;
//  - the peak memory of each direction, each in a process of its own, against the scene's own
//    size (goal for reading <= 1.3x);
//  - `qovtool convert` of a 70 MB binary file (a 1,000,000-quad mesh read from OBJ; 60 joints x
//    10,000 frames read from BVH) into binary QOV, against `cat` of the file, whole processes
//    alternating (goal <= 6x).
// Every file goes into one temporary folder, removed whole when the benchmark ends.
//
// This file also holds the program's main: started with QOV_ROUNDTRIP_CHILD set, the program
// runs one direction and reports its memory instead of running the benchmarks.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "KBenchMotionFiles.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMesh.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovReaderQov.h"
#include "io/qov/KQovWriterQov6.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSystem.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

extern char** environ;

namespace {

constexpr int kGrid = 1000;  // kGrid x kGrid quads
constexpr int kAnimatedNodes = 100;
constexpr int kKeys = 10000;
constexpr int kRepetitions = 5;
const char* const kChildVariable = "QOV_ROUNDTRIP_CHILD";

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

double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Side-by-side timings of a measured task and its peer, one pair per repetition.
struct Pairs {
    std::vector<double> own, peer;
    void Add(double a, double b) {
        own.push_back(a);
        peer.push_back(b);
    }
    void Report(benchmark::State& state, const char* ownName, const char* peerName) const {
        std::vector<double> ratios;
        for (size_t i = 0; i < own.size(); ++i) ratios.push_back(own[i] / peer[i]);
        const double ownMin = *std::min_element(own.begin(), own.end());
        const double peerMin = *std::min_element(peer.begin(), peer.end());
        state.counters[ownName] = ownMin;
        state.counters[peerName] = peerMin;
        state.counters["ratio_min"] = ownMin / peerMin;
        state.counters["ratio_median"] = Median(ratios);
    }
};

// A folder of its own under the temporary folder, removed with everything in it.
struct TempFolder {
    std::string path;
    TempFolder() {
        std::string pattern = KPlatformGetTempFolder() + "/qov_roundtrip_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data())) path = buffer.data();
    }
    ~TempFolder() {
        if (path.empty()) return;
        nftw(
            path.c_str(),
            [](const char* name, const struct stat*, int, struct FTW*) { return remove(name); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    std::string operator/(const char* name) const { return path + "/" + name; }
};

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

bool Write(KQovScene* scene, const std::string& name) {
    KStreamOptionsQov options;
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
    KQovWriterQov6 writer(scene->GetObjectManager(), nullptr);
    writer.SetFileMode(KQovWriterQov6::eBinary);
    if (!writer.FileCreate(name.c_str())) return false;
    const bool ok = writer.Write(scene, &options);
    return writer.FileClose() && ok;
}

// Reads the file into the manager's scene; the file is closed on return.
bool ReadInto(KQovObjectManager& manager, const std::string& name) {
    KQovScene* scene = manager.CreateScene();
    KQovReaderQov reader(&manager, nullptr);
    if (!reader.FileOpen(name.c_str())) return false;
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    if (!options) return false;
    const bool ok = reader.Read(scene, options.get());
    KQovDestroySceneInfo(&manager, options->sceneInfo);
    return ok && scene->GetRootNode()->GetChildCount() == kAnimatedNodes + 1;
}

bool Read(const std::string& name) {
    KQovObjectManager manager;
    return ReadInto(manager, name);
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

// The read's peer (see the top of the file): the whole file into a new buffer, freed at the end.
bool FreadWhole(const std::string& name) {
    FILE* f = std::fopen(name.c_str(), "rb");
    struct stat st;
    if (!f || fstat(fileno(f), &st) != 0) {
        if (f) std::fclose(f);
        return false;
    }
    const size_t size = size_t(st.st_size);
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[std::max<size_t>(size, 1)]);
    if (bytes) KPlatformPreferLargePages(bytes.get(), size);
    const bool ok = bytes && std::fread(bytes.get(), 1, size, f) == size;
    benchmark::DoNotOptimize(bytes.get());
    std::fclose(f);
    return ok;
}

bool WriteWhole(const std::string& name, const std::vector<char>& bytes) {
    FILE* out = std::fopen(name.c_str(), "wb");
    if (!out) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok;
}

// Runs a program to its end, its output into `output` (a file, or a pipe when null) and
// `extra` added to the environment; the exit status, -1 when it could not run. `seconds` is
// the wall time from start to end.
int Run(const std::vector<std::string>& args, const char* output, std::string* captured,
        const std::vector<std::string>& extra, double& seconds) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment(extra);
    for (char** e = environ; *e; ++e) environment.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    } else if (pipe(pipeFds) == 0) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    }
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    if (spawned != 0) {
        if (pipeFds[0] >= 0) close(pipeFds[0]);
        return -1;
    }
    if (pipeFds[0] >= 0) {
        char buffer[4096];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            if (captured) captured->append(buffer, size_t(n));
        close(pipeFds[0]);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    seconds = Seconds(start);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SelfPath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string();
}

// One direction in a process of its own: its peak and the scene's resident size, in KB.
bool MeasureChild(const char* direction, const std::string& file, long& peak, long& scene) {
    std::string output;
    double seconds;
    const int status =
        Run({SelfPath()}, nullptr, &output,
            {std::string(kChildVariable) + "=" + direction, "QOV_ROUNDTRIP_FILE=" + file}, seconds);
    return status == 0 && std::sscanf(output.c_str(), "%ld %ld", &peak, &scene) == 2;
}

// The child's side: "write" builds the scene and writes it, "read" reads it; the scene's own
// size is what it holds resident (for reading, once the file is closed).
int RunChild(const char* direction, const char* file) {
    const long start = StatusKilobytes("VmRSS:");
    if (std::strcmp(direction, "write") == 0) {
        BigScene big;
        const long scene = StatusKilobytes("VmRSS:") - start;
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak from here on
        const long before = StatusKilobytes("VmRSS:");
        if (!Write(big.scene, file)) return 1;
        std::printf("%ld %ld\n", StatusKilobytes("VmHWM:") - before, scene);
        return 0;
    }
    KQovObjectManager manager;
    if (!ReadInto(manager, file)) return 1;
    const long scene = StatusKilobytes("VmRSS:") - start;
    std::printf("%ld %ld\n", StatusKilobytes("VmHWM:") - start, scene);
    return 0;
}

struct Fixture {
    TempFolder folder;
    std::string file = folder / "scene.qov";
    std::string copy = folder / "copy.bin";
    std::unique_ptr<BigScene> big = std::make_unique<BigScene>();
};

Fixture& GetFixture() {
    static Fixture fixture;
    return fixture;
}

void BM_WriteVersion6VsFwrite(benchmark::State& state) {
    Fixture& fixture = GetFixture();
    Pairs pairs;
    size_t size = 0;
    for (auto _ : state) {
        for (int r = 0; r < kRepetitions; ++r) {
            std::remove(fixture.file.c_str());
            auto start = std::chrono::steady_clock::now();
            if (!Write(fixture.big->scene, fixture.file)) state.SkipWithError("write failed");
            const double write = Seconds(start);
            std::vector<char> bytes = ReadWhole(fixture.file);
            size = bytes.size();
            std::remove(fixture.copy.c_str());
            start = std::chrono::steady_clock::now();
            if (!WriteWhole(fixture.copy, bytes)) state.SkipWithError("fwrite failed");
            pairs.Add(write, Seconds(start));
            state.SetIterationTime(write);
        }
    }
    std::remove(fixture.copy.c_str());
    state.counters["file_MB"] = double(size) / 1e6;
    pairs.Report(state, "write_s", "fwrite_s");
}

void BM_ReadVersion6VsFread(benchmark::State& state) {
    Fixture& fixture = GetFixture();
    struct stat st;
    if (stat(fixture.file.c_str(), &st) != 0 && !Write(fixture.big->scene, fixture.file))
        state.SkipWithError("write failed");
    Pairs pairs;
    for (auto _ : state) {
        for (int r = 0; r < kRepetitions; ++r) {
            double read = 0, fread = 0;
            for (int turn = 0; turn < 2; ++turn) {
                const auto start = std::chrono::steady_clock::now();
                if ((turn + r) % 2 == 0) {
                    if (!Read(fixture.file)) state.SkipWithError("read failed");
                    read = Seconds(start);
                } else {
                    if (!FreadWhole(fixture.file)) state.SkipWithError("fread failed");
                    fread = Seconds(start);
                }
            }
            pairs.Add(read, fread);
            state.SetIterationTime(read);
        }
    }
    pairs.Report(state, "read_s", "fread_s");
}

// Each direction in a fresh process: the write's child builds its own scene and writes the
// file the read's child then reads.
void BM_PeakMemoryPerDirection(benchmark::State& state) {
    TempFolder folder;
    const std::string file = folder / "peak.qov";
    long writePeak = 0, writeScene = 0, readPeak = 0, readScene = 0;
    for (auto _ : state) {
        if (!MeasureChild("write", file, writePeak, writeScene) ||
            !MeasureChild("read", file, readPeak, readScene))
            state.SkipWithError("a child failed");
    }
    state.counters["scene_MB"] = double(readScene) / 1e3;
    state.counters["write_peak_over_scene"] = double(writePeak) / double(std::max(writeScene, 1L));
    state.counters["read_peak_over_scene"] = double(readPeak) / double(std::max(readScene, 1L));
}

#ifdef QOV_QOVTOOL
// A 1,000,000-quad grid as OBJ text.
bool WriteGridObj(const std::string& name) {
    std::ofstream out(name);
    const int side = kGrid + 1;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) out << "v " << x << ' ' << y << " 0\n";
    for (int y = 0; y < kGrid; ++y)
        for (int x = 0; x < kGrid; ++x) {
            const int at = y * side + x + 1;
            out << "f " << at << ' ' << at + 1 << ' ' << at + side + 1 << ' ' << at + side << '\n';
        }
    return bool(out);
}

// 60 joints, 10,000 frames of motion capture.
bool WriteMotionBvh(const std::string& name) {
    return KBenchWriteBvh(name, 60, 10000);
}

// The source made into a binary QOV file, then that file converted into binary QOV again
// against `cat` copying it, one after the other in every repetition.
void ConvertVsCat(benchmark::State& state, const char* sourceName,
                  bool (*make)(const std::string&)) {
    TempFolder folder;
    const std::string source = folder / sourceName, input = folder / "input.qov",
                      output = folder / "output.qov", copy = folder / "copy.qov";
    double seconds;
    if (!make(source) ||
        Run({QOV_QOVTOOL, "convert", source, input}, "/dev/null", nullptr, {}, seconds) != 0) {
        state.SkipWithError("could not make the input file");
        return;
    }
    std::remove(source.c_str());
    Pairs pairs;
    for (auto _ : state) {
        for (int r = 0; r < kRepetitions; ++r) {
            double convert, cat;
            std::remove(output.c_str());
            if (Run({QOV_QOVTOOL, "convert", input, output}, "/dev/null", nullptr, {}, convert) !=
                0)
                state.SkipWithError("convert failed");
            std::remove(copy.c_str());
            if (Run({"/bin/cat", input}, copy.c_str(), nullptr, {}, cat) != 0)
                state.SkipWithError("cat failed");
            pairs.Add(convert, cat);
            state.SetIterationTime(convert);
        }
    }
    struct stat st;
    state.counters["file_MB"] = stat(input.c_str(), &st) == 0 ? double(st.st_size) / 1e6 : 0.0;
    pairs.Report(state, "convert_s", "cat_s");
}

void BM_ConvertMeshQovVsCat(benchmark::State& state) {
    ConvertVsCat(state, "grid.obj", WriteGridObj);
}

void BM_ConvertAnimationQovVsCat(benchmark::State& state) {
    ConvertVsCat(state, "motion.bvh", WriteMotionBvh);
}
#endif

}  // namespace

BENCHMARK(BM_WriteVersion6VsFwrite)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ReadVersion6VsFread)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_PeakMemoryPerDirection)->Iterations(1)->Unit(benchmark::kSecond);
#ifdef QOV_QOVTOOL
BENCHMARK(BM_ConvertMeshQovVsCat)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ConvertAnimationQovVsCat)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
#endif

int main(int argc, char** argv) {
    if (const char* direction = std::getenv(kChildVariable)) {
        const char* file = std::getenv("QOV_ROUNDTRIP_FILE");
        return file ? RunChild(direction, file) : 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
