// qovtool info: what a file holds, for every format the importer reads. A QOV file's header
// facts come first; then, for every format, the scene the file reads into: its frame rate,
// takes, nodes by attribute kind, meshes, materials and textures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "foundation/KLocale.h"
#include "foundation/KTimeModeTable.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovReader.h"
#include "io/KQovWriteOptions.h"
#include "io/KStreamOptionsMotion.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"
#include "tools/qovtool/Commands.h"
#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Read.h"
#include "tools/qovtool/Skeleton.h"
#include "tools/qovtool/Streams.h"

namespace {

const char* const kKinds[3] = {"binary", "ascii", "encrypted"};
const char* const kCountLabels[KStreamOptionsQov::eCountCount] = {
    "models", "devices", "characters", "actors", "constraints", "media"};
// Attribute kinds by type (0: a node without attribute).
const char* const kAttributeKinds[] = {"none",   "null",    "marker",          "skeleton",
                                       "mesh",   "nurbs",   "patch",           "camera",
                                       "camera switcher", "light", "optical reference"};

// A time in seconds to a tenth of a frame at `rate` (to the millisecond when the rate is not
// known), without trailing zeros: a span ends on a frame, and more digits only show the
// rounding of the time's ticks ("0.030303030293188708").
std::string Seconds(const KTime& time, double rate) {
    int decimals = 3;
    if (rate > 0.0 && std::isfinite(rate))
        decimals = std::min(9, std::max(0, int(std::ceil(std::log10(rate * 10.0) - 1e-9))));
    std::string text = KFormatC("%.*f", decimals, time.GetSecondDouble());
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

const char* AttributeKind(const KQovNode& node) {
    const KQovNodeAttribute* attribute = node.GetNodeAttribute();
    const int type = attribute ? attribute->GetAttributeType() : 0;
    const int count = int(sizeof kAttributeKinds / sizeof kAttributeKinds[0]);
    return type >= 0 && type < count ? kAttributeKinds[type] : "other";
}

// The nodes below the root, parent before children.
void Collect(KQovNode* node, std::vector<KQovNode*>& out) {
    for (int i = 0; i < node->GetChildCount(); ++i) {
        KQovNode* child = node->GetChild(i);
        out.push_back(child);
        Collect(child, out);
    }
}

// The header facts of a QOV file, as its Summary and header extension give them, as lines of
// `out`.
bool QovHeader(const char* file, KQovImporter& importer, std::string& out) {
    // The reader of the importer knows the layout; a second one reads the header again.
    KQovReaderQov reader(nullptr, nullptr);
    std::unique_ptr<KStreamOptionsQov> options(
        reader.FileOpen(file) ? reader.ReadHeaderInfo(nullptr, true) : nullptr);
    if (!options) {
        QovToolSay("qovtool: %s: %s\n", QovToolShown(file).c_str(),
                   QovToolShown(reader.GetLastErrorString()).c_str());
        return false;
    }
    int major, minor, revision;
    importer.GetFileVersion(major, minor, revision);
    out += KFormatC("kind: %s\n", kKinds[importer.GetFileFormat()]);
    out += KFormatC("version: %d.%d.%d\n", major, minor, revision);
    out += KFormatC("layout: %d\n", reader.GetFieldFile()->IsVersion5Layout() ? 5 : 6);
    KString camera, mode;
    double width = 0.0, height = 0.0;
    if (importer.GetCameraResolution(camera, mode, width, height))
        out += "camera resolution: " + QovToolShown(camera.Buffer()) + ", " +
               QovToolShown(mode.Buffer()) + ", " + KShortestText(width) + " x " +
               KShortestText(height) + "\n";
    out += "current take: " + QovToolShown(options->currentTakeName.Buffer()) + "\n";
    for (int i = 0; i < options->GetTakeCount(); ++i) {
        const KQovTakeInfo& take = *options->GetTake(i);
        out += "take: " + QovToolShown(take.name.Buffer()) + ", " +
               Seconds(take.localTimeSpan.GetStart(), 0.0) + "-" +
               Seconds(take.localTimeSpan.GetStop(), 0.0) + " s";
        if (!take.comment.IsEmpty()) out += ", \"" + QovToolShown(take.comment.Buffer()) + "\"";
        out += "\n";
    }
    for (int i = 0; i < KStreamOptionsQov::eCountCount; ++i)
        out += KFormatC("%s: %d\n", kCountLabels[i], options->GetCount(i));
    out += KFormatC("template: %s\n", options->templateFlag ? "yes" : "no");
    KQovDestroySceneInfo(nullptr, options->sceneInfo);
    return true;
}

// The rate of a scene's keys where it is not its time mode's (a 250 Hz or a 10 Hz capture kept
// in QOV), as convert writes it; 0 where the time mode's frames are the keys'.
double KeyRate(KQovScene& scene) {
    const KQovWriteTiming timing = KQovGetWriteTiming(scene);
    return timing.timeMode == scene.GetGlobalTimeSettings().GetTimeMode() ? 0.0 : timing.rate;
}

void PrintScene(KQovScene& scene, double rate) {
    const int mode = scene.GetGlobalTimeSettings().GetTimeMode();
    const KTimeModeRow* row = KTimeModeTable::FindRow(mode);
    if (rate > 0.0) {
        // The file's own rate; the first named mode of that rate, if any.
        row = nullptr;
        for (int i = 0; !row && i < KTimeModeTable::GetCount(); ++i)
            if (std::fabs(KTimeModeTable::GetRow(i)->rate - rate) < 1e-6)
                row = KTimeModeTable::GetRow(i);
    } else {
        rate = KTime::GetFrameRate(mode);
    }
    // The rate as a number, and the mode's own name where it says more (PAL, NTSC Drop).
    std::string text = KDecimalText(row ? row->rate : rate) + " fps";
    if (row && text != row->longName) text = text + " (" + row->longName + ")";
    QovToolPrint(stdout, "frame rate: %s\n", text.c_str());

    std::vector<KString> names;
    scene.FillTakeNameArray(names);
    std::vector<const KQovTakeInfo*> takes;
    for (const KString& name : names)
        if (const KQovTakeInfo* take = scene.FindTakeInfo(name.Buffer())) takes.push_back(take);
    QovToolPrint(stdout, "takes: %d\n", int(takes.size()));
    for (const KQovTakeInfo* take : takes) {
        const KTimeSpan& span = take->localTimeSpan;
        const double seconds = (span.GetStop() - span.GetStart()).GetSecondDouble();
        const long long frames = std::llround(seconds * rate) + 1;
        QovToolPrint(stdout, "  %s: %s-%s s, %s frame%s%s\n",
                     QovToolShown(take->name.Buffer()).c_str(),
                     Seconds(span.GetStart(), rate).c_str(), Seconds(span.GetStop(), rate).c_str(),
                     KFormatC("%lld", frames).c_str(), frames == 1 ? "" : "s",
                     take->name == scene.GetCurrentTakeName() ? " (current)" : "");
    }

    std::vector<KQovNode*> nodes;
    Collect(scene.GetRootNode(), nodes);
    std::map<std::string, int> kinds;
    std::vector<std::string> order;
    for (KQovNode* node : nodes)
        if (kinds[AttributeKind(*node)]++ == 0) order.push_back(AttributeKind(*node));
    QovToolPrint(stdout, "nodes: %d\n", int(nodes.size()));
    for (const std::string& kind : order)
        QovToolPrint(stdout, "  %s: %s\n", kind.c_str(), KFormatC("%d", kinds[kind]).c_str());

    std::vector<KQovNode*> meshes;
    for (KQovNode* node : nodes)
        if (node->GetNodeAttribute() &&
            node->GetNodeAttribute()->GetAttributeType() == KQovNodeAttribute::eMesh)
            meshes.push_back(node);
    QovToolPrint(stdout, "meshes: %d\n", int(meshes.size()));
    for (KQovNode* node : meshes) {
        const auto* mesh = static_cast<const KQovMesh*>(node->GetNodeAttribute());
        QovToolPrint(stdout, "  %s: %s polygons, %s control points\n",
                     QovToolShown(node->GetNameWithoutPrefix().Buffer()).c_str(),
                     KFormatC("%d", mesh->GetPolygonCount()).c_str(),
                     KFormatC("%d", mesh->GetControlPointsCount()).c_str());
    }

    KQovEntityContainer& entity = *scene.GetEntityContainer();
    QovToolPrint(stdout, "materials: %d\n", entity.GetMaterialCount());
    for (int i = 0; i < entity.GetMaterialCount(); ++i)
        QovToolPrint(stdout, "  %s\n",
                     QovToolShown(entity.GetMaterial(i)->GetNameWithoutPrefix().Buffer()).c_str());
    QovToolPrint(stdout, "textures: %d\n", entity.GetTextureCount());
    for (int i = 0; i < entity.GetTextureCount(); ++i) {
        KQovObject* texture = entity.GetTexture(i);
        const char* file = texture->GetObjectType() == KQovObject::eTexture
                               ? static_cast<KQovTexture*>(texture)->GetFileName()
                               : "";
        QovToolPrint(stdout, "  %s%s%s\n",
                     QovToolShown(texture->GetNameWithoutPrefix().Buffer()).c_str(),
                     *file ? ": " : "", QovToolShown(file).c_str());
    }
}

// A wrong command line gets info's own usage line, as the other commands give theirs.
int InfoUsage() {
    QovToolSay("usage: qovtool info FILE [--password P] [--skeleton FILE]\n");
    return 2;
}

}  // namespace

int QovToolInfo(int argc, char** argv) {
    const char* file = nullptr;
    const char* password = "";
    bool passwordGiven = false;
    const char* chosenSkeleton = nullptr;
    bool flagsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const QovToolWord word = QovToolWordOf(argv[i], flagsEnded);
        if (word == QovToolWord::eEndOfFlags) continue;
        if (word == QovToolWord::eFlag && arg == "--password" && i + 1 < argc) {
            password = argv[++i];
            passwordGiven = true;
        } else if (word == QovToolWord::eFlag && arg == "--skeleton" && i + 1 < argc) {
            chosenSkeleton = argv[++i];
        } else if (word == QovToolWord::eHelp) {
            QovToolPrintCommandUsage(stdout, "info");
            return 0;
        } else if (word == QovToolWord::eFlag || file) {
            const char* wrong = "one file too many:";
            if (arg == "--password" || arg == "--skeleton")
                wrong = "no value after";
            else if (word == QovToolWord::eFlag)
                wrong = "unknown flag";
            QovToolSayWrong("info", wrong, argv[i]);
            return InfoUsage();
        } else {
            file = argv[i];
        }
    }
    if (!file) {
        QovToolSayWrong("info", "no file named");
        return InfoUsage();
    }
    const int id = QovToolReadingIdOf(file);
    // A password serves a QOV file only; passed over, it would hide a wrong file name.
    if (passwordGiven && id != 0)
        return QovToolRefuseQovFlag("--password", std::string(file) + " is not a QOV file");
    if (!QovToolSkeletonFlagApplies(file, chosenSkeleton)) return 2;
    if (!QovToolCheckReadable(file)) return 1;

