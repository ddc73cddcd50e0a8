// An OBJ file of many groups, each with a material of its own, converted to 3DS at two sizes,
// so the growth of the conversion with the groups can be read; and an OBJ file of many
// materials, each with a texture of its own, converted to QOV and read back, at two sizes
// (about twice the time at twice the materials when the conversion is linear); and an OBJ file
// of many groups written back as OBJ at N and 2N groups.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "formats/geometry/obj/KQovReaderObj.h"
#include "formats/geometry/obj/KQovWriterObj.h"
#include "io/KStreamOptions.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovReaderQov.h"
#include "io/qov/KQovWriterQov6.h"
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
                return writer.FileCreate(out.c_str()) && writer.Write(scene, options.get()) &&
                       writer.FileClose();
            },
            ok));
        if (!ok) return state.SkipWithError("conversion failed");
    }
    state.counters["read_s"] = qovbench::Min(reads);
    state.counters["write_3ds_s"] = qovbench::Min(writes);
    state.counters["write_us_per_group"] = qovbench::Min(writes) * 1e6 / groups;
}

// Writes `text` to `path`; false when it cannot.
bool WriteText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    const bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return f ? std::fclose(f) == 0 && written : false;
}

// An OBJ file of one group of N triangles, each with a material of its own whose texture is a
// file of its own (the files need not exist): the OBJ read, the binary QOV write and the QOV
// read back timed apart (seconds).
void BM_TexturedObjToQov(benchmark::State& state) {
    const int materials = int(state.range(0));
    const std::string base = KPlatformGetTempFolder() + "/qov_bench_textured" + qovbench::RunId() +
                             "_" + std::to_string(materials);
    const std::string obj = base + ".obj", mtl = base + ".mtl", qov = base + ".qov";
    for (const std::string& path : {obj, mtl, qov}) qovbench::RemoveAtExit(path);
    std::string objText = "mtllib " + base.substr(base.find_last_of('/') + 1) + ".mtl\ng box\n",
                mtlText;
    for (int m = 0; m < materials; ++m) {
        const std::string n = std::to_string(m);
        objText += "v " + n + " 0 0\nv " + n + " 1 0\nv " + n + " 0 1\nvt 0 0\nvt 1 0\nvt 0 1\n" +
                   "usemtl mat" + n + "\nf -3/-3 -2/-2 -1/-1\n";
        mtlText += "newmtl mat" + n + "\nKd 0.5 0.5 0.5\nmap_Kd tex" + n + ".png\n";
    }
    if (!WriteText(obj, objText) || !WriteText(mtl, mtlText))
        return state.SkipWithError("cannot write the OBJ file");
    std::vector<double> reads, writes, readBacks;
    for (auto _ : state) {
        bool ok = true;
        {
            KQovObjectManager manager;
            KQovScene* scene = manager.CreateScene();
            reads.push_back(qovbench::Seconds(
                [&] {
                    KQovReaderObj reader(&manager);
                    std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(true));
                    return reader.FileOpen(obj.c_str()) && reader.Read(scene, options.get());
                },
                ok));
            writes.push_back(qovbench::Seconds(
                [&] {
                    KStreamOptionsQov options;
                    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i)
                        options.SetSwitch(i, true);
                    KQovWriterQov6 writer(&manager, nullptr);
                    writer.SetFileMode(KQovWriterQov6::eBinary);
                    if (!writer.FileCreate(qov.c_str())) return false;
                    const bool written = writer.Write(scene, &options);
                    return writer.FileClose() && written;
                },
                ok));
        }
        readBacks.push_back(qovbench::Seconds(
            [&] {
                KQovObjectManager manager;
                KQovScene* scene = manager.CreateScene();
                KQovReaderQov reader(&manager, nullptr);
                if (!reader.FileOpen(qov.c_str())) return false;
                std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
                if (!options) return false;
                const bool read = reader.Read(scene, options.get());
                KQovDestroySceneInfo(&manager, options->sceneInfo);
                return read && manager.GetMaterialCount() >= materials;
            },
            ok));
        if (!ok) return state.SkipWithError("conversion failed");
    }
    state.counters["read_obj_s"] = qovbench::Min(reads);
    state.counters["write_qov_s"] = qovbench::Min(writes);
    state.counters["read_qov_s"] = qovbench::Min(readBacks);
}

// An OBJ file of N groups and one of 2N, each group a triangle without material, read and
// written back as OBJ (as `qovtool convert` does): the read and the write of each timed apart
// (seconds), and the write's time at 2N over its time at N (about 2 when the write is linear).
void BM_ObjGroupsToObj(benchmark::State& state) {
    const int groups = int(state.range(0));
    const std::string base = KPlatformGetTempFolder() + "/qov_bench_objgroups" + qovbench::RunId();
    std::vector<double> reads[2], writes[2];
    for (int k = 0; k < 2; ++k) {
        const std::string in = base + "_" + std::to_string(k) + ".obj";
        const std::string out = base + "_" + std::to_string(k) + "_out.obj";
        for (const std::string& path : {in, out}) qovbench::RemoveAtExit(path);
        std::string text;
        for (int g = 0; g < groups << k; ++g) {
            const std::string n = std::to_string(g);
            text += "g G" + n + "\nv " + n + " 0 0\nv " + n + " 1 0\nv " + n + " 0 1\nf -3 -2 -1\n";
        }
        if (!WriteText(in, text)) return state.SkipWithError("cannot write the OBJ file");
    }
    for (auto _ : state) {
        bool ok = true;
        for (int k = 0; k < 2; ++k) {
            const std::string in = base + "_" + std::to_string(k) + ".obj";
            const std::string out = base + "_" + std::to_string(k) + "_out.obj";
            KQovObjectManager manager;
            KQovScene* scene = manager.CreateScene();
            reads[k].push_back(qovbench::Seconds(
                [&] {
                    KQovReaderObj reader(&manager);
                    std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(true));
                    return reader.FileOpen(in.c_str()) && reader.Read(scene, options.get());
                },
                ok));
            writes[k].push_back(qovbench::Seconds(
                [&] {
                    KQovWriterObj writer(&manager);
                    std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
                    return writer.FileCreate(out.c_str()) && writer.Write(scene, options.get()) &&
                           writer.FileClose();
                },
                ok));
        }
        if (!ok) return state.SkipWithError("conversion failed");
    }
    state.counters["read_s"] = qovbench::Min(reads[0]);
    state.counters["write_s"] = qovbench::Min(writes[0]);
    state.counters["write_2n_s"] = qovbench::Min(writes[1]);
    state.counters["write_2n_over_n"] = qovbench::Min(writes[1]) / qovbench::Min(writes[0]);
    state.counters["write_us_per_group"] = qovbench::Min(writes[0]) * 1e6 / groups;
}

}  // namespace

BENCHMARK(BM_ObjGroupsToObj)->Arg(8000)->Arg(32000)->Iterations(3)->Unit(benchmark::kSecond);
BENCHMARK(BM_TexturedObjToQov)->Arg(2000)->Arg(4000)->Iterations(2)->Unit(benchmark::kSecond);
BENCHMARK(BM_ObjGroupsTo3ds)->Arg(12500)->Arg(25000)->Iterations(2)->Unit(benchmark::kSecond);
