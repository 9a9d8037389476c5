// Writes a C++ source that holds the built editor document as resources::ui_html.
// Usage: node embed.mjs <document.html> <output.cpp>
import { readFileSync, writeFileSync } from 'node:fs';

const [input, output] = process.argv.slice(2);
const bytes = readFileSync(input);
// Bytes above 127 are written as the negative values a signed char holds.
const toChar = (b) => (b > 127 ? b - 256 : b);
const lines = [];
for (let i = 0; i < bytes.length; i += 32) lines.push(`  ${Array.from(bytes.subarray(i, i + 32), toChar).join(',')},`);
writeFileSync(output, `// Generated from the built editor document; do not edit.
#include "editor/EditorResources.h"

namespace resources {
// The document's UTF-8 bytes, followed by a terminating zero that ui_html_size does not count.
const char ui_html[] = {
${lines.join('\n')}
  0};
const unsigned long ui_html_size = ${bytes.length}UL;
}  // namespace resources
`);
