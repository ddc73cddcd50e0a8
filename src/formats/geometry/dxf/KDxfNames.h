#pragma once
// How DXF readers take a layer's name, for the writer: letters, digits, '$', '-' and '_'
// only, names alike without regard to case one layer (as the reader's layer table keys them),
// never empty.

#include "io/KQovWrittenNames.h"

KQovNameTerms KDxfLayerNameTerms();
