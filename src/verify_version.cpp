// Placeholder translation unit so the library exists before any subsystem has sources.
namespace morvik_verify_detail {
int version() { return 1; }
}  // namespace morvik_verify_detail
