// The exports: each catches every exception that its work lets pass, since
// none may cross into the host.
#include <cstring>

#include "platform/os.h"
#include "plugin/plugin_info.h"
#include "plugin/pngcomment.h"
#include "png/chunk.h"
#include "reader/comment_reader.h"
#include "writer/comment_writer.h"

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

std::int32_t PNGC_CALL GetComment(std::uintptr_t unused, const std::uint8_t* image,
                                  std::int32_t size, HLOCAL* comment, HLOCAL* summary) {
  (void)unused;
  try {
    pngc::ReadComment(image, size, reinterpret_cast<void**>(comment),
                      reinterpret_cast<void**>(summary));
    return kPngcOk;
  } catch (...) {  // EMemoryError above all; every other type alike
    return kPngcFailed;
  }
}

std::int32_t PNGC_CALL WriteComment(std::uintptr_t unused, const char* file_name,
                                    const std::uint8_t* image, std::int32_t size,
                                    const char* comment, std::int32_t length) {
  (void)unused;
  // What is not a PNG is never written over a file: a host that passes a
  // wrong size or pointer would otherwise replace the user's image with a
  // few stray bytes, or with nothing.
  if (file_name == nullptr || image == nullptr || size < pngc::kPngSignatureSize ||
      std::memcmp(image, pngc::kPngSignature, pngc::kPngSignatureSize) != 0 || length < 0 ||
      (comment == nullptr && length > 0)) {
    pngc::os::SetSystemError(pngc::os::kBadArgumentError);
    return kPngcFailed;
  }
  try {
    const pngc::os::SaveResult saved =
        pngc::WriteCommentFile(file_name, image, size, comment, length);
    if (saved.ok()) return kPngcOk;
    // Last, so that nothing after the failing step changes it. A save that
    // never began (the image changed during the call) is the host's -4.
    pngc::os::SetSystemError(saved.error);
    return saved.step == pngc::os::SaveStep::kNone ? kPngcFailed : kPngcNotSaved;
  } catch (...) {  // raised before the file is touched: it stays as it was
    pngc::os::SetSystemError(pngc::os::kOutOfMemoryError);
    return kPngcFailed;
  }
}

}  // extern "C"
