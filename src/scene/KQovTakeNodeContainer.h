#pragma once
// The base of every scene object that can be animated: one take node per take,
// "Default" first, one of them current, and the links that keep the object's
// properties in step with the curves of its "Default" take.
//
// This and KQovNode are the seam to the animation layer: their sources use
// take nodes, curve nodes and curves; their headers only name them.

#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "animation/KQovTakeNameWatcher.h"
#include "foundation/KTime.h"
#include "scene/KPlugHandlePool.h"
#include "scene/KQovObject.h"

class KDataType;
class KError;
class KFCurve;
struct KFCurveEvent;
class KFCurveNode;
class KProperty;
class KQovPropertyHandler;
class KQovTakeNode;

class KQovTakeNodeContainer : public KQovObject, private KQovTakeNameWatcher {
public:
    // The error id of every failure of the container.
    enum : int { eTakeNodeError = 0 };

    // `error` is the subclass's error object (not owned; may be null).
    KQovTakeNodeContainer(KQovObjectManager* manager, const char* name, KError* error);
    ~KQovTakeNodeContainer() override;

    void CollectProperties(std::vector<KProperty*>& out) override;
    void AttachUserProperty(KQovUserProperty* userProperty) override;
    // Removes the property's channels (and their links) from every take, then
    // destroys the property and unbinds the handle.
    void DetachUserProperty(KQovUserProperty* userProperty) override;

    // A name or index that does not exist makes index 0 current and fails.
    virtual bool SetCurrentTakeNode(const char* name);
    virtual bool SetCurrentTakeNode(int index);
    // Widens [start, stop] to the keys of the current take; false (and the
    // times unchanged) when it has none.
    virtual bool GetAnimationInterval(KTime& start, KTime& stop);
    // Builds the channel tree of a new take node.
    virtual void InitTakeNodeChannels(KQovTakeNode* takeNode) = 0;
    // Told before a take node is removed.
    virtual void ForgetTakeNode(KQovTakeNode*) {}
    // The user-property record of a property, made by the object manager; null
    // without a manager.
    virtual KQovUserProperty* CreateManagerRecord(KProperty* property);
    // After a property block was read.
    virtual void AfterPropertiesRead() { WritePropertyDefaults(); }
    // The channel that carries a property's value: the one of its name unless the subclass
    // keeps it under another.
    virtual const char* GetChannelName(const KProperty* property) const;

    int GetTakeNodeCount() const { return int(mTakeNodes.size()); }
    // True while the "Default" take is listed but its channels are not made yet (they are
    // made, as they would have been at once, by the first call that hands out a take node).
    bool IsDefaultTakeDeferred() const { return mDefaultDeferred; }
    KQovTakeNode* GetTakeNode(int index);
    const char* GetTakeNodeName(int index);
    // The index of the first take of that name (exact compare); -1 when none.
    int FindTakeNodeIndex(const char* name) const;
    KQovTakeNode* GetCurrentTakeNode();
    const char* GetCurrentTakeNodeName();
    int GetCurrentTakeNodeIndex() const { return mCurrent; }
    KQovTakeNode* GetDefaultTakeNode() const;
    // The "Default" take for a reader that leaves it as it found it (values written into it
    // are put back before it is returned): a take made for the loan is dropped again on
    // return, so the object stays as light as it was. Loans do not nest.
    KQovTakeNode* LendDefaultTakeNode();
    void ReturnDefaultTakeNode();
    // A copy of the "Default" take under the new name (or, without one, a new
    // take with the object's channels); null and an error for a taken name.
    KQovTakeNode* AddTakeNode(const char* name);
    KQovTakeNode* AddDefaultTakeNode();
    // The current take stays the same take when one below it goes.
    bool RemoveTakeNode(int index);
    bool HasAnimation(const char* name1, const char* name2, const char* name3);
    bool HasAnimation(const char* name1, const char* name2, const KDataType* dataType);

    // The channel names the records of these properties will claim when attached, claimed
    // now: a reader does so before it gives the file's channels to their owners.
    void ClaimChannelNames(const std::vector<KProperty*>& properties);
    // A record for every property of the set that no user property wraps yet.
    void CreateUserPropertiesFromPropertySet();
    // The records of a set whose rows waited are those.
    void CreateDeferredRecords() override { CreateUserPropertiesFromPropertySet(); }
    // Writes the user property's value into its channel in the current take and
    // in "Default".
    void SetPropertyChannelDefault(KQovUserProperty* userProperty);
    // Writes every property's value into its "Default" channel (without
    // running the links).
    void WritePropertyDefaults();
    // Creates the channel of a property in a take node (linked in "Default").
    void InitPropertyChannel(KProperty* property, KQovTakeNode* takeNode);
    // The same with the channel's component count and the values read before: the first
    // `written` of them are written (none for 0).
    void InitPropertyChannel(KProperty* property, KQovTakeNode* takeNode, int count,
                             const double* values, int written);
    // The channel of every animatable property of `set`.
    void InitAnimatableChannels(KQovPropertyHandler* set, KQovTakeNode* takeNode);
    // Takes the channel of a property (by the channel name rules) out of a take
    // node and destroys it with its links; false when there is none.
    bool RemovePropertyChannel(const char* propertyName, KQovTakeNode* takeNode);
    // Makes the property component follow the curve's default value.
    void LinkPropertyToCurve(KProperty* property, int component, KFCurve* curve);
    int GetPropertyLinkCount() const {
        return int(mLinks.size()) + (mDefaultDeferred ? DeferredLinkCount() : 0);
    }
    KError* GetError() const { return mError; }

