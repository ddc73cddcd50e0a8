// The field file against plain stdio on a 180 MB binary file of 20,000,000 doubles:
// writing them as whole arrays (goal: at most 1.5x fwrite of the same bytes; one value a call
// is reported beside it), reading every value back (at most 4x fread and summing), and the
// peak memory of reading (under 2.5x the file). Ratios come from one run, repetitions
// interleaved.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fieldfile/KQovFieldFile.h"
#include "platform/KPlatformFile.h"

namespace {

constexpr int kFields = 2000;
constexpr int kValuesPerField = 10000;  // 20,000,000 doubles in all

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The temporary folder with the benchmark's files, made on first use, removed at exit.
struct Files {
    std::string folder;
    std::string fieldFile;
    std::string copy;
    Files() {
        std::string pattern = KPlatformGetTempFolder() + "/qov_bench_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        folder = mkdtemp(buffer.data());
        fieldFile = folder + "/doubles.qov";
        copy = folder + "/copy.bin";
    }
    ~Files() {
        std::remove(fieldFile.c_str());
        std::remove(copy.c_str());
        rmdir(folder.c_str());
    }
};

Files& GetFiles() {
    static Files files;
    return files;
}

// Every value of the file, made once: the writes copy them as a writer copies a scene's.
const std::vector<double>& AllValues() {
    static const std::vector<double> values = [] {
        std::vector<double> v(size_t(kFields) * kValuesPerField);
        double d = 0;
        for (double& x : v) x = d += 0.5;
        return v;
    }();
    return values;
}

// `arrays`: each field's values in one call, else one value a call (the same bytes).
bool WriteFieldFile(const std::string& name, bool arrays = true) {
    KQovFieldFile f;
    if (!f.Create(name.c_str(), true, false, nullptr)) return false;
    f.FieldWriteBegin("Curves");
    f.FieldWriteBlockBegin();
    const double* values = AllValues().data();
    for (int field = 0; field < kFields; ++field, values += kValuesPerField) {
        f.FieldWriteBegin("Values");
        if (arrays)
            f.FieldWriteDn(values, kValuesPerField);
        else
            for (int i = 0; i < kValuesPerField; ++i) f.FieldWriteD(values[i]);
        f.FieldWriteEnd();
    }
    f.FieldWriteBlockEnd();
    f.FieldWriteEnd();
    bool ok = f.GetLastErrorID() == -1;
    f.FieldFileClose();
    return ok;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

std::vector<char> ReadWhole(const std::string& name) {
    std::vector<char> bytes;
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return bytes;
    std::fseek(f, 0, SEEK_END);
    bytes.resize(static_cast<size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    bytes.resize(got);
    std::fclose(f);
    return bytes;
}

// Sums the doubles of the file by walking its records directly: the top-level records up
// to "Curves", then the fields of its block.
double SumDirect(const std::vector<char>& b) {
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, &b[at], 4);
        return v;
    };
    size_t pos = 27;
    while (pos + 13 <= b.size() && u32(pos) != 0) {
        uint8_t nameLength = static_cast<uint8_t>(b[pos + 12]);
        if (std::string(&b[pos + 13], nameLength) == "Curves") break;
        pos = u32(pos);
    }
    if (pos + 13 > b.size() || u32(pos) == 0) return -1;
    pos += 13 + 6;  // into the block
    double sum = 0;
    while (pos + 13 <= b.size() && u32(pos) != 0) {
        uint32_t end = u32(pos), count = u32(pos + 4);
        size_t v = pos + 13 + static_cast<uint8_t>(b[pos + 12]);
        for (uint32_t i = 0; i < count; ++i, v += 9) {
            double d;
            std::memcpy(&d, &b[v + 1], 8);
            sum += d;
        }
        pos = end;
    }
    return sum;
}

double SumFieldFile(const std::string& name) {
    KQovFieldFile f;
    if (!f.Open(name.c_str(), false, true, nullptr)) return -1;
    double sum = 0;
    if (f.FieldReadBegin("Curves") && f.FieldReadBlockBegin()) {
        while (f.FieldReadBegin("Values")) {
            for (int n = f.FieldReadGetCount(); n > 0; --n) sum += f.FieldReadD();
            f.FieldReadEnd();
        }
    }
    return sum;
}

long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::strlen(key), key) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

