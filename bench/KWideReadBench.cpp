// Valid files whose reading used to grow with the square of their size, each at two sizes so
// that the growth per doubling can be read (about 2 when the read is linear):
// - an ASF skeleton of one root with N child bones and a two-frame AMC motion of it, the
//   skeleton read alone and the pair read (counters asf_s and amc_s: the motion should cost
//   little more than its skeleton);
// - an HTR chain of N segments, two frames;
// - a TRC of N markers that all carry one label, and one whose markers carry M1 and M100000 in
//   turn, each side by side with one of N labels (ratio_min: numbering the repeats should cost
//   little beyond the read);
// - a DXF drawing of nested blocks (259 models per top-level insert, each with materials) made
//   into a version-5 and a
//   version-6 QOV file by qovtool, each read and written as OBJ (v5_s, v6_s: the version-5 read
//   should stay within about twice the version-6 one).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovReader.h"
#include "io/KStreamOptionsMotion.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

constexpr int kHtrReader = 4, kTrcReader = 5, kAsfReader = 6, kAmcReader = 7, kObjWriter = 18;

std::string WideTempName(const std::string& tail) {
    const std::string path =
        KPlatformGetTempFolder() + "/qov_wide_" + std::to_string(getpid()) + "_" + tail;
    qovbench::RemoveAtExit(path);
    return path;
}

// Reads `file` with the reader `id` into `scene` as qovtool does (the skeleton under the root).
bool ReadMotion(KQovObjectManager& manager, KQovScene* scene, int id, const std::string& file,
                const std::string& skeleton = std::string()) {
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(id, &manager));
    if (!reader || !reader->FileOpen(file.c_str())) return false;
    std::unique_ptr<KStreamOptions> options(reader->GetReadOptions(true));
    auto& motion = static_cast<KStreamOptionsMotion&>(*options);
    motion.SetSetting(8, 0);
    motion.SetSetting(17, 1);
    if (!skeleton.empty()) {
        std::unique_ptr<KQovReader> asf(KQovMakeFormatReader(kAsfReader, &manager));
        if (!asf || !asf->FileOpen(skeleton.c_str()) || !asf->Read(scene, options.get()))
            return false;
    }
    return reader->Read(scene, options.get());
}

// A root with bones b0 .. b(n-1) all directly below it, each turning about three axes.
void WriteWideAcclaim(const std::string& asf, const std::string& amc, int bones) {
    std::ofstream out(asf, std::ios::binary);
    out << ":version 1.10\n:name wide\n:units\n  length 1.0\n  angle deg\n:root\n  order TX TY "
           "TZ RX RY RZ\n  axis XYZ\n  position 0 0 0\n  orientation 0 0 0\n:bonedata\n";
    for (int i = 0; i < bones; ++i)
        out << "  begin\n    id " << i + 1 << "\n    name b" << i
            << "\n    direction 1 0 0\n    length 1\n    axis 0 0 0 XYZ\n    dof rx ry rz\n  end\n";
    out << ":hierarchy\n  begin\n    root";
    for (int i = 0; i < bones; ++i) out << " b" << i;
    out << "\n  end\n";
    std::ofstream motion(amc, std::ios::binary);
    motion << ":FULLY-SPECIFIED\n:DEGREES\n";
    for (int f = 1; f <= 2; ++f) {
        motion << f << "\nroot 0 " << f << " 0 0 0 0\n";
        for (int i = 0; i < bones; ++i) motion << 'b' << i << ' ' << f << ' ' << i % 90 << " 1\n";
    }
}

void BM_WideAsfAmcRead(benchmark::State& state) {
    const int bones = int(state.range(0));
    const std::string tail = std::to_string(bones);
    const std::string asf = WideTempName(tail + ".asf"), amc = WideTempName(tail + ".amc");
    WriteWideAcclaim(asf, amc, bones);
    std::vector<double> skeletons, pairs;
    bool ok = true;
    for (auto _ : state) {
        skeletons.push_back(qovbench::Seconds(
            [&] {
                KQovObjectManager manager;
                return ReadMotion(manager, manager.CreateScene(), kAsfReader, asf);
            },
            ok));
        pairs.push_back(qovbench::Seconds(
            [&] {
                KQovObjectManager manager;
                return ReadMotion(manager, manager.CreateScene(), kAmcReader, amc, asf);
            },
            ok));
        if (!ok) return state.SkipWithError("read failed");
    }
    state.counters["asf_s"] = qovbench::Min(skeletons);
    state.counters["amc_s"] = qovbench::Min(pairs);
    state.SetItemsProcessed(state.iterations() * bones);
}
BENCHMARK(BM_WideAsfAmcRead)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(2);

