// Interned symbols and the process-wide symbol table.
#include "foundation/MLSymbol.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace ml {

const TextFragment SymbolTable::kNullText{"?"};

uint64_t SymbolTable::registerSymbol(const char* text, size_t lengthInBytes) {
  const uint64_t h = fnv1aRuntime(text, lengthInBytes);
  std::lock_guard<std::mutex> lock(tableMutex);
  const auto found = textsByHash.find(h);
  if (found == textsByHash.end()) {
    textsByHash.emplace(h, TextFragment(text, lengthInBytes));
  } else if (!compareSizedCharArrays(found->second.getText(), found->second.lengthInBytes(), text,
                                     lengthInBytes)) {
    throw std::runtime_error("Symbol hash collision detected!");
  }
  return h;
}

TextFragment SymbolTable::getTextForHash(uint64_t h) const {
  std::lock_guard<std::mutex> lock(tableMutex);
  const auto found = textsByHash.find(h);
  return found == textsByHash.end() ? kNullText : found->second;
}

void SymbolTable::clear() {
  std::lock_guard<std::mutex> lock(tableMutex);
  textsByHash.clear();
}

void SymbolTable::dump() const {
  std::lock_guard<std::mutex> lock(tableMutex);
  std::printf("%zu symbols:\n", textsByHash.size());
  for (const auto& [hash, text] : textsByHash) {
    std::printf("0x%llx = \"%s\"\n", static_cast<unsigned long long>(hash), text.getText());
  }
}

SymbolTable& theSymbolTable() {
  static SymbolTable table;
  return table;
}

Symbol::Symbol(const char* text)
    : hash(theSymbolTable().registerSymbol(text, text ? std::strlen(text) : 0)) {}

std::ostream& operator<<(std::ostream& out, const Symbol& symbol) {
  return out << symbol.getTextFragment();
}

}  // namespace ml
