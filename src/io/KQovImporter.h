#pragma once
// The file importer of a scene, made and deleted by the object manager.

class KQovObjectManager;

class KQovImporter {
public:
    explicit KQovImporter(KQovObjectManager* manager) : mManager(manager) {}
    virtual ~KQovImporter() = default;
    KQovImporter(const KQovImporter&) = delete;
    KQovImporter& operator=(const KQovImporter&) = delete;
    KQovObjectManager* GetObjectManager() const { return mManager; }

private:
    KQovObjectManager* mManager;
};
