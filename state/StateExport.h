// Marks a plain function of the state unit that the plug-in module exports under its unmangled name.
#pragma once

#define TAVRIN_EXPORT extern "C" __attribute__((visibility("default")))
