#include "formats/geometry/dxf/KDxfNames.h"

KQovNameTerms KDxfLayerNameTerms() {
    KQovNameTerms terms;
    terms.format = "DXF";
    terms.allowed = "$-_";
    terms.foldCase = true;
    terms.empty = "_";
    terms.numberSeparator = "";
    return terms;
}
