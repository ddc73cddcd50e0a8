#include "io/KQovFormatFactory.h"

#include "formats/geometry/3ds/KQovReader3ds.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "formats/geometry/dxf/KQovReaderDxf.h"
#include "formats/geometry/dxf/KQovWriterDxf.h"
#include "formats/geometry/obj/KQovReaderObj.h"
#include "formats/geometry/obj/KQovWriterObj.h"
#include "formats/motion/aoa/KQovOpticalMcd.h"
#include <memory>
#include <string>

#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "formats/motion/asf/KQovReaderAmc.h"
#include "formats/motion/asf/KQovReaderAsf.h"
#include "formats/motion/asf/KQovWriterAmc.h"
#include "formats/motion/asf/KQovWriterAsf.h"
#include "formats/motion/brd/KQovReaderBrd.h"
#include "formats/motion/brd/KQovWriterBrd.h"
#include "formats/motion/bvh/KQovReaderBvh.h"
#include "formats/motion/bvh/KQovWriterBvh.h"
#include "formats/motion/c3d/KQovOpticalC3d.h"
#include "formats/motion/htr/KQovReaderHtr.h"
#include "formats/motion/htr/KQovWriterHtr.h"
#include "formats/motion/mov/KQovReaderMov.h"
#include "formats/motion/mov/KQovWriterMov.h"
#include "formats/motion/trc/KQovOpticalTrc.h"
#include "formats/motion/vpm/KQovReaderVpm.h"
#include "formats/motion/vpm/KQovWriterVpm.h"
#include "foundation/KQuotedText.h"
#include "io/qov/KQovWriterQov6.h"
#include "foundation/KPath.h"
#include "io/KStreamOptionsMotion.h"

KQovReader* KQovMakeFormatReader(int id, KQovObjectManager* manager) {
    switch (id) {
        case 3:
            return new KQovReaderBvh(manager);
        case 4:
            return new KQovReaderHtr(manager);
        case 5:
            return new KQovReaderTrc(manager);
        case 6:
            return new KQovReaderAsf(manager);
        case 7:
            return new KQovReaderAmc(manager);
        case 8:
            return new KQovReaderC3d(manager);
        case 9:
            return new KQovReaderMcd(manager, eMarkerVariantAoa);
        case 10:
            return new KQovReaderMcd(manager, eMarkerVariantMcd);
        case 11:
            return new KQovReaderVpm(manager);
        case 12:
            return new KQovReaderMov(manager);
        case 13:
            return new KQovReaderBrd(manager);
        case 14:
            return new KQovReaderDxf(manager);
        case 15:
            return new KQovReader3ds(manager);
        case 16:
            return new KQovReaderObj(manager);
        default:
            return nullptr;
    }
}

KQovWriter* KQovMakeFormatWriter(int id, KQovObjectManager* manager, KQovIO* owner) {
    if (id >= 0 && id <= 2) {
        // Version-6 QOV: id 0 binary, id 1 ASCII, id 2 binary and encrypted.
        auto* writer = new KQovWriterQov6(manager, owner);
        static const int kModes[] = {KQovWriterQov5::eBinary, KQovWriterQov5::eAscii,
                                     KQovWriterQov5::eEncrypted};
        writer->SetFileMode(kModes[id]);
        return writer;
    }
    switch (id) {
        case 3:
        case 4: {
            // Version-5 QOV: id 3 binary, id 4 ASCII.
            auto* writer = new KQovWriterQov5(manager, owner);
            writer->SetFileMode(id == 3 ? KQovWriterQov5::eBinary : KQovWriterQov5::eAscii);
            return writer;
        }
        case 5:
            return new KQovWriterBvh(manager);
        case 6:
            return new KQovWriterHtr(manager);
        case 7:
            return new KQovWriterTrc(manager);
        case 8:
            return new KQovWriterAsf(manager);
        case 9:
            return new KQovWriterAmc(manager);
        case 10:
            return new KQovWriterC3d(manager);
        case 11:
            return new KQovWriterMcd(manager, eMarkerVariantAoa);
        case 12:
            return new KQovWriterMcd(manager, eMarkerVariantMcd);
        case 13:
            return new KQovWriterVpm(manager);
        case 14:
            return new KQovWriterMov(manager);
        case 15:
            return new KQovWriterBrd(manager);
        case 16:
            return new KQovWriterDxf(manager);
        case 17:
            return new KQovWriter3ds(manager);
        case 18:
            return new KQovWriterObj(manager);
        default:
            return nullptr;
    }
}

bool KQovReadFormatCompanion(int id, KQovObjectManager* manager, KQovScene* scene,
                             const char* fileName, KStreamOptions* options, KString& error,
                             KString* read) {
    constexpr int kAmcReader = 7;
    if (id != kAmcReader || !options || !options->IsA(KStreamOptionsMotion::ClassId()))
        return true;
    auto& motion = static_cast<KStreamOptionsMotion&>(*options);
    if (motion.GetStream() && motion.GetStream()->IsA(KQovAsfScene::ClassId())) return true;
    std::string tried, problem;
    const KString skeleton = KQovFindAcclaimSkeleton(fileName, tried, &problem);
    if (skeleton.IsEmpty() && !problem.empty()) {
        error = problem.c_str();
        return false;
    }
    if (skeleton.IsEmpty()) {
        error =
            ("no skeleton file for this motion file (looked for " + KQovMessageText(tried) + ")")
                .c_str();
        return false;
    }
    const std::string oneFile = KQovAcclaimOneFileError(skeleton.Buffer(), fileName);
    if (!oneFile.empty()) {
        error = oneFile.c_str();
        return false;
    }
    if (read) *read = skeleton;
    KQovReaderAsf reader(manager);
    if (reader.FileOpen(skeleton.Buffer()) && reader.Read(scene, options)) return true;
    error = (KQovMessageText(skeleton.Buffer()) + ": " + reader.GetLastErrorString()).c_str();
    return false;
}
