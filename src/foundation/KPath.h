#pragma once
// Path texts: splitting, joining, normalising, relative paths, folder chains. Both '\' and
// '/' are separators everywhere. A leading separator, a drive (a letter and ':' at the start,
// "D:") or a "\\server" start make a path rooted; a ':' anywhere else is part of a name.
// Normalised paths are written with '/'.

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/KString.h"

// The plug-in folder (where the log file goes) and the settings folder. Until set, they are
// taken from the environment variables QOV_PLUGIN_DIR and QOV_SETTINGS_DIR; empty means the
// current folder. The plug-in folder is kept with a trailing '/' so a file name can follow
// it directly.
const char* KGetPluginFolder();
void KSetPluginFolder(const char* folder);
const char* KGetSettingsFolder();
void KSetSettingsFolder(const char* folder);

// `folder` + '/' + `name`; just `name` when the folder is empty (the current folder, never the
// root).
KString KJoinFolder(const char* folder, const char* name);

// A new, empty, uniquely named file in `folder` (the temporary folder when null or empty),
// created exclusively; empty on failure.
KString KGetTempFileName(const char* folder, const char* prefix);
// Extension (from the last '.' after the last separator) replaced by `suffix` (".tc").
KString KChangeFileExtension(const char* path, const char* suffix);
KString KExtractFileName(const char* path, bool keepExtension);
// After the last '.' when it follows every separator; empty otherwise.
KString KExtractFileExtension(const char* path);
// Before the last separator, of either kind; the whole path when it has none.
KString KExtractDirectory(const char* path);
// The folder a file of this path lies in: KExtractDirectory, but "." for a bare file name
// and the separator itself for a file in the root.
KString KExtractFileFolder(const char* path);
// KExtractFileFolder for a name of this system (one the caller gave): '/' alone separates
// folders, a '\' is part of a name.
KString KExtractNameFolder(const char* path);
// "D:", "\\SERVER\SHARE" (upper-cased); empty for other paths.
KString KGetPathRoot(const char* path);
bool KFileExists(const char* path);
// Every part between separators, empty parts included: "/a/b/" gives "", "a", "b", "".
std::vector<KString> KSplitPath(const char* text);
bool KIsFileExtension(const char* path, const char* extension);
bool KIsQovFile(const char* path);
// False for null, for a drive or "\\" start and for a leading separator.
bool KIsRelativePath(const char* path);
KString KGetCurrentDirectory();
// Creates every missing folder level of `path`; the part after the last separator is a file
// name and is not created. True when the folder exists at the end.
bool KCreatePath(const char* path);
// fgets with lone-CR line ends; null at the end of the file with nothing read.
char* KReadLine(char* buffer, int size, FILE* file);
// KExtractDirectory (the current folder when empty) with a trailing '/', less its root.
KString KGetDirWithoutRoot(const char* path);
// "." dropped, ".." resolved, '/' separators; empty when a rooted path climbs above its
// root.
KString KCleanPath(const char* path);
// The same on wide characters.
std::wstring KCleanPathW(const wchar_t* path);
// KCleanPath for a name of this system (one the caller gave, or made from one): '/' alone
// separates folders, a '\' is part of a name.
KString KCleanFileName(const char* path);
// Wide forms of the string tokeniser: tokens are maximal runs of characters outside the
// delimiter set (a null set makes a non-empty text one token); a null text has none.
int KGetTokenCountW(const wchar_t* text, const wchar_t* delimiters);
// Token `index` (from 0) copied into `buffer` of `size` characters, which is returned; an
// empty text when there is no such token. Null, with an empty buffer, when the token does not
// fit; null without a buffer.
wchar_t* KGetTokenW(const wchar_t* text, int index, const wchar_t* delimiters, wchar_t* buffer,
                    size_t size);
// A relative `path` joined to `base`, an absolute one alone; normalised.
KString KResolvePath(const char* base, const char* path);
// A file name the caller gave, joined to the current folder when relative and normalised as
// a name of this system: '/' alone separates folders (a '\' is part of a name). Empty for an
// empty name; ending in '/' when the name can only be a folder ("d/", ".", "d/..").
KString KResolveFileName(const char* path);
// True for a caller's name whose last part ('/' alone separating) is empty, "." or "..": a
// folder whatever the file system holds.
bool KNamesAFolder(const char* path);
// A file a document names by a relative `path` (with '\' or '/'): the full path of that name
// in the document's `folder`, whether a file is there or not (never one of the current
// folder); an absolute `path` as given.
KString KFindFileBeside(const char* folder, const char* path);
// The path of `file` relative to the folder of `folder` (a file name, or a folder given with
// its trailing separator); the full path of `file` when their roots differ.
KString KMakeRelativePathFrom(const char* folder, const char* file);
KString KMakeRelativePath(const char* reference, const char* path);
