// The editor document embedded in the plug-in: one self-contained HTML page (script, style and font data
// inline), built from editor/ui and loaded by the editor's web view as a string.
#pragma once

namespace resources {
// UTF-8 text of the document; ui_html[ui_html_size] is a terminating zero.
extern const char ui_html[];
// Length of the document in bytes, without the terminating zero.
extern const unsigned long ui_html_size;
}  // namespace resources