    // The channel name of a property: "T", "R", "S" for the three local
    // transforms, the property name otherwise.
    static const char* GetChannelName(const char* propertyName);
    // The number of component channels of a property; 0 when it gets none.
    static int GetChannelComponentCount(const KProperty* property);
    // The values a new channel of `count` components of the property gets (`values` keeps
    // what it held past those read); returns how many of them are written.
    static int ReadChannelValues(KProperty* property, int count, double* values);
    // "X", "Y", "Z", "toto"; null past the fourth.
    static const char* GetComponentName(int index);
    // True for a take named "Default" in any case.
    static bool IsDefaultTakeName(const char* name);
    // Writes values into a channel's curves (by component for 3 and 4 values),
    // creating missing component channels and curves, without running links.
    static void WriteChannelValues(KFCurveNode* channel, const double* values, int count);

protected:
    void SetError(const char* text);

    // Room for `count` more property links.
    void ReserveLinks(size_t count) { mLinks.reserve(mLinks.size() + count); }
    // Lists the "Default" take without making it: most objects of a converted file never
    // use their channels. The subclass keeps what it needs to make them later.
    void AddDeferredDefaultTakeNode();
    // Makes the deferred "Default" take now (nothing when there is none).
    void MakeDeferredDefaultTake() const;
    // Builds the channels of the deferred "Default" take as they were when it was listed;
    // the subclass keeps what it built them from until ForgetDeferredPlan.
    virtual void BuildDeferredDefaultTake(KQovTakeNode* takeNode) {
        InitTakeNodeChannels(takeNode);
    }
    virtual void ForgetDeferredPlan() {}
    // WritePropertyDefaults while the "Default" take is deferred: true when the subclass took
    // the values in; false makes the take first.
    virtual bool WriteDeferredDefaults() { return false; }
    // The links the deferred "Default" take will make.
    virtual int DeferredLinkCount() const { return 0; }
    // Whether the deferred "Default" take will hold the channel a property of that name is
    // looked up by; false makes the take first.
    virtual bool HasDeferredChannel(const char* /*propertyName*/) const { return false; }

private:
    // The take node at a valid index, making a deferred "Default" take first.
    KQovTakeNode* TakeAt(int index) const;
    // Its name, without making a deferred take.
    const char* TakeNameAt(int index) const;
    KString ChannelNameOf(const KQovUserProperty* userProperty) const;
    // The node attribute's channel of the name, letter case aside (a shape's), goes under
    // another name: the property's channel of that name is its own.
    void ClaimChannelName(const KProperty* property, const char* name);

    struct PropertyLink {
        KWeakRef property;  // weak: the property may go before the curve
        int component;
        KFCurve* curve;
        KQovTakeNodeContainer* container;
    };
    static void OnLinkedCurve(KFCurve* curve, KFCurveEvent* event, void* data);
    void RemoveLink(PropertyLink* link);
    void RemoveLinksOf(const KProperty* property);
    void RemoveLinksUnder(KFCurveNode* channel);

    // The first index of each take name, for objects of many takes (a file's takes are each
    // looked up by name as they are read): made when first asked, dropped when a take goes,
    // made again when the count differs; a rename of one of the object's takes moves its entry
    // (one of several takes of a name drops it).
    struct TakeIndex {
        int count = 0;
        int renaming = -1;  // the index of the take being renamed
        bool duplicates = false;
        std::unordered_map<std::string_view, int> first;  // views of the takes' own names
    };
    void TakeRenaming(const KQovTakeNode* take) override;
    void TakeRenamed(const KQovTakeNode* take) override;
    static constexpr int kIndexedTakes = 16;

    std::vector<std::unique_ptr<KQovTakeNode>> mTakeNodes;
    mutable std::unique_ptr<TakeIndex> mTakeIndex;
    std::vector<std::unique_ptr<PropertyLink>> mLinks;
    int mCurrent = -1;
    bool mDefaultDeferred = false;
    bool mDefaultLent = false;  // made for a loan: dropped again when returned
    KError* mError;
};
