// Loads the plug-in at run time and looks its exports up by name, as a host
// does: LoadLibraryA / GetProcAddress on Windows, dlopen / dlsym elsewhere.
#ifndef PNGCOMMENT_TOOLS_PLUGIN_LOADER_H
#define PNGCOMMENT_TOOLS_PLUGIN_LOADER_H

#include <cstdint>
#include <string>

#ifdef _WIN32
#define HOST_CALL __stdcall
#else
#define HOST_CALL
#endif

// The exports as a host declares them: every argument and result 32 bits on
// Windows, the standard calling convention.
using GetPluginInfoFn = std::int32_t(HOST_CALL*)(std::int32_t index, char* buffer,
                                                 std::int32_t length);
using ConfigurationDlgFn = std::int32_t(HOST_CALL*)(void* window, std::int32_t request);
using IsSupportedFn = std::int32_t(HOST_CALL*)(const char* data, std::uintptr_t unused);
using GetCommentFn = std::int32_t(HOST_CALL*)(std::uintptr_t unused, const std::uint8_t* image,
                                              std::int32_t size, void** comment, void** summary);
using WriteCommentFn = std::int32_t(HOST_CALL*)(std::uintptr_t unused, const char* file_name,
                                                const std::uint8_t* image, std::int32_t size,
                                                const char* comment, std::int32_t length);

class PluginLibrary {
 public:
  explicit PluginLibrary(const char* path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // The address of an export, or null when the library has none by that name.
  void* Find(const char* name) const;
  // The file the library was loaded from.
  std::string Path() const;
  // Unloads the library; true when the system reported success.
  bool Unload();

  template <typename Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(Find(name));
  }

 private:
  void* handle_ = nullptr;
};

#endif
