# Third-party libraries of the engine, as Debian 12 packages them.

# MuPDF ships static archives only and an incomplete pkg-config file: link it by hand, once,
# into the engine library.
find_library(MUPDF_LIB mupdf REQUIRED)
find_library(MUPDF_THIRD_LIB mupdf-third REQUIRED)
add_library(vellipse_mupdf INTERFACE)
target_link_libraries(vellipse_mupdf INTERFACE
  ${MUPDF_LIB} ${MUPDF_THIRD_LIB} harfbuzz freetype jbig2dec jpeg openjp2 z gumbo mujs m Threads::Threads)

pkg_check_modules(QPDF REQUIRED IMPORTED_TARGET libqpdf)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)
pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(OPENJP2 REQUIRED IMPORTED_TARGET libopenjp2)
pkg_check_modules(OPENEXR REQUIRED IMPORTED_TARGET OpenEXR)
pkg_check_modules(WEBP REQUIRED IMPORTED_TARGET libwebp)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(GSF REQUIRED IMPORTED_TARGET libgsf-1)
find_library(GIF_LIB gif REQUIRED)
find_library(JPEG_LIB jpeg REQUIRED)
pkg_check_modules(ZIP REQUIRED IMPORTED_TARGET libzip)
