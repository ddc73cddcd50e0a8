// qovtool convert: reads any file the importer reads and writes it through the exporter, the
// writer chosen by the output's extension (".qov" by the flags: version 6 binary unless told
// otherwise). The writer's options are filled from the scene read (take, frames, rate, marker
// nodes), as a host does before it exports; Acclaim motion files travel with their skeleton.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovReader.h"
#include "io/KQovWriteOptions.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptions.h"
#include "io/KStreamOptionsMotion.h"
#include "io/KStreamOptionsQov.h"
#include "platform/KPlatformSameFile.h"
#include "platform/KPlatformTerminal.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "tools/qovtool/Commands.h"
#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Skeleton.h"

namespace {

// Writing ids of the Acclaim pair.
constexpr int kAsfWriter = 8, kAmcWriter = 9;
// Reading ids of the mesh formats, DXF to OBJ.
constexpr int kDxfReader = 14, kObjReader = 16;

// Writing ids by extension, as the importer picks readers; ".qov" is handled by the flags.
const struct {
    const char* extension;
    int id;
} kWriters[] = {{"bvh", 5},  {"htr", 6},  {"trc", 7},  {"asf", 8},  {"amc", 9},
                {"c3d", 10}, {"aoa", 11}, {"mcd", 12}, {"vpm", 13}, {"mov", 14},
                {"brd", 15}, {"dxf", 16}, {"3ds", 17}, {"obj", 18}};

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
                 "[--password P] [--skeleton FILE]\n");
    return 2;
}

int Fail(const std::string& file, const std::string& text) {
    std::fprintf(stderr, "qovtool: %s: %s\n", file.c_str(), text.c_str());
    return 1;
}

// Progress on one line of a terminal: redrawn when the text or the whole percent changes.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : mShown(shown) {}
    ~ProgressLine() { End(); }
    void Show(const char* text, float percent) {
        const int whole = std::isfinite(percent) ? int(percent) : 0;
        // A step without a text of its own goes on under the last one.
        const std::string line = text && *text ? text : mText;
        if (line == mText && whole == mPercent) return;
        mText = line;
        mPercent = whole;
        std::fprintf(stderr, "\r%s %3d%%\033[K", line.c_str(),
                     whole < 0     ? 0
                     : whole > 100 ? 100
                                   : whole);
        std::fflush(stderr);
        mOpen = true;
    }
    void End() {
        if (mOpen) std::fprintf(stderr, "\r\033[K");
        mOpen = false;
        mText.clear();
        mPercent = -1;
    }
    // Progress and messages of a reader's or writer's options; progress only on a terminal.
    void Install(KStreamOptions& options, const std::string& file) {
        if (mShown)
            options.SetProgressCallback(
                [this](int, const char* text, float percent) { Show(text, percent); });
        options.SetMessageCallback([this, file](const char* title, const char* text, const char*,
                                                const char*, const char*, int answer) {
            End();
            if (title && std::strcmp(title, "Error") == 0) ++mErrors;
            std::fprintf(stderr, "qovtool: %s: %s: %s\n", file.c_str(), title ? title : "",
                         text ? text : "");
            return answer;
        });
    }

    // Errors a reader or writer has told so far.
    int GetErrorCount() const { return mErrors; }

private:
    bool mShown;
    bool mOpen = false;
    int mErrors = 0;
    std::string mText;
    int mPercent = -1;
};

// True when a node below `root` carries an attribute (a mesh, a camera ...).
bool HoldsAttributes(const KQovNode* root) {
    for (const KQovNode* node : KQovListDescendants(root))
        if (node->GetNodeAttribute()) return true;
    return false;
}

// The importer's and exporter's error when memory ran out.
bool IsOutOfMemory(const char* error) {
    return std::strncmp(error, "Out of memory", 13) == 0;
}

bool IsEmptyFile(const char* path) {
    KFileStream file;
    return file.Open(path, "rb") && file.Seek(2, 0) == 0 && file.Tell() == 0;
}

// Where a conversion is, for telling what it was doing when memory ran out.
struct Stage {
    std::string in;
    std::string out;
    bool writing = false;
};

