// Reads a Windows module's version resource, as Explorer's property page
// shows it. Elsewhere there is none: `found` stays false.
#ifndef PNGCOMMENT_TOOLS_VERSION_INFO_H
#define PNGCOMMENT_TOOLS_VERSION_INFO_H

#include <cstdint>
#include <string>

struct VersionInfo {
  bool found = false;
  std::uint32_t file_version_ms = 0, file_version_ls = 0;
  std::uint32_t product_version_ms = 0, product_version_ls = 0;
  std::uint32_t file_type = 0;
  // The translation entries: language and code page pairs.
  int translation_count = 0;
  std::uint16_t language = 0, code_page = 0;
  std::string file_description, file_version, product_name, product_version, original_filename,
      company_name, legal_copyright;
};

VersionInfo ReadVersionInfo(const std::string& path);

#endif
