#include "correction/ReferenceSet.h"

#include <sys/stat.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "correction/CorrectionDriver.h"
#include "correction/LabelGeometry.h"
#include "correction/Registration.h"
#include "fusion/Parallel.h"

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

// Which folder an entry is, whatever path leads to it.
struct FolderIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator<(const FolderIdentity& o) const {
    return device != o.device ? device < o.device : inode < o.inode;
  }
};

bool IdentityOf(const fs::path& folder, FolderIdentity& identity) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  identity = {st.st_dev, st.st_ino};
  return true;
}

// Files of a folder first, then every sub-folder depth first, as a recursive
// walk would give them, but with an explicit stack so that no depth of folders
// can exhaust the call stack. A folder reached a second time (through a link)
// is not walked again, and the walk never leaves the root's file system, so a
// link to /proc or a network mount cannot keep it busy.
bool Walk(const fs::path& root, const std::string& filterA, const std::string& filterB,
          std::vector<std::string>& paths) {
  FolderIdentity rootIdentity;
  if (!IdentityOf(root, rootIdentity)) return false;
  std::set<FolderIdentity> visited;
  std::vector<fs::path> pending{root};
  bool rootRead = false;
  while (!pending.empty()) {
    const fs::path folder = std::move(pending.back());
    pending.pop_back();
    FolderIdentity identity;
    const bool isRoot = !rootRead;
    rootRead = true;
    if (!IdentityOf(folder, identity) || identity.device != rootIdentity.device) continue;
    if (!visited.insert(identity).second) continue;
    std::vector<Entry> entries;
    if (!ListFolder(folder, entries)) {
      if (isRoot) return false;
      continue;  // a folder that cannot be entered adds nothing
    }
    for (const Entry& e : entries)
      if (!e.directory && e.name.find(filterA) != std::string::npos &&
          e.name.find(filterB) != std::string::npos)
        paths.push_back(e.path.string());
    // Pushed last to first, so the first sub-folder is walked next.
    for (auto e = entries.rbegin(); e != entries.rend(); ++e)
      if (e->directory) pending.push_back(e->path);
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
  return Walk(root, filterA, filterB, paths);
}

std::unique_ptr<CVoxel> RegisterReferenceLabel(const CVoxel& reference,
                                               const CBoundaryPoints& segmentationBoundary,
                                               const C3DPoint& segmentationSize, const C3DPoint& boxMinimum,
                                               const C3DPoint& boxSize, ReferenceProblem& problem,
                                               CorrectionTimes* times) {
  problem = ReferenceProblem::None;
  if (!reference.HasData()) {
    problem = ReferenceProblem::Unreadable;
    return nullptr;
  }
  if (!HasForeground(reference)) {
    problem = ReferenceProblem::EmptyLabel;
    return nullptr;
  }
  StageClock clock(times);
  // A label without a surface (one filling its whole volume) keeps the identity.
  const CBoundaryPoints referenceBoundary(reference);
  clock.Lap(&CorrectionTimes::boundaryLists);
  vtkNew<vtkMatrix4x4> matrix;
  RegisterSurfaces(referenceBoundary, segmentationBoundary, *matrix, kRegistrationIterations,
                   static_cast<int>(LandmarkMode::Affine));
  clock.Lap(&CorrectionTimes::registration);
  if (!IsUsableMatrix(*matrix)) {
    problem = ReferenceProblem::NotRegistrable;
    return nullptr;
  }
  auto cropped = ResampleBoxByMatrix(reference, *matrix, segmentationSize, boxMinimum, boxSize);
  clock.Lap(&CorrectionTimes::resamplingAndCropping);
  if (!cropped) problem = ReferenceProblem::OutsideBox;
  return cropped;
}

void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const C3DPoint& boxMinimum, const C3DPoint& boxSize, const VolumeLoader& load,
                             CVoxelList& registered, MessageSink& messages, int threads,
                             CorrectionTimes* times) {
  if (paths.empty()) {
    messages.ShowMessage("There are no reference labels !!");
    return;
  }
  // The segmentation's boundary is the same target for every reference.
  StageClock clock(times);
  const CBoundaryPoints segmentationBoundary(segmentation);
  clock.Lap(&CorrectionTimes::boundaryLists);

  // Every reference on its own, results kept by position so that the list and
  // the message come out in path order whatever thread finished first.
  const std::size_t n = paths.size();
  CVoxelList results(n);
  std::vector<ReferenceProblem> problems(n, ReferenceProblem::Unreadable);
  std::vector<CorrectionTimes> spent(n);
  fusion::ParallelFor(fusion::ResolveThreadCount(threads), static_cast<int>(n), [&](int i) {
    StageClock step(&spent[static_cast<std::size_t>(i)]);
    const std::unique_ptr<CVoxel> reference = load(paths[static_cast<std::size_t>(i)]);
    step.Lap(&CorrectionTimes::referenceLoading);
    if (reference)
      results[static_cast<std::size_t>(i)] =
          RegisterReferenceLabel(*reference, segmentationBoundary, segmentation.Size(), boxMinimum, boxSize,
                                 problems[static_cast<std::size_t>(i)], &spent[static_cast<std::size_t>(i)]);
  });

  std::string skipped;
  for (std::size_t i = 0; i < n; ++i) {
    if (times) times->AddReferenceWork(spent[i]);
    if (results[i])
      registered.push_back(std::move(results[i]));
    else
      skipped += "\n[" + paths[i] + "] " + Describe(problems[i]);
  }
  if (!skipped.empty()) messages.ShowMessage("These reference labels are skipped:" + skipped);
}
