// The messages between the plug-in module and its editor helper process, over a stream socket: each frame
// is a 4-byte little-endian length, then that many bytes of body: one kind byte and the kind's fields
// (little-endian integers, IEEE doubles, texts as a 4-byte length and their bytes). A frame longer than
// kMaxFrameBytes is never sent; receiving one ends the link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::frames {

constexpr uint32_t kMaxFrameBytes = 4u << 20;
// The descriptor the helper finds its socket on.
constexpr int kHelperSocketFd = 3;

enum class Kind : uint8_t {
  // Module to helper.
  create = 1,   // handler count, names; x, y, width, height of the first frame
  load,         // document, base URL
  evaluate,     // id (0: no answer wanted), script
  place,        // parent X11 window (0: none), x, y, width, height
  hide,         // hidden flag
  zoom,         // page zoom
  focus,        // keyboard focus flag
  checkWindow,  // id, X11 window
  panel,        // id, save flag, parent X11 window, folder, suggested name, extension
  openFolder,   // path
  // Helper to module.
  ready = 64,  // has-area flag, work area width, height
  failed,      // reason
  message,     // handler name, body JSON
  loaded,
  loadFailed,
  processEnded,  // the content process died (the helper's back-off chose the moment to reload)
  evaluated,     // id, failed flag, error or result text
  windowState,   // id, exists flag
  panelDone,     // id, confirmed flag, path
  parentGone,    // the host destroyed the window the editor lived in
  log,           // a line for the host's log
};

// Builds one frame.
class FrameWriter {
public:
  explicit FrameWriter(Kind kind);
  FrameWriter& u8(uint8_t value) { return put(value); }
  FrameWriter& u32(uint32_t value) { return put(value); }
  FrameWriter& u64(uint64_t value) { return put(value); }
  FrameWriter& f64(double value) { return put(value); }
  FrameWriter& text(std::string_view value);
  // The frame with its length; empty when the body would exceed the limit.
  std::string finish();

private:
  template <class T>
  FrameWriter& put(T value) {
    append(&value, sizeof value);
    return *this;
  }
  void append(const void* value, size_t size);
  std::string bytes;
};

// Reads the fields of one frame body in order. A read past the end (or of a text longer than what is
// left) answers zero or empty and leaves ok() false for good.
class FieldReader {
public:
  explicit FieldReader(std::string_view body);
  std::optional<Kind> kind() const { return frameKind; }
  uint8_t u8() { return get<uint8_t>(); }
  uint32_t u32() { return get<uint32_t>(); }
  uint64_t u64() { return get<uint64_t>(); }
  double f64() { return get<double>(); }
  std::string text();
  bool ok() const { return intact; }

private:
  template <class T>
  T get() {
    T value{};
    take(&value, sizeof value);
    return value;
  }
  bool take(void* out, size_t size);
  std::string_view rest;
  std::optional<Kind> frameKind;
  bool intact = true;
};

// Cuts a byte stream into frame bodies.
class FrameReader {
public:
  // False once the stream announced a frame over the limit (or of no body): the link must end.
  bool feed(const char* data, size_t size);
  // The next whole frame's body, if one has arrived.
  std::optional<std::string> next();
  // True once a frame over the limit (or of no body) arrived.
  bool failed() const { return broken; }

private:
  std::string pending;
  size_t start = 0;
  bool broken = false;
};

}  // namespace platform::frames
