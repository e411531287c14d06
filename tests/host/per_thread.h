// An object per thread, made on first use and destroyed when its thread ends.
//
// Not a thread_local with a destructor: under mingw-w64 such a destructor
// can run after the thread's emulated TLS block has been freed, and then
// reads and frees garbage. The object hangs off a slot of the system's
// instead, whose callback runs as the thread ends: a fiber-local slot on
// Windows, a pthread key elsewhere.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace corvane::test {

// `Tag` tells apart two PerThread of the same type.
template <typename T, typename Tag = T>
class PerThread {
 public:
  // The calling thread's object, or null when it has none yet.
  static T* Find() {
#if defined(_WIN32)
    return static_cast<T*>(FlsGetValue(Key()));
#else
    return static_cast<T*>(pthread_getspecific(Key()));
#endif
  }

  static T& Get() {
    if (T* found = Find()) return *found;
    T* made = new T();
#if defined(_WIN32)
    FlsSetValue(Key(), made);
#else
    pthread_setspecific(Key(), made);
#endif
    return *made;
  }

 private:
#if defined(_WIN32)
  static void NTAPI Destroy(void* object) { delete static_cast<T*>(object); }
  static DWORD Key() {
    static const DWORD key = FlsAlloc(Destroy);
    return key;
  }
#else
  static void Destroy(void* object) { delete static_cast<T*>(object); }
  static pthread_key_t Key() {
    static const pthread_key_t key = [] {
      pthread_key_t made;
      pthread_key_create(&made, Destroy);
      return made;
    }();
    return key;
  }
#endif
};

}  // namespace corvane::test
