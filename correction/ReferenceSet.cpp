#include "correction/ReferenceSet.h"

#include <sys/stat.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <set>
#include <system_error>

#include "correction/CorrectionDriver.h"
#include "correction/Registration.h"
#include "geometry/LabelGeometry.h"
#include "geometry/Parallel.h"
#include "volume/FileIO.h"

namespace fs = std::filesystem;

namespace correction {

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

// Registers a label's boundary onto the target and resamples the label through
// the matrix with `resample(label, matrix, corner)`, which is false when the
// box lies outside the grid. `label` may be the window of the label around its
// non-zero voxels, starting at `corner`.
struct MovingLabel {
  const CVoxel& label;
  C3DPoint corner;
  const RegistrationSource& boundary;
};
template <typename Resample>
bool RegisterAndResample(const MovingLabel& moving, const RegistrationTarget& target,
                         ReferenceProblem& problem, CorrectionTimes* times, const Resample& resample) {
  StageClock clock(times);
  vtkNew<vtkMatrix4x4> matrix;
  RegisterSurfaces(moving.boundary, target, *matrix, kRegistrationIterations, LandmarkMode::Affine);
  clock.Lap(&CorrectionTimes::registration);
  if (!IsUsableMatrix(*matrix)) {
    problem = ReferenceProblem::NotRegistrable;
    return false;
  }
  const bool resampled = resample(moving.label, *matrix, moving.corner);
  clock.Lap(&CorrectionTimes::resamplingAndCropping);
  if (!resampled) problem = ReferenceProblem::OutsideBox;
  return resampled;
}

// Whether the label has a voxel > 0, given its boundary list: a listed voxel
// > 0 answers at once (nearly always), so only a label without one is scanned.
bool HasForeground(const CVoxel& label, const CBoundaryPoints& boundary) {
  for (const C3DPoint& p : boundary.Points())
    if (label.At(p.x, p.y, p.z) > 0) return true;
  return geometry::HasForeground(label);
}

// The box of the voxels other than 0 (the label has some).
void NonZeroBox(const CVoxel& label, C3DPoint& first, C3DPoint& last);

// The same box from the label's boundary list where it can tell: the voxel
// other than 0 that lies furthest along an axis has a face neighbour of
// another value beyond it, unless it lies on the face of the volume. So the
// boundary's box is the label's box when it touches no face of the volume;
// only otherwise is the label scanned.
void NonZeroBox(const CVoxel& label, const CBoundaryPoints& boundary, C3DPoint& first, C3DPoint& last) {
  if (!boundary.Empty()) {
    first = boundary.Points().front();
    last = first;
    for (const C3DPoint& p : boundary.Points()) {
      first = {std::min(first.x, p.x), std::min(first.y, p.y), std::min(first.z, p.z)};
      last = {std::max(last.x, p.x), std::max(last.y, p.y), std::max(last.z, p.z)};
    }
    const C3DPoint end = label.Size() + (-1);
    if (first.x > 0 && first.y > 0 && first.z > 0 && last.x < end.x && last.y < end.y && last.z < end.z)
      return;
  }
  NonZeroBox(label, first, last);
}

void NonZeroBox(const CVoxel& label, C3DPoint& first, C3DPoint& last) {
  first = label.Size();
  last = {-1, -1, -1};
  const auto nonZero = [](CVoxel::value_type v) { return v != 0; };
  for (int z = 0; z < label.Z; ++z)
    for (int y = 0; y < label.Y; ++y) {
      const CVoxel::value_type* row = label.Data() + label.Index(0, y, z);
      const CVoxel::value_type* end = row + label.X;
      const CVoxel::value_type* lo = std::find_if(row, end, nonZero);
      if (lo == end) continue;
      const CVoxel::value_type* hi = end - 1;
      while (*hi == 0) --hi;
      first = {std::min(first.x, static_cast<int>(lo - row)), std::min(first.y, y), std::min(first.z, z)};
      last = {std::max(last.x, static_cast<int>(hi - row)), std::max(last.y, y), std::max(last.z, z)};
    }
}

// The data file a MetaImage header names ("" for any other file, for data
// inside the header, or when the header cannot be read). Only that key is
// looked at; what the header means is the reader's business.
std::string MetaImageDataFile(const std::string& path) {
  const std::string ending = path.size() >= 3 ? path.substr(path.size() - 3) : "";
  if (ending != "mhd" && ending != "MHD" && ending != "mha" && ending != "MHA") return "";
  std::ifstream header(path, std::ios::binary);
  std::string line;
  for (int n = 0; n < 200 && std::getline(header, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find('=');
    if (line.rfind("ElementDataFile", 0) != 0 || eq == std::string::npos) continue;
    std::string name = line.substr(std::min(line.size(), eq + 2));
    if (name.empty() || name == "LOCAL" || name == "Local" || name == "local") return "";
    std::replace(name.begin(), name.end(), '\\', '/');
    // Named relative to the header's folder, as the reader takes it.
    return std::string(volume::FolderOf(path)) + name;
  }
  return "";
}

}  // namespace

}  // namespace correction

