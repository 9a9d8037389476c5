// What a file operation that the editor document asked for came to, as the page is told it.
#pragma once

#include <string>

struct FileOutcome {
  bool ok = true;
  std::string path;    // the file it concerned: the resolved one when known, else as the page named it
  std::string reason;  // why it failed, in words; empty when it succeeded
};
