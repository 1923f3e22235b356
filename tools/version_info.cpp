#include "tools/version_info.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#include <vector>

VersionInfo ReadVersionInfo(const std::string& path) {
  VersionInfo info;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return info;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return info;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr || fixed->dwSignature != 0xFEEF04BD) {
    return info;
  }
  info.found = true;
  info.file_version_ms = fixed->dwFileVersionMS;
  info.file_version_ls = fixed->dwFileVersionLS;
  info.product_version_ms = fixed->dwProductVersionMS;
  info.product_version_ls = fixed->dwProductVersionLS;
  info.file_type = fixed->dwFileType;

  WORD* translation = nullptr;
  if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                     reinterpret_cast<void**>(&translation), &length) &&
      translation != nullptr && length >= 4) {
    info.translation_count = static_cast<int>(length / 4);
    info.language = translation[0];
    info.code_page = translation[1];
  }
  // The strings of the first translation's table.
  char table[32];
  std::snprintf(table, sizeof table, "\\StringFileInfo\\%04x%04x\\", info.language, info.code_page);
  const auto text = [&](const char* name) -> std::string {
    char* value = nullptr;
    UINT value_length = 0;
    const std::string key = std::string(table) + name;
    return VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value),
                          &value_length) &&
                   value != nullptr
               ? value
               : "";
  };
  info.file_description = text("FileDescription");
  info.file_version = text("FileVersion");
  info.product_name = text("ProductName");
  info.product_version = text("ProductVersion");
  info.original_filename = text("OriginalFilename");
  info.company_name = text("CompanyName");
  info.legal_copyright = text("LegalCopyright");
  return info;
}

#else

VersionInfo ReadVersionInfo(const std::string&) { return VersionInfo{}; }

#endif
