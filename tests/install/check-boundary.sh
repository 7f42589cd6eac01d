#!/usr/bin/env bash
# Checks the installed package's boundary: no internal header is installed and
# the SDK library exports neither the test hooks nor an internal class.
# Usage: tests/install/check-boundary.sh <install prefix>
set -euo pipefail
cd "$(dirname "$0")/../.."
prefix=$1
include=$prefix/include
lib=$(find "$prefix" -name 'libmorvik_verify.so' | head -n 1)
status=0

[ -f "$include/morvik/MorvikVerify.h" ] || { echo "boundary: public umbrella header not installed"; status=1; }
[ -n "$lib" ] || { echo "boundary: libmorvik_verify.so not installed"; exit 1; }

# Every internal header keeps its include path, so it must not appear under it.
while IFS= read -r header; do
  rel=${header#src/internal/}
  if [ -e "$include/$rel" ]; then
    echo "boundary: internal header installed: $rel"
    status=1
  fi
done < <(find src/internal -name '*.h')

# The SDK entry's installed header shows only what hosts call: the routines
# that hand a host its outcome, the stored address and completion, Close and
# the face road stay behind MorvikVerify::Internal, defined inside the library.
internals='completeVerification|completeWithError|setCompletionHandler|completionHandler|currentEmail|'
internals+='deliver|dismissVerification|finishCancelled|handleFaceCapture|handleReverify|'
internals+='finishFaceVerification|finishWithFailure|config\(\)|MorvikFlowRecord|class MorvikVerify::Internal'
entry=("$include/morvik/flow/MorvikVerify.h" "$include/morvik/flow/MorvikTypes.h")
if leaks=$(grep -nE -- "\b($internals)" "${entry[@]}" | grep -vE ':[0-9]+: *//'); then
  echo "boundary: installed headers name internal routines of the SDK entry:"
  head -n 5 <<<"$leaks"
  status=1
fi

exported=$(nm -D --defined-only "$lib" | c++filt)
# Internal names may appear only inside library templates instantiated for an
# internal lambda (std::thread's state for a worker thread, say); never as a
# function or object of their own.
own=$(grep -v -E ' [A-Za-z] (typeinfo|typeinfo name|vtable) for std::' <<<"$exported" || true)
for pattern in 'ForTesting' 'morvik::MorvikVerify::Internal::' 'morvik::MorvikFlow' 'morvik::APIManager::' 'morvik::AuthServices::' 'foundation::CodingKeys<morvik::Response>'; do
  if grep -F -- "$pattern" <<<"$own" >/dev/null; then
    echo "boundary: libmorvik_verify.so exports $pattern:"
    grep -F -- "$pattern" <<<"$own" | head -n 3
    status=1
  fi
done
# The public API itself is still there.
grep -F 'morvik::IDCaptureVC::make' <<<"$exported" >/dev/null || { echo "boundary: IDCaptureVC not exported"; status=1; }

[ "$status" = 0 ] && echo "boundary: $(grep -c . <<<"$exported") exported symbols, no internal header or hook"
exit "$status"
