// Stand-in until the editor callbacks land: the slots stay empty, so the editor's messages are dropped.
// Delete this file when CLAPPlugin::fillEditorCallbacks is defined with the callbacks.
#include "plugin/CLAPPlugin.h"

void CLAPPlugin::fillEditorCallbacks(PluginEditor&) {}
