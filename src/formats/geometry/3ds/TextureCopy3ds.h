#pragma once
// Texture images travel with a written 3DS file: each is copied into the
// file's folder, where 3DS readers look for it by its short name.

#include <string>

// Copies `path` next to `file3ds` unless a file of its name is there already.
// False, with a line added to `status`, when the source is missing or the copy
// fails; a failed copy leaves no partial file behind.
bool CopyTextureFile3ds(const char* path, const char* file3ds, std::string& status);
