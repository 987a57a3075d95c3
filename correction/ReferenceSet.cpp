#include "correction/ReferenceSet.h"

#include <vtkMatrix4x4.h>
#include <vtkNew.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "correction/CorrectionDriver.h"
#include "correction/LabelGeometry.h"
#include "correction/Registration.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRegistrationIterations = 100;

struct Entry {
  std::string name;
  fs::path path;
  bool directory = false;
};

// The entries of one folder sorted by name, byte-wise, so the walk gives the
// same list on every file system. False when the folder cannot be read.
bool ListFolder(const fs::path& folder, std::vector<Entry>& entries) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return false;
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    if (error) return false;
    std::error_code statusError;
    const bool directory = it->is_directory(statusError);
    entries.push_back({it->path().filename().string(), it->path(), directory && !statusError});
  }
  if (error) return false;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return true;
}

// Files of the folder first, then every sub-folder depth first. `ancestors`
// holds the folders being walked so a link back up the tree is not followed.
bool Walk(const fs::path& folder, const std::string& filterA, const std::string& filterB,
          std::vector<fs::path>& ancestors, std::vector<std::string>& paths) {
  std::vector<Entry> entries;
  if (!ListFolder(folder, entries)) return false;
  for (const Entry& e : entries)
    if (!e.directory && e.name.find(filterA) != std::string::npos &&
        e.name.find(filterB) != std::string::npos)
      paths.push_back(e.path.string());
  for (const Entry& e : entries) {
    if (!e.directory) continue;
    std::error_code error;
    const fs::path identity = fs::canonical(e.path, error);
    if (error || std::find(ancestors.begin(), ancestors.end(), identity) != ancestors.end()) continue;
    ancestors.push_back(identity);
    Walk(e.path, filterA, filterB, ancestors, paths);  // a folder that cannot be entered adds nothing
    ancestors.pop_back();
  }
  return true;
}

const char* Describe(ReferenceProblem problem) {
  switch (problem) {
    case ReferenceProblem::Unreadable:
      return "cannot be read";
    case ReferenceProblem::EmptyLabel:
      return "holds an empty label";
    case ReferenceProblem::NotRegistrable:
      return "cannot be registered";
    case ReferenceProblem::OutsideBox:
      return "does not cover the reference box";
    case ReferenceProblem::None:
      break;
  }
  return "";
}

}  // namespace

bool FindReferenceLabels(const std::string& directory, std::vector<std::string>& paths,
                         const std::string& filterA, const std::string& filterB) {
  // Full paths, so the list stays valid whatever the current directory becomes.
  std::error_code error;
  fs::path root = fs::absolute(fs::path(directory), error);
  if (error || directory.empty()) return false;
  while (root.has_relative_path() && (root.filename().empty() || root.filename() == "."))
    root = root.parent_path();
  std::vector<fs::path> ancestors;
  const fs::path identity = fs::canonical(root, error);
  if (!error) ancestors.push_back(identity);
  return Walk(root, filterA, filterB, ancestors, paths);
}

std::unique_ptr<CVoxel> RegisterReferenceLabel(const CVoxel& reference,
                                               const CBoundaryPoints& segmentationBoundary,
                                               const C3DPoint& segmentationSize, const C3DPoint& boxMinimum,
                                               const C3DPoint& boxSize, ReferenceProblem& problem) {
  problem = ReferenceProblem::None;
  if (!reference.HasData()) {
    problem = ReferenceProblem::Unreadable;
    return nullptr;
  }
  if (!HasForeground(reference)) {
    problem = ReferenceProblem::EmptyLabel;
    return nullptr;
  }
  // A label without a surface (one filling its whole volume) keeps the identity.
  const CBoundaryPoints referenceBoundary(reference);
  vtkNew<vtkMatrix4x4> matrix;
  RegisterSurfaces(referenceBoundary, segmentationBoundary, *matrix, kRegistrationIterations,
                   static_cast<int>(LandmarkMode::Affine));
  if (!IsUsableMatrix(*matrix)) {
    problem = ReferenceProblem::NotRegistrable;
    return nullptr;
  }
  const auto resampled =
      ResampleByMatrix(reference, *matrix, segmentationSize.x, segmentationSize.y, segmentationSize.z);
  auto cropped = Crop(*resampled, boxMinimum, boxSize);
  if (!cropped) problem = ReferenceProblem::OutsideBox;
  return cropped;
}

void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const C3DPoint& boxMinimum, const C3DPoint& boxSize, const VolumeLoader& load,
                             CVoxelList& registered, MessageSink& messages) {
  if (paths.empty()) {
    messages.ShowMessage("There are no reference labels !!");
    return;
  }
  // The segmentation's boundary is the same target for every reference.
  const CBoundaryPoints segmentationBoundary(segmentation);
  std::string skipped;
  for (const std::string& path : paths) {
    ReferenceProblem problem = ReferenceProblem::Unreadable;
    std::unique_ptr<CVoxel> cropped;
    if (const std::unique_ptr<CVoxel> reference = load(path))
      cropped = RegisterReferenceLabel(*reference, segmentationBoundary, segmentation.Size(), boxMinimum,
                                       boxSize, problem);
    if (cropped)
      registered.push_back(std::move(cropped));
    else
      skipped += "\n[" + path + "] " + Describe(problem);
  }
  if (!skipped.empty()) messages.ShowMessage("These reference labels are skipped:" + skipped);
}
