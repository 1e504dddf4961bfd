# Fails unless the executable imports only DLLs that Windows always loads from the system folder
# (KnownDLLs, and ntdll), so that nothing planted beside it can be loaded at startup; unless the
# loader may place it anywhere in the 64-bit address space (ASLR) and never runs its data (DEP);
# and unless it carries the version resource of this version and exactly one manifest, ours: the
# one that declares Windows 10 and 11 (a toolchain's default manifest declares nothing of that).
# Usage: cmake -DOBJDUMP=<objdump> -DWINDRES=<windres> -DVERSION=<x.y.z> -DEXECUTABLE=<exe>
#        -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed
    advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll gdiplus.dll
    imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ntdll.dll ole32.dll
    oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll
    user32.dll wldap32.dll ws2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${EXECUTABLE}
    OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${EXECUTABLE}: ${errors}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" entries "${dump}")
if(NOT entries)
    message(FATAL_ERROR "no imported DLLs found in ${EXECUTABLE}")
endif()
set(refused)
foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^DLL Name: " "" dll "${entry}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll_lower)
    if(NOT dll_lower IN_LIST allowed)
        list(APPEND refused "${dll}")
    endif()
    message(STATUS "imports ${dll}")
endforeach()
if(refused)
    message(FATAL_ERROR "imports DLLs that are not loaded from the system folder only: ${refused}")
endif()

# The headers' DllCharacteristics: DYNAMIC_BASE (0x40), HIGH_ENTROPY_VA (0x20), NX_COMPAT (0x100).
# ASLR can move the image only if it keeps its base relocations.
if(NOT dump MATCHES "\nDllCharacteristics[ \t]+([0-9a-fA-F]+)")
    message(FATAL_ERROR "objdump shows no DllCharacteristics for ${EXECUTABLE}")
endif()
math(EXPR missing "0x160 & ~0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
if(NOT missing EQUAL 0)
    message(FATAL_ERROR "${EXECUTABLE} has DllCharacteristics 0x${CMAKE_MATCH_1}, without ${missing} "
                        "of DYNAMIC_BASE 0x40, HIGH_ENTROPY_VA 0x20 and NX_COMPAT 0x100")
endif()
if(NOT dump MATCHES "\nEntry 5 [0-9a-fA-F]+ ([0-9a-fA-F]+) Base Relocation Directory")
    message(FATAL_ERROR "objdump shows no base relocation directory for ${EXECUTABLE}")
endif()
math(EXPR relocation_bytes "0x${CMAKE_MATCH_1}")
if(relocation_bytes EQUAL 0 OR dump MATCHES "\n[ \t]+relocations stripped")
    message(FATAL_ERROR "${EXECUTABLE} has no base relocations: ASLR cannot move it")
endif()

# The resources, decompiled: the version resource of this version, and the manifest as resource 1.
execute_process(COMMAND ${WINDRES} --input ${EXECUTABLE} --output-format rc
    OUTPUT_VARIABLE resources RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "windres cannot read the resources of ${EXECUTABLE}: ${errors}")
endif()
string(REPLACE "." ";" numbers "${VERSION};0;0;0")
list(SUBLIST numbers 0 4 numbers)
list(JOIN numbers ", " numbers)
foreach(expected IN ITEMS
        "FILEVERSION ${numbers}\n" "PRODUCTVERSION ${numbers}\n"
        "VALUE \"FileVersion\", \"${VERSION}\"" "VALUE \"ProductVersion\", \"${VERSION}\"")
    string(FIND "${resources}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the resources of ${EXECUTABLE} lack ${expected}:\n${resources}")
    endif()
endforeach()

# Windows reads one manifest, resource 1; a second one (MinGW's default-manifest.o, say) would be
# a manifest nobody checked.
string(REGEX MATCHALL "\n[^\n]* 24 /\\* RT_MANIFEST \\*/" manifests "${resources}")
list(LENGTH manifests manifest_count)
if(NOT manifest_count EQUAL 1 OR NOT resources MATCHES "\n1 24 /\\* RT_MANIFEST \\*/\nBEGIN\n([^E]|E[^N]|EN[^D])*\nEND")
    message(FATAL_ERROR "${EXECUTABLE} must carry exactly one manifest, as resource 1; "
                        "it has ${manifest_count}:\n${resources}")
endif()
set(manifest "${CMAKE_MATCH_0}")
foreach(expected IN ITEMS
        "level=\"\"asInvoker\"\""
        # Windows 10 and Windows 11
        "<supportedOS Id=\"\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"\"/>")
    string(FIND "${manifest}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the manifest of ${EXECUTABLE} lacks ${expected}:\n${manifest}")
    endif()
endforeach()
