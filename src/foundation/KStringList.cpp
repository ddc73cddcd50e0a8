#include "foundation/KStringList.h"

#include <cstring>

bool KStringListBase::SetAt(int index, const char* text) {
    if (index < 0 || index >= GetCount()) return false;
    mItems[index]->text = text ? text : "";
    return true;
}

int KStringListBase::InsertAt(int index, const char* text, uintptr_t reference) {
    if (index < 0) index = 0;
    if (index > GetCount()) index = GetCount();
    std::unique_ptr<KStringListItem> item(new KStringListItem);
    item->text = text ? text : "";
    item->reference = reference;
    mItems.insert(mItems.begin() + index, std::move(item));
    return index;
}

void KStringListBase::RemoveAt(int index) {
    if (index < 0 || index >= GetCount()) return;
    mItems.erase(mItems.begin() + index);
}

void KStringListBase::Clear() {
    mItems.clear();
}

int KStringListBase::GetText(KString& text) const {
    for (size_t i = 0; i < mItems.size(); ++i) {
        if (i > 0) text += "~";
        text += mItems[i]->text;
    }
    return GetCount();
}

int KStringListBase::SetText(const char* text) {
    Clear();
    int last = 0;
    const char* part = text ? text : "";
    while (const char* tilde = strchr(part, '~')) {
        last = Add(KString(part, int(tilde - part)).Buffer());
        part = tilde + 1;
    }
    if (*part) last = Add(part);
    return last;
}

const char* KStringListBase::GetAt(int index) const {
    return index >= 0 && index < GetCount() ? mItems[index]->text.Buffer() : nullptr;
}

KStringListItem* KStringListBase::GetItem(int index) const {
    return index >= 0 && index < GetCount() ? mItems[index].get() : nullptr;
}

uintptr_t KStringListBase::GetReferenceAt(int index) const {
    return index >= 0 && index < GetCount() ? mItems[index]->reference : 0;
}

int KStringListBase::Find(const char* text) const {
    for (int i = 0; i < GetCount(); ++i)
        if (mItems[i]->text == (text ? text : "")) return i;
    return -1;
}

void KStringList::Copy(const KStringListBase& other) {
    if (&other == this) return;
    Clear();
    for (int i = 0; i < other.GetCount(); ++i) Add(other.GetAt(i), other.GetReferenceAt(i));
}
