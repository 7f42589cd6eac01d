#include <algorithm>
#include <typeinfo>

#include "Internal.h"

namespace avf {

namespace detail {

// ----- Delivery gate -----------------------------------------------------------------------

void DeliveryGate::open() {
  std::lock_guard lock(m_);
  open_ = true;
  ++run_;
}

std::uint64_t DeliveryGate::run() const {
  std::lock_guard lock(m_);
  return run_;
}

bool DeliveryGate::enter(std::uint64_t run) {
  std::lock_guard lock(m_);
  if (!open_ || run != run_) return false;
  inside_.push_back(std::this_thread::get_id());
  return true;
}

void DeliveryGate::exit() {
  std::lock_guard lock(m_);
  auto it = std::find(inside_.begin(), inside_.end(), std::this_thread::get_id());
  if (it != inside_.end()) inside_.erase(it);
  cv_.notify_all();
}

void DeliveryGate::close() {
  std::unique_lock lock(m_);
  open_ = false;
  const auto self = std::this_thread::get_id();
  cv_.wait(lock,
           [&] { return std::all_of(inside_.begin(), inside_.end(), [&](auto id) { return id == self; }); });
}

// ----- Output access ----------------------------------------------------------------------

void OutputAccess::join(AVCaptureOutput& output, const std::weak_ptr<AVCaptureSession>& session,
                        std::shared_ptr<AVCaptureConnection> connection) {
  std::lock_guard lock(output.outputMutex_);
  output.session_ = session;
  output.connection_ = std::move(connection);
}

void OutputAccess::setConnection(AVCaptureOutput& output, std::shared_ptr<AVCaptureConnection> connection) {
  std::lock_guard lock(output.outputMutex_);
  output.connection_ = std::move(connection);
}

void OutputAccess::leave(AVCaptureOutput& output) {
  std::lock_guard lock(output.outputMutex_);
  output.session_.reset();
  output.connection_.reset();
}

bool OutputAccess::hasSession(const AVCaptureOutput& output) {
  std::lock_guard lock(output.outputMutex_);
  return !output.session_.expired();
}

std::shared_ptr<AVCaptureConnection> OutputAccess::connection(const AVCaptureOutput& output) {
  std::lock_guard lock(output.outputMutex_);
  return output.connection_;
}

// ----- Session core ----------------------------------------------------------------------------

std::shared_ptr<AVCaptureDevice> SessionCore::videoDeviceLocked() const {
  for (const auto& input : inputs) {
    if (auto di = std::dynamic_pointer_cast<AVCaptureDeviceInput>(input)) return di->device();
  }
  return nullptr;
}

CMSampleBufferRef SessionCore::latestFrame() const {
  std::lock_guard lock(m);
  return latest;
}

bool SessionCore::isRunning() const {
  std::lock_guard lock(m);
  return running;
}

void SessionCore::deliverFrame(const CMSampleBufferRef& frame) {
  std::vector<std::shared_ptr<AVCaptureOutput>> targets;
  {
    std::lock_guard lock(m);
    if (!running) return;
    latest = frame;
    targets = outputs;
  }
  for (const auto& output : targets) {
    auto connection = OutputAccess::connection(*output);
    if (connection && connection->isEnabled()) OutputAccess::frame(*output, frame, connection);
  }
}

}  // namespace detail

// ----- Inputs and connections --------------------------------------------------------------------

std::shared_ptr<AVCaptureDeviceInput> AVCaptureDeviceInput::make(
    const std::shared_ptr<AVCaptureDevice>& device) {
  if (!device) throw makeAVError(AVErrorDeviceNotConnected, "Cannot Open Camera: no device.");
  const auto status = AVCaptureDevice::authorizationStatus(AVMediaType::video);
  if (status == AVAuthorizationStatus::denied || status == AVAuthorizationStatus::restricted) {
    throw makeAVError(AVErrorApplicationIsNotAuthorizedToUseDevice,
                      "Cannot use " + device->localizedName() + ": camera access is not authorized.");
  }
  if (!device->isConnected() || !device->core().openable()) {
    throw makeAVError(AVErrorDeviceNotConnected,
                      "Cannot Open Camera: " + device->localizedName() + " is not available.");
  }
  return std::make_shared<AVCaptureDeviceInput>(device);
}

AVCaptureConnection::AVCaptureConnection(std::weak_ptr<AVCaptureDevice> device,
                                         AVCaptureVideoOrientation orientation,
                                         bool mirrorsFrontAutomatically)
    : device_(std::move(device)), orientation_(orientation), mirrorsFront_(mirrorsFrontAutomatically) {}

AVCaptureVideoOrientation AVCaptureConnection::videoOrientation() const {
  std::lock_guard lock(m_);
  return orientation_;
}

void AVCaptureConnection::setVideoOrientation(AVCaptureVideoOrientation orientation) {
  std::lock_guard lock(m_);
  orientation_ = orientation;
}

bool AVCaptureConnection::isVideoMirrored() const {
  std::lock_guard lock(m_);
  if (autoMirroring_) {
    auto device = device_.lock();
    return mirrorsFront_ && device && device->position() == AVCaptureDevice::Position::front;
  }
  return mirrored_;
}

void AVCaptureConnection::setVideoMirrored(bool mirrored) {
  std::lock_guard lock(m_);
  if (!autoMirroring_) mirrored_ = mirrored;
}

bool AVCaptureConnection::automaticallyAdjustsVideoMirroring() const {
  std::lock_guard lock(m_);
  return autoMirroring_;
}

void AVCaptureConnection::setAutomaticallyAdjustsVideoMirroring(bool automatic) {
  std::lock_guard lock(m_);
  if (autoMirroring_ && !automatic) {
    // Keep what was shown until the caller decides otherwise.
    auto device = device_.lock();
    mirrored_ = mirrorsFront_ && device && device->position() == AVCaptureDevice::Position::front;
  }
  autoMirroring_ = automatic;
}

bool AVCaptureConnection::isEnabled() const {
  std::lock_guard lock(m_);
  return enabled_;
}

void AVCaptureConnection::setEnabled(bool enabled) {
  std::lock_guard lock(m_);
  enabled_ = enabled;
}

bool AVCaptureConnection::isActive() const {
  auto device = device_.lock();
  return isEnabled() && device && device->isConnected();
}

// ----- Outputs (base) ---------------------------------------------------------------------------------

AVCaptureOutput::~AVCaptureOutput() = default;

std::shared_ptr<AVCaptureConnection> AVCaptureOutput::connection(AVMediaType with) const {
  if (with != AVMediaType::video) return nullptr;
  return detail::OutputAccess::connection(*this);
}

std::shared_ptr<AVCaptureSession> AVCaptureOutput::session() const {
  std::lock_guard lock(outputMutex_);
  return session_.lock();
}

// ----- Session ------------------------------------------------------------------------------------------

AVCaptureSession::AVCaptureSession() : core_(std::make_shared<detail::SessionCore>()) {}

std::shared_ptr<AVCaptureSession> AVCaptureSession::make() {
  auto session = std::shared_ptr<AVCaptureSession>(new AVCaptureSession());
  session->core_->owner = session;
  return session;
}

AVCaptureSession::~AVCaptureSession() {
  stopRunning();
  std::vector<std::shared_ptr<AVCaptureOutput>> outputs;
  {
    std::lock_guard lock(core_->m);
    outputs.swap(core_->outputs);
  }
  for (auto& o : outputs) detail::OutputAccess::leave(*o);
}

AVCaptureSession::Preset AVCaptureSession::sessionPreset() const {
  std::lock_guard lock(core_->m);
  return core_->preset;
}

void AVCaptureSession::setSessionPreset(Preset preset) {
  std::lock_guard lock(core_->m);
  core_->preset = preset;
}

bool AVCaptureSession::canSetSessionPreset(Preset) const { return true; }

void AVCaptureSession::beginConfiguration() {
  std::lock_guard lock(core_->m);
  ++core_->configDepth;
}

void AVCaptureSession::commitConfiguration() {
  std::lock_guard lock(core_->m);
  if (core_->configDepth > 0) --core_->configDepth;
}

bool AVCaptureSession::canAddInput(const std::shared_ptr<AVCaptureInput>& input) const {
  auto di = std::dynamic_pointer_cast<AVCaptureDeviceInput>(input);
  if (!di || !di->device()) return false;
  std::lock_guard lock(core_->m);
  for (const auto& existing : core_->inputs) {
    if (existing == input) return false;
    if (std::dynamic_pointer_cast<AVCaptureDeviceInput>(existing)) return false;  // one camera at a time
  }
  return true;
}

void AVCaptureSession::addInput(const std::shared_ptr<AVCaptureInput>& input) {
  if (!canAddInput(input)) return;
  auto device = std::static_pointer_cast<AVCaptureDeviceInput>(input)->device();
  std::vector<std::shared_ptr<AVCaptureOutput>> outputs;
  bool running = false;
  {
    std::lock_guard lock(core_->m);
    core_->inputs.push_back(input);
    outputs = core_->outputs;
    running = core_->running;
  }
  for (auto& o : outputs) {
    if (!detail::OutputAccess::connection(*o)) {
      detail::OutputAccess::setConnection(
          *o, std::make_shared<AVCaptureConnection>(device, detail::OutputAccess::defaultOrientation(*o)));
    }
  }
  if (running) {
    // Adding a camera to a running session starts it, as on the platform.
    std::lock_guard run(core_->runMutex);
    bool needed = false;
    {
      std::lock_guard lock(core_->m);
      needed = core_->running && !core_->attached;
    }
    if (needed && device->core().attach(core_, 0, 0)) {
      std::lock_guard lock(core_->m);
      core_->attached = std::shared_ptr<detail::DeviceCore>(device, &device->core());
    }
  }
}

void AVCaptureSession::removeInput(const std::shared_ptr<AVCaptureInput>& input) {
  std::shared_ptr<detail::DeviceCore> detachFrom;
  std::vector<std::shared_ptr<AVCaptureOutput>> outputs;
  bool freed = false;
  {
    std::lock_guard run(core_->runMutex);
    {
      std::lock_guard lock(core_->m);
      auto it = std::find(core_->inputs.begin(), core_->inputs.end(), input);
      if (it == core_->inputs.end()) return;
      core_->inputs.erase(it);
      outputs = core_->outputs;
      core_->preview.reset();
      detachFrom = std::move(core_->attached);
    }
    if (detachFrom) freed = detachFrom->detach(core_.get());
  }
  if (freed) detachFrom->handOver();
  for (auto& o : outputs) detail::OutputAccess::setConnection(*o, nullptr);
}

bool AVCaptureSession::canAddOutput(const std::shared_ptr<AVCaptureOutput>& output) const {
  if (!output || detail::OutputAccess::hasSession(*output)) return false;
  std::lock_guard lock(core_->m);
  for (const auto& existing : core_->outputs) {
    // One output of each kind per session.
    if (existing == output || typeid(*existing) == typeid(*output)) return false;
  }
  return true;
}

void AVCaptureSession::addOutput(const std::shared_ptr<AVCaptureOutput>& output) {
  if (!canAddOutput(output)) return;
  std::shared_ptr<AVCaptureDevice> device;
  bool running = false;
  {
    std::lock_guard lock(core_->m);
    core_->outputs.push_back(output);
    device = core_->videoDeviceLocked();
    running = core_->running;
  }
  std::shared_ptr<AVCaptureConnection> connection;
  if (device) {
    connection =
        std::make_shared<AVCaptureConnection>(device, detail::OutputAccess::defaultOrientation(*output));
  }
  detail::OutputAccess::join(*output, weak_from_this(), std::move(connection));
  if (running) detail::OutputAccess::started(*output);
}

void AVCaptureSession::removeOutput(const std::shared_ptr<AVCaptureOutput>& output) {
  bool running = false;
  {
    std::lock_guard lock(core_->m);
    auto it = std::find(core_->outputs.begin(), core_->outputs.end(), output);
    if (it == core_->outputs.end()) return;
    core_->outputs.erase(it);
    running = core_->running;
  }
  if (running) detail::OutputAccess::stopping(*output);
  detail::OutputAccess::leave(*output);
}

std::vector<std::shared_ptr<AVCaptureInput>> AVCaptureSession::inputs() const {
  std::lock_guard lock(core_->m);
  return core_->inputs;
}

std::vector<std::shared_ptr<AVCaptureOutput>> AVCaptureSession::outputs() const {
  std::lock_guard lock(core_->m);
  return core_->outputs;
}

namespace {
std::pair<int, int> presetSize(AVCaptureSession::Preset p) {
  using P = AVCaptureSession::Preset;
  switch (p) {
    case P::hd1280x720:
      return {1280, 720};
    case P::hd4K3840x2160:
      return {3840, 2160};
    case P::vga640x480:
      return {640, 480};
    case P::medium:
      return {480, 360};
    case P::low:
      return {192, 144};
    case P::inputPriority:
      return {0, 0};
    case P::photo:
      // Stills are 4:3, as a phone's photo preset gives; 1280 x 960 is the
      // 4:3 size webcams most often offer (the driver picks the nearest).
      return {1280, 960};
    default:
      return {1920, 1080};
  }
}
}  // namespace

void AVCaptureSession::startRunning() {
  std::lock_guard run(core_->runMutex);
  std::shared_ptr<AVCaptureDevice> device;
  std::vector<std::shared_ptr<AVCaptureOutput>> outputs;
  Preset preset;
  {
    std::lock_guard lock(core_->m);
    if (core_->running) return;
    core_->running = true;
    device = core_->videoDeviceLocked();
    outputs = core_->outputs;
    preset = core_->preset;
  }
  for (auto& o : outputs) detail::OutputAccess::started(*o);
  if (!device) return;
  const auto [w, h] = presetSize(preset);
  if (device->core().attach(core_, w, h)) {
    std::lock_guard lock(core_->m);
    // Aliasing pointer: keeps the device (and so its core) alive while attached.
    core_->attached = std::shared_ptr<detail::DeviceCore>(device, &device->core());
  }
}

void AVCaptureSession::stopRunning() {
  std::shared_ptr<detail::DeviceCore> attached;
  bool freed = false;
  {
    std::lock_guard run(core_->runMutex);
    std::vector<std::shared_ptr<AVCaptureOutput>> outputs;
    {
      std::lock_guard lock(core_->m);
      if (!core_->running) return;
      core_->running = false;
      attached = std::move(core_->attached);
      outputs = core_->outputs;
      core_->latest.reset();
    }
    // First the camera (waits for a frame in progress), then the outputs (wait
    // for delegate calls in progress and refuse queued ones).
    if (attached) freed = attached->detach(core_.get());
    for (auto& o : outputs) detail::OutputAccess::stopping(*o);
  }
  if (freed) attached->handOver();
}

bool AVCaptureSession::isRunning() const { return core_->isRunning(); }

std::shared_ptr<AVCaptureConnection> AVCaptureSession::previewConnection() {
  std::lock_guard lock(core_->m);
  auto device = core_->videoDeviceLocked();
  if (!device) return nullptr;
  if (!core_->preview) {
    core_->preview = std::make_shared<AVCaptureConnection>(device, AVCaptureVideoOrientation::portrait, true);
  }
  return core_->preview;
}

}  // namespace avf