bool FindReferenceLabels(const std::string& directory, std::vector<std::string>& paths,
                         const std::string& filterA, const std::string& filterB) {
  // Full paths, so the list stays valid whatever the current directory becomes.
  std::error_code error;
  fs::path root = fs::absolute(fs::path(directory), error);
  if (error || directory.empty()) return false;
  while (root.has_relative_path() && (root.filename().empty() || root.filename() == "."))
    root = root.parent_path();
  return correction::Walk(root, filterA, filterB, paths);
}

namespace correction {

std::unique_ptr<CVoxel> RegisterReferenceLabel(const CVoxel& reference,
                                               const CBoundaryPoints& segmentationBoundary,
                                               const GridBox& box, ReferenceProblem& problem,
                                               CorrectionTimes* times) {
  problem = ReferenceProblem::None;
  if (!reference.HasData()) {
    problem = ReferenceProblem::Unreadable;
    return nullptr;
  }
  StageClock clock(times);
  const CBoundaryPoints boundary(reference);
  if (!HasForeground(reference, boundary)) {
    problem = ReferenceProblem::EmptyLabel;
    return nullptr;
  }
  // A label without a surface (one filling its whole volume) keeps the identity.
  const RegistrationSource referenceBoundary{boundary};
  clock.Lap(&CorrectionTimes::boundaryLists);
  const RegistrationTarget target(segmentationBoundary);
  std::unique_ptr<CVoxel> registered;
  RegisterAndResample({reference, {}, referenceBoundary}, target, problem, times,
                      [&](const CVoxel& label, const vtkMatrix4x4& matrix, const C3DPoint& corner) {
                        registered = ResampleBoxByMatrix(label, matrix, box, corner);
                        return registered != nullptr;
                      });
  return registered;
}

void ReferenceCache::Clear() {
  m_valid = false;
  m_paths.clear();
  m_stamps.clear();
  m_entries.clear();
}

std::vector<ReferenceCache::Stamp> ReferenceCache::StampsOf(const std::vector<std::string>& paths) {
  std::vector<Stamp> stamps;
  const auto add = [&stamps](const fs::path& path) {
    Stamp stamp;
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (!error) {
      const fs::file_time_type modified = fs::last_write_time(path, error);
      if (!error) {
        stamp.exists = true;
        stamp.size = size;
        stamp.modified = static_cast<std::int64_t>(modified.time_since_epoch().count());
      }
    }
    stamps.push_back(stamp);
  };
  for (const std::string& path : paths) {
    add(path);
    const std::string data = MetaImageDataFile(path);
    if (!data.empty()) add(data);
  }
  return stamps;
}

// Fills a cache entry from a freshly loaded reference: why it cannot be used,
// or its boundary (from the whole label) and the window around its non-zero
// voxels, the only part in which resampling finds anything but 0.
void ReferenceCache::Keep(const CVoxel* reference, Entry& kept, StageClock& clock) {
  clock.Lap(&CorrectionTimes::referenceLoading);
  if (!reference || !reference->HasData()) {
    kept.problem = ReferenceProblem::Unreadable;
    return;
  }
  const CBoundaryPoints boundary(*reference);
  if (!HasForeground(*reference, boundary)) {
    kept.problem = ReferenceProblem::EmptyLabel;
    return;
  }
  kept.boundary = RegistrationSource(boundary);
  clock.Lap(&CorrectionTimes::boundaryLists);
  C3DPoint last;
  NonZeroBox(*reference, boundary, kept.corner, last);
  kept.window = geometry::Crop(*reference, kept.corner, last - kept.corner + 1);
  if (!kept.window) throw std::bad_alloc();
  kept.problem = ReferenceProblem::None;
  clock.Lap(&CorrectionTimes::referenceLoading);
}

// Registers every listed reference, each resampled into the box by
// `resample(label, matrix, corner, result)`; the results of the usable ones are
// appended to `registered` in list order.
class ReferenceRegistration {
 public:
  // Where the results go and how each is made.
  template <typename Result, typename Resample>
  struct Output {
    std::vector<Result>& registered;
    volume::MessageSink& messages;
    const Resample& resample;
  };
  template <typename Result, typename Resample>
  static void Run(const CVoxel& segmentation, const std::vector<std::string>& paths, const VolumeLoader& load,
                  const RegistrationRun& run, const Output<Result, Resample>& output);
};

template <typename Result, typename Resample>
void ReferenceRegistration::Run(const CVoxel& segmentation, const std::vector<std::string>& paths,
                                const VolumeLoader& load, const RegistrationRun& run,
                                const Output<Result, Resample>& output) {
  std::vector<Result>& registered = output.registered;
  volume::MessageSink& messages = output.messages;
  const Resample& resample = output.resample;
  CorrectionTimes* times = run.times;
  ReferenceCache* cache = run.cache;
  if (paths.empty()) {
    messages.ShowMessage("There are no reference labels !!");
    return;
  }
  // The files are looked at before they are read, so a file that changes
  // during the run is read again by the next one.
  bool reuse = false;
  if (cache) {
    std::vector<ReferenceCache::Stamp> stamps = ReferenceCache::StampsOf(paths);
    reuse = cache->m_valid && cache->m_paths == paths && cache->m_stamps == stamps;
    if (!reuse) {
      cache->Clear();
      cache->m_paths = paths;
      cache->m_stamps = std::move(stamps);
      cache->m_entries.resize(paths.size());
    }
  }

  // The segmentation's boundary is the same target for every reference.
  StageClock clock(times);
  const CBoundaryPoints segmentationBoundary(segmentation);
  clock.Lap(&CorrectionTimes::boundaryLists);
  const RegistrationTarget target(segmentationBoundary);
  clock.Lap(&CorrectionTimes::registration);

  // Every reference on its own, results kept by position so that the list and
  // the message come out in path order whatever thread finished first.
  const std::size_t n = paths.size();
  std::vector<Result> results(n);
  std::vector<char> done(n, 0);
  std::vector<ReferenceProblem> problems(n, ReferenceProblem::Unreadable);
  std::vector<CorrectionTimes> spent(n);
  geometry::ParallelFor(geometry::ResolveThreadCount(run.threads), static_cast<int>(n), [&](int index) {
    const std::size_t i = static_cast<std::size_t>(index);
    StageClock step(&spent[i]);
    // Without a cache the label is made into what a cache keeps all the same:
    // resampling then reads only the window, which stays in the processor's
    // cache. The loaded volume is freed only after the resampled box is made,
    // so that the next reference's volume fits in its place in the heap and
    // finds its pages mapped already.
    ReferenceCache::Entry fresh;
    ReferenceCache::Entry& kept = cache ? cache->m_entries[i] : fresh;
    std::unique_ptr<CVoxel> reference;
    if (!cache || !reuse) {
      reference = load(paths[i]);
      ReferenceCache::Keep(reference.get(), kept, step);
    }
    problems[i] = kept.problem;
    if (kept.problem == ReferenceProblem::None)
      done[i] =
          RegisterAndResample({*kept.window, kept.corner, kept.boundary}, target, problems[i], &spent[i],
                              [&](const CVoxel& label, const vtkMatrix4x4& matrix, const C3DPoint& corner) {
                                return resample(label, matrix, corner, results[i]);
                              });
  });
  if (cache) cache->m_valid = true;

  std::string skipped;
  for (std::size_t i = 0; i < n; ++i) {
    if (times) times->AddReferenceWork(spent[i]);
    if (done[i])
      registered.push_back(std::move(results[i]));
    else
      skipped += "\n[" + paths[i] + "] " + Describe(problems[i]);
  }
  if (!skipped.empty()) messages.ShowMessage("These reference labels are skipped:" + skipped);
}

}  // namespace correction

