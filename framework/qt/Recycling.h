#pragma once
// Blocks of one size handed back and out again on the same thread, without
// the general allocator: a list rebuild makes and drops an item and a stream
// for every file of a folder that may hold a million.
#include <cstddef>
#include <new>

namespace fw::detail {

template <std::size_t Size>
class BlockShelf {
 public:
  static void* Take() {
    Shelf& s = shelf;
    if (!s.top) return ::operator new(Size);
    Block* b = s.top;
    s.top = b->next;
    --s.count;
    return b;
  }
  static void Give(void* p) {
    Shelf& s = shelf;
    // A handful is all a loop reuses; the rest goes back.
    if (s.count >= kKept) return ::operator delete(p);
    auto* b = static_cast<Block*>(p);
    b->next = s.top;
    s.top = b;
    ++s.count;
  }

 private:
  static_assert(Size >= sizeof(void*));
  static constexpr int kKept = 16;
  struct Block {
    Block* next;
  };
  struct Shelf {
    Block* top = nullptr;
    int count = 0;
    ~Shelf() {
      while (top) {
        Block* b = top;
        top = b->next;
        ::operator delete(b);
      }
    }
  };
  static thread_local inline Shelf shelf;
};

// For std::allocate_shared: one block holds the object and its count.
template <class T>
struct RecyclingAllocator {
  using value_type = T;
  RecyclingAllocator() = default;
  template <class U>
  RecyclingAllocator(const RecyclingAllocator<U>&) {}
  T* allocate(std::size_t n) {
    if (n == 1) return static_cast<T*>(BlockShelf<sizeof(T)>::Take());
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) {
    if (n == 1) return BlockShelf<sizeof(T)>::Give(p);
    ::operator delete(p);
  }
  template <class U>
  friend bool operator==(const RecyclingAllocator&, const RecyclingAllocator<U>&) {
    return true;
  }
};

}  // namespace fw::detail
