// The names of temporary files, the same on every system:
// "vornhold-<process id>-<n>.tmp". They end in ".tmp", so they are never taken
// for a language file, and the process id keeps the names of runs on one
// system apart.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline constexpr std::string_view kTemporaryPrefix = "vornhold-";
inline constexpr std::string_view kTemporarySuffix = ".tmp";

inline std::string TemporaryName(const std::string& folder, char separator, long processId) {
  static unsigned long sequence = 0;
  return folder + separator + std::string(kTemporaryPrefix) + std::to_string(processId) + "-" +
         std::to_string(++sequence) + std::string(kTemporarySuffix);
}

// Whether `name` is one of those names, by any process.
template <typename Char>
bool IsTemporaryName(std::basic_string_view<Char> name) {
  auto digits = [&] {
    std::size_t count = 0;
    while (count < name.size() && name[count] >= Char('0') && name[count] <= Char('9')) ++count;
    name.remove_prefix(count);
    return count > 0;
  };
  auto skip = [&](std::string_view text) {
    if (name.size() < text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (name[i] != Char(text[i])) return false;
    }
    name.remove_prefix(text.size());
    return true;
  };
  return skip(kTemporaryPrefix) && digits() && skip("-") && digits() && skip(kTemporarySuffix) &&
         name.empty();
}

}  // namespace platform
