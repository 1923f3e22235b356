// The three small exports and the stand-ins for the two working ones.
#include <cstring>

#include "platform/os.h"
#include "plugin/plugin_info.h"
#include "plugin/pngcomment.h"

extern "C" {

std::int32_t PNGC_CALL GetPluginInfo(std::int32_t index, char* buffer, std::int32_t buffer_length) {
  (void)buffer_length;  // the host's buffer is trusted to hold the longest string
  if (index < 0 || index >= pngc::kPluginInfoCount || buffer == nullptr) return 0;
  const char* info = pngc::kPluginInfo[index];
  const std::size_t length = std::strlen(info);
  std::memcpy(buffer, info, length + 1);
  return static_cast<std::int32_t>(length);
}

std::int32_t PNGC_CALL ConfigurationDlg(HWND parent, std::int32_t request) {
  switch (request) {
    case 0:
      pngc::os::ShowMessage(parent, pngc::kPluginInfo[1], "About pngcomment");
      return kPngcOk;
    case 2:
      return kPngcQueryAnswer;
    default:
      return kPngcUnknownRequest;
  }
}

std::int32_t PNGC_CALL IsSupported(const char* data, std::uintptr_t unused) {
  (void)unused;
  if (data == nullptr) return kPngcNotPng;
  return std::memcmp(data, pngc::kPngSignature, pngc::kPngSignatureSize) == 0 ? kPngcOk
                                                                              : kPngcNotPng;
}

// Reading and writing come with the chunk walk; until then both refuse.
std::int32_t PNGC_CALL GetComment(std::uintptr_t unused, const std::uint8_t* image,
                                  std::int32_t size, HLOCAL* comment, HLOCAL* summary) {
  (void)unused, (void)image, (void)size, (void)comment, (void)summary;
  return kPngcFailed;
}

std::int32_t PNGC_CALL WriteComment(std::uintptr_t unused, const char* file_name,
                                    const std::uint8_t* image, std::int32_t size,
                                    const char* comment, std::int32_t length) {
  (void)unused, (void)file_name, (void)image, (void)size, (void)comment, (void)length;
  return kPngcFailed;
}

}  // extern "C"
