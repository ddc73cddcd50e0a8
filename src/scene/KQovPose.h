#pragma once
// A bind pose ("BindPose") or rest pose ("RestPose"): one matrix per node,
// named by node name. A bind pose refuses a matrix that contradicts the bind
// matrix another bind pose of a scene of the same manager holds for that node.

#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/KError.h"
#include "foundation/KMatrix.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovTakeNodeContainer.h"

class KQovScene;

class KQovPoseProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovPoseProperties)
public:
    explicit KQovPoseProperties(KQovObject* owner) : KQovPropertyHandler(owner) {}
};

class KQovPose : public KQovTakeNodeContainer {
public:
    KQovPose(KQovObjectManager* manager, const char* name, bool bindPose);
    ~KQovPose() override;

    int GetObjectType() const override { return ePose; }
    KQovPropertyHandler* GetPropertyHandler() const override { return mProperties; }
    KString GetTypeName() const override { return KString(IsRestPose() ? "RestPose" : "BindPose"); }
    KStringList GetTypeNames() const override { return KStringList(); }
    void PrepareDestroy() override { mProperties->PrepareDestroy(); }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override {
        InitAnimatableChannels(mProperties, takeNode);
    }

    bool IsBindPose() const { return mKind == 'b'; }
    bool IsRestPose() const { return mKind == 'r'; }
    int GetCount() const { return int(mEntries.size()); }
    // Empty outside 0..count-1.
    const char* GetNodeName(int index) const;
    // Ignored out of range or for a null or empty name.
    void SetNodeName(int index, const char* name);
    // The identity outside 0..count-1.
    const KMatrix& GetMatrix(int index) const;
    bool IsLocalMatrix(int index) const;
    int Find(const char* nodeName) const;
    void Remove(int index);
    // The entry's index (an existing one when the node is there with the same
    // matrix); -1 when the matrix conflicts.
    int Add(const char* nodeName, const KMatrix& matrix, bool local = false);

    // The bind poses of the scenes holding the node, and the node's first
    // entry in each.
    static bool FindBindPosesOfNode(const std::vector<KQovScene*>& scenes, const char* nodeName,
                                    std::vector<KQovPose*>& poses, std::vector<int>& indices);

private:
    struct Entry {
        KString nodeName;
        KMatrix matrix;
        bool local;
    };
    // -1 and true when the pose lacks the node.
    bool IsCompatible(const char* nodeName, const KMatrix& matrix, int& found) const;

    KError mError;
    KQovPoseProperties* mProperties;
    char mKind;
    std::vector<Entry> mEntries;
    // The first entry of each name, for a long pose (Add looks every node up first); made by
    // the first lookup that needs it, dropped when an entry is renamed or removed.
    mutable std::unordered_map<std::string, int> mIndex;
    mutable bool mIndexed = false;
};
