// One object of type T for each thread that asks for it, made on first use
// and destroyed when the thread ends: a cache that threads never share.
//
// MinGW-w64's GCC keeps thread_local variables in emulated thread storage
// that is freed at thread exit before their destructors run, so a
// thread_local with a destructor crashes there now and then (a use after
// free). On Windows the object therefore lives on the heap behind a plain
// pointer, and the system hands that pointer to the clean-up at thread exit.
#pragma once

#include <memory>

namespace sys {

namespace detail {
// Runs destroy(object) when the calling thread ends (Windows only).
void DestroyAtThreadExit(void* object, void (*destroy)(void*));
}  // namespace detail

// Tag tells apart two caches of the same type.
template <typename T, typename Tag = T>
T& PerThread() {
#ifdef _WIN32
  thread_local T* object = nullptr;  // trivially destructible: nothing runs at exit
  if (object == nullptr) {
    auto made = std::make_unique<T>();
    detail::DestroyAtThreadExit(made.get(), [](void* p) { delete static_cast<T*>(p); });
    object = made.release();
  }
  return *object;
#else
  thread_local T object;
  return object;
#endif
}

}  // namespace sys
