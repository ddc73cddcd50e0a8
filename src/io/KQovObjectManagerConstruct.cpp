// The object manager's constructing operations for the kinds of the layers
// above the scene (attributes, shading, images, import and export), kept in
// one place so that the scene layer depends on none of them.

#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovGeometry.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovSkeleton.h"
#include "attributes/KQovTexture.h"
#include "attributes/images/KImageConverterRegistry.h"
#include "character/KQovSceneBridge.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovOpticalReference.h"
#include "scene/KQovVideo.h"

KQovNull* KQovObjectManager::ConstructNull() { return new KQovNull(this); }
KQovMarker* KQovObjectManager::ConstructMarker() { return new KQovMarker(this); }
KQovCamera* KQovObjectManager::ConstructCamera() { return new KQovCamera(this); }
KQovLight* KQovObjectManager::ConstructLight() { return new KQovLight(this); }
KQovSkeleton* KQovObjectManager::ConstructSkeleton() { return new KQovSkeleton(this); }
KQovMesh* KQovObjectManager::ConstructMesh() { return new KQovMesh(this); }
KQovPatch* KQovObjectManager::ConstructPatch() { return new KQovPatch(this); }
KQovNurb* KQovObjectManager::ConstructNurb() { return new KQovNurb(this); }
KQovOpticalReference* KQovObjectManager::ConstructOpticalReference() {
    return new KQovOpticalReference(this);
}
KQovLink* KQovObjectManager::ConstructLink() { return new KQovLink(); }
KQovMaterial* KQovObjectManager::ConstructMaterial(const char* name) {
    return new KQovMaterial(this, name);
}
KQovShape* KQovObjectManager::ConstructShape() { return new KQovShape(this); }
KQovTexture* KQovObjectManager::ConstructTexture(const char* name) {
    return new KQovTexture(this, name);
}
KQovGeometryConverter* KQovObjectManager::ConstructGeometryConverter() {
    return new KQovGeometryConverter(this);
}
KImageConverterRegistry* KQovObjectManager::ConstructImageConverterRegistry() {
    return new KImageConverterRegistry(this);
}
KQovExporter* KQovObjectManager::ConstructExporter() { return new KQovExporter(this); }
KQovImporter* KQovObjectManager::ConstructImporter() { return new KQovImporter(this); }

KQovCameraSwitcher* KQovObjectManager::MakeCameraSwitcher() { return new KQovCameraSwitcher(this); }
KQovShape* KQovObjectManager::MakeShape() { return new KQovShape(this); }

KQovNull* KQovObjectManager::CreateNull() { return ListedAttribute(ConstructNull()); }
KQovMarker* KQovObjectManager::CreateMarker() { return ListedAttribute(ConstructMarker()); }
KQovCamera* KQovObjectManager::CreateCamera() { return ListedAttribute(ConstructCamera()); }
KQovLight* KQovObjectManager::CreateLight() { return ListedAttribute(ConstructLight()); }
KQovSkeleton* KQovObjectManager::CreateSkeleton() { return ListedAttribute(ConstructSkeleton()); }
KQovMesh* KQovObjectManager::CreateMesh() { return ListedAttribute(ConstructMesh()); }
KQovPatch* KQovObjectManager::CreatePatch() { return ListedAttribute(ConstructPatch()); }
KQovNurb* KQovObjectManager::CreateNurb() { return ListedAttribute(ConstructNurb()); }
KQovOpticalReference* KQovObjectManager::CreateOpticalReference() {
    return ListedAttribute(ConstructOpticalReference());
}
KQovCameraSwitcher* KQovObjectManager::CreateCameraSwitcher() {
    return ListedAttribute(MakeCameraSwitcher());
}
KQovShape* KQovObjectManager::CreateShape() { return Listed(mShapes, MakeShape()); }

KQovObject* KQovObjectManager::AsObject(KQovMaterial* material) { return material; }
KQovObject* KQovObjectManager::AsObject(KQovTexture* texture) { return texture; }
KQovNodeAttribute* KQovObjectManager::AsAttribute(KQovShape* shape) { return shape; }
void KQovObjectManager::MarkMaker(KQovLink* link) { link->mManager = this; }
void KQovObjectManager::Dispose(KQovLink* link) { delete link; }
void KQovObjectManager::Dispose(KQovMaterial* material) { PrepareAndDelete(material); }
void KQovObjectManager::Dispose(KQovShape* shape) { delete shape; }
void KQovObjectManager::Dispose(KQovTexture* texture) { PrepareAndDelete(texture); }
void KQovObjectManager::Dispose(KQovGeometryConverter* converter) { delete converter; }
void KQovObjectManager::Dispose(KImageConverterRegistry* registry) { delete registry; }
void KQovObjectManager::Dispose(KQovExporter* exporter) { delete exporter; }
void KQovObjectManager::Dispose(KQovImporter* importer) { delete importer; }

void KQovObjectManager::WireLaterLayers() {
    KQovMediaHooks hooks;
    hooks.setTextureFileName = [](KQovObject* texture, const char* name) {
        return static_cast<KQovTexture*>(texture)->SetFileName(name);
    };
    hooks.setTextureRelativeFileName = [](KQovObject* texture, const char* name) {
        return static_cast<KQovTexture*>(texture)->SetRelativeFileName(name);
    };
    hooks.setTextureMediaName = [](KQovObject* texture, const char* name) {
        static_cast<KQovTexture*>(texture)->SetMediaName(name);
    };
    hooks.setLightGoboFileName = [](KQovNodeAttribute* light, const char* name) {
        return static_cast<KQovLight*>(light)->SetGoboFileName(name);
    };
    KQovVideo::SetMediaHooks(hooks);
    KQovSceneBridge::Install();
}
