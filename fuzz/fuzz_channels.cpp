// Untrusted bytes as a take's channel trees and curves: read into a fresh root (with a
// time-warp table), evaluated, and written back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveKeysAhead.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSettings.h"
#include "animation/KFCurveStorage.h"
#include "animation/KFCurveTimeWarpTable.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"
#include "scene/KClassRegistry.h"

namespace {

std::string TempName(const char* what) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_channels_" + what + "_" +
           std::to_string(getpid()) + ".qov";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Inputs of odd size have every list checked at its first read rather than when parsed,
    // as long lists are (small inputs never reach that size).
    KQovFieldReader::SetCheckLaterFrom(size % 2 ? 1u : KQovFieldReader::kCheckLaterFrom);
    static const bool started = KQovSdkInit();
    (void)started;
    static const std::string in = TempName("in"), out = TempName("out");
    FILE* f = std::fopen(in.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    KQovFieldFile file;
    if (!file.Open(in.c_str(), false, true, nullptr)) return 0;
    // Inputs whose size is 2 or 3 modulo 4 have every key list decoded ahead by a thread of
    // its own, the read waiting for it on each.
    if (size % 4 >= 2 && file.GetTree()) {
        static const bool wait = KFCurveKeysAhead::SetWaitForThread(true);
        (void)wait;
        const int from = KFCurveKeysAhead::SetFrom(1);
        auto ahead = std::make_unique<KFCurveKeysAhead>();
        ahead->Add(file, file.GetTree()->GetRoot());
        KFCurveKeysAhead::SetFrom(from);
        ahead->Start();
        file.SetReadAhead(std::move(ahead));
    }
    KFCurveTimeWarpTable table;
    KFCurveNode* warp = KFCurveNode::Create("TimeWarp");
    if (KFCurve* curve = KFCurveRetrieveNew(file, false, true)) warp->SetCurve(curve);
    table.Add(1, warp);
    table.Add(2, KFCurveNode::Create("TimeWarp"));
    SetTimeWarpTable(&table);

    KFCurveNode* root = KFCurveNode::Create("Defaults");
    while (KFCurveNode::Retrieve(file, root, false, true, false)) {
    }
    for (double seconds : {-1.0, 0.0, 0.5, 3.0}) {
        KTime time;
        time.SetSecondDouble(seconds);
        std::vector<double> values(size_t(root->GetValueCount()));
        root->Evaluate(values.data(), int(values.size()), time);
        std::vector<double> plain(size_t(root->GetCurveCount()));
        root->EvaluatePlain(plain.data(), int(plain.size()), time);
    }
    KQovFieldFile written;
    if (written.Create(out.c_str(), true, false, nullptr)) {
        for (int i = 0; i < root->GetCount(); ++i)
            root->Get(i)->Store(written, false, true, false, "Channel", true, false);
        written.FieldFileClose();
    }
    delete root;
    SetTimeWarpTable(nullptr);
    return 0;
}
