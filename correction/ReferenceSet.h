// Registration of the reference labels onto the current segmentation. The
// discovery of the reference files is declared in CorrectionDriver.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "correction/CorrectionTimes.h"
#include "correction/Registration.h"
#include "geometry/BoundaryPoints.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

namespace correction {

// Reads a volume; a failed read gives null or a volume without data.
using VolumeLoader = std::function<std::unique_ptr<CVoxel>(const std::string& path)>;

// Why a reference label cannot vote.
enum class ReferenceProblem { None, Unreadable, EmptyLabel, NotRegistrable, OutsideBox };

// Registers one reference onto the segmentation whose boundary points are
// given, resamples it into the segmentation's grid (`box.grid`) and crops it
// to the box. Null, with the reason in `problem`,
// when the reference cannot be used: no data, no voxel > 0, or a registration
// matrix that cannot be inverted. A label without boundary voxels (on either
// side) is used with the identity.
// Only the box is resampled. Step times are added to `times` when given.
std::unique_ptr<CVoxel> RegisterReferenceLabel(const CVoxel& reference,
                                               const CBoundaryPoints& segmentationBoundary,
                                               const GridBox& box, ReferenceProblem& problem,
                                               CorrectionTimes* times = nullptr);

// The reference labels of one path list as loaded by a run, kept so that a
// later run on the same files starts at the registration. A run reuses them
// when the list is the same and no file changed (the same size and
// modification time of every listed file and of a MetaImage's data file);
// otherwise it loads the list afresh and keeps that instead. Each label is kept
// as the window around its non-zero voxels, with what the registration reads
// of its boundary list (see RegistrationSource). Not for two runs at once.
class ReferenceCache {
 public:
  // Forgets what is kept.
  void Clear();
  // The number of labels kept (with the references that cannot be used).
  std::size_t Count() const { return m_valid ? m_entries.size() : 0; }

 private:
  friend class ReferenceRegistration;
  // What identifies a file's content without reading it.
  struct Stamp {
    std::uintmax_t size = 0;
    std::int64_t modified = 0;
    bool exists = false;
    bool operator==(const Stamp&) const = default;
  };
  struct Entry {
    ReferenceProblem problem = ReferenceProblem::Unreadable;
    std::unique_ptr<CVoxel> window;  // the non-zero voxels' box of the label
    C3DPoint corner;                 // where that box starts in the label
    RegistrationSource boundary;     // what the registration reads of its boundary list
  };
  static std::vector<Stamp> StampsOf(const std::vector<std::string>& paths);
  // Fills an entry from a freshly loaded reference (null when it could not be loaded).
  static void Keep(const CVoxel* reference, Entry& kept, StageClock& clock);

  bool m_valid = false;  // every entry filled by a run that completed
  std::vector<std::string> m_paths;
  std::vector<Stamp> m_stamps;
  std::vector<Entry> m_entries;
};

// How one run registers its references: the box of the segmentation they are
// cut to, [boxMinimum, boxMinimum + boxSize); the number of references handled
// at once (0: every core); where step times go and the labels kept between
// runs, when given.
struct RegistrationRun {
  C3DPoint boxMinimum;
  C3DPoint boxSize;
  int threads = 0;
  CorrectionTimes* times = nullptr;
  ReferenceCache* cache = nullptr;
};

}  // namespace correction

// Loads, registers and crops every listed reference, appending one volume of
// the box's size per usable reference to `registered` in list order (never a
// null entry). The references that cannot be used are named in one message;
// an empty path list gives "There are no reference labels !!". References are
// handled on `run.threads` threads at once, so `load` must be safe
// to call from several threads; the result does not depend on their number.
// With a cache, the labels it keeps for these files are used instead of
// loading them, and what a fresh load gives is kept there; the result and the
// message are the same either way.
void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const correction::VolumeLoader& load, const correction::RegistrationRun& run,
                             CVoxelList& registered, volume::MessageSink& messages);
// The same with every registered reference as the runs of its voxels > 0
// (what the reference votes read), never the box-sized volume.
void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const correction::VolumeLoader& load, const correction::RegistrationRun& run,
                             std::vector<geometry::LabelRuns>& registered, volume::MessageSink& messages);
