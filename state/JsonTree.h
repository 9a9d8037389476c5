// Ownership of a cJSON tree: the one wrapper every layer uses to delete what cJSON allocates.
#pragma once

#include <cjson/cJSON.h>

#include <memory>

struct JsonDelete {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
// A cJSON tree deleted with its owner; release() hands it to a parent item that takes ownership.
using JsonTree = std::unique_ptr<cJSON, JsonDelete>;
