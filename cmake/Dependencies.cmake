# Every dependency is a Debian package that scripts/install-deps installs.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenCV 4 REQUIRED COMPONENTS core imgproc imgcodecs calib3d videoio objdetect freetype)
# What the SDK's own libraries link: the image codecs and video I/O bring
# about 200 shared libraries (GDAL, HDF5, GStreamer...) into every host, so the
# libraries use libjpeg/libpng directly, and video I/O only in the plugin that
# is loaded when a real camera or a video file is first asked for. Tests and
# benchmarks may link the rest.
set(MORVIK_OPENCV_LIBS opencv_core opencv_imgproc opencv_calib3d)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(dlib REQUIRED)
find_package(ZXing REQUIRED)
pkg_check_modules(TESSERACT REQUIRED IMPORTED_TARGET tesseract lept)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale libswresample)
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
# The rendering plugin only (never the platform library itself).
pkg_check_modules(RENDERING REQUIRED IMPORTED_TARGET cairo pangocairo pango harfbuzz fontconfig)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
find_package(OpenSSL REQUIRED)
find_package(Freetype REQUIRED)
if(MORVIK_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(MORVIK_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
