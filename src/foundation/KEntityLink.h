#pragma once
// A link to an entity kept by its key and looked up in a container when it is followed, so it
// never outlives the entity: the container's Find(key) gives the entity.

#include <utility>

template <class Key>
class KEntityLink {
public:
    explicit KEntityLink(Key key = Key()) : mKey(std::move(key)) {}

    const Key& GetKey() const { return mKey; }
    void SetKey(Key key) { mKey = std::move(key); }

    // Null (zero) for a null container, else the container's lookup of the key.
    template <class Container>
    auto Resolve(Container* container) const
        -> decltype(container->Find(std::declval<const Key&>())) {
        using Result = decltype(container->Find(mKey));
        return container ? container->Find(mKey) : Result();
    }

private:
    Key mKey;
};
