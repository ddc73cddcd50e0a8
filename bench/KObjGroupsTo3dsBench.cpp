// An OBJ file of many groups, each with a material of its own, converted to 3DS at two sizes,
// so the growth of the conversion with the groups can be read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "formats/geometry/obj/KQovReaderObj.h"
#include "io/KStreamOptions.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// An OBJ file of N groups, each a triangle with a material of its own, converted to 3DS:
// the OBJ read and the 3DS write timed apart (seconds), one conversion a run. The two sizes
// show how the time grows with the groups.
void BM_ObjGroupsTo3ds(benchmark::State& state) {
    const int groups = int(state.range(0));
    const std::string base = KPlatformGetTempFolder() + "/qov_bench_groups" + qovbench::RunId() +
                             "_" + std::to_string(groups);
    const std::string obj = base + ".obj", mtl = base + ".mtl", out = base + ".3ds";
    for (const std::string& path : {obj, mtl, out}) qovbench::RemoveAtExit(path);
    {
        std::string objText = "mtllib " + base.substr(base.find_last_of('/') + 1) + ".mtl\n",
                    mtlText;
        for (int g = 0; g < groups; ++g) {
            const std::string n = std::to_string(g);
            objText += "g G" + n + "\nusemtl M" + n + "\nv " + n + " 0 0\nv " + n + " 1 0\nv " + n +
                       " 0 1\nf -3 -2 -1\n";
            mtlText += "newmtl M" + n + "\nKd 0.5 0.5 0.5\n";
        }
        FILE* f = std::fopen(obj.c_str(), "wb");
        FILE* m = std::fopen(mtl.c_str(), "wb");
        const bool written = f && m &&
                             std::fwrite(objText.data(), 1, objText.size(), f) == objText.size() &&
                             std::fwrite(mtlText.data(), 1, mtlText.size(), m) == mtlText.size();
        if (f) std::fclose(f);
        if (m) std::fclose(m);
        if (!written) return state.SkipWithError("cannot write the OBJ file");
    }
    std::vector<double> reads, writes;
    for (auto _ : state) {
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        bool ok = true;
        reads.push_back(qovbench::Seconds(
            [&] {
                KQovReaderObj reader(&manager);
                std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(true));
                return reader.FileOpen(obj.c_str()) && reader.Read(scene, options.get()) &&
                       manager.GetNodeCount() >= groups;
            },
            ok));
        writes.push_back(qovbench::Seconds(
            [&] {
                KQovWriter3ds writer(&manager);
                std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
                return writer.FileCreate(out.c_str()) && writer.Write(scene, options.get());
            },
            ok));
        if (!ok) return state.SkipWithError("conversion failed");
    }
    state.counters["read_s"] = qovbench::Min(reads);
    state.counters["write_3ds_s"] = qovbench::Min(writes);
    state.counters["write_us_per_group"] = qovbench::Min(writes) * 1e6 / groups;
}

}  // namespace

BENCHMARK(BM_ObjGroupsTo3ds)->Arg(12500)->Arg(25000)->Iterations(2)->Unit(benchmark::kSecond);