// Segments s0 .. s(n-1), each the child of the one before, over two frames.
void WriteHtrChain(const std::string& path, int segments) {
    std::ofstream out(path, std::ios::binary);
    out << "[Header]\nFileType htr\nDataType HTRS\nFileVersion 1\nNumSegments " << segments
        << "\nNumFrames 2\nDataFrameRate 30\nEulerRotationOrder ZYX\nCalibrationUnits mm\n"
           "RotationUnits Degrees\nGlobalAxisofGravity Y\nBoneLengthAxis Y\nScaleFactor 1.00\n"
           "[SegmentNames&Hierarchy]\ns0\tGLOBAL\n";
    for (int i = 1; i < segments; ++i) out << 's' << i << "\ts" << i - 1 << '\n';
    out << "[BasePosition]\n";
    for (int i = 0; i < segments; ++i) out << 's' << i << "\t0\t1\t0\t" << i % 30 << "\t0\t0\t1\n";
    for (int i = 0; i < segments; ++i)
        out << "[s" << i << "]\n0\t0\t0\t0\t0\t0\t0\t1\n1\t0\t0\t0\t1\t0\t0\t1\n";
    out << "[EndOfFile]\n";
}

void BM_HtrChainRead(benchmark::State& state) {
    const int segments = int(state.range(0));
    const std::string htr = WideTempName(std::to_string(segments) + ".htr");
    WriteHtrChain(htr, segments);
    for (auto _ : state) {
        KQovObjectManager manager;
        if (!ReadMotion(manager, manager.CreateScene(), kHtrReader, htr))
            return state.SkipWithError("read failed");
    }
    state.SetItemsProcessed(state.iterations() * segments);
}
BENCHMARK(BM_HtrChainRead)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(2);

// N markers over two frames, labelled with `labels` in turn, or M0 .. M(n-1) when it is empty.
void WriteMarkers(const std::string& path, int markers, const std::vector<std::string>& labels) {
    std::ofstream out(path, std::ios::binary);
    out << "PathFileType\t4\t(X/Y/Z)\tm.trc\nDataRate\tCameraRate\tNumFrames\tNumMarkers\tUnits"
           "\tOrigDataRate\tOrigDataStartFrame\tOrigNumFrames\n60.0\t60.0\t2\t"
        << markers << "\tmm\t60.0\t1\t2\nFrame#\tTime";
    for (int i = 0; i < markers; ++i)
        out << '\t' << (labels.empty() ? "M" + std::to_string(i) : labels[size_t(i) % labels.size()])
            << "\t\t";
    out << "\n\t";
    for (int i = 1; i <= markers; ++i) out << "\tX" << i << "\tY" << i << "\tZ" << i;
    out << "\n\n";
    for (int f = 1; f <= 2; ++f) {
        out << f << '\t' << (f - 1) / 60.0;
        for (int i = 0; i < markers; ++i) out << '\t' << i << '\t' << f << "\t1";
        out << '\n';
    }
}

// The TRC read of N markers labelled with `labels` in turn, side by side with N labels of
// their own.
void RepeatedLabelsTrcRead(benchmark::State& state, const std::vector<std::string>& labels,
                           const std::string& kind) {
    const int markers = int(state.range(0));
    const std::string tail = std::to_string(markers);
    const std::string repeated = WideTempName(tail + "_" + kind + ".trc");
    const std::string many = WideTempName(tail + "_many.trc");
    WriteMarkers(repeated, markers, labels);
    WriteMarkers(many, markers, {});
    auto read = [](const std::string& file) {
        KQovObjectManager manager;
        return ReadMotion(manager, manager.CreateScene(), kTrcReader, file);
    };
    const auto readRepeated = [&] { return read(repeated); };
    const auto readMany = [&] { return read(many); };
    qovbench::RunSideBySide(state, readRepeated, readMany);
    state.SetItemsProcessed(state.iterations() * markers);
}

