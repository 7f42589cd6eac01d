// Placeholder translation unit so the library exists before any layer has sources.
namespace morvik_platform_detail {
int version() { return 1; }
}  // namespace morvik_platform_detail
