#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "Internal.h"
#include "morvik/platform/dispatch/Dispatch.h"

namespace avf {

foundation::NSError makeAVError(AVErrorCode code, const std::string& description) {
  return foundation::NSError(AVFoundationErrorDomain, code, description);
}

double brightnessValue(double meanFullRangeLuma, double noise) {
  return std::log2(std::max(meanFullRangeLuma, 1.0) / 118.0) + 4.0 + noise;
}

namespace detail {

// ----- Device core -------------------------------------------------------------------

DeviceCore::DeviceCore(DeviceInfo i, std::unique_ptr<FrameSource> source)
    : info(std::move(i)), source_(std::move(source)), rng_(info.seed) {
  if (info.settleFrames <= 0) adjustingFocus_ = adjustingExposure_ = false;
}

DeviceCore::~DeviceCore() { stopPump(); }

bool DeviceCore::connected() const {
  std::lock_guard lock(m_);
  return connected_;
}

bool DeviceCore::ended() const {
  std::lock_guard lock(m_);
  return ended_;
}

std::uint64_t DeviceCore::delivered() const {
  std::lock_guard lock(m_);
  return delivered_;
}

bool DeviceCore::adjusting(AVCaptureDevice::KeyPath key) const {
  std::lock_guard lock(m_);
  return key == AVCaptureDevice::KeyPath::isAdjustingFocus ? adjustingFocus_ : adjustingExposure_;
}

bool DeviceCore::locked() const {
  std::lock_guard lock(m_);
  return locked_;
}

void DeviceCore::lock() {
  std::lock_guard lock(m_);
  if (!connected_) throw makeAVError(AVErrorDeviceNotConnected, "The device is not connected.");
  locked_ = true;
}

void DeviceCore::unlock() {
  std::lock_guard lock(m_);
  locked_ = false;
}

AVCaptureDevice::TorchMode DeviceCore::torchMode() const {
  std::lock_guard lock(m_);
  return torch_;
}

float DeviceCore::torchLevel() const {
  std::lock_guard lock(m_);
  return torchLevel_;
}

void DeviceCore::setTorch(AVCaptureDevice::TorchMode mode, float level) {
  std::vector<Change> changes;
  {
    std::lock_guard lock(m_);
    if (!info.hasTorch) throw std::logic_error("AVCaptureDevice: this device has no torch");
    if (!locked_) throw std::logic_error("AVCaptureDevice: torchMode set without lockForConfiguration()");
    const auto old = torch_;
    torch_ = mode;
    torchLevel_ = mode == AVCaptureDevice::TorchMode::off ? 0.0f : level;
    if (old != mode) {
      changes.push_back({AVCaptureDevice::KeyPath::torchMode, old == AVCaptureDevice::TorchMode::on,
                         mode == AVCaptureDevice::TorchMode::on});
    }
  }
  fire(changes);
}

std::uint64_t DeviceCore::addObserver(AVCaptureDevice::KeyPath key,
                                      AVCaptureDevice::BoolChangeHandler handler) {
  std::lock_guard lock(m_);
  const auto id = nextObserverID_++;
  observers_.push_back({id, key, std::make_shared<AVCaptureDevice::BoolChangeHandler>(std::move(handler))});
  return id;
}

void DeviceCore::removeObserver(std::uint64_t id) {
  std::lock_guard lock(m_);
  std::erase_if(observers_, [id](const Observer& o) { return o.id == id; });
}

void DeviceCore::setAdjustingLocked(bool value, std::vector<Change>& changes) {
  if (adjustingFocus_ != value) {
    changes.push_back({AVCaptureDevice::KeyPath::isAdjustingFocus, adjustingFocus_, value});
    adjustingFocus_ = value;
  }
  if (adjustingExposure_ != value) {
    changes.push_back({AVCaptureDevice::KeyPath::isAdjustingExposure, adjustingExposure_, value});
    adjustingExposure_ = value;
  }
}

void DeviceCore::fire(const std::vector<Change>& changes) {
  if (changes.empty()) return;
  auto device = owner.lock();
  if (!device) return;
  for (const auto& change : changes) {
    std::vector<std::shared_ptr<AVCaptureDevice::BoolChangeHandler>> handlers;
    {
      std::lock_guard lock(m_);
      for (const auto& o : observers_) {
        if (o.key == change.key) handlers.push_back(o.handler);
      }
    }
    for (const auto& h : handlers)
      (*h)(*device, NSKeyValueObservedChange<bool>{change.newValue, change.oldValue});
  }
}

bool DeviceCore::attach(const std::shared_ptr<SessionCore>& session, int preferredWidth,
                        int preferredHeight) {
  std::vector<Change> changes;
  {
    std::lock_guard produce(produceMutex_);
    {
      std::lock_guard lock(m_);
      if (!connected_) return false;
      if (auto current = sink_.lock(); current && current.get() != session.get()) {
        waiting_.push_back(session);
        return false;
      }
    }
    if (!source_->open(preferredWidth, preferredHeight)) return false;
    std::lock_guard lock(m_);
    sink_ = session;
    sinkID_ = session.get();
    framesThisRun_ = 0;
    // Each run starts with the camera adjusting focus and exposure.
    setAdjustingLocked(info.settleFrames > 0, changes);
  }
  if (!info.stepMode) {
    stopPump();
    std::lock_guard lock(pumpMutex_);
    const std::uint64_t generation = pumpGeneration_;
    pump_ = std::thread([this, generation] { pumpLoop(generation); });
  }
  fire(changes);
  return true;
}

bool DeviceCore::detach(const SessionCore* session) {
  {
    std::lock_guard lock(m_);
    if (sinkID_ != session) return false;
  }
  stopPump();
  std::lock_guard produce(produceMutex_);
  std::lock_guard lock(m_);
  if (sinkID_ != session) return false;
  sink_.reset();
  sinkID_ = nullptr;
  source_->close();
  return true;
}

// A screen's session often starts before the previous screen's session on the
// same camera has stopped; the camera goes to it once it is free, as a
// session resumes on the platform when its interruption ends. Lock order:
// the waiting session's runMutex, then the device's locks (as in startRunning);
// the session that let the camera go no longer holds its own.
void DeviceCore::handOver() {
  std::vector<std::weak_ptr<SessionCore>> waiting;
  {
    std::lock_guard lock(m_);
    waiting.swap(waiting_);
  }
  auto device = owner.lock();
  if (!device) return;
  for (auto it = waiting.begin(); it != waiting.end(); ++it) {
    auto session = it->lock();
    if (!session) continue;
    std::lock_guard run(session->runMutex);
    {
      std::lock_guard lock(session->m);
      if (!session->running || session->attached || session->videoDeviceLocked() != device) continue;
    }
    if (!attach(session, 0, 0)) continue;
    {
      std::lock_guard lock(session->m);
      session->attached = std::shared_ptr<DeviceCore>(device, this);
    }
    // The others go on waiting for this one.
    std::lock_guard lock(m_);
    waiting_.insert(waiting_.end(), std::next(it), waiting.end());
    return;
  }
}

void DeviceCore::disconnect() {
  {
    std::lock_guard lock(m_);
    connected_ = false;
  }
  stopPump();
  std::lock_guard produce(produceMutex_);
  std::lock_guard lock(m_);
  sink_.reset();
  sinkID_ = nullptr;
}

void DeviceCore::stopPump() {
  std::thread running;
  {
    std::lock_guard lock(pumpMutex_);
    ++pumpGeneration_;
    running = std::move(pump_);
  }
  pumpCv_.notify_all();
  if (running.joinable()) {
    // A stop requested from the capture thread itself (an observer stopping
    // the session) cannot join; the thread ends on its own.
    if (running.get_id() == std::this_thread::get_id()) {
      running.detach();
    } else {
      running.join();
    }
  }
}

void DeviceCore::pumpLoop(std::uint64_t generation) {
  using clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<clock::duration>(
      std::chrono::duration<double>(1.0 / std::max(info.frameRate, 1.0)));
  auto next = clock::now();
  const auto stopped = [&] { return pumpGeneration_ != generation; };
  for (;;) {
    {
      std::lock_guard lock(pumpMutex_);
      if (stopped()) return;
    }
    produceFrame();
    next += period;
    const auto now = clock::now();
    if (next < now) next = now;  // late: do not try to catch up with a burst
    std::unique_lock lock(pumpMutex_);
    if (pumpCv_.wait_until(lock, next, stopped)) return;
  }
}

bool DeviceCore::produceFrame() {
  std::vector<Change> changes;
  {
    std::lock_guard produce(produceMutex_);
    std::shared_ptr<SessionCore> sink;
    std::int64_t index = 0;
    {
      std::lock_guard lock(m_);
      if (!connected_ || ended_) return false;
      sink = sink_.lock();
      if (!sink) return false;
      index = sourceIndex_;
    }
    CVPixelBufferRef frame = source_->next(index);
    if (!frame && info.loop && index > 0 && source_->rewind()) {
      index = 0;
      frame = source_->next(0);
    }
    if (!frame) {
      std::lock_guard lock(m_);
      ended_ = true;
      return false;
    }
    if (info.portraitScene) frame = transformFrame(frame, 270, false, frame->pixelFormatType());
    const double luma = meanFullRangeLuma(frame);
    double noise = 0;
    std::int64_t pts = 0;
    {
      std::lock_guard lock(m_);
      if (info.brightnessNoise > 0) noise = std::normal_distribution<double>(0.0, info.brightnessNoise)(rng_);
      sourceIndex_ = index + 1;
      pts = ptsIndex_++;
    }
    constexpr std::int32_t kTimescale = 1'000'000;
    const double fps = std::max(info.frameRate, 1.0);
    auto sample = CMSampleBuffer::make(frame, CMTimeMake(std::llround(pts * kTimescale / fps), kTimescale),
                                       CMTimeMake(std::llround(kTimescale / fps), kTimescale));
    sample->setAttachment(
        kCGImagePropertyExifDictionary,
        CFValue(CFDictionary{{kCGImagePropertyExifBrightnessValue, brightnessValue(luma, noise)}}),
        kCMAttachmentMode_ShouldPropagate);
    sink->deliverFrame(sample);
    std::lock_guard lock(m_);
    ++delivered_;
    ++framesThisRun_;
    if (framesThisRun_ == info.settleFrames) setAdjustingLocked(false, changes);
  }
  fire(changes);
  return true;
}

// ----- Registry -------------------------------------------------------------------------

namespace {

struct Registry {
  std::mutex m;
  std::vector<std::shared_ptr<AVCaptureDevice>> virtuals;
  std::vector<std::shared_ptr<AVCaptureDevice>> reals;
  bool scanned = false;
  std::atomic<AVAuthorizationStatus> status{AVAuthorizationStatus::authorized};
};

Registry& registry() {
  static Registry* r = new Registry();  // never destroyed: devices may outlive static destruction
  return *r;
}

// Real cameras: V4L2 capture nodes, scanned once.
void scanRealCameras(Registry& r) {
  if (r.scanned) return;
  r.scanned = true;
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<int> indices;
  for (const auto& entry : fs::directory_iterator("/dev", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("video", 0) != 0) continue;
    try {
      indices.push_back(std::stoi(name.substr(5)));
    } catch (...) {
    }
  }
  std::sort(indices.begin(), indices.end());
  for (int index : indices) {
    auto source = makeRealCameraSource(index);
    if (!source || !source->openable()) continue;
    DeviceInfo info;
    info.uniqueID = "v4l2:" + std::to_string(index);
    info.name = "Camera /dev/video" + std::to_string(index);
    info.type = AVCaptureDevice::DeviceType::external;
    info.position = AVCaptureDevice::Position::unspecified;
    info.settleFrames = 5;
    info.isVirtual = false;
    auto core = std::make_shared<DeviceCore>(std::move(info), std::move(source));
    auto device = std::make_shared<AVCaptureDevice>(core);
    core->owner = device;
    r.reals.push_back(device);
  }
}

bool matches(const AVCaptureDevice& d, const std::vector<AVCaptureDevice::DeviceType>& types,
             std::optional<AVMediaType> media, AVCaptureDevice::Position position) {
  if (media && !d.hasMediaType(*media)) return false;
  if (!types.empty() && std::find(types.begin(), types.end(), d.deviceType()) == types.end()) return false;
  return position == AVCaptureDevice::Position::unspecified || d.position() == position;
}

}  // namespace

void registerVirtualDevice(const std::shared_ptr<AVCaptureDevice>& device) {
  auto& r = registry();
  std::lock_guard lock(r.m);
  r.virtuals.push_back(device);
}

void unregisterVirtualDevice(const AVCaptureDevice* device) {
  auto& r = registry();
  std::lock_guard lock(r.m);
  std::erase_if(r.virtuals, [device](const auto& d) { return d.get() == device; });
}

std::vector<std::shared_ptr<AVCaptureDevice>> allDevices() {
  auto& r = registry();
  std::lock_guard lock(r.m);
  scanRealCameras(r);
  auto out = r.virtuals;
  out.insert(out.end(), r.reals.begin(), r.reals.end());
  return out;
}

}  // namespace detail

// ----- Key-value observation -------------------------------------------------------------

NSKeyValueObservation::~NSKeyValueObservation() { invalidate(); }

void NSKeyValueObservation::invalidate() {
  std::function<void()> cancel;
  {
    std::lock_guard lock(m_);
    cancel = std::move(cancel_);
    cancel_ = nullptr;
  }
  if (cancel) cancel();
}

// ----- AVCaptureDevice --------------------------------------------------------------------

AVCaptureDevice::AVCaptureDevice(std::shared_ptr<detail::DeviceCore> core) : core_(std::move(core)) {}
AVCaptureDevice::~AVCaptureDevice() = default;

std::shared_ptr<AVCaptureDevice> AVCaptureDevice::default_(DeviceType deviceType,
                                                           std::optional<AVMediaType> mediaType,
                                                           Position position) {
  for (auto& d : detail::allDevices()) {
    if (detail::matches(*d, {deviceType}, mediaType, position)) return d;
  }
  return nullptr;
}

std::shared_ptr<AVCaptureDevice> AVCaptureDevice::default_(AVMediaType mediaType) {
  for (auto& d : detail::allDevices()) {
    if (d->hasMediaType(mediaType)) return d;
  }
  return nullptr;
}

AVCaptureDevice::DiscoverySession::DiscoverySession(std::vector<DeviceType> deviceTypes,
                                                    std::optional<AVMediaType> mediaType, Position position)
    : types_(std::move(deviceTypes)), media_(mediaType), position_(position) {}

std::vector<std::shared_ptr<AVCaptureDevice>> AVCaptureDevice::DiscoverySession::devices() const {
  std::vector<std::shared_ptr<AVCaptureDevice>> out;
  if (types_.empty()) return out;  // the platform requires at least one type
  for (auto& d : detail::allDevices()) {
    if (detail::matches(*d, types_, media_, position_)) out.push_back(d);
  }
  return out;
}

AVAuthorizationStatus AVCaptureDevice::authorizationStatus(AVMediaType) {
  return detail::registry().status.load();
}

void AVCaptureDevice::requestAccess(AVMediaType mediaType, std::function<void(bool)> completionHandler) {
  if (!completionHandler) return;
  const bool granted = authorizationStatus(mediaType) == AVAuthorizationStatus::authorized ||
                       authorizationStatus(mediaType) == AVAuthorizationStatus::notDetermined;
  dispatch::DispatchQueue::global(dispatch::DispatchQoS::default_)
      .async([granted, handler = std::move(completionHandler)] { handler(granted); });
}

void AVCaptureDevice::setAuthorizationStatusForTesting(AVAuthorizationStatus status) {
  detail::registry().status.store(status);
}

const std::string& AVCaptureDevice::uniqueID() const { return core_->info.uniqueID; }
const std::string& AVCaptureDevice::localizedName() const { return core_->info.name; }
AVCaptureDevice::DeviceType AVCaptureDevice::deviceType() const { return core_->info.type; }
AVCaptureDevice::Position AVCaptureDevice::position() const { return core_->info.position; }
bool AVCaptureDevice::isConnected() const { return core_->connected(); }
double AVCaptureDevice::frameRate() const { return core_->info.frameRate; }

void AVCaptureDevice::lockForConfiguration() { core_->lock(); }
void AVCaptureDevice::unlockForConfiguration() { core_->unlock(); }
bool AVCaptureDevice::isLockedForConfiguration() const { return core_->locked(); }

bool AVCaptureDevice::hasTorch() const { return core_->info.hasTorch; }
bool AVCaptureDevice::isTorchAvailable() const { return core_->info.hasTorch && core_->connected(); }
bool AVCaptureDevice::isTorchActive() const { return isTorchAvailable() && torchMode() == TorchMode::on; }
AVCaptureDevice::TorchMode AVCaptureDevice::torchMode() const { return core_->torchMode(); }
void AVCaptureDevice::setTorchMode(TorchMode mode) {
  core_->setTorch(mode, mode == TorchMode::off ? 0.0f : 1.0f);
}
bool AVCaptureDevice::isTorchModeSupported(TorchMode) const { return core_->info.hasTorch; }
float AVCaptureDevice::torchLevel() const { return core_->torchLevel(); }

void AVCaptureDevice::setTorchModeOn(float level) {
  if (!(level > 0.0f && level <= maxAvailableTorchLevel)) {
    throw std::invalid_argument("AVCaptureDevice: torch level must be in (0, 1]");
  }
  core_->setTorch(TorchMode::on, level);
}

bool AVCaptureDevice::hasFlash() const { return core_->info.hasFlash; }
bool AVCaptureDevice::isFlashAvailable() const { return core_->info.hasFlash && core_->connected(); }

bool AVCaptureDevice::isAdjustingFocus() const { return core_->adjusting(KeyPath::isAdjustingFocus); }
bool AVCaptureDevice::isAdjustingExposure() const { return core_->adjusting(KeyPath::isAdjustingExposure); }

std::shared_ptr<NSKeyValueObservation> AVCaptureDevice::observe(KeyPath keyPath,
                                                                NSKeyValueObservingOptions options,
                                                                BoolChangeHandler changeHandler) {
  if (!changeHandler) return nullptr;
  if (options.initial) {
    bool value = false;
    switch (keyPath) {
      case KeyPath::isAdjustingFocus:
        value = isAdjustingFocus();
        break;
      case KeyPath::isAdjustingExposure:
        value = isAdjustingExposure();
        break;
      case KeyPath::torchMode:
        value = torchMode() == TorchMode::on;
        break;
    }
    changeHandler(*this, NSKeyValueObservedChange<bool>{value, std::nullopt});
  }
  const auto id = core_->addObserver(keyPath, std::move(changeHandler));
  std::weak_ptr<detail::DeviceCore> weakCore = core_;
  return std::shared_ptr<NSKeyValueObservation>(new NSKeyValueObservation([weakCore, id] {
    if (auto core = weakCore.lock()) core->removeObserver(id);
  }));
}

// ----- Virtual cameras ---------------------------------------------------------------------

namespace {

std::shared_ptr<VirtualCamera> makeVirtual(std::unique_ptr<detail::FrameSource> source,
                                           const VirtualCameraOptions& o) {
  if (!source) return nullptr;
  static std::atomic<int> counter{0};
  detail::DeviceInfo info;
  info.uniqueID = "virtual:" + std::to_string(++counter);
  info.name = o.name;
  info.type = o.deviceType;
  info.position = o.position;
  info.frameRate = o.frameRate > 0 ? o.frameRate : 30;
  info.stepMode = o.stepMode;
  info.hasTorch = o.hasTorch;
  info.hasFlash = o.hasFlash;
  info.settleFrames = std::max(o.settleFrames, 0);
  info.loop = o.loop;
  info.portraitScene = o.portraitScene;
  info.brightnessNoise = std::max(o.brightnessNoise, 0.0);
  info.seed = o.seed;
  auto core = std::make_shared<detail::DeviceCore>(std::move(info), std::move(source));
  auto device = std::make_shared<AVCaptureDevice>(core);
  core->owner = device;
  detail::registerVirtualDevice(device);
  return std::make_shared<VirtualCamera>(device);
}

}  // namespace

std::shared_ptr<VirtualCamera> VirtualCamera::registerGenerator(FrameGenerator generator,
                                                                VirtualCameraOptions options) {
  if (!generator) return nullptr;
  return makeVirtual(detail::makeGeneratorSource(std::move(generator)), options);
}

std::shared_ptr<VirtualCamera> VirtualCamera::registerVideoFile(const std::string& path,
                                                                VirtualCameraOptions options) {
  return makeVirtual(detail::makeVideoFileSource(path), options);
}

std::shared_ptr<VirtualCamera> VirtualCamera::registerImageFolder(const std::string& path,
                                                                  VirtualCameraOptions options) {
  return makeVirtual(detail::makeImageFolderSource(path), options);
}

void VirtualCamera::unregisterAll() {
  std::vector<std::shared_ptr<AVCaptureDevice>> devices;
  {
    auto& r = detail::registry();
    std::lock_guard lock(r.m);
    devices.swap(r.virtuals);
  }
  for (auto& d : devices) d->core().disconnect();
}

VirtualCamera::~VirtualCamera() = default;

void VirtualCamera::unregister() {
  detail::unregisterVirtualDevice(device_.get());
  device_->core().disconnect();
}

bool VirtualCamera::deliverNextFrame() {
  if (!device_->core().info.stepMode) return false;
  return device_->core().produceFrame();
}

std::uint64_t VirtualCamera::deliveredFrameCount() const { return device_->core().delivered(); }
bool VirtualCamera::hasEnded() const { return device_->core().ended(); }

}  // namespace avf
