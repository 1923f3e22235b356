// What the plug-in tells the host about itself.
#ifndef PNGCOMMENT_PLUGIN_PLUGIN_INFO_H
#define PNGCOMMENT_PLUGIN_PLUGIN_INFO_H

#include <cstddef>
#include <cstdint>

namespace pngc {

// The information strings by index: identifier, description, file-name
// pattern, format name.
constexpr int kPluginInfoCount = 4;
extern const char* const kPluginInfo[kPluginInfoCount];

}  // namespace pngc

#endif
