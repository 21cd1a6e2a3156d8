# Third-party libraries, as Debian 12 packages them, and the include roots of our own libraries.

# MuPDF ships static archives only and an incomplete pkg-config file: link it by hand, once,
# into the platform library.
find_library(MUPDF_LIB mupdf REQUIRED)
find_library(MUPDF_THIRD_LIB mupdf-third REQUIRED)
add_library(vellipse_mupdf INTERFACE)
target_link_libraries(vellipse_mupdf INTERFACE
  ${MUPDF_LIB} ${MUPDF_THIRD_LIB} harfbuzz freetype jbig2dec jpeg openjp2 z gumbo mujs m Threads::Threads)

pkg_check_modules(QPDF REQUIRED IMPORTED_TARGET libqpdf)
pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(OPENJP2 REQUIRED IMPORTED_TARGET libopenjp2)
pkg_check_modules(OPENEXR REQUIRED IMPORTED_TARGET OpenEXR)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(GSF REQUIRED IMPORTED_TARGET libgsf-1)
# Colour spaces of extracted images are converted through lcms2.
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
# Camera raw files are developed by LibRaw (its thread-safe build).
pkg_check_modules(LIBRAW REQUIRED IMPORTED_TARGET libraw_r)
find_library(GIF_LIB gif REQUIRED)
find_library(JPEG_LIB jpeg REQUIRED)
pkg_check_modules(ZIP REQUIRED IMPORTED_TARGET libzip)
# WebP in and out: libwebp, and libpng for the pictures its encoder reads; the container tests
# walk the chunks with libwebpmux.
pkg_check_modules(WEBP REQUIRED IMPORTED_TARGET libwebp)
pkg_check_modules(WEBPMUX REQUIRED IMPORTED_TARGET libwebpmux)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng16)

# Each of our libraries has an include root of its own that holds only its own folder, so its
# headers are named from the top of the source tree ("platform/Bitmap.h") and a library cannot
# reach the headers of a library it does not link: the platform layer sees no engine header.
function(vellipse_include_root target folder)
  set(root "${CMAKE_BINARY_DIR}/include/${target}")
  file(MAKE_DIRECTORY "${root}")
  if(NOT EXISTS "${root}/${folder}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC "${root}")
endfunction()
