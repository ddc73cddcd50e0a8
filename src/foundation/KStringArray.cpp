#include "foundation/KStringArray.h"

#include "foundation/KString.h"

void KDeleteStringArray(KArray& array) {
    if (array.GetItemSize() != int(sizeof(KString*))) return;
    auto* items = static_cast<KString**>(array.GetData());
    for (int i = array.GetCount() - 1; i >= 0; --i) delete items[i];
    array.Clear();
}
