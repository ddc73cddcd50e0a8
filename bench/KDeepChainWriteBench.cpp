// Deep chains written into formats that place every node in the world or bind bones by name:
// a chain of nested nodes, each holding a one-triangle mesh, written as OBJ and as DXF, and an
// ASF skeleton of one chain of bones converted into an ASF and AMC pair, into BVH and into
// HTR. At 5,000 and 10,000 links the time per link should stay flat (a walk up the chain per
// node, a search of the tree per bone, a search of the segments per parent name, or an
// indentation as deep as the chain doubles it).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "attributes/KQovMesh.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovReader.h"
#include "io/KQovWriteOptions.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

constexpr int kObjWriter = 18, kDxfWriter = 16, kAsfReader = 6, kAmcWriter = 9, kBvhWriter = 5,
              kHtrWriter = 6;

std::string ChainTempName(const std::string& tail) {
    return KPlatformGetTempFolder() + "/qov_chain_" + std::to_string(getpid()) + "_" + tail;
}

// `links` nodes, each below the one before and one unit along X from it, each with a triangle.
KQovScene* MeshChain(KQovObjectManager& manager, int links) {
    KQovScene* scene = manager.CreateScene();
    KQovNode* parent = scene->GetRootNode();
    for (int i = 0; i < links; ++i) {
        KQovNode* node = manager.CreateNode(("Link" + std::to_string(i)).c_str());
        KQovMesh* mesh = manager.CreateMesh();
        mesh->InitControlPoints(3);
        for (int p = 0; p < 3; ++p)
            mesh->GetControlPoints().SetAt(p, KVector4(p == 1, p == 2, 0, 1));
        mesh->BeginPolygon();
        for (int p = 0; p < 3; ++p) mesh->AddPolygonVertex(p);
        node->SetNodeAttribute(mesh);
        node->SetLocalTranslation(1.0, 0.0, 0.0);
        parent->AddChild(node);
        parent = node;
    }
    return scene;
}

void WriteChain(benchmark::State& state, int format, const char* extension) {
    const int links = int(state.range(0));
    KQovObjectManager manager;
    KQovScene* scene = MeshChain(manager, links);
    const std::string out = ChainTempName(std::to_string(links) + extension);
    for (auto _ : state) {
        KQovExporter exporter(&manager);
        exporter.SetFileFormat(format);
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(format, &manager));
        std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
        if (!exporter.Initialize(out.c_str()) || !exporter.Export(scene, options.get()))
            state.SkipWithError("export");
    }
    state.SetItemsProcessed(state.iterations() * links);
    unlink(out.c_str());
}

void BM_MeshChainToObj(benchmark::State& state) {
    WriteChain(state, kObjWriter, ".obj");
}
BENCHMARK(BM_MeshChainToObj)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MeshChainToDxf(benchmark::State& state) {
    WriteChain(state, kDxfWriter, ".dxf");
}
BENCHMARK(BM_MeshChainToDxf)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// A skeleton of bones b0 .. b(n-1), each the child of the one before, turning about X.
std::string WriteAsfChain(int bones) {
    const std::string path = ChainTempName(std::to_string(bones) + ".asf");
    std::ofstream out(path, std::ios::binary);
    out << ":version 1.10\n:name chain\n:units\n  length 1.0\n  angle deg\n:root\n  order TX TY "
           "TZ RX RY RZ\n  axis XYZ\n  position 0 0 0\n  orientation 0 0 0\n:bonedata\n";
    for (int i = 0; i < bones; ++i)
        out << "  begin\n    id " << i + 1 << "\n    name b" << i
            << "\n    direction 1 0 0\n    length 1\n    axis 0 0 0 XYZ\n    dof rx\n  end\n";
    out << ":hierarchy\n  begin\n    root b0\n";
    for (int i = 1; i < bones; ++i) out << "    b" << i - 1 << " b" << i << "\n";
    out << "  end\n";
    return path;
}

// As `qovtool convert chain.asf OUT` does it: the skeleton read, then the file of `format`
// written (an AMC file with the ASF file beside it).
bool ConvertAsf(const std::string& asf, int format, const std::string& out) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(kAsfReader, &manager));
    if (!reader || !reader->FileOpen(asf.c_str())) return false;
    std::unique_ptr<KStreamOptions> readOptions(reader->GetReadOptions(true));
    auto& motion = static_cast<KStreamOptionsMotion&>(*readOptions);
    motion.SetSetting(8, 0);
    motion.SetSetting(17, 1);
    if (!reader->Read(scene, readOptions.get())) return false;
    std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(format, &manager));
    std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
    KQovFillWriteOptions(*scene, *options, readOptions.get());
    const std::string skeleton = out.substr(0, out.size() - 3) + "asf";
    KQovExporter exporter(&manager);
    exporter.SetFileFormat(format);
    if (!exporter.Initialize(out.c_str()) || !exporter.Export(scene, options.get())) return false;
    if (format == kAmcWriter) unlink(skeleton.c_str());
    return true;
}

void ConvertAsfChain(benchmark::State& state, int format, const char* extension) {
    const int bones = int(state.range(0));
    const std::string asf = WriteAsfChain(bones);
    const std::string out = ChainTempName(std::to_string(bones) + "_out" + extension);
    for (auto _ : state)
        if (!ConvertAsf(asf, format, out)) state.SkipWithError("conversion");
    state.SetItemsProcessed(state.iterations() * bones);
    unlink(asf.c_str());
    unlink(out.c_str());
}

void BM_AsfChainToAmc(benchmark::State& state) {
    ConvertAsfChain(state, kAmcWriter, ".amc");
}
BENCHMARK(BM_AsfChainToAmc)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The BVH file nests every joint in the one before; its indentation stops at a fixed depth.
void BM_AsfChainToBvh(benchmark::State& state) {
    ConvertAsfChain(state, kBvhWriter, ".bvh");
}
BENCHMARK(BM_AsfChainToBvh)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Every hierarchy line of the HTR file asks whether its parent's name is a segment's.
void BM_AsfChainToHtr(benchmark::State& state) {
    ConvertAsfChain(state, kHtrWriter, ".htr");
}
BENCHMARK(BM_AsfChainToHtr)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
