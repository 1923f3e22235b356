#include "tools/plugin_loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

PluginLibrary::PluginLibrary(const char* path) {
#ifdef _WIN32
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path));
#else
  handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
}

PluginLibrary::~PluginLibrary() { Unload(); }

bool PluginLibrary::Unload() {
  if (handle_ == nullptr) return false;
#ifdef _WIN32
  const bool ok = FreeLibrary(static_cast<HMODULE>(handle_)) != 0;
#else
  const bool ok = dlclose(handle_) == 0;
#endif
  handle_ = nullptr;
  return ok;
}

void* PluginLibrary::Find(const char* name) const {
  if (handle_ == nullptr) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

std::string PluginLibrary::Path() const {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(static_cast<HMODULE>(handle_), path, MAX_PATH);
  return path;
#else
  Dl_info info{};
  void* symbol = Find("GetPluginInfo");
  return symbol != nullptr && dladdr(symbol, &info) != 0 ? info.dli_fname : "";
#endif
}
