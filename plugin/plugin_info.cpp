#include "plugin/plugin_info.h"

#include "plugin/version.h"

namespace pngc {

const char* const kPluginInfo[kPluginInfoCount] = {
    "CPI1",
    PNGC_DESCRIPTION,
    "*.png",
    "PNG Image (ZLib Text)",
};

const std::uint8_t kPngSignature[kPngSignatureSize] = {0x89, 0x50, 0x4E, 0x47,
                                                       0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace pngc
