// The tests' way into the page of a helper: when TAVRIN_EDITOR_PROBE names a listening Unix socket, the
// helper connects to it and answers each evaluate frame with the script's result as text (kind evaluated:
// id, failed flag, result or error). Without the variable nothing happens.
#pragma once

namespace platform {

void connectEditorProbe();

}  // namespace platform
