// The SDK's additions to the platform's runtime: the classes that interface
// files may name ("UIViewX", "NibView", "ImagePicker") and the class hooks
// of installExtensions().
//
// They are made by a call, not by a static initializer: in a program that
// links the SDK as a static library, an initializer in a file the program
// names nothing from is never linked, and the classes would silently be
// missing. Every way into the SDK calls loadRuntimeAdditions() (the
// MorvikVerify singleton, the resource bundle lookups every screen makes);
// the shared library also calls it when it is loaded. Any thread; the work
// is done once per process, and later calls return at once.
#pragma once

namespace morvik {

void loadRuntimeAdditions();

}  // namespace morvik
