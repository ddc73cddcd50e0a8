#pragma once
// Arrays of owned KString pointers.

#include "foundation/KArray.h"

class KString;

// Deletes every KString of a pointer array, last to first, and empties the array. An array whose
// items are not pointer-sized holds no strings and is left alone.
void KDeleteStringArray(KArray& array);