// The scene's objects once memory ran out: taking them apart needs memory too, so they are
// left to go with the process.
KQovObjectManager* gLeftWhenStarved = nullptr;

// Owns the conversion's object manager; destroys it unless memory ran out.
class SceneObjects {
public:
    SceneObjects() : mManager(new KQovObjectManager) {}
    ~SceneObjects() {
        if (std::uncaught_exceptions() > 0 || mStarved)
            gLeftWhenStarved = mManager;
        else
            delete mManager;
    }
    SceneObjects(const SceneObjects&) = delete;
    SceneObjects& operator=(const SceneObjects&) = delete;
    KQovObjectManager& Get() { return *mManager; }
    void Starved() { mStarved = true; }

private:
    KQovObjectManager* mManager;
    bool mStarved = false;
};

int ConvertFiles(int argc, char** argv, Stage& stage) {
    const char* in = nullptr;
    const char* out = nullptr;
    const char* password = "";
    const char* flag = "--binary";
    const char* chosenSkeleton = nullptr;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--password" && i + 1 < argc) {
            password = argv[++i];
        } else if (arg == "--skeleton" && i + 1 < argc) {
            chosenSkeleton = argv[++i];
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
    stage.in = in;
    stage.out = out;
    if (!QovToolCheckReadable(in)) return 1;

    int id = -1;
    const std::string extension = QovToolExtensionOf(out);
    if (extension == "qov") {
        static const char* const kFlags[] = {"--binary", "--ascii", "--encrypted", "--v5"};
        for (int k = 0; k < 4; ++k)
            if (std::strcmp(flag, kFlags[k]) == 0) id = k == 3 ? 3 : k;
    }
    for (const auto& writer : kWriters)
        if (extension == writer.extension) id = writer.id;
    if (id < 0) return Fail(out, "no writer for this extension");

    // Writing over a file that is still to be read loses it: refused before anything is read.
    const std::string skeletonOut =
        id == kAmcWriter ? std::string(KQovAcclaimSkeletonBeside(out).Buffer()) : std::string();
    auto overwrites = [&](const std::string& source, std::string& target) {
        for (const std::string& written : {std::string(out), skeletonOut})
            if (!written.empty() && KPlatformSameFile(source.c_str(), written.c_str())) {
                target = written;
                return true;
            }
        return false;
    };
    std::string target;
    if (overwrites(in, target))
        return Fail(target, std::string("the output is the same file as the input ") + in +
                                "; nothing was read or written");

    SceneObjects objects;
    KQovObjectManager& manager = objects.Get();
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    importer.SetPassword(password);
    if (!importer.Initialize(in)) return Fail(in, importer.GetLastErrorString());
    const int readId = importer.GetFileFormat();
    std::string skeleton, skeletonError;
    if (!QovToolFindSkeleton(in, readId, chosenSkeleton, skeleton, skeletonError))
        return Fail(in, skeletonError);
    if (!skeleton.empty() && overwrites(skeleton, target))
        return Fail(target, "the output is the same file as the skeleton " + skeleton +
                                "; nothing was read or written");

    ProgressLine progress(KPlatformIsTerminal(stderr));
    std::unique_ptr<KStreamOptions> readOptions;
    if (readId <= 2) {
        // Initialize opened the file: the one open that the read is watched from.
        importer.GetTakeCount();  // the take list (and the password) go into the read options
        if (!importer.Import(scene, nullptr)) {
            if (IsOutOfMemory(importer.GetLastErrorString())) objects.Starved();
            return Fail(in, importer.GetLastErrorString());
        }
        PrintWarnings(in, importer.GetStatusText());
    } else {
        // The reader's own options: they know the file's exact rate, and the motion file of an
        // Acclaim pair reads on the skeleton its skeleton file left in them.
        std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(readId, &manager));
        if (!reader || !reader->FileOpen(in)) {
            return Fail(in, reader ? reader->GetLastErrorString() : "no reader for this format");
        }
        readOptions.reset(reader->GetReadOptions(true));
        if (!readOptions) return Fail(in, reader->GetLastErrorString());
        // A skeleton is read as the file has it, its top joint under the scene's root: a
        // reference node above it would be written as the file's top joint, and the one below
        // it would lose its translation channels.
        // Markers that share a label (C3D allows it) are renamed with a warning, not refused.
        if (readOptions->IsA(KStreamOptionsMotion::ClassId())) {
            static_cast<KStreamOptionsMotion&>(*readOptions).SetSetting(8, 0);
            static_cast<KStreamOptionsMotion&>(*readOptions).SetSetting(17, 1);
        }
        progress.Install(*readOptions, in);
        std::string error;
        if (!skeleton.empty() &&
            !QovToolReadSkeleton(manager, scene, skeleton, readOptions.get(), error))
            return Fail(skeleton, error);
        const int told = progress.GetErrorCount();
        if (!reader->Read(scene, readOptions.get())) {
            progress.End();
            // A reader that refused the file has said why: its error says it again.
            return progress.GetErrorCount() > told ? 1 : Fail(in, QovToolReaderError(*reader));
        }
        progress.End();
        KString status;
        reader->GetStatusText(status);
        PrintWarnings(in, status);
        // A mesh file that gave nothing would be written as an empty file, told as success.
        if (readId >= kDxfReader && readId <= kObjReader &&
            !HoldsAttributes(scene->GetRootNode()) && !IsEmptyFile(in))
            return Fail(in, "nothing was read from this file; nothing written");
    }

    stage.writing = true;
    // The skeleton file of an Acclaim pair first; its skeleton stays in the options for the
    // motion file.
    struct Target {
        int id;
        std::string path;
    };
    std::vector<Target> targets;
    if (id == kAmcWriter) targets.push_back({kAsfWriter, skeletonOut});
    targets.push_back({id, out});

    std::unique_ptr<KStreamOptions> options;
    if (id <= 4) {
        auto* qov = new KStreamOptionsQov;
        options.reset(qov);
        KQovExporter settings(&manager);
        settings.SetPassword(password);
        settings.FillStreamOptions(*qov);
    } else {
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(id, &manager));
        if (!writer) return Fail(out, "no writer for this format");
        options.reset(writer->GetWriteOptions());
    }
    const int markers = KQovFillWriteOptions(*scene, *options, readOptions.get());
    // The marker formats write the marker nodes alone.
    static const int kMarkerWriters[] = {7, 10, 11, 12, 13, 14, 15};
    for (int marker : kMarkerWriters)
        if (id == marker && markers == 0)
            std::fprintf(stderr,
                         "qovtool: %s: warning: the scene read holds no markers; the file holds "
                         "none\n",
                         out);
    progress.Install(*options, out);

    for (const Target& target : targets) {
        KQovExporter exporter(&manager);
        if (!exporter.Initialize(target.path.c_str()))
            return Fail(target.path, exporter.GetLastErrorString());
        exporter.SetFileFormat(target.id);
        exporter.SetPassword(password);
        const int told = progress.GetErrorCount();
        const bool ok = exporter.Export(scene, options.get());
        progress.End();
        if (!ok && IsOutOfMemory(exporter.GetLastErrorString())) objects.Starved();
        // A writer that refused the scene has said why; the exporter's own code says less.
        if (!ok)
            return Fail(target.path, progress.GetErrorCount() > told
                                         ? std::string("not written")
                                         : std::string(exporter.GetLastErrorString()));
        PrintWarnings(target.path.c_str(), exporter.GetStatusText());
    }
    std::printf("%s -> %s\n", in, out);
    return 0;
}

}  // namespace

int QovToolConvert(int argc, char** argv) {
    Stage stage;
    try {
        return ConvertFiles(argc, argv, stage);
    } catch (const std::bad_alloc&) {
        // Everything the conversion held is gone by now, an unfinished new file with it: the
        // old output stays.
        const std::string& file = stage.writing ? stage.out : stage.in;
        return Fail(file, std::string("Out of memory while ") +
                              (stage.writing ? "writing " : "reading ") + file);
    }
}
