#pragma once
// Pre- and post-rotations as extra nodes, for applications that have none: a
// "__Pre_" parent carrying the pre-rotation and the translation, and a
// "__Post_" child carrying the post-rotation above the node's children; and
// those pivot nulls merged back into pivot set 0 on import.

#include "foundation/KString.h"

class KQovNode;
class KQovObjectManager;

// The node and its subtree. A root keeps its pre-rotation (it has no parent to
// hang a pivot null from); nothing happens without a manager.
void ConvertPivotsToNulls(KQovNode* node, KQovObjectManager* manager);
// Merges the pivot nulls found below the node back into their nodes; the nulls
// are detached (the manager still owns them). Malformed pivot nulls (without a
// child, a pre null without a parent or with other children) stay ordinary
// nodes. The two context values are handed on to the recursive calls.
void MergePivotNulls(KQovNode* node, void* context1 = nullptr, void* context2 = nullptr);
// The pivot-null name: a name ending in a well-formed clash suffix ("_ncl1_"
// and digits, or "_ncl2_" with "ul"/"lu" numbers) keeps that suffix after the
// initial name and the tag; any other name just gets the tag.
KString PivotNullName(const KQovNode& node, const char* tag);
