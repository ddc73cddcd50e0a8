#include "io/KQovFormatFactory.h"

#include "formats/geometry/dxf/KQovReaderDxf.h"
#include "formats/geometry/dxf/KQovWriterDxf.h"
#include "formats/geometry/obj/KQovReaderObj.h"
#include "formats/geometry/obj/KQovWriterObj.h"

KQovReader* KQovMakeFormatReader(int id, KQovObjectManager* manager) {
    switch (id) {
        case 14:
            return new KQovReaderDxf(manager);
        case 16:
            return new KQovReaderObj(manager);
        default:
            return nullptr;
    }
}

KQovWriter* KQovMakeFormatWriter(int id, KQovObjectManager* manager) {
    switch (id) {
        case 16:
            return new KQovWriterDxf(manager);
        case 18:
            return new KQovWriterObj(manager);
        default:
            return nullptr;
    }
}
