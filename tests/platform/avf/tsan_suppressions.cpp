// ThreadSanitizer findings inside uninstrumented third-party libraries that
// this suite exercises; read only by TSan builds.
// - GDAL (loaded by OpenCV's image codecs) takes two of its own mutexes in
//   both orders while registering drivers, on one thread.
// - OpenCV's parallel_for hands work to its own pool threads through atomics
//   that TSan cannot see, so buffers passed to them look unsynchronised.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() { return "deadlock:libgdal.so\nrace:libopencv_\n"; }
