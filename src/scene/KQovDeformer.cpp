#include "scene/KQovDeformer.h"

#include "scene/KPropertyObjectList.h"

namespace {

const char* const kErrors[] = {"Error"};

KQovPropertyDescriptor ObjectReference(const char* name) {
    KQovPropertyDescriptor d{name, KProperty::eOBJECT};
    d.form = KQovPropertyDescriptor::eObjectList;
    d.objectDirection = KPlug::eAcceptsSources;
    return d;
}
const KQovPropertyDescriptor kClusterRows[] = {ObjectReference("SrcModel"),
                                               ObjectReference("SrcModelReference")};

bool IsCluster(const char* kind) {
    return kind && KString(kind).CompareNoCase("cluster") == 0;
}

}  // namespace

KQovCluster::KQovCluster(KQovObject* owner) : KQovDeformerProperties(owner) {
    CreateTableProperties(kClusterRows, 2);
}

KPropertyObjectList* KQovCluster::GetSrcModel() const {
    return KObjectSafeCast<KPropertyObjectList>(GetTableProperty(0));
}

KPropertyObjectList* KQovCluster::GetSrcModelReference() const {
    return KObjectSafeCast<KPropertyObjectList>(GetTableProperty(1));
}

KQovDeformer::KQovDeformer(KQovObjectManager* manager, const char* name, const char* kind)
    : KQovTakeNodeContainer(manager, name, &mError),
      mProperties(IsCluster(kind) ? static_cast<KQovDeformerProperties*>(new KQovCluster(this))
                                  : new KQovSkin(this)),
      mError(kErrors, 1),
      mDeformerType(IsCluster(kind) ? eCluster : eSkin) {
    AddDefaultTakeNode();
}

KQovDeformer::~KQovDeformer() {
    mProperties->Destroy();
}

void KQovDeformer::SetFromLink(const KQovClusterLinkData& link) {
    if (mDeformerType == eCluster) mLink = link;
}
