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
#include <string_view>
#include <vector>

#include "fieldfile/KQovFieldFile.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovReader.h"
#include "io/KQovWriteOptions.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptions.h"
#include "io/KStreamOptionsMotion.h"
#include "io/KStreamOptionsQov.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSameFile.h"
#include "platform/KPlatformTerminal.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "tools/qovtool/Commands.h"
#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Read.h"
#include "tools/qovtool/Skeleton.h"
#include "tools/qovtool/Streams.h"

namespace {

// Writing ids by extension, as the importer picks readers; ".qov" is handled by the flags.
const struct {
    const char* extension;
    int id;
} kWriters[] = {{"bvh", 5},  {"htr", 6},  {"trc", 7},  {"asf", 8},  {"amc", 9},
                {"c3d", 10}, {"aoa", 11}, {"mcd", 12}, {"vpm", 13}, {"mov", 14},
                {"brd", 15}, {"dxf", 16}, {"3ds", 17}, {"obj", 18}};

int Usage() {
    QovToolSay(
        "usage: qovtool convert IN OUT [--ascii|--binary|--encrypted|--v5] "
        "[--password P] [--skeleton FILE]\n");
    return 2;
}

int Fail(const std::string& file, const std::string& text) {
    QovToolSay("qovtool: %s: %s\n", QovToolShown(file).c_str(), QovToolShown(text).c_str());
    return 1;
}

// True when a node below `root` holds something of the file: an attribute (a mesh, a marker,
// a joint ...; a reference node holds nothing of its own), or keys that move it (a null, as a
// 3DS file's dummies are read), which the skeleton writers write as joints.
bool HoldsSomething(KQovNode* root) {
    for (KQovNode* node : KQovListDescendants(root)) {
        const KQovNodeAttribute* attribute = node->GetNodeAttribute();
        if (attribute && attribute->GetAttributeType() != KQovNodeAttribute::eOpticalReference)
            return true;
        if (KMotionHasTransformKeys(node)) return true;
    }
    return false;
}

bool IsEmptyFile(const char* path) {
    KFileStream file;
    return file.Open(path, "rb") && file.Seek(2, 0) == 0 && file.Tell() == 0;
}

// Where a conversion is, for telling what it was doing when memory ran out.
struct Stage {
    // The arguments themselves: out of memory, a copy of a name may be what failed.
    const char* in = "";
    const char* out = "";
    bool writing = false;
    bool written = false;  // the output is in place
};

int ConvertFiles(int argc, char** argv, Stage& stage) {
    const char* in = nullptr;
    const char* out = nullptr;
    const char* password = "";
    bool passwordGiven = false;
    const char* flag = "--binary";
    bool kindGiven = false;
    const char* chosenSkeleton = nullptr;
    bool flagsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];  // no copy: memory may be short already
        const QovToolWord word = QovToolWordOf(argv[i], flagsEnded);
        if (word == QovToolWord::eEndOfFlags) continue;
        if (word == QovToolWord::eHelp) {
            QovToolPrintCommandUsage(stdout, "convert");
            return 0;
        }
        if (word == QovToolWord::eFile) {
            if (in && out) {
                QovToolSayWrong("convert", "one file too many:", argv[i]);
                return Usage();
            }
            (in ? out : in) = argv[i];
        } else if (arg == "--password" && i + 1 < argc) {
            password = argv[++i];
            passwordGiven = true;
        } else if (arg == "--skeleton" && i + 1 < argc) {
            chosenSkeleton = argv[++i];
        } else if (arg == "--ascii" || arg == "--binary" || arg == "--encrypted" || arg == "--v5") {
            // Two kinds of QOV file: one would be passed over.
            if (kindGiven && arg != flag) {
                QovToolSay("qovtool: %s and %s cannot be given together\n", flag, argv[i]);
                return 2;
            }
            flag = argv[i];
            kindGiven = true;
        } else {
            const bool valueMissing = arg == "--password" || arg == "--skeleton";
            QovToolSayWrong("convert", valueMissing ? "no value after" : "unknown flag", argv[i]);
            return Usage();
        }
    }
    if (!in || !out) {
        QovToolSayWrong("convert", in ? "no output file named" : "no input or output file named");
        return Usage();
    }
    stage.in = in;
    stage.out = out;
    // A flag that the conversion would not use is refused rather than passed over: the
    // output's kind is chosen by its extension, and a password serves a QOV file only.
    const bool qovIn = QovToolReadingIdOf(in) == 0,
               qovOut = QovToolExtensionOf(out) == "qov";
    if (!qovOut && std::strcmp(flag, "--binary") != 0)
        return QovToolRefuseQovFlag(flag, QovToolShown(out) + " is not a QOV file");
    if (!QovToolSkeletonFlagApplies(in, chosenSkeleton)) return 2;
    if (passwordGiven && !qovIn && !qovOut)
        return QovToolRefuseQovFlag("--password", "neither " + QovToolShown(in) + " nor " +
                                                      QovToolShown(out) + " is a QOV file");
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
    if (id < 0)
        return Fail(out, KIsFolder(out) ? "a folder, not a file" : "no writer for this extension");

    KQovObjectManager& manager = QovToolNewManager();
    // Every file the conversion writes: the output and what its writer puts beside it.
    std::vector<std::string> written{out};
    if (std::unique_ptr<KQovWriter> writer{KQovMakeFormatWriter(id, &manager)})
        for (const std::string& file : writer->GetCompanionFiles(out)) written.push_back(file);
    // The project files a QOV output's write removes.
    const std::vector<std::string> removed =
        id <= 4 ? KQovFieldFile::ProjectFilesOf(out) : std::vector<std::string>();
    // Writing over (or removing) a file that is still to be read, or that the read used, loses
    // it: refused before anything is written.
    auto overwrites = [&](const KPlatformFileFound& source, std::string& target) {
        for (const std::string& file : written)
            if (KPlatformIsFound(file.c_str(), source)) {
                target = file == out ? std::string("the output")
                                     : "the file " + file + " written beside the output";
                return true;
            }
        for (const std::string& file : removed)
            if (KPlatformIsFound(file.c_str(), source)) {
                target = "the project file " + file + ", which writing " + out + " removes,";
                return true;
            }
        return false;
    };
    // Nothing is printed into a file the conversion writes (/dev/stderr, or what the shell
    // sent a stream to).
    QovToolAvoidStreamsOf(written);
    std::string target;
    // A file written beside the output that is the output under another name (an Acclaim pair
    // linked into one file) would end as one of the two.
    for (size_t k = 1; k < written.size(); ++k)
        if (KPlatformSameReplaceTarget(written[k].c_str(), out))
            return Fail(written[k], std::string("the file written beside the output is the same "
                                                "file as the output ") +
                                        out + "; nothing was read or written");
    // Compared as the read opens them: a name of another case leads to the file it found.
    // Every file the read uses, which the write must not reach even through a link put at a
    // written name after these looks.
    std::vector<KPlatformFileFound> used{KPlatformFindAsRead(in)};
    if (overwrites(used.front(), target))
        return Fail(
            out, target + " is the same file as the input " + in + "; nothing was read or written");

    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    importer.SetPassword(password);
    if (!importer.Initialize(in)) return Fail(in, importer.GetLastErrorString());
    const int readId = importer.GetFileFormat();
    // A motion that cannot be opened says so, not that its skeleton is missing.
    if (readId == kQovToolAmcReader && !KFileExists(in)) return Fail(in, KOpenForReadError(in));
    std::string skeleton, skeletonError;
    if (!QovToolFindSkeleton(in, readId, chosenSkeleton, skeleton, skeletonError))
        return Fail(in, skeletonError);
    if (!skeleton.empty()) used.push_back(KPlatformFindAsRead(skeleton.c_str()));
    if (!skeleton.empty() && overwrites(used.back(), target))
        return Fail(out, target + " is the same file as the skeleton " + skeleton +
                             "; nothing was read or written");

    QovToolProgress progress(KPlatformIsTerminal(stderr) && QovToolMessageStream() == stderr);
    std::unique_ptr<KStreamOptions> readOptions;
    if (readId <= 2) {
        // Initialize opened the file: the one open that the read is watched from.
        if (!QovToolReadQov(importer, scene, in)) return 1;
    } else {
        double fileRate = 0.0;
        std::vector<KPlatformFileFound> otherFilesRead;
        readOptions = QovToolReadFile(manager, scene, in, readId, skeleton, true, progress,
                                      fileRate, &otherFilesRead);
        if (!readOptions) return 1;
        for (const KPlatformFileFound& file : otherFilesRead) {
            if (overwrites(file, target))
                return Fail(out, target + " is the same file as " + file.name +
                                     ", which the read of " + in + " used; nothing was written");
            used.push_back(file);
        }
        // A file that gave nothing would be written as a file of nothing, told as success; an
        // empty file reads as an empty scene, which only a QOV file holds.
        if (!HoldsSomething(scene->GetRootNode()) && !IsEmptyFile(in))
            return Fail(in, "nothing was read from this file; nothing written");
    }

    stage.writing = true;

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
    // A writer refuses a scene that holds nothing its format holds (markers for the marker
    // formats), and then nothing is written.
    KQovFillWriteOptions(*scene, *options, readOptions.get());
    progress.Install(*options, out);

    // An Acclaim motion file writes its skeleton file too, and the two take their places as one.
    KQovExporter exporter(&manager);
    if (!exporter.Initialize(out)) return Fail(out, exporter.GetLastErrorString());
    exporter.SetFileFormat(id);
    exporter.SetPassword(password);
    // A QOV file is read from while it is open; a change to it up to the moment the new file
    // would take its place refuses the write.
    exporter.SetSource(readId <= 2 ? &importer : nullptr);
    const int told = progress.GetErrorCount();
    const KPlatformKeepFilesRead keep(&used);
    const bool ok = exporter.Export(scene, options.get());
    progress.End();
    if (!ok && !importer.CheckFileUnchanged()) return Fail(in, importer.GetLastErrorString());
    // A writer that refused the scene has said why; the exporter's own code says less.
    if (!ok) {
        const bool said = progress.GetErrorCount() > told;
        const std::string text = said ? "not written" : exporter.GetLastErrorString();
        // A failure of a file written beside the output (an Acclaim pair's skeleton file)
        // alone names that file.
        std::string failed = out;
        if (!said && text.find(KQovMessageText(out)) == std::string::npos)
            for (size_t k = 1; k < written.size(); ++k)
                if (text.find(KQovMessageText(written[k])) != std::string::npos)
                    failed = written[k];
        return Fail(failed, text);
    }
    stage.written = true;
    // A file made by the write may be a stream's file only now.
    QovToolAvoidStreamsOf(written);
    QovToolPrintWarnings(out, exporter.GetStatusText());
    if (std::FILE* status = QovToolStatusStream())
        QovToolPrint(status, "%s -> %s\n", QovToolShown(in).c_str(), QovToolShown(out).c_str());
    return 0;
}

}  // namespace

int QovToolConvert(int argc, char** argv) {
    Stage stage;
    try {
        return ConvertFiles(argc, argv, stage);
    } catch (const std::bad_alloc&) {
        // The new file is whole and in place: what ran short came after it.
        if (stage.written) {
            std::string shown;
            QovToolSay("qovtool: %s: warning: out of memory once it was written\n",
                       QovToolShownIfRoom(stage.out, shown));
            return 0;
        }
        // Everything the conversion held is gone by now, an unfinished new file with it: the
        // old output stays.
        const char* file = stage.writing ? stage.out : stage.in;
        std::string shown;
        const char* name = QovToolShownIfRoom(file, shown);
        QovToolSay("qovtool: %s: Out of memory while %s %s\n", name,
                   stage.writing ? "writing" : "reading", name);
        return 1;
    }
}
