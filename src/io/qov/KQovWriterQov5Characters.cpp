// Version-5 characters and character poses.

#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "scene/KQovScene.h"

void KQovWriterQov5::WriteCharacters(KQovScene*) {}

void KQovWriterQov5::WriteCharacterPoses(KQovScene*) {}
