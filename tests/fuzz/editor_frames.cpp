// Fuzzes the reader of the editor helper's frames: any bytes, arriving in two pieces. Every frame handed
// out is within the limit, and reading fields of every kind past a frame's end only marks it broken.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/EditorFrames.h"

using namespace platform::frames;

namespace {

void readFields(const std::string& body) {
  if (body.empty() || body.size() > kMaxFrameBytes) std::abort();
  FieldReader fields(body);
  while (fields.ok()) {
    fields.u8();
    const std::string text = fields.text();
    if (text.size() > body.size()) std::abort();
    fields.u64();
    fields.f64();
    fields.u32();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FrameReader reader;
  const size_t half = size / 2;
  const auto* bytes = reinterpret_cast<const char*>(data);
  for (const auto& [from, count] : {std::pair{size_t{0}, half}, std::pair{half, size - half}}) {
    if (!reader.feed(bytes + from, count)) break;
    while (const auto body = reader.next()) readFields(*body);
  }
  return 0;
}
