# Cross build for 64-bit Windows with Debian's MinGW-w64 (GCC with POSIX threads, so std::thread
# and std::mutex work as on the other platforms). Programs come from the host; headers and
# libraries from the target root. Test programs and build steps that run a built program go
# through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VFU_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VFU_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VFU_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VFU_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VFU_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VFU_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${VFU_MINGW_TRIPLET}-strip CACHE FILEPATH "")

# Folders given in CMAKE_PREFIX_PATH (where the build installed the libraries Debian does not
# package for MinGW) are target roots too, so that finds limited to the roots see them.
set(CMAKE_FIND_ROOT_PATH /usr/${VFU_MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Everything static, so that no DLL has to travel beside the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# A cross build does not search the host's multiarch folder, where Debian keeps JUCE's CMake
# package; the host's juceaide is used as it is.
if(NOT DEFINED JUCE_DIR AND EXISTS /usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5)
    set(JUCE_DIR /usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 CACHE PATH "")
endif()
