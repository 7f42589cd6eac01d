#include <morvik/platform/foundation/AttributedString.h>

#include <algorithm>

namespace foundation {

NSAttributedString::NSAttributedString(std::string text, TextAttributes attributes) : text_(std::move(text)) {
  if (!text_.empty()) runs_.push_back({NSRange{0, text_.size()}, std::move(attributes)});
}

void NSAttributedString::normalise() {
  std::vector<AttributedRun> merged;
  merged.reserve(runs_.size());
  for (auto& run : runs_) {
    if (run.range.length == 0) continue;
    if (!merged.empty() && merged.back().attributes == run.attributes) {
      merged.back().range.length += run.range.length;
    } else {
      merged.push_back(std::move(run));
    }
  }
  runs_ = std::move(merged);
}

TextAttributes NSAttributedString::attributes(std::size_t at, NSRange* effectiveRange) const {
  const auto it = std::upper_bound(runs_.begin(), runs_.end(), at,
                                   [](std::size_t i, const AttributedRun& r) { return i < r.range.end(); });
  if (it == runs_.end() || at < it->range.location) {
    if (effectiveRange) *effectiveRange = NSRange{NSNotFound, 0};
    return {};
  }
  if (effectiveRange) *effectiveRange = it->range;
  return it->attributes;
}

NSRange NSMutableAttributedString::range(std::string_view of) const {
  if (of.empty()) return NSRange{NSNotFound, 0};
  const auto pos = text_.find(of);
  if (pos == std::string::npos) return NSRange{NSNotFound, 0};
  return NSRange{pos, of.size()};
}

void NSMutableAttributedString::append(const NSAttributedString& other) {
  const std::size_t offset = text_.size();
  text_ += other.string();
  // Both sides are already normalised: only the seam can need merging.
  for (auto run : other.runs()) {
    if (run.range.length == 0) continue;
    run.range.location += offset;
    if (!runs_.empty() && runs_.back().attributes == run.attributes) {
      runs_.back().range.length += run.range.length;
    } else {
      runs_.push_back(std::move(run));
    }
  }
}

void NSMutableAttributedString::addLink(std::string link, NSRange range) {
  modifyAttributes(range, [&](TextAttributes& a) { a.link = link; });
}

void NSMutableAttributedString::splitAt(std::size_t index) {
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    auto& run = runs_[i];
    if (index > run.range.location && index < run.range.end()) {
      AttributedRun tail{NSRange{index, run.range.end() - index}, run.attributes};
      run.range.length = index - run.range.location;
      runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
      return;
    }
  }
}

}  // namespace foundation
