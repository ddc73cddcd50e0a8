#pragma once
// Test helper: runs a body on a thread with a small call stack, so that code walking a deep
// tree by recursion overflows it at once instead of passing by the grace of a large stack.

#include <pthread.h>

#include <cstddef>
#include <functional>

// False when the thread could not be made; the body's own checks report the rest.
inline bool RunOnSmallStack(const std::function<void()>& body, size_t bytes = size_t(1) << 20) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, bytes);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    const bool made = pthread_create(&thread, &attributes, run,
                                     const_cast<std::function<void()>*>(&body)) == 0;
    pthread_attr_destroy(&attributes);
    if (made) pthread_join(thread, nullptr);
    return made;
}
