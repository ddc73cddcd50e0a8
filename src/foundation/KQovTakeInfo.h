#pragma once
// Take information record: the texts of one take. Copies by value.

#include "foundation/KString.h"

struct KQovTakeInfo {
    KString name;
    KString secondName;  // set to the take's name by the file readers
    KString comment;     // the take's "Comments" text
};
