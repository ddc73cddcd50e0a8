#pragma once
// The read that `info` and `convert` share: the same reader, options and messages, so that
// both tell every warning of the read on stderr.

#include <memory>
#include <string>
#include <vector>

#include "platform/KPlatformSameFile.h"

class KQovImporter;
class KQovObjectManager;
class KQovScene;
class KStreamOptions;
class KString;

// Progress on one line of a terminal (redrawn when the text or the whole percent changes),
// and the messages of a reader's or writer's options on stderr.
class QovToolProgress {
public:
    explicit QovToolProgress(bool shown) : mShown(shown) {}
    ~QovToolProgress() { End(); }
    QovToolProgress(const QovToolProgress&) = delete;
    QovToolProgress& operator=(const QovToolProgress&) = delete;

    void Show(const char* text, float percent);
    void End();
    // Progress (only on a terminal) and messages of `options`, said of `file`.
    void Install(KStreamOptions& options, const std::string& file);
    // Errors a reader or writer has told so far.
    int GetErrorCount() const { return mErrors; }

private:
    bool mShown;
    bool mOpen = false;
    int mErrors = 0;
    std::string mText;
    int mPercent = -1;
};

// The reader's or writer's findings that did not stop it, one warning per line.
void QovToolPrintWarnings(const char* file, const KString& status);

// A new object manager whose objects go with the process: taking them apart needs memory, which
// may have run out, and nothing after the output is in place may undo a success. One a run.
KQovObjectManager& QovToolNewManager();

// Reads the QOV file that `importer` was initialised with into `scene`, with its warnings;
// false after saying why.
bool QovToolReadQov(KQovImporter& importer, KQovScene* scene, const char* file);

// Reads `file` of any other format (reading id `readId`) into `scene` with its reader's own
// options, which are returned (null after saying why): they know the file's exact rate
// (`fileRate`, read before the file; 0 for other than motion files), and the motion file of
// an Acclaim pair reads on the skeleton that `skeleton`, read first when not empty, leaves in
// them. Markers that share a label are renamed with a warning; `underRoot` hangs a motion
// file's hierarchy from the scene's root instead of a reference node of its own.
// `otherFilesRead`, when given, receives the other files the read took something from, as it
// found them.
std::unique_ptr<KStreamOptions> QovToolReadFile(
    KQovObjectManager& manager, KQovScene* scene, const char* file, int readId,
    const std::string& skeleton, bool underRoot, QovToolProgress& progress, double& fileRate,
    std::vector<KPlatformFileFound>* otherFilesRead = nullptr);
