#pragma once
// One scene: the entity container that holds its root node "RootNode" and the
// lists of what it refers to. Made and destroyed through the object manager.

#include <memory>

class KQovEntityContainer;
class KQovNode;
class KQovObjectManager;

class KQovScene {
public:
    explicit KQovScene(KQovObjectManager* manager);
    virtual ~KQovScene();
    KQovScene(const KQovScene&) = delete;
    KQovScene& operator=(const KQovScene&) = delete;

    KQovEntityContainer* GetEntityContainer() const { return mEntity.get(); }
    // Null once the root left the container.
    KQovNode* GetRootNode() const;
    KQovObjectManager* GetObjectManager() const { return mManager; }

private:
    KQovObjectManager* mManager;
    std::unique_ptr<KQovEntityContainer> mEntity;
};
