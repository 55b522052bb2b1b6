#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// GNOME switches input sources by layout group within one keymap, and tells the group in
// force only to the focused window. GNOME Shell builds that keymap from the input-sources
// settings and keeps the source in force first in their most-recently-used list: the group
// follows from the two.
namespace gnome {

using InputSource = std::pair<std::string, std::string>; // type ("xkb", "ibus"), id ("de+nodeadkeys")

/// The group of the source in force: GNOME Shell puts the distinct layouts of the sources, in
/// their order, three to a keymap (the fourth group is kept for the interface language's
/// layout). Nothing where a source's layout is not known here (an input method's).
std::optional<std::uint32_t> layoutGroup(const std::vector<InputSource> &sources,
                                         const std::vector<InputSource> &mostRecent);

/// The same from the session's settings; nothing where they are not GNOME's or cannot be read.
std::optional<std::uint32_t> activeLayoutGroup();

} // namespace gnome
