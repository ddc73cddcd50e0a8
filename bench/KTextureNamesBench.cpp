// Naming the images copied beside a written file: N images of one name ("wood.tga", each of
// other bytes, from folders of their own) into a folder that holds as many files of the names
// made from it ("wood~1.tga" ...), of other bytes again. At three sizes, so the growth reads
// as a ratio: about twice the time per doubling when the naming is linear.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "formats/geometry/KTextureCopies.h"
#include "platform/KPlatformFile.h"

namespace {

bool WriteText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return f && std::fclose(f) == 0 && ok;
}

// Seconds to place every image (each copied once), names looked at per image.
void BM_ImagesPastFilesOfOneName(benchmark::State& state) {
    const int count = int(state.range(0));
    const std::string base = KPlatformGetTempFolder() + "/qov_bench_names" + qovbench::RunId() +
                             "_" + std::to_string(count);
    const std::string out = base + "/out", in = base + "/in";
    bool made = KPlatformMakeDirectory(base.c_str()) && KPlatformMakeDirectory(out.c_str()) &&
                KPlatformMakeDirectory(in.c_str()) && WriteText(out + "/wood.tga", "theirs 0");
    std::vector<std::string> images;
    for (int i = 0; made && i < count; ++i) {
        const std::string n = std::to_string(i);
        made = WriteText(out + "/wood~" + std::to_string(i + 1) + ".tga", "theirs " + n) &&
               KPlatformMakeDirectory((in + "/" + n).c_str()) &&
               WriteText(in + "/" + n + "/wood.tga", "image " + n);
        images.push_back(in + "/" + n + "/wood.tga");
    }
    std::vector<double> seconds;
    size_t tried = 0;
    bool ok = made;
    for (auto _ : state) {
        if (!ok) break;
        KTextureNamesObj names;
        names.Reset(out + "/scene.obj");
        std::string status;
        seconds.push_back(qovbench::Seconds(
            [&] {
                for (const std::string& image : images) names.Place(image, status);
                return names.GetFailure().empty();
            },
            ok));
        tried = names.GetNamesTried();
        names.Drop();
    }
    if (std::system(("rm -rf '" + base + "'").c_str()) != 0) ok = false;
    if (!ok) return state.SkipWithError("cannot place the images");
    state.counters["s"] = qovbench::Min(seconds);
    state.counters["us_per_image"] = qovbench::Min(seconds) * 1e6 / count;
    state.counters["names_per_image"] = double(tried) / count;
}

}  // namespace

BENCHMARK(BM_ImagesPastFilesOfOneName)
    ->Arg(250)
    ->Arg(500)
    ->Arg(1000)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
