// Stand-in editor document until the real one is compiled in; delete this file when editor/ui provides
// resources::ui_html.
#include "editor/EditorResources.h"

namespace resources {

const char ui_html[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tavrin</title></head>"
    "<body style=\"background:#111;color:#ddd;font-family:sans-serif\"><p>Tavrin</p>"
    "<script>window.webkit&&window.webkit.messageHandlers.mlib.postMessage({name:'__ready',value:1});"
    "</script></body></html>";
const unsigned long ui_html_size = sizeof(ui_html) - 1;

}  // namespace resources
