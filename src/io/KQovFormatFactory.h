#pragma once
// Readers and writers of the interchange formats by file-format id. The format layer that
// builds them defines these; the importer and exporter reach them only through this seam.

class KQovObjectManager;
class KQovReader;
class KQovWriter;

// Null for an id whose reader (writer) is not built.
KQovReader* KQovMakeFormatReader(int id, KQovObjectManager* manager);
KQovWriter* KQovMakeFormatWriter(int id, KQovObjectManager* manager);
