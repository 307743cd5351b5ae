// Large blocks kept for the next allocation of the same size.
//
// Every InitInstrument builds an instrument object that allocates its sample
// and averaging buffers (800 KB) at once, and every input a new simulated PC with its 128 KB of sample memory. Under AddressSanitizer a block that
// large is mapped fresh from the kernel and unmapped again at its release,
// which costs more than all the rest of an opening together. This replacement
// of the global operator new keeps released large blocks and hands the same
// block out again for the same size: poisoned while kept, so a use after the
// release is still reported (as a use after poison), and ASan's redzones
// around the block still catch every overflow. Smaller blocks go straight to
// the sanitizer's allocator.
#include <sanitizer/asan_interface.h>

#include <array>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kLarge = 64 * 1024;

struct Block {
  void* address = nullptr;
  std::size_t size = 0;
  bool in_use = false;
};
// A few objects are alive at a time; a block beyond these is not kept.
std::array<Block, 16> g_blocks;

void* Allocate(std::size_t size) {
  if (size >= kLarge) {
    for (Block& block : g_blocks) {
      if (block.address != nullptr && !block.in_use && block.size == size) {
        block.in_use = true;
        ASAN_UNPOISON_MEMORY_REGION(block.address, size);
        return block.address;
      }
    }
  }
  void* address = std::malloc(size == 0 ? 1 : size);
  if (address == nullptr) throw std::bad_alloc();
  if (size >= kLarge) {
    for (Block& block : g_blocks) {
      if (block.address == nullptr) {
        block = {address, size, true};
        break;
      }
    }
  }
  return address;
}

void Release(void* address) noexcept {
  if (address == nullptr) return;
  for (Block& block : g_blocks) {
    if (block.address == address && block.in_use) {
      block.in_use = false;
      ASAN_POISON_MEMORY_REGION(address, block.size);
      return;
    }
  }
  std::free(address);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* address) noexcept { Release(address); }
void operator delete[](void* address) noexcept { Release(address); }
void operator delete(void* address, std::size_t /*size*/) noexcept { Release(address); }
void operator delete[](void* address, std::size_t /*size*/) noexcept { Release(address); }
void operator delete(void* address, const std::nothrow_t& /*tag*/) noexcept { Release(address); }
void operator delete[](void* address, const std::nothrow_t& /*tag*/) noexcept { Release(address); }
