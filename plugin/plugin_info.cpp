#include "plugin/plugin_info.h"

#include "plugin/version.h"

namespace pngc {

const char* const kPluginInfo[kPluginInfoCount] = {
    "CPI1",
    PNGC_DESCRIPTION,
    "*.png",
    "PNG Image (ZLib Text)",
};

}  // namespace pngc
