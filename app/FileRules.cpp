#include "app/FileRules.h"

std::string WithMhdExtension(const std::string& path) {
  const auto dot = path.rfind('.');
  const std::string extension = dot == std::string::npos ? path : path.substr(dot + 1);
  return extension == "mhd" ? path : path + ".mhd";
}
