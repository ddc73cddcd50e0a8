#pragma once
// What keeps scene objects by name follows their renames through this.

class KQovObject;

// Something that keeps objects by name (an index of a scene's materials ...): told of each
// change of the current name of the objects it watches, and of their going.
class KQovNameWatcher {
public:
    // After the change; `oldName` is the current name the object had until then.
    virtual void NameChanged(KQovObject* object, const char* oldName) = 0;
    // From the object's destructor, its name still readable; the object no longer links to
    // the watcher.
    virtual void ObjectGoing(KQovObject* object) = 0;

protected:
    ~KQovNameWatcher() = default;
    // The object tells this watcher of its renames until Unwatch (once however often it is
    // called). Watch may throw std::bad_alloc, the object then unchanged.
    void Watch(KQovObject* object);
    void Unwatch(KQovObject* object);
};
