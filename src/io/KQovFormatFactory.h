#pragma once
// Readers and writers of the interchange formats by file-format id. The format layer that
// builds them defines these; the importer and exporter reach them only through this seam.

class KQovIO;
class KQovObjectManager;
class KQovReader;
class KQovScene;
class KQovWriter;
class KStreamOptions;
class KString;

// Null for an id whose reader (writer) is not built. A QOV writer (ids 0 to 4) reports its
// progress through `owner` when one is given.
KQovReader* KQovMakeFormatReader(int id, KQovObjectManager* manager);
KQovWriter* KQovMakeFormatWriter(int id, KQovObjectManager* manager, KQovIO* owner = nullptr);

// Readies the options a reader gave for reading `fileName` into `scene` when the caller gave
// none: an Acclaim motion file (id 7) reads after its skeleton, which is read into the scene
// and the options first (the ".asf" beside it, else the one its header names). True at once
// for every other format and for options that already hold a skeleton; false, with `error`,
// when no skeleton file is found or it cannot be read. `read`, when given, gets the name of
// the skeleton file read (empty when none was).
bool KQovReadFormatCompanion(int id, KQovObjectManager* manager, KQovScene* scene,
                             const char* fileName, KStreamOptions* options, KString& error,
                             KString* read = nullptr);
