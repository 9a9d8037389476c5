// Counts heap allocations of the whole test program, for tests that require none on the audio path.
// The replacement operators new and delete live in AllocCounter.cpp.
#pragma once

#include <atomic>
#include <cstdint>

namespace alloc_counter {

inline constinit std::atomic<uint64_t> gAllocations{0};

// Allocations made since the scope began (on any thread).
class Scope {
public:
  Scope() : start_(gAllocations.load()) {}
  uint64_t allocations() const { return gAllocations.load() - start_; }

private:
  uint64_t start_;
};

}  // namespace alloc_counter
