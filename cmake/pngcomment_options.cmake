# Compile options shared by every target of the project, as an interface
# library rather than global flags.
add_library(pngcomment_options INTERFACE)
target_compile_features(pngcomment_options INTERFACE cxx_std_17)
target_compile_options(pngcomment_options INTERFACE -Wall -Wextra)
# Warnings fail the build where the project's presets and CI ask for it, not
# on every compiler a user may build with.
option(PNGCOMMENT_WERROR "Treat compiler warnings as errors" OFF)
if(PNGCOMMENT_WERROR)
  target_compile_options(pngcomment_options INTERFACE -Werror)
endif()

if(PNGCOMMENT_SANITIZE AND NOT WIN32)
  set(pngcomment_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(pngcomment_options INTERFACE ${pngcomment_sanitizers})
  target_link_options(pngcomment_options INTERFACE ${pngcomment_sanitizers})
endif()

# The hardening Debian builds its packages with (dpkg-buildflags with
# hardening=+all): stack protector, checked string and memory functions
# where the optimiser can see sizes, relocations read-only after a
# bind-now start. Not in sanitizer or fuzzing builds, whose interceptors
# the checked functions would bypass.
option(PNGCOMMENT_HARDEN "Build with Debian's hardening flags (native only)" ON)
if(PNGCOMMENT_HARDEN AND NOT WIN32 AND NOT PNGCOMMENT_SANITIZE AND NOT PNGCOMMENT_FUZZ)
  target_compile_options(pngcomment_options INTERFACE -fstack-protector-strong -Wformat -Werror=format-security
                         $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  target_link_options(pngcomment_options INTERFACE -Wl,-z,relro -Wl,-z,now)
endif()

if(WIN32)
  # Tests of Windows programs run through scripts/wine-run: they need Wine's
  # prefix and services (the wine_init fixture), and count as skipped when
  # wine-run exits 77 because the machine cannot run the build's programs.
  # Their label, wine, is what scripts/test-win32 sends to an emulated
  # machine where this one refuses 32-bit programs.
  function(pngcomment_wine_tests)
    set_tests_properties(${ARGN} PROPERTIES SKIP_RETURN_CODE 77 FIXTURES_REQUIRED wine LABELS wine)
  endfunction()
  # Programs run under Wine, which has no libstdc++ or libgcc DLL to offer.
  function(pngcomment_link_static target)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endfunction()
else()
  function(pngcomment_wine_tests)
  endfunction()
  function(pngcomment_link_static target)
  endfunction()
endif()
