#pragma once
// The base of what a node carries to say what it is (null, marker, skeleton,
// mesh, camera, light ...). An attribute belongs to at most one node at a time
// and keeps its animation channels present in every take of that node; the
// object manager, not the node, owns it.

#include <cstddef>
#include <vector>

#include "foundation/KString.h"
#include "foundation/KStringList.h"

class KMatrix;
class KProperty;
class KQovEntityContainer;
class KQovNode;
class KQovObject;
class KQovObjectManager;
class KQovTakeNode;

class KQovNodeAttribute {
public:
    enum : int {
        eShape = 0,
        eNull = 1,
        eMarker = 2,
        eSkeleton = 3,
        eMesh = 4,
        eNurb = 5,
        ePatch = 6,
        eCamera = 7,
        eCameraSwitcher = 8,
        eLight = 9,
        eOpticalReference = 10,
    };

    explicit KQovNodeAttribute(KQovObjectManager* manager) : mManager(manager) {}
    KQovNodeAttribute(const KQovNodeAttribute&) = delete;
    KQovNodeAttribute& operator=(const KQovNodeAttribute&) = delete;

    virtual int GetAttributeType() const = 0;
    // A node still carrying the attribute forgets it (subclasses remove their
    // channels first, through ClearNode, while they still can).
    virtual ~KQovNodeAttribute();
    // Stores the node, then adds the attribute's channels to each of its take nodes.
    virtual void SetNode(KQovNode* node);
    // Removes the channels from each take node of the node, then forgets it.
    virtual void ClearNode();
    virtual void InitTakeNodeChannels(KQovTakeNode*) {}
    virtual void RemoveTakeNodeChannels(KQovTakeNode*) {}
    // Told before a take node leaves the node.
    virtual void ForgetTakeNode(KQovTakeNode*) {}
    // False for an attribute that never has channels: its node's takes are then left unmade.
    virtual bool HasTakeNodeChannels() const { return true; }
    virtual void CollectProperties(std::vector<KProperty*>&) {}
    virtual KString GetTypeName() const { return KString(""); }
    virtual KStringList GetTypeNames() const { return KStringList(); }
    // The marker kind (1 optical, 2 IK effector, 3 FK effector); 0 for every
    // other attribute. The node reads it to set its layer and take flags.
    virtual int GetMarkerKind() const { return 0; }
    // The pivot matrix of a geometry (mesh, NURBS, patch); false for the others.
    virtual bool GetPivotMatrix(KMatrix&) const { return false; }
    // Stores a geometry's pivot matrix, also moving its control points and
    // normals by it when asked; nothing for the others.
    virtual void SetPivotMatrix(const KMatrix&, bool /*applyToPoints*/) {}
    // The container is going away: what was counted in it is dropped untold.
    virtual void ForgetEntityContainer(const KQovEntityContainer*) {}
    // The node joined a container (null: left it): what the attribute uses is counted there,
    // no longer in the one before.
    virtual void MoveToEntityContainer(KQovEntityContainer*) {}
    // Objects about to be destroyed (`count` of them, sorted by address): the attribute keeps
    // no reference to them.
    virtual void ForgetObjects(const KQovObject* const* /*going*/, size_t /*count*/) {}
    // A user property of the node takes a channel of this name: a channel the attribute holds
    // under it, letter case aside (a shape's), goes under another name.
    virtual void YieldChannelName(const char* /*name*/) {}

    KQovNode* GetNode() const { return mNode; }
    KQovObjectManager* GetObjectManager() const { return mManager; }
    // A scene's producer camera, on its node or not: the manager's destroyers refuse it.
    void SetSceneOwned(bool owned) { mSceneOwned = owned; }
    bool IsSceneOwned() const { return mSceneOwned; }

private:
    KQovNode* mNode = nullptr;
    KQovObjectManager* mManager;
    bool mSceneOwned = false;
};
