// Keeps a case's recovery file up to date: after every edit of the case it
// takes a snapshot (on the calling thread) and hands it to the recovery
// store, whose thread encodes and writes it. The store's thread keeps its own
// copies of the segmentation and the stroke map; a snapshot hands over only
// the voxels the case reports changed since the snapshot before (the first
// one, and one after a new grid, their runs), so that a stroke costs the
// window's thread the rows it touched rather than copies of whole volumes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "session/CaseSession.h"
#include "session/RecoveryStore.h"

namespace session {

class CaseRecovery {
 public:
  // Listens to the case's edits; `folder` is the recovery folder.
  CaseRecovery(CaseSession& session, std::string folder);
  // Stops listening; what is pending is still written, and the file stays.
  ~CaseRecovery();
  CaseRecovery(const CaseRecovery&) = delete;
  CaseRecovery& operator=(const CaseRecovery&) = delete;

  // Takes a snapshot of the case now and hands it over (what an edit does).
  void Note();
  RecoveryStore& Store() { return m_store; }

 private:
  // Describes `volume` for the store: the voxels in `changed` when the last
  // snapshot handed over a volume of the same grid (`lastGrid`), else all of
  // it: `shared` (an unchanging copy of it, when there is one) put into
  // `stateVolume`, or its runs.
  static void HandOver(const CVoxel* volume, const VoxelSpan& changed, bool whole,
                       std::shared_ptr<const CVoxel> shared, std::unique_ptr<CVoxel>& lastGrid,
                       VolumeHandover& handover, std::shared_ptr<const CVoxel>& stateVolume);

  CaseSession& m_case;
  RecoveryStore m_store;
  // The size and geometry (no voxels) of the volumes the last snapshot
  // handed over; null when it had none.
  std::unique_ptr<CVoxel> m_segmentationGrid;
  std::unique_ptr<CVoxel> m_strokeGrid;
};

}  // namespace session
