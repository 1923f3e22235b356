// The library entry point, which Windows calls on process and thread attach
// and detach. It needs no setup and answers TRUE to every reason.
#ifndef PNGCOMMENT_PLUGIN_ENTRY_POINT_H
#define PNGCOMMENT_PLUGIN_ENTRY_POINT_H

#include "platform/windows_types.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

#endif
