#include "framework/files/ByteArena.h"

#include <cstring>

namespace fw::detail {

const char* ByteArena::Add(std::string_view bytes, std::uint32_t& chunk) {
  total_ += bytes.size();
  // A large string gets a block of its own, so that freeing it frees it all.
  if (bytes.size() > kChunk / 4) {
    auto c = std::make_shared<Chunk>();
    c->bytes.reset(new char[bytes.size()]);
    c->capacity = c->used = bytes.size();
    c->alone = true;
    std::memcpy(c->bytes.get(), bytes.data(), bytes.size());
    chunk = static_cast<std::uint32_t>(chunks_.size());
    chunks_.push_back(std::move(c));
    return chunks_.back()->bytes.get();
  }
  if (filling_ == UINT32_MAX || chunks_[filling_]->capacity - chunks_[filling_]->used < bytes.size()) {
    auto c = std::make_shared<Chunk>();
    c->bytes.reset(new char[kChunk]);
    c->capacity = kChunk;
    filling_ = static_cast<std::uint32_t>(chunks_.size());
    chunks_.push_back(std::move(c));
  }
  Chunk& c = *chunks_[filling_];
  char* at = c.bytes.get() + c.used;
  if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
  c.used += bytes.size();
  chunk = filling_;
  return at;
}

void ByteArena::Forget(std::uint32_t chunk, std::size_t bytes) {
  if (chunk < chunks_.size() && chunks_[chunk] && chunks_[chunk]->alone) {
    // Streams and rows that still show it keep it until they let go.
    chunks_[chunk].reset();
    total_ -= bytes;
    return;
  }
  garbage_ += bytes;
}

void ByteArena::Clear() {
  chunks_.clear();
  total_ = garbage_ = 0;
  filling_ = UINT32_MAX;
}

}  // namespace fw::detail
