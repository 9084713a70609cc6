// The names of temporary files, the same on every system:
// "vornhold-<process id>-<n>.tmp". They end in ".tmp", so they are never taken
// for a language file, and they tell which process made them.
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

// The process id in a temporary name, or 0 when `name` is not one.
inline long TemporaryNameOwner(std::string_view name) {
  if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return 0;
  name.remove_prefix(kTemporaryPrefix.size());
  name.remove_suffix(kTemporarySuffix.size());
  long owner = 0;
  std::size_t digits = 0;
  for (; digits < name.size() && digits < 10 && name[digits] >= '0' && name[digits] <= '9';
       ++digits) {
    owner = owner * 10 + (name[digits] - '0');
  }
  name.remove_prefix(digits);
  bool numbered = name.size() > 1 && name[0] == '-' &&
                  name.find_first_not_of("0123456789", 1) == std::string_view::npos;
  return digits > 0 && numbered ? owner : 0;
}

}  // namespace platform
