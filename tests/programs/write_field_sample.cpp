// Writes the small field file shipped in samples/ (the demo's input), through the
// library's own writer: write_field_sample OUTPUT [ascii|binary|encrypted]
#include <cstdio>
#include <cstring>

#include "fieldfile/KQovFieldFile.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: write_field_sample OUTPUT [ascii|binary|encrypted]\n");
        return 2;
    }
    const char* kind = argc > 2 ? argv[2] : "binary";
    bool binary = std::strcmp(kind, "ascii") != 0;
    bool encrypted = std::strcmp(kind, "encrypted") == 0;
    KQovFieldFile f;
    KQovHeaderInfo info;
    info.cameraName = "Producer Perspective";
    info.resolutionMode = "Window Size";
    info.width = 640;
    info.height = 480;
    if (!f.Create(argv[1], binary, encrypted, &info)) {
        std::fprintf(stderr, "%s\n", f.GetLastErrorString());
        return 1;
    }
    f.FieldWriteComment(" A small field tree: two models and a take");
    f.FieldWriteBegin("Objects");
    f.FieldWriteBlockBegin();
    const char* models[] = {"Model::Cube", "Model::Light, \"key\""};
    for (int i = 0; i < 2; ++i) {
        f.FieldWriteBegin("Model");
        f.FieldWriteC(models[i]);
        f.FieldWriteC(i == 0 ? "Mesh" : "Light");
        f.FieldWriteBlockBegin();
        f.FieldWriteBegin("Version");
        f.FieldWriteI(232);
        f.FieldWriteEnd();
        f.FieldWriteBegin("Translation");
        f.FieldWriteD(1.5 * i);
        f.FieldWriteD(-2.25);
        f.FieldWriteD(1e-9);
        f.FieldWriteEnd();
        f.FieldWriteBegin("Shading");
        f.FieldWriteCh(i == 0 ? 'Y' : 'W');
        f.FieldWriteEnd();
        f.FieldWriteBlockEnd();
        f.FieldWriteEnd();
    }
    f.FieldWriteBlockEnd();
    f.FieldWriteEnd();
    f.FieldWriteBegin("Takes");
    f.FieldWriteBlockBegin();
    f.FieldWriteC("Current", "Take 001");
    f.FieldWriteBegin("Take");
    f.FieldWriteC("Take 001");
    f.FieldWriteBlockBegin();
    f.FieldWriteC("Comment", "first line\nsecond line");
    f.FieldWriteBegin("LocalTime");
    f.FieldWriteTS(KTime(0), KTime(46186158000ll * 2));
    f.FieldWriteEnd();
    f.FieldWriteBegin("Keys");
    for (int k = 0; k < 30; ++k) f.FieldWriteD(k * 0.125);
    f.FieldWriteEnd();
    f.FieldWriteBlockEnd();
    f.FieldWriteEnd();
    f.FieldWriteBlockEnd();
    f.FieldWriteEnd();
    if (binary) {
        f.Finish();
        if (!encrypted) {
            f.FieldFileAppendPart(false);
            f.FieldWriteBegin("Summary");
            f.FieldWriteBlockBegin();
            f.FieldWriteBegin("TakeCount");
            f.FieldWriteI(1);
            f.FieldWriteEnd();
            f.FieldWriteBlockEnd();
            f.FieldWriteEnd();
        }
    }
    bool ok = f.GetLastErrorID() == -1;
    if (!ok) std::fprintf(stderr, "%s\n", f.GetLastErrorString());
    f.FieldFileClose();
    return ok ? 0 : 1;
}