void BM_WriteFieldFileVsFwrite(benchmark::State& state) {
    Files& files = GetFiles();
    if (!WriteFieldFile(files.fieldFile)) state.SkipWithError("write failed");
    std::vector<char> bytes = ReadWhole(files.fieldFile);
    auto timed = [&](auto&& task) {
        auto start = std::chrono::steady_clock::now();
        task();
        return Seconds(start);
    };
    // Page-cache write-back hits each alike: the three take turns in every repetition.
    std::vector<double> arrays, values, fwrites, ratios, valueRatios;
    for (auto _ : state) {
        for (int r = 0; r < 5; ++r) {
            std::remove(files.copy.c_str());
            fwrites.push_back(timed([&] {
                FILE* out = std::fopen(files.copy.c_str(), "wb");
                std::fwrite(bytes.data(), 1, bytes.size(), out);
                std::fclose(out);
            }));
            std::remove(files.copy.c_str());
            std::remove(files.fieldFile.c_str());
            arrays.push_back(timed([&] {
                if (!WriteFieldFile(files.fieldFile)) state.SkipWithError("write failed");
            }));
            std::remove(files.fieldFile.c_str());
            values.push_back(timed([&] {
                if (!WriteFieldFile(files.fieldFile, false)) state.SkipWithError("write failed");
            }));
            ratios.push_back(arrays.back() / fwrites.back());
            valueRatios.push_back(values.back() / fwrites.back());
            state.SetIterationTime(arrays.back());
        }
    }
    // Both ways give the same records (the creation time aside).
    if (SumDirect(ReadWhole(files.fieldFile)) != SumDirect(bytes) ||
        ReadWhole(files.fieldFile).size() != bytes.size())
        state.SkipWithError("the two writes differ");
    const double fwriteMin = *std::min_element(fwrites.begin(), fwrites.end());
    state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
    state.counters["fieldfile_s"] = *std::min_element(arrays.begin(), arrays.end());
    state.counters["fwrite_s"] = fwriteMin;
    state.counters["ratio_min"] = state.counters["fieldfile_s"] / fwriteMin;
    state.counters["ratio_median"] = Median(ratios);
    state.counters["per_value_ratio_min"] =
        *std::min_element(values.begin(), values.end()) / fwriteMin;
    state.counters["per_value_ratio_median"] = Median(valueRatios);
}

void BM_ReadFieldFileVsFread(benchmark::State& state) {
    Files& files = GetFiles();
    struct stat st;
    if (stat(files.fieldFile.c_str(), &st) != 0 && !WriteFieldFile(files.fieldFile))
        state.SkipWithError("write failed");
    double fieldSeconds = 1e9, freadSeconds = 1e9, check = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::vector<char> bytes = ReadWhole(files.fieldFile);
        double direct = SumDirect(bytes);
        freadSeconds = std::min(freadSeconds, Seconds(start));
        bytes = std::vector<char>();
        start = std::chrono::steady_clock::now();
        double viaFieldFile = SumFieldFile(files.fieldFile);
        double fieldTime = Seconds(start);
        fieldSeconds = std::min(fieldSeconds, fieldTime);
        check = viaFieldFile - direct;
        state.SetIterationTime(fieldTime);
    }
    if (check != 0) state.SkipWithError("the sums differ");
    state.counters["fieldfile_s"] = fieldSeconds;
    state.counters["fread_s"] = freadSeconds;
    state.counters["ratio"] = fieldSeconds / freadSeconds;
}

void BM_ReadPeakMemory(benchmark::State& state) {
    Files& files = GetFiles();
    struct stat st;
    if (stat(files.fieldFile.c_str(), &st) != 0 && !WriteFieldFile(files.fieldFile))
        state.SkipWithError("write failed");
    stat(files.fieldFile.c_str(), &st);
    double ratio = 0;
    for (auto _ : state) {
        // Reset the peak to the current size, then read.
        { std::ofstream("/proc/self/clear_refs") << "5"; }
        long before = StatusKilobytes("VmRSS:");
        benchmark::DoNotOptimize(SumFieldFile(files.fieldFile));
        long peak = StatusKilobytes("VmHWM:");
        ratio = (static_cast<double>(peak - before) * 1024.0) / static_cast<double>(st.st_size);
    }
    state.counters["peak_over_file"] = ratio;
}

}  // namespace

BENCHMARK(BM_WriteFieldFileVsFwrite)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFieldFileVsFread)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
