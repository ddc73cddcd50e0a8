#include "io/KQovFormatFactory.h"

#include "formats/geometry/obj/KQovReaderObj.h"
#include "formats/geometry/obj/KQovWriterObj.h"
#include "formats/motion/c3d/KQovOpticalC3d.h"

KQovReader* KQovMakeFormatReader(int id, KQovObjectManager* manager) {
    switch (id) {
        case 8:
            return new KQovReaderC3d(manager);
        case 16:
            return new KQovReaderObj(manager);
        default:
            return nullptr;
    }
}

KQovWriter* KQovMakeFormatWriter(int id, KQovObjectManager* manager) {
    switch (id) {
        case 10:
            return new KQovWriterC3d(manager);
        case 18:
            return new KQovWriterObj(manager);
        default:
            return nullptr;
    }
}
