// ImagePicker: an object with no behaviour. Internal; reachable by
// interface files as "ImagePicker".
#pragma once

namespace morvik {

class ImagePicker {
 public:
  ImagePicker() = default;
};

}  // namespace morvik
