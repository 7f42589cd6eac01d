// Driving hosted views as a person would: find a button by its label and
// tap it, find a text field by its placeholder and type into it. Searches
// go depth first through visible views (hidden ones are skipped with their
// subviews) from the given root, e.g. the key window. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <morvik/platform/swiftui/Views.h>
#include <morvik/platform/uikit/UIButton.h>

namespace swiftui::testing {

std::shared_ptr<uikit::UIButton> findButton(const std::shared_ptr<uikit::UIView>& root,
                                            std::string_view label);
// Taps the button (touchUpInside); false when there is none or it is disabled.
bool tapButton(const std::shared_ptr<uikit::UIView>& root, std::string_view label);

std::shared_ptr<HostedTextField> findTextField(const std::shared_ptr<uikit::UIView>& root,
                                               std::string_view placeholder);
// Replaces the field's text as typing would; false when there is no field.
bool typeText(const std::shared_ptr<uikit::UIView>& root, std::string_view placeholder,
              const std::string& text);

// The first visible label showing exactly `text`.
std::shared_ptr<uikit::UILabel> findLabel(const std::shared_ptr<uikit::UIView>& root, std::string_view text);

}  // namespace swiftui::testing
