#pragma once
// The file exporter of a scene, made and deleted by the object manager.

class KQovObjectManager;

class KQovExporter {
public:
    explicit KQovExporter(KQovObjectManager* manager) : mManager(manager) {}
    virtual ~KQovExporter() = default;
    KQovExporter(const KQovExporter&) = delete;
    KQovExporter& operator=(const KQovExporter&) = delete;
    KQovObjectManager* GetObjectManager() const { return mManager; }

private:
    KQovObjectManager* mManager;
};
