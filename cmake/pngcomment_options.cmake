# Compile options shared by every target of the project, as an interface
# library rather than global flags.
add_library(pngcomment_options INTERFACE)
target_compile_features(pngcomment_options INTERFACE cxx_std_17)
target_compile_options(pngcomment_options INTERFACE -Wall -Wextra -Werror)

if(PNGCOMMENT_SANITIZE AND NOT WIN32)
  set(pngcomment_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(pngcomment_options INTERFACE ${pngcomment_sanitizers})
  target_link_options(pngcomment_options INTERFACE ${pngcomment_sanitizers})
endif()

if(WIN32)
  # Programs run under Wine, which has no libstdc++ or libgcc DLL to offer.
  function(pngcomment_link_static target)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endfunction()
else()
  function(pngcomment_link_static target)
  endfunction()
endif()
