// Version-5 geometry sections: meshes, NURBS and patches with their layers, cluster links and
// shapes.

#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "scene/KQovNode.h"

void KQovWriterQov5::WriteGeometrySection(KQovNode*) {}
