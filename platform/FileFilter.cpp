#include "platform/FileFilter.h"

namespace platform {

namespace {
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    const auto end = text.find(separator, start);
    if (end == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}
}  // namespace

std::vector<FileFilter> ParseFileFilter(const std::string& filter) {
  std::vector<FileFilter> filters;
  const auto fields = Split(filter, '|');
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
    if (fields[i].empty()) break;
    FileFilter entry;
    entry.description = fields[i];
    for (const auto& pattern : Split(fields[i + 1], ';')) {
      if (!pattern.empty()) entry.patterns.push_back(pattern);
    }
    if (!entry.patterns.empty()) filters.push_back(std::move(entry));
  }
  return filters;
}

std::string ToNameFilter(const FileFilter& filter) {
  std::string patterns;
  for (const auto& pattern : filter.patterns) {
    if (!patterns.empty()) patterns += ' ';
    patterns += pattern;
  }
  const std::string suffix = "(" + patterns + ")";
  const auto& d = filter.description;
  if (d.size() >= suffix.size() && d.compare(d.size() - suffix.size(), suffix.size(), suffix) == 0) return d;
  return d + " " + suffix;
}

std::string WithFilterSuffix(const std::string& path, const FileFilter& chosen, bool exists) {
  if (exists || chosen.patterns.empty()) return path;
  const std::string& pattern = chosen.patterns.front();
  if (pattern.size() < 3 || pattern.compare(0, 2, "*.") != 0) return path;
  const std::string suffix = pattern.substr(1);
  if (suffix.find_first_of("*?[]") != std::string::npos) return path;
  const auto slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name.find('.') != std::string::npos) return path;
  return path + suffix;
}

}  // namespace platform