    KQovObjectManager& manager = QovToolNewManager();
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    importer.SetPassword(password);
    // Initialize opens a QOV file itself: the one open that its read is watched from.
    if (!importer.Initialize(file) || (id > 2 && !importer.CreateReader())) {
        QovToolSay("qovtool: %s: %s\n", QovToolShown(file).c_str(),
                   QovToolShown(importer.GetLastErrorString()).c_str());
        return 1;
    }
    std::string skeleton, error;
    if (!QovToolFindSkeleton(file, importer.GetFileFormat(), chosenSkeleton, skeleton, error)) {
        QovToolSay("qovtool: %s: %s\n", QovToolShown(file).c_str(), QovToolShown(error).c_str());
        return 1;
    }
    // Nothing is printed before the file is read whole: a refused file gives only its error.
    std::string head =
        KFormatC("format: %s\n", QovToolDescribe(id > 2 ? id : importer.GetFileFormat()));
    if (id <= 2 && !QovHeader(file, importer, head)) return 1;
    // Read as convert reads it, with every warning of the read on stderr; a motion file keeps
    // its reference node here, to be shown.
    double fileRate = 0.0;
    if (id > 2) {
        QovToolProgress progress(false);
        if (!QovToolReadFile(manager, scene, file, id, skeleton, false, progress, fileRate))
            return 1;
    } else if (!QovToolReadQov(importer, scene, file)) {
        return 1;
    }
    QovToolPrint(stdout, "%s", head.c_str());
    PrintScene(*scene, id > 2 ? fileRate : KeyRate(*scene));
    return 0;
}
