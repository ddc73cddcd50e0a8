#pragma once
// A media clip (still image or movie file) that textures and light gobos
// refer to. The clip pushes its file names to the textures and lights that
// get connected to it.

#include <cstdint>

#include "foundation/KError.h"
#include "foundation/KTime.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovTakeNodeContainer.h"

class KQovNodeAttribute;

// How a clip reaches textures and lights, which live in a later layer (set by
// that layer at start-up; a null entry is skipped).
struct KQovMediaHooks {
    bool (*setTextureFileName)(KQovObject* texture, const char* name) = nullptr;
    bool (*setTextureRelativeFileName)(KQovObject* texture, const char* name) = nullptr;
    void (*setTextureMediaName)(KQovObject* texture, const char* name) = nullptr;
    bool (*setLightGoboFileName)(KQovNodeAttribute* light, const char* name) = nullptr;
};

class KQovVideoProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovVideoProperties)
public:
    enum : int {
        eFrameRate, eLastFrame, eWidth, eHeight, ePath, eStartFrame, eStopFrame, ePlaySpeed,
        eOffset, eInterlaceMode, eFreeRunning, eLoop, eAccessMode, eRowCount
    };

    explicit KQovVideoProperties(KQovObject* owner);

    // Display names of the two enums; null outside each list. "InterlaceMode"
    // shows the access names and "AccessMode" the interlace names, as stored
    // files and hosts expect.
    static const char* GetAccessModeName(int value);
    static const char* GetInterlaceModeName(int value);

    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override;

    void SetFrameRate(double v) { SetNumber(eFrameRate, v); }
    double GetFrameRate() const { return GetNumber(eFrameRate); }
    void SetLastFrame(int v) { SetNumber(eLastFrame, v); }
    int GetLastFrame() const { return int(GetNumber(eLastFrame)); }
    void SetWidth(int v) { SetNumber(eWidth, v); }
    int GetWidth() const { return int(GetNumber(eWidth)); }
    void SetHeight(int v) { SetNumber(eHeight, v); }
    int GetHeight() const { return int(GetNumber(eHeight)); }
    void SetPath(const char* text);
    const char* GetPath() const;
    void SetStartFrame(int v) { SetNumber(eStartFrame, v); }
    int GetStartFrame() const { return int(GetNumber(eStartFrame)); }
    void SetStopFrame(int v) { SetNumber(eStopFrame, v); }
    int GetStopFrame() const { return int(GetNumber(eStopFrame)); }
    void SetPlaySpeed(double v) { SetNumber(ePlaySpeed, v); }
    double GetPlaySpeed() const { return GetNumber(ePlaySpeed); }
    void SetOffset(KTime time);
    KTime GetOffset() const;
    void SetInterlaceMode(int v) { SetNumber(eInterlaceMode, v); }
    int GetInterlaceMode() const { return int(GetNumber(eInterlaceMode)); }
    void SetFreeRunning(bool v) { SetNumber(eFreeRunning, v ? 1.0 : 0.0); }
    bool GetFreeRunning() const { return GetNumber(eFreeRunning) != 0.0; }
    void SetLoop(bool v) { SetNumber(eLoop, v ? 1.0 : 0.0); }
    bool GetLoop() const { return GetNumber(eLoop) != 0.0; }
    void SetAccessMode(int v) { SetNumber(eAccessMode, v); }
    int GetAccessMode() const { return int(GetNumber(eAccessMode)); }

    uint8_t useMipMap = 0;       // "UseMipMap"
    uint8_t originalFormat = 1;  // "OriginalFormat"
    KString originalFileName;    // "OriginalFilename"
    KString relativeFileName;    // "RelativeFilename"

private:
    // Lists the clip in the media of the scene of the first object it feeds.
    void RegisterInScene();
    void SetNumber(int row, double value);
    double GetNumber(int row) const;
};

class KQovVideo : public KQovTakeNodeContainer {
public:
    static void SetMediaHooks(const KQovMediaHooks& hooks);
    static const KQovMediaHooks& GetMediaHooks();

    KQovVideo(KQovObjectManager* manager, const char* name);
    ~KQovVideo() override;

    int GetObjectType() const override { return eVideo; }
    KQovPropertyHandler* GetPropertyHandler() const override { return mProperties; }
    KString GetTypeName() const override { return KString("Clip"); }
    KStringList GetTypeNames() const override { return OneTypeName("Clip"); }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override {
        InitAnimatableChannels(mProperties, takeNode);
    }
    KQovVideoProperties* GetProperties() const { return mProperties; }

    // False for a null or empty name; the same name again changes and tells
    // nothing; else stored and passed to every connected texture.
    bool SetFileName(const char* name);
    bool SetRelativeFileName(const char* name);
    const char* GetFileName() const { return mProperties->GetPath(); }
    const char* GetRelativeFileName() const { return mProperties->relativeFileName.Buffer(); }

    void SetUseMipMap(bool on) { mProperties->useMipMap = on ? 1 : 0; }
    bool GetUseMipMap() const { return mProperties->useMipMap != 0; }
    void SetOriginalFormat(bool on) { mProperties->originalFormat = on ? 1 : 0; }
    bool GetOriginalFormat() const { return mProperties->originalFormat != 0; }
    void SetOriginalFileName(const char* text) { mProperties->originalFileName = text ? text : ""; }
    const char* GetOriginalFileName() const { return mProperties->originalFileName.Buffer(); }

private:
    // Every texture connected to the clip.
    template <class F>
    void ForEachTexture(F&& f);

    KError mError;
    KQovVideoProperties* mProperties;
};
