// Record arrays allocated once at their exact size.
#pragma once

#include <cstddef>
#include <memory>

// Arrays of records, released only by the process exit (or in tests).
struct ArrayFree {
  void operator()(void* p) const;
};
template <typename T>
using Array = std::unique_ptr<T[], ArrayFree>;
// Uninitialised room for count elements of size bytes; null when the size
// overflows or memory is short.
void* allocate_bytes(size_t count, size_t size);
// The same, keeping the elements of p (as realloc); null, p untouched, on failure.
void* reallocate_bytes(void* p, size_t count, size_t size);
template <typename T>
Array<T> allocate_array(size_t count) {
  return Array<T>(static_cast<T*>(allocate_bytes(count, sizeof(T))));
}
// Resizes array to count elements, keeping the first ones; false, array
// untouched, when memory is short. For plain records only.
template <typename T>
bool resize_array(Array<T>& array, size_t count) {
  void* p = reallocate_bytes(array.get(), count, sizeof(T));
  if (p == nullptr) return false;
  array.release();
  array.reset(static_cast<T*>(p));
  return true;
}
