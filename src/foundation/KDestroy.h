#pragma once
// Destroys an object through its virtual destructor; null is ignored.

template <class T>
inline void KDestroy(T* object) {
    delete object;
}
