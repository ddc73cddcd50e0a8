#include "tools/qovtool/Read.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "foundation/KString.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovReader.h"
#include "io/KStreamOptions.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovObjectManager.h"
#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Skeleton.h"
#include "tools/qovtool/Streams.h"

void QovToolProgress::Show(const char* text, float percent) {
    const int whole = std::isfinite(percent) ? int(percent) : 0;
    // A step without a text of its own goes on under the last one.
    const std::string line = text && *text ? text : mText;
    if (line == mText && whole == mPercent) return;
    mText = line;
    mPercent = whole;
    std::fputc('\r', stderr);
    // A name in it (a take's) stays on the progress line.
    std::fputs(QovToolShown(line).c_str(), stderr);
    std::fprintf(stderr, " %3d%%\033[K", whole < 0 ? 0 : whole > 100 ? 100 : whole);
    std::fflush(stderr);
    mOpen = true;
}

void QovToolProgress::End() {
    if (mOpen) std::fprintf(stderr, "\r\033[K");
    mOpen = false;
    mText.clear();
    mPercent = -1;
}

void QovToolProgress::Install(KStreamOptions& options, const std::string& file) {
    if (mShown)
        options.SetProgressCallback(
            [this](int, const char* text, float percent) { Show(text, percent); });
    options.SetMessageCallback([this, file](const char* title, const char* text, const char*,
                                            const char*, const char*, int answer) {
        End();
        if (title && std::strcmp(title, "Error") == 0) ++mErrors;
        // A message's own closing line breaks would leave blank lines.
        QovToolSay("qovtool: %s: %s: %s\n", QovToolShown(file).c_str(), title ? title : "",
                   KString(text ? text : "").Trim(0).Buffer());
        return answer;
    });
}

void QovToolPrintWarnings(const char* file, const KString& status) {
    const std::string text = status.Buffer();
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start)
            QovToolSay("qovtool: %s: warning: %s\n", QovToolShown(file).c_str(),
                       text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

namespace {
KQovObjectManager* gManager = nullptr;  // reachable to the end, as the process keeps it
}  // namespace

KQovObjectManager& QovToolNewManager() {
    gManager = new KQovObjectManager;
    return *gManager;
}

bool QovToolReadQov(KQovImporter& importer, KQovScene* scene, const char* file) {
    importer.GetTakeCount();  // the take list (and the password) go into the read options
    if (!importer.Import(scene, nullptr)) {
        QovToolSay("qovtool: %s: %s\n", QovToolShown(file).c_str(),
                   QovToolShown(importer.GetLastErrorString()).c_str());
        return false;
    }
    QovToolPrintWarnings(file, importer.GetStatusText());
    return true;
}

std::unique_ptr<KStreamOptions> QovToolReadFile(KQovObjectManager& manager, KQovScene* scene,
                                                const char* file, int readId,
                                                const std::string& skeleton, bool underRoot,
                                                QovToolProgress& progress, double& fileRate,
                                                std::vector<KPlatformFileFound>* otherFilesRead) {
    fileRate = 0.0;
    auto fail = [](const std::string& name, const std::string& text) {
        QovToolSay("qovtool: %s: %s\n", QovToolShown(name).c_str(), QovToolShown(text).c_str());
        return nullptr;
    };
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(readId, &manager));
    if (!reader || !reader->FileOpen(file))
        return fail(file, reader ? reader->GetLastErrorString() : "no reader for this format");
    std::unique_ptr<KStreamOptions> options(reader->GetReadOptions(true));
    if (!options) return fail(file, reader->GetLastErrorString());
    if (options->IsA(KStreamOptionsMotion::ClassId())) {
        auto& motion = static_cast<KStreamOptionsMotion&>(*options);
        // A skeleton is read as the file has it, its top joint under the scene's root: a
        // reference node above it would be written as the file's top joint, and the one
        // below it would lose its translation channels.
        if (underRoot) motion.SetSetting(8, 0);
        // Markers that share a label (C3D allows it) are renamed with a warning, not refused.
        motion.SetSetting(17, 1);
        fileRate = motion.GetFrameRate();
    }
    progress.Install(*options, file);
    std::string error;
    if (!skeleton.empty() &&
        !QovToolReadSkeleton(manager, scene, skeleton, options.get(), error))
        return fail(skeleton, error);
    const int told = progress.GetErrorCount();
    if (!reader->Read(scene, options.get())) {
        progress.End();
        // A reader that refused the file has said why: its error would say it again.
        if (progress.GetErrorCount() > told) return nullptr;
        return fail(file, QovToolReaderError(*reader));
    }
    progress.End();
    if (otherFilesRead) *otherFilesRead = reader->GetOtherFilesFound();
    KString status;
    reader->GetStatusText(status);
    QovToolPrintWarnings(file, status);
    return options;
}