void BM_OneLabelTrcRead(benchmark::State& state) {
    RepeatedLabelsTrcRead(state, {"LASI"}, "one");
}
BENCHMARK(BM_OneLabelTrcRead)->Arg(3000)->Arg(6000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_LabelsInTurnTrcRead(benchmark::State& state) {
    RepeatedLabelsTrcRead(state, {"M1", "M100000"}, "turn");
}
BENCHMARK(BM_LabelsInTurnTrcRead)
    ->Arg(6000)
    ->Arg(12000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

#ifdef QOV_QOVTOOL
// Blocks B0 .. B(depth-1), each with three faces of colours of their own and `fan` inserts of
// the next; the drawing inserts B0 `top` times. Comments pad the file, as the reader allows
// more instances for a larger file.
void WriteNestedDxf(const std::string& path, int top, int fan, int depth) {
    std::ofstream out(path, std::ios::binary);
    out << "0\nSECTION\n2\nBLOCKS\n";
    int colour = 0;
    for (int d = 0; d < depth; ++d) {
        out << "0\nBLOCK\n2\nB" << d << "\n10\n0\n20\n0\n30\n0\n";
        for (int k = 0; k < 3; ++k) {
            colour = colour % 60 + 1;
            out << "0\n3DFACE\n8\n0\n62\n" << colour << "\n10\n0\n20\n0\n30\n" << k
                << "\n11\n1\n21\n0\n31\n" << k << "\n12\n0\n22\n1\n32\n" << k
                << "\n13\n0\n23\n1\n33\n" << k << '\n';
        }
        for (int k = 0; d + 1 < depth && k < fan; ++k)
            out << "0\nINSERT\n2\nB" << d + 1 << "\n10\n" << k * 2 << "\n20\n" << d << "\n30\n0\n";
        out << "0\nENDBLK\n";
    }
    out << "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n";
    for (int k = 0; k < top; ++k) out << "0\nINSERT\n2\nB0\n10\n" << k * 10 << "\n20\n0\n30\n0\n";
    out << "0\nENDSEC\n";
    for (int i = 0; i < 600; ++i) out << "999\npadding " << std::string(70, 'x') << '\n';
    out << "0\nEOF\n";
}

bool QovToObj(const std::string& qov, const std::string& obj) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    if (!importer.Initialize(qov.c_str())) return false;
    importer.GetTakeCount();
    if (!importer.Import(scene, nullptr)) return false;
    std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(kObjWriter, &manager));
    std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
    KQovExporter exporter(&manager);
    exporter.SetFileFormat(kObjWriter);
    return exporter.Initialize(obj.c_str()) && exporter.Export(scene, options.get());
}

// Argument: the top-level inserts of a block nested four deep, six inserts a level (259 models
// an insert).
void BM_NestedDxfQov5ToObj(benchmark::State& state) {
    const int top = int(state.range(0));
    const std::string tail = std::to_string(top);
    const std::string dxf = WideTempName(tail + ".dxf"), v5 = WideTempName(tail + "_5.qov"),
                      v6 = WideTempName(tail + "_6.qov"), obj = WideTempName(tail + ".obj");
    WideTempName(tail + ".mtl");
    WriteNestedDxf(dxf, top, 6, 4);
    const std::string make = std::string(QOV_QOVTOOL) + " convert " + dxf + ' ';
    if (std::system((make + v5 + " --v5 >/dev/null").c_str()) != 0 ||
        std::system((make + v6 + " >/dev/null").c_str()) != 0)
        return state.SkipWithError("could not make the QOV files");
    std::vector<double> fromV5, fromV6;
    bool ok = true;
    for (auto _ : state) {
        fromV5.push_back(qovbench::Seconds([&] { return QovToObj(v5, obj); }, ok));
        fromV6.push_back(qovbench::Seconds([&] { return QovToObj(v6, obj); }, ok));
        if (!ok) return state.SkipWithError("conversion failed");
    }
    state.counters["models"] = top * (1 + 6 + 36 + 216);
    state.counters["v5_s"] = qovbench::Min(fromV5);
    state.counters["v6_s"] = qovbench::Min(fromV6);
    state.counters["v5_over_v6"] = qovbench::Min(fromV5) / qovbench::Min(fromV6);
}
BENCHMARK(BM_NestedDxfQov5ToObj)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->Iterations(2);
#endif

}  // namespace
