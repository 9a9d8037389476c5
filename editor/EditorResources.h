// The editor document compiled into the plug-in: one self-contained UTF-8 HTML text.
#pragma once

namespace resources {
extern const char ui_html[];
extern const unsigned long ui_html_size;
}  // namespace resources
