# The compression libraries: Debian's -dev packages for the native build, and
# static builds from Debian's source packages (tools/build-mingw-deps.sh) for
# the Windows build, found through CMAKE_PREFIX_PATH.
find_package(Threads)
find_package(ZLIB REQUIRED)

function(pakkaro_import target header library)
  find_path(${target}_INCLUDE ${header} REQUIRED)
  find_library(${target}_LIBRARY NAMES ${library} REQUIRED)
  add_library(pakkaro::${target} UNKNOWN IMPORTED)
  set_target_properties(pakkaro::${target} PROPERTIES
    IMPORTED_LOCATION ${${target}_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${${target}_INCLUDE})
endfunction()

pakkaro_import(bz2 bzlib.h bz2)
pakkaro_import(lzma lzma.h lzma)
pakkaro_import(deflate libdeflate.h "deflate;deflatestatic")
pakkaro_import(zstd zstd.h zstd)
if(WIN32)
  # liblzma built as a static library wants this, or its functions are dllimport.
  set_property(TARGET pakkaro::lzma APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
  set_property(TARGET pakkaro::deflate APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS LIBDEFLATE_STATIC)
endif()
