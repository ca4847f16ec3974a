#pragma once
// Hash maps and sets with randomly keyed hashing. Each thread draws its keys
// from the operating system once; every new map takes a fresh variant of them,
// so iteration order differs between maps built separately and between
// processes, and an attacker cannot choose colliding keys. A copy keeps its
// source's hasher and bucket layout, so it iterates in the same order.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace torvane {

struct HashKeys {
  std::uint64_t k0, k1;
};

// A fresh variant of this thread's keys (the first call draws them).
HashKeys next_hash_keys();

// SipHash-1-3 of the bytes under the given keys.
std::uint64_t siphash13(HashKeys keys, std::string_view bytes);

class KeyedHash {
 public:
  using is_transparent = void;
  KeyedHash() : keys_(next_hash_keys()) {}
  std::size_t operator()(std::string_view s) const {
    return static_cast<std::size_t>(siphash13(keys_, s));
  }

 private:
  HashKeys keys_;
};

struct StringEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return a == b; }
};

template <class V>
using HashMap = std::unordered_map<std::string, V, KeyedHash, StringEqual>;
using HashSet = std::unordered_set<std::string, KeyedHash, StringEqual>;

}  // namespace torvane
