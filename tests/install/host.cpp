// Built against the installed headers and libraries only: configures nothing,
// but touches a public type of each kind so a missing header or symbol fails.
#include <morvik/MorvikVerify.h>
#include <morvik/platform/dispatch.h>

#include <cstdio>

int main() {
  const auto& steps = morvik::IDDocumentType::driversLicenseOrIDCard.steps();
  const auto screen = morvik::IDCaptureVC::make(morvik::IDDocumentType::driversLicenseOrIDCard, 0, steps.front());
  const auto reply = morvik::decodeJSON<morvik::Response>(std::string_view(R"({"success":true,"message":"ok"})"));
  std::printf("morvik-install-host: %zu steps, first \"%s\"; screen %s; reply message \"%s\"\n", steps.size(),
              steps.front().title().c_str(), screen->className().c_str(), reply.message.value_or("").c_str());
  return screen && reply.success.value_or(false) ? 0 : 1;
}
