// The "|"-separated filter strings of the open-file dialogs.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct FileFilter {
  std::string description;            // "MR Image Files (*.mhd)"
  std::vector<std::string> patterns;  // {"*.mhd"}
};

// Splits "description|pattern|description|pattern|...||" into its pairs. The
// list ends at the first empty description (the closing empty pair) or at the
// end of the text; a description without a pattern is dropped. Several
// patterns in one pair are separated by ";".
std::vector<FileFilter> ParseFileFilter(const std::string& filter);

// The filter in the "description (patterns)" form of Qt's file dialog. The
// patterns are added in parentheses unless the description already ends with
// exactly them.
std::string ToNameFilter(const FileFilter& filter);

// The name a file dialog returns for a typed name: a name of a file that does
// not exist and has no suffix takes the suffix of the chosen filter's first
// pattern ("seg" under "NIfTI (*.nii.gz *.nii)" becomes "seg.nii.gz"), as
// users of every save dialog expect; anything else is returned as it is.
// Patterns without a plain suffix ("*.*", "*") add nothing.
std::string WithFilterSuffix(const std::string& path, const FileFilter& chosen, bool exists);

}  // namespace platform
