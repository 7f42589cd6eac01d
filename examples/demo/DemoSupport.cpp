#include "DemoSupport.h"

#include <morvik/api/APIManager.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/quartz.h>
#include <morvik/platform/uikit/UIRendering.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>

#include "api/models/FullVerdictReply.h"
#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/Generators.h"
#include "fixtures/ui/ViewSearch.h"

namespace demo {

namespace gen = fixtures::generators;
using fixtures::ReceivedRequest;
using fixtures::ScriptedReply;

// ----- The verification server ----------------------------------------------------

namespace {

bool isJPEG(const fixtures::ReceivedPart& part) {
  return part.bytes.size() > 3 && static_cast<unsigned char>(part.bytes[0]) == 0xFF &&
         static_cast<unsigned char>(part.bytes[1]) == 0xD8 && part.contentType == "image/jpeg";
}

ScriptedReply refusal(int status, const std::string& message) {
  return ScriptedReply::json(status, nlohmann::json{{"success", false}, {"message", message}}.dump());
}

// What the server would say about a request; empty when it accepts it.
std::string checkRequest(const ReceivedRequest& request, const std::string& apiKey,
                         const std::vector<std::string>& images, const std::vector<std::string>& texts) {
  if (request.method != "POST") return "Method not allowed";
  if (!request.isMultipart || !request.multipartWellFormed) return "Expected multipart/form-data";
  for (const auto& name : images) {
    const auto* part = request.part(name);
    if (!part || !part->fileName || !isJPEG(*part)) return "Missing or unreadable image: " + name;
  }
  for (const auto& name : texts) {
    const auto* part = request.part(name);
    if (!part || part->fileName) return "Missing field: " + name;
  }
  if (const auto* email = request.part("email"); email->bytes.find('@') == std::string::npos)
    return "A valid email is required";
  (void)apiKey;
  return {};
}

}  // namespace

std::unique_ptr<fixtures::LoopbackServer> startVerificationServer(const std::string& apiKey) {
  auto server = std::make_unique<fixtures::LoopbackServer>(fixtures::LoopbackServer::Scheme::https);
  auto verdicts = std::make_shared<std::atomic<int>>(0);
  server->setHandler([apiKey, verdicts](const ReceivedRequest& request) {
    if (request.header("x-secret-key") != apiKey) return refusal(401, "Invalid API key");
    std::string problem;
    if (request.path == "/api/upload") {
      problem = checkRequest(request, apiKey, {"documentFront", "documentBack", "livePhoto"},
                             {"age", "documentType", "email"});
    } else if (request.path == "/api/reverify") {
      problem = checkRequest(request, apiKey, {"livePhoto"}, {"age", "email"});
    } else {
      return refusal(404, "Not found");
    }
    if (!problem.empty()) return refusal(400, problem);
    auto verdict = nlohmann::json::parse(morvik::samples::kFullVerdictReply);
    const int n = ++*verdicts;
    verdict["data"]["requestId"] = 41000 + n;
    verdict["data"]["diveResponse"]["requestId"] = "demo-" + std::to_string(41000 + n);
    verdict["message"] =
        request.path == "/api/upload" ? "Document verified successfully" : "Face verified successfully";
    // A licence read from its barcode, valid, with no machine-readable zone.
    auto& dive = verdict["data"]["diveResponse"];
    dive["document"]["expires"] = "08/31/2029";
    auto& checks = dive["documentVerificationResult"];
    checks["isDocumentExpired"] = false;
    checks["isOcrSuccess"] = true;
    checks["isPdf417Success"] = true;
    checks["isMrzSuccess"] = false;
    checks["isCommercialDriversLicense"] = false;
    checks["isNonDomicile"] = false;
    return ScriptedReply::json(200, verdict.dump());
  });
  return server;
}

bool writeServerView(const fixtures::LoopbackServer& server, const std::filesystem::path& folder) {
  bool ok = true;
  int n = 0;
  for (const auto& request : server.requests()) {
    ++n;
    const std::string stem = "upload-" + std::to_string(n);
    std::ofstream text(folder / (stem + ".txt"));
    text << request.method << ' ' << request.target << "\n";
    for (const auto& [name, value] : request.headers) {
      const bool secret =
          name.size() == 12 && std::equal(name.begin(), name.end(), "x-secret-key",
                                          [](char a, char b) { return std::tolower(a) == b; });
      text << name << ": " << (secret ? "(the demo's API key)" : value) << "\n";
    }
    text << "\n" << request.parts.size() << " parts, " << request.bodySize << " bytes\n";
    std::printf("  server received %s %s: ", request.method.c_str(), request.path.c_str());
    for (const auto& part : request.parts) {
      if (part.fileName) {
        const auto file = stem + "-" + part.name + ".jpg";
        std::ofstream image(folder / file, std::ios::binary);
        image.write(part.bytes.data(), static_cast<std::streamsize>(part.bytes.size()));
        ok = ok && static_cast<bool>(image);
        text << "  " << part.name << ": file \"" << *part.fileName << "\", " << part.contentType.value_or("?")
             << ", " << part.bytes.size() << " bytes -> " << file << "\n";
        std::printf("%s (%zu KB JPEG) ", part.name.c_str(), part.bytes.size() / 1024);
      } else {
        text << "  " << part.name << ": \"" << part.bytes << "\"\n";
        std::printf("%s=\"%s\" ", part.name.c_str(), part.bytes.c_str());
      }
    }
    std::printf("\n");
    ok = ok && static_cast<bool>(text);
  }
  return ok;
}

// ----- The person and the cameras ---------------------------------------------------

bool ScriptedPerson::prepare() {
  front_ = gen::makeSteadyCardScene(gen::CardContent::printed, 11, gen::Background::textured).bgr;
  back_ = gen::makeSteadyCardScene(gen::CardContent::pdf417, 12, gen::Background::textured).bgr;
  const cv::Mat photo = gen::loadFacePhoto();
  if (photo.empty()) return false;
  const auto turned = [&](double yaw) {
    gen::FaceTurnOptions options;
    options.yawRadians = yaw;
    options.faceWidthShare = 0.6;
    return gen::makeFaceTurn(photo, options).bgr;
  };
  // Turning to one's own left shows the nose to the camera image's right.
  centre_ = turned(0), left_ = turned(0.5), right_ = turned(-0.5);
  return true;
}

bool ScriptedPerson::registerCameras() {
  avf::VirtualCameraOptions options;
  options.portraitScene = true;
  options.brightnessNoise = 0.1;
  options.name = "Demo back camera";
  options.position = avf::AVCaptureDevice::Position::back;
  backCamera_ = avf::VirtualCamera::registerGenerator(
      [this](std::int64_t) {
        filmed();
        return fixtures::camera::bgrFrame(card_.load() == Card::front ? front_ : back_);
      },
      options);
  options.name = "Demo front camera";
  options.position = avf::AVCaptureDevice::Position::front;
  frontCamera_ = avf::VirtualCamera::registerGenerator(
      [this](std::int64_t) {
        filmed();
        const Pose pose = pose_.load();
        return fixtures::camera::bgrFrame(pose == Pose::left    ? left_
                                          : pose == Pose::right ? right_
                                                                : centre_);
      },
      options);
  return backCamera_ && frontCamera_;
}

void ScriptedPerson::unregisterCameras() {
  if (backCamera_) backCamera_->unregister();
  if (frontCamera_) frontCamera_->unregister();
  backCamera_.reset();
  frontCamera_.reset();
}

void ScriptedPerson::filmed() {
  if (!look_) return;
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  std::int64_t last = lastLook_.load();
  if (now - last < 100 || !lastLook_.compare_exchange_strong(last, now)) return;
  dispatch::DispatchQueue::main().async([this] { look_(); });
}

const cv::Mat& ScriptedPerson::scene(bool frontCamera) const {
  if (!frontCamera) return card_.load() == Card::front ? front_ : back_;
  const Pose pose = pose_.load();
  return pose == Pose::left ? left_ : pose == Pose::right ? right_ : centre_;
}

void ScriptedPerson::reactTo(const std::string& text) {
  if (text == "<< turn head left") pose_ = Pose::left;
  if (text == "turn head right >>") pose_ = Pose::right;
  if (text == "center your face") pose_ = Pose::centre;
}

// ----- A real camera for live use ----------------------------------------------------

// The real camera's newest frame, handed from its delegate queue to the
// demo cameras' delivering threads.
struct RealCameraBridge::Latest : avf::AVCaptureVideoDataOutputSampleBufferDelegate {
  std::mutex m;
  avf::CVPixelBufferRef frame;
  void captureOutput(avf::AVCaptureOutput&, const avf::CMSampleBufferRef& sample,
                     avf::AVCaptureConnection&) override {
    std::lock_guard lock(m);
    frame = sample->imageBuffer();
  }
  avf::VirtualFrame next() {
    {
      std::lock_guard lock(m);
      if (frame) return frame;
    }
    // Grey until the camera's first frame.
    static const cv::Mat grey(480, 640, CV_8UC3, cv::Scalar::all(96));
    return fixtures::camera::bgrFrame(grey);
  }
};

std::unique_ptr<RealCameraBridge> RealCameraBridge::start() {
  std::shared_ptr<avf::AVCaptureDevice> camera;
  for (const auto& device : avf::AVCaptureDevice::DiscoverySession(
                                {avf::AVCaptureDevice::DeviceType::external}, avf::AVMediaType::video,
                                avf::AVCaptureDevice::Position::unspecified)
                                .devices()) {
    if (device->uniqueID().rfind("v4l2:", 0) == 0) {
      camera = device;
      break;
    }
  }
  if (!camera) return nullptr;
  auto bridge = std::unique_ptr<RealCameraBridge>(new RealCameraBridge());
  bridge->name_ = camera->localizedName();
  bridge->latest_ = std::make_shared<Latest>();
  bridge->session_ = avf::AVCaptureSession::make();
  try {
    auto input = avf::AVCaptureDeviceInput::make(camera);
    auto output = avf::AVCaptureVideoDataOutput::make();
    output->setSampleBufferDelegate(bridge->latest_, dispatch::DispatchQueue("demo.real-camera"));
    if (!bridge->session_->canAddInput(input)) return nullptr;
    bridge->session_->beginConfiguration();
    bridge->session_->addInput(input);
    bridge->session_->addOutput(output);
    bridge->session_->commitConfiguration();
  } catch (const foundation::NSError&) {
    return nullptr;
  }
  bridge->session_->startRunning();
  if (!bridge->session_->isRunning()) return nullptr;
  // Shown as it comes: a desktop camera's picture is upright already.
  avf::VirtualCameraOptions options;
  options.portraitScene = true;
  options.name = "Demo back camera (" + bridge->name_ + ")";
  options.position = avf::AVCaptureDevice::Position::back;
  auto latest = bridge->latest_;
  bridge->back_ =
      avf::VirtualCamera::registerGenerator([latest](std::int64_t) { return latest->next(); }, options);
  options.name = "Demo front camera (" + bridge->name_ + ")";
  options.position = avf::AVCaptureDevice::Position::front;
  bridge->front_ =
      avf::VirtualCamera::registerGenerator([latest](std::int64_t) { return latest->next(); }, options);
  return bridge;
}

RealCameraBridge::~RealCameraBridge() {
  if (back_) back_->unregister();
  if (front_) front_->unregister();
  if (session_) session_->stopRunning();
}

// ----- Screens ------------------------------------------------------------------------

ScreenPictures::ScreenPictures(std::filesystem::path folder) : folder_(std::move(folder)) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
    const std::string name = entry.path().filename().string();
    // Only the pictures this demo names ("NN-screen.png").
    if (name.size() > 7 && std::isdigit(static_cast<unsigned char>(name[0])) &&
        std::isdigit(static_cast<unsigned char>(name[1])) && name[2] == '-' && entry.path().extension() == ".png") {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

void ScreenPictures::take(uikit::UIWindow& window, const std::string& name) {
  if (failed_) return;
  char number[16];
  std::snprintf(number, sizeof number, "%02d-", ++count_);
  const auto file = folder_ / (number + name + ".png");
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  window.layoutIfNeeded();
  constexpr double kScale = 2;
  const int w = static_cast<int>(std::ceil(window.bounds().width() * kScale));
  const int h = static_cast<int>(std::ceil(window.bounds().height() * kScale));
  auto pixels = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(std::max(0, w * h)));
  const uikit::RenderBuffer buffer{reinterpret_cast<std::uint8_t*>(pixels->data()), w, h, 4 * w};
  uikit::ViewRenderer renderer;
  if (ec || renderer.render(window, kScale, buffer).empty()) {
    std::printf("  (no picture of the screen: %s)\n", ec ? ec.message().c_str() : "nothing could be drawn");
    failed_ = true;
    return;
  }
  std::printf("  picture of the screen: %s\n", file.c_str());
  writers_.emplace_back([this, pixels, buffer, file] {
    const auto png = uikit::pngData(buffer);
    std::ofstream out(file, std::ios::binary);
    if (png)
      out.write(reinterpret_cast<const char*>(png->bytes()), static_cast<std::streamsize>(png->count()));
    if (png && out.flush()) ++written_;
  });
}

int ScreenPictures::finish() {
  for (auto& t : writers_) t.join();
  writers_.clear();
  return written_.load();
}

namespace {
// The camera preview layer of a screen, if it has one.
avf::AVCaptureVideoPreviewLayer* previewLayerIn(quartz::CALayer& layer) {
  if (auto* preview = dynamic_cast<avf::AVCaptureVideoPreviewLayer*>(&layer)) return preview;
  for (const auto& sub : layer.sublayers()) {
    if (auto* found = previewLayerIn(*sub)) return found;
  }
  return nullptr;
}
}  // namespace

void showInPreview(const std::shared_ptr<uikit::UIView>& screen, const cv::Mat& picture, bool mirrored) {
  auto* preview = screen ? previewLayerIn(*screen->layer()) : nullptr;
  if (!preview || picture.empty()) return;
  // A copy when mirrored: the picture is the camera's own scene.
  cv::Mat shown;
  if (mirrored) {
    cv::flip(picture, shown, 1);
  } else {
    shown = picture;
  }
  preview->setContents(gen::toCGImage(shown));
  preview->setContentsGravity(quartz::CALayer::ContentsGravity::resizeAspectFill);
}

bool outlineShown(const std::shared_ptr<uikit::UIView>& screen) {
  auto* preview = screen ? previewLayerIn(*screen->layer()) : nullptr;
  if (!preview) return false;
  for (const auto& sub : preview->sublayers()) {
    auto* shape = dynamic_cast<quartz::CAShapeLayer*>(sub.get());
    if (shape && shape->path() && !shape->path()->isEmpty() && shape->presentationOpacity() > 0.5)
      return true;
  }
  return false;
}

namespace {

bool shown(const std::shared_ptr<uikit::UIView>& view) {
  return view && !view->isHidden() && view->presentationAlpha() >= 0.01;  // what a person sees mid-animation
}

void collectTexts(const std::shared_ptr<uikit::UIView>& view, std::vector<std::string>& out) {
  if (!shown(view)) return;
  if (auto label = std::dynamic_pointer_cast<uikit::UILabel>(view);
      label && label->text() && !label->text()->empty())
    out.push_back(*label->text());
  for (const auto& sub : view->subviews()) collectTexts(sub, out);
}

void printView(const std::shared_ptr<uikit::UIView>& view, int depth) {
  if (!shown(view)) return;
  const std::string indent(2 + 2 * static_cast<std::size_t>(depth), ' ');
  if (auto button = std::dynamic_pointer_cast<uikit::UIButton>(view)) {
    const auto title = button->title(uikit::UIControlState::normal).value_or("");
    if (!title.empty()) {
      std::printf("%s[%s]%s\n", indent.c_str(), title.c_str(), button->isEnabled() ? "" : " (disabled)");
    }
    return;
  }
  if (auto field = std::dynamic_pointer_cast<swiftui::HostedTextField>(view)) {
    if (field->text().empty()) {
      std::printf("%s|            | (empty field, placeholder \"%s\")\n", indent.c_str(),
                  field->placeholder().c_str());
    } else {
      std::printf("%s| %s |\n", indent.c_str(), field->text().c_str());
    }
    return;
  }
  if (auto control = std::dynamic_pointer_cast<uikit::UIControl>(view)) {
    std::string line;
    for (const auto& text : visibleTexts(view)) line += (line.empty() ? "" : " | ") + text;
    std::printf("%s> %s%s\n", indent.c_str(), line.c_str(),
                control->isUserInteractionEnabled() ? "" : "  (locked)");
    return;
  }
  if (auto label = std::dynamic_pointer_cast<uikit::UILabel>(view)) {
    if (label->text() && !label->text()->empty())
      std::printf("%s\"%s\"\n", indent.c_str(), label->text()->c_str());
    return;
  }
  for (const auto& sub : view->subviews()) printView(sub, depth);
}

}  // namespace

std::vector<std::string> visibleTexts(const std::shared_ptr<uikit::UIView>& view) {
  std::vector<std::string> out;
  collectTexts(view, out);
  return out;
}

void printScreen(const std::shared_ptr<uikit::UIViewController>& screen) {
  if (!screen) return;
  std::printf("+-- %s", screen->className().c_str());
  const auto& item = screen->navigationItem();
  if (item.title) std::printf("  \"%s\"", item.title->c_str());
  if (item.leftBarButtonItem && item.leftBarButtonItem->systemItem())
    std::printf("  [%s]", uikit::toString(*item.leftBarButtonItem->systemItem()).c_str());
  std::printf("\n");
  printView(screen->view(), 0);
  std::printf("+--\n");
}

std::shared_ptr<uikit::UIButton> findButton(const std::shared_ptr<uikit::UIView>& view,
                                            const std::string& title) {
  return fixtures::ui::findButton(view, title, shown);
}

void pump(double seconds) {
  dispatch::MainLoop::runUntil([] { return false; }, seconds);
}

bool saveJPEG(const std::shared_ptr<uikit::UIImage>& image, const std::filesystem::path& path) {
  if (!image) return false;
  const auto jpeg = image->jpegData(0.9);
  if (!jpeg) return false;
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(jpeg->bytes()), static_cast<std::streamsize>(jpeg->count()));
  return static_cast<bool>(file);
}

std::string describe(const morvik::MorvikVerificationResult& result) {
  std::string text = result.isVerified() ? "verified" : "not verified";
  if (result.error()) text += " (" + result.error()->errorDescription() + ")";
  if (result.documentData() && result.documentData()->requestId)
    text += ", request " + std::to_string(*result.documentData()->requestId);
  return text;
}

}  // namespace demo
