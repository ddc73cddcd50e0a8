// qovtool convert: reads any file the importer reads and writes it through the exporter, the
// writer chosen by the output's extension (".qov" by the flags: version 6 binary unless told
// otherwise).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptions.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "tools/qovtool/Commands.h"

namespace {

// Writing ids by extension, as the importer picks readers; ".qov" is handled by the flags.
const struct {
    const char* extension;
    int id;
} kWriters[] = {{"bvh", 5},  {"htr", 6},  {"trc", 7},  {"asf", 8},  {"amc", 9},
                {"c3d", 10}, {"aoa", 11}, {"mcd", 12}, {"vpm", 13}, {"mov", 14},
                {"brd", 15}, {"dxf", 16}, {"3ds", 17}, {"obj", 18}};

std::string ExtensionOf(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = name.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return extension;
}

// The reader's or writer's findings that did not stop it, one warning per line.
void PrintWarnings(const char* file, const KString& status) {
    const std::string text = status.Buffer();
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start)
            std::fprintf(stderr, "qovtool: %s: warning: %s\n", file,
                         text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

int Usage() {
    std::fprintf(stderr,
                 "usage: qovtool convert IN OUT [--ascii|--binary|--encrypted|--v5] "
                 "[--password P]\n");
    return 2;
}

}  // namespace

int QovToolConvert(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    const char* password = "";
    const char* flag = "--binary";
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--password" && i + 1 < argc) {
            password = argv[++i];
        } else if (arg == "--ascii" || arg == "--binary" || arg == "--encrypted" || arg == "--v5") {
            flag = argv[i];
        } else if (arg.compare(0, 2, "--") == 0) {
            return Usage();
        } else if (!in) {
            in = argv[i];
        } else if (!out) {
            out = argv[i];
        } else {
            return Usage();
        }
    }
    if (!in || !out) return Usage();

    int id = -1;
    const std::string extension = ExtensionOf(out);
    if (extension == "qov") {
        static const char* const kFlags[] = {"--binary", "--ascii", "--encrypted", "--v5"};
        for (int k = 0; k < 4; ++k)
            if (std::strcmp(flag, kFlags[k]) == 0) id = k == 3 ? 3 : k;
    }
    for (const auto& writer : kWriters)
        if (extension == writer.extension) id = writer.id;
    if (id < 0) {
        std::fprintf(stderr, "qovtool: %s: no writer for this extension\n", out);
        return 1;
    }

    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    importer.SetPassword(password);
    if (!importer.Initialize(in) || !importer.CreateReader()) {
        std::fprintf(stderr, "qovtool: %s: %s\n", in, importer.GetLastErrorString());
        return 1;
    }
    importer.GetTakeCount();  // the take list (and the password) go into the read options
    if (!importer.Import(scene, nullptr)) {
        std::fprintf(stderr, "qovtool: %s: %s\n", in, importer.GetLastErrorString());
        return 1;
    }
    PrintWarnings(in, importer.GetStatusText());

    KQovExporter exporter(&manager);
    exporter.SetFileFormat(id);
    exporter.SetPassword(password);
    if (!exporter.Initialize(out)) {
        std::fprintf(stderr, "qovtool: %s: %s\n", out, exporter.GetLastErrorString());
        return 1;
    }
    exporter.SetFileFormat(id);
    exporter.SetPassword(password);
    // The other formats' writers need their own options.
    std::unique_ptr<KQovWriter> writer(id > 4 ? KQovMakeFormatWriter(id, &manager) : nullptr);
    std::unique_ptr<KStreamOptions> options(writer ? writer->GetWriteOptions() : nullptr);
    if (!exporter.Export(scene, options.get())) {
        std::fprintf(stderr, "qovtool: %s: %s\n", out, exporter.GetLastErrorString());
        return 1;
    }
    PrintWarnings(out, exporter.GetStatusText());
    std::printf("%s -> %s\n", in, out);
    return 0;
}
