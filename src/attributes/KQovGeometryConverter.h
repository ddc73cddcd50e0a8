#pragma once
// Converts geometry between its surface kinds for the object manager that made it.

class KQovObjectManager;

class KQovGeometryConverter {
public:
    explicit KQovGeometryConverter(KQovObjectManager* manager) : mManager(manager) {}
    virtual ~KQovGeometryConverter() = default;
    KQovGeometryConverter(const KQovGeometryConverter&) = delete;
    KQovGeometryConverter& operator=(const KQovGeometryConverter&) = delete;
    KQovObjectManager* GetObjectManager() const { return mManager; }

private:
    KQovObjectManager* mManager;
};
