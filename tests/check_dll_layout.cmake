# Checks the DLL as a host's loader sees it: a PE image for the build's
# machine that exports exactly the five plug-in functions, each at the
# address of the function compiled for it, imports only DLLs that every
# Windows system has, and carries a version resource filed under Japanese.
# Run with -DOBJDUMP=... -DNM=... -DDLL=... -DARCH=i386|x86-64 -P.
#
# On i386 each plain name must lead to the stdcall symbol name@n, n the bytes
# of arguments the function removes from the stack: a host calls through
# stdcall pointers, so a cdecl export or a wrong argument size would unbalance
# its stack on every call. x86_64 has one convention and undecorated symbols.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

if(ARCH STREQUAL "i386")
  set(magic "010b[ \t]+\\(PE32\\)")
  set(argument_bytes GetPluginInfo=12 ConfigurationDlg=8 IsSupported=8 GetComment=20 WriteComment=24)
elseif(ARCH STREQUAL "x86-64")
  set(magic "020b[ \t]+\\(PE32\\+\\)")
else()
  message(FATAL_ERROR "ARCH must be i386 or x86-64")
endif()
if(NOT dump MATCHES "file format pei-${ARCH}\n" OR NOT dump MATCHES "Magic[ \t]+${magic}")
  message(FATAL_ERROR "not a PE image for ${ARCH}")
endif()
string(REGEX MATCH "ImageBase[ \t]+([0-9a-fA-F]+)" _ "${dump}")
set(image_base ${CMAKE_MATCH_1})

# Export names follow the "[Ordinal/Name Pointer] Table" header, one a line,
# each with the index of its entry in the export address table.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\] [^\n]+\n)+)" table "${dump}")
string(REPLACE "\n" ";" lines "${CMAKE_MATCH_1}")
set(exports)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[ *([0-9]+)\\] ([^ \t]+)")
    list(APPEND exports ${CMAKE_MATCH_2})
    set(index_${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
  endif()
endforeach()
list(SORT exports)
set(expected ConfigurationDlg GetComment GetPluginInfo IsSupported WriteComment)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exports are '${exports}', expected '${expected}'")
endif()

execute_process(COMMAND ${NM} ${DLL} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} ${DLL} failed (the DLL must keep its symbol table)")
endif()
foreach(name IN LISTS expected)
  set(symbol ${name})
  foreach(pair IN LISTS argument_bytes)
    if(pair MATCHES "^${name}=([0-9]+)$")
      set(symbol "_${name}@${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(NOT dump MATCHES "\\[ *${index_${name}}\\] \\+base\\[ *[0-9]+\\] ([0-9a-fA-F]+) Export RVA")
    message(FATAL_ERROR "no address for export ${name}")
  endif()
  math(EXPR address "0x${image_base} + 0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
  if(NOT symbols MATCHES "([0-9a-fA-F]+) T ${symbol}\n")
    message(FATAL_ERROR "no function ${symbol} for export ${name}")
  endif()
  math(EXPR defined "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
  if(NOT address STREQUAL defined)
    message(FATAL_ERROR "export ${name} is at ${address}, not at ${symbol} (${defined})")
  endif()
  message(STATUS "export ${name} -> ${symbol}")
endforeach()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(system_dlls kernel32.dll user32.dll msvcrt.dll advapi32.dll)
foreach(import IN LISTS imports)
  string(SUBSTRING "${import}" 10 -1 name)
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST system_dlls)
    message(FATAL_ERROR "imports ${name}, which a Windows system need not have")
  endif()
  message(STATUS "imports ${name}")
endforeach()

# The resource's key and its string table's values are UTF-16 in the file.
file(STRINGS ${DLL} resource ENCODING UTF-16LE REGEX "^(VS_VERSION_INFO|1, 0, 0, 0|041104b0)$")
list(REMOVE_DUPLICATES resource)
list(SORT resource)
if(NOT resource STREQUAL "041104b0;1, 0, 0, 0;VS_VERSION_INFO")
  message(FATAL_ERROR "no version resource 1, 0, 0, 0 with its Japanese Unicode string table (found '${resource}')")
endif()
# Filed under the language of that table (type 16, id 1, language 0x0411).
if(NOT dump MATCHES "Entry: ID: 0x000010,[^\n]*\n[^\n]*Name Table[^\n]*\n[^\n]*Entry: ID: 0x000001,[^\n]*\n[^\n]*Language Table[^\n]*\n[^\n]*Entry: ID: 0x000411,")
  message(FATAL_ERROR "the version resource is not filed under language 0x0411")
endif()
