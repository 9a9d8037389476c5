// The document of a module built without its editor (TAVRIN_EDITOR off), which opens no window: empty.
#include "editor/EditorResources.h"

namespace resources {
const char ui_html[] = "";
const unsigned long ui_html_size = 0UL;
}  // namespace resources
