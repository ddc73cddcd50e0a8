// Version-6 NURBS and patch surfaces: the surface's own fields as the version-5 writer writes
// them, then its shading and layer elements, the "Layer" records and the shapes in the form
// a version-6 mesh has (links travel as deformers).

#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov6.h"
#include "scene/KQovNode.h"

void KQovWriterQov6::WriteSurfaceGeometry(KQovNode* node, KQovGeometry* geometry) {
    if (KQovNurb* nurb = node->GetNurb()) {
        // The fields of the surface as converted for writing; the scene's own stays untouched.
        KQovGeometryConverter converter(mManager);
        KQovNurb* copy = converter.CopyNurbForWriting(nurb);
        mFile->FieldWriteC("Type", "Nurb");
        WriteNurbFields(copy ? copy : nurb);
        if (copy) KQovDisposeAttribute(mManager, copy);
    } else if (KQovPatch* patch = node->GetPatch()) {
        mFile->FieldWriteC("Type", "Patch");
        WritePatchFields(patch);
    }
    // The layers are the scene's: the shading connections were collected from them.
    WriteShadingElements(node, geometry);
    WriteLayerElements(geometry);
    WriteLayers(geometry);
    if (mOptions->GetSwitch(KStreamOptionsQov::eShapes)) WriteShapes(geometry);
}
