#include <cstdio>
#include <memory>
#include <string>

#include "foundation/KLocale.h"
#include "io/KQovImporter.h"
#include "io/qov/KQovReaderQov.h"
#include "tools/qovtool/Commands.h"

namespace {

const char* const kKinds[3] = {"binary", "ascii", "encrypted"};
const char* const kCountLabels[KStreamOptionsQov::eCountCount] = {
    "models", "devices", "characters", "actors", "constraints", "media"};

std::string Seconds(const KTime& time) {
    return KShortestText(time.GetSecondDouble());
}

}  // namespace

int QovToolInfo(int argc, char** argv) {
    if (argc < 1) {
        std::printf("QOV scene library\n");
        return 0;
    }
    KQovImporter importer(nullptr);
    if (!importer.Initialize(argv[0]) || !importer.CreateReader()) {
        std::fprintf(stderr, "qovtool: %s: %s\n", argv[0], importer.GetLastErrorString());
        return 1;
    }
    // The reader of the importer knows the layout; a second one reads the header again.
    KQovReaderQov reader(nullptr, nullptr);
    reader.FileOpen(argv[0]);
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    if (!options) {
        std::fprintf(stderr, "qovtool: %s: %s\n", argv[0], reader.GetLastErrorString());
        return 1;
    }
    int major, minor, revision;
    importer.GetFileVersion(major, minor, revision);
    std::printf("kind: %s\n", kKinds[importer.GetFileFormat()]);
    std::printf("version: %s\n", KFormatC("%d.%d.%d", major, minor, revision).c_str());
    std::printf("layout: %d\n", reader.GetFieldFile()->IsVersion5Layout() ? 5 : 6);
    KString camera, mode;
    double width = 0.0, height = 0.0;
    if (importer.GetCameraResolution(camera, mode, width, height))
        std::printf("camera resolution: %s, %s, %s x %s\n", camera.Buffer(), mode.Buffer(),
                    KShortestText(width).c_str(), KShortestText(height).c_str());
    std::printf("current take: %s\n", options->currentTakeName.Buffer());
    for (int i = 0; i < options->GetTakeCount(); ++i) {
        const KQovTakeInfo& take = *options->GetTake(i);
        std::printf("take: %s, %s-%s s", take.name.Buffer(),
                    Seconds(take.localTimeSpan.GetStart()).c_str(),
                    Seconds(take.localTimeSpan.GetStop()).c_str());
        if (!take.comment.IsEmpty()) std::printf(", \"%s\"", take.comment.Buffer());
        std::printf("\n");
    }
    for (int i = 0; i < KStreamOptionsQov::eCountCount; ++i)
        std::printf("%s: %s\n", kCountLabels[i], KFormatC("%d", options->GetCount(i)).c_str());
    std::printf("template: %s\n", options->templateFlag ? "yes" : "no");
    KQovDestroySceneInfo(nullptr, options->sceneInfo);
    return 0;
}
