#pragma once
// Bytes that never move once added, in chunks of a megabyte, so that a pass
// over a million short strings streams through memory instead of chasing one
// heap block per string. Chunks are shared, so a stream or a list row can
// keep bytes alive after the arena has let go of them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace fw::detail {

class ByteArena {
 public:
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0, capacity = 0;
    bool alone = false;  // holds one large string and nothing else
  };
  // A stable copy of bytes; chunk names its owner.
  const char* Add(std::string_view bytes, std::uint32_t& chunk);
  const std::shared_ptr<Chunk>& Owner(std::uint32_t chunk) const { return chunks_[chunk]; }
  // Bytes added once and no longer used.
  void Forget(std::size_t bytes) { garbage_ += bytes; }
  // The same, naming their chunk: a large string's own chunk goes at once.
  void Forget(std::uint32_t chunk, std::size_t bytes);
  // Worth copying what is still used into a fresh arena.
  bool Wasteful() const { return garbage_ > (16u << 20) && garbage_ > total_ - garbage_; }
  void Clear();

 private:
  static constexpr std::size_t kChunk = 1u << 20;
  std::vector<std::shared_ptr<Chunk>> chunks_;
  std::size_t total_ = 0, garbage_ = 0;
  std::uint32_t filling_ = UINT32_MAX;  // the chunk new bytes go to
};

}  // namespace fw::detail