void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const correction::VolumeLoader& load, const correction::RegistrationRun& run,
                             CVoxelList& registered, volume::MessageSink& messages) {
  const correction::GridBox box{segmentation.Size(), run.boxMinimum, run.boxSize};
  const auto resample = [&box](const CVoxel& label, const vtkMatrix4x4& matrix, const C3DPoint& corner,
                               std::unique_ptr<CVoxel>& result) {
    result = ResampleBoxByMatrix(label, matrix, box, corner);
    return result != nullptr;
  };
  correction::ReferenceRegistration::Run(
      segmentation, paths, load, run,
      correction::ReferenceRegistration::Output<std::unique_ptr<CVoxel>, decltype(resample)>{
          registered, messages, resample});
}

void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const correction::VolumeLoader& load, const correction::RegistrationRun& run,
                             std::vector<geometry::LabelRuns>& registered, volume::MessageSink& messages) {
  const correction::GridBox box{segmentation.Size(), run.boxMinimum, run.boxSize};
  const auto resample = [&box](const CVoxel& label, const vtkMatrix4x4& matrix, const C3DPoint& corner,
                               geometry::LabelRuns& result) {
    return correction::ResampleBoxToRuns(label, matrix, box, result, corner);
  };
  correction::ReferenceRegistration::Run(
      segmentation, paths, load, run,
      correction::ReferenceRegistration::Output<geometry::LabelRuns, decltype(resample)>{registered, messages,
                                                                                         resample});
}
