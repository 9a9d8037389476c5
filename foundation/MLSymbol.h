// Interned symbols: a 64-bit hash of a text, with one process-wide table mapping hashes back to texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <unordered_map>

#include "foundation/MLText.h"

namespace ml {

// 64-bit FNV-1a over the bytes read as signed chars and sign-extended, so bytes 0x80..0xFF XOR in
// 0xFFFFFFFFFFFFFF80..0xFFFFFFFFFFFFFFFF. ASCII text hashes as in standard FNV-1a.
constexpr uint64_t fnv1aRuntime(const char* p, size_t n) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < n; ++i) {
    h = (h ^ static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(p[i])))) * 0x100000001b3ull;
  }
  return h;
}

// Maps symbol hashes to their texts. Every access takes the table's mutex, so symbols may be made and
// looked up on any thread; keep construction off the audio thread, since it locks and may allocate.
class SymbolTable {
public:
  static const TextFragment kNullText;

  // Stores the text under its hash and returns the hash; throws std::runtime_error when a different
  // text is already stored under the same hash.
  uint64_t registerSymbol(const char* text, size_t lengthInBytes);
  // A copy of the text stored for h, or kNullText when h is unknown.
  TextFragment getTextForHash(uint64_t h) const;
  void clear();
  // Writes the entry count and one line per entry to standard output.
  void dump() const;

private:
  std::unordered_map<uint64_t, TextFragment> textsByHash;
  mutable std::mutex tableMutex;
};

// The process-wide table, created on first use.
SymbolTable& theSymbolTable();

// A name that compares and copies as one 64-bit integer. Constructing one registers its text.
class Symbol {
public:
  Symbol() = default;
  Symbol(const char* text);  // NOLINT: symbols convert implicitly from literals

  uint64_t getHash() const { return hash; }
  TextFragment getTextFragment() const { return theSymbolTable().getTextForHash(hash); }
  bool operator==(const Symbol& b) const { return hash == b.hash; }

private:
  uint64_t hash{0};
};

std::ostream& operator<<(std::ostream& out, const Symbol& symbol);

}  // namespace ml
