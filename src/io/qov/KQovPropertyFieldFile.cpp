#include "io/qov/KQovPropertyFieldFile.h"

KQovPropertyFieldFile::KQovPropertyFieldFile() : mOwnMap(20, true), mObjects(&mOwnMap) {}

KQovPropertyFieldFile::~KQovPropertyFieldFile() = default;

KQovPropertyFieldFile* KQovPropertyFieldFile::Create() {
    return new KQovPropertyFieldFile;
}

void KQovPropertyFieldFile::RegisterObject(const char* name, KPlug* object) {
    mObjects->Add(name, object);
}

KPlug* KQovPropertyFieldFile::FindObject(const char* name) const {
    return static_cast<KPlug*>(mObjects->Find(name));
}

bool KQovPropertyFieldFile::UnregisterObject(const char* name) {
    return mObjects->Remove(name);
}
