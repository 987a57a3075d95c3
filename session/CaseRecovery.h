// Keeps a case's recovery file up to date: after every edit of the case it
// takes a snapshot (on the calling thread) and hands it to the recovery
// store, whose thread encodes and writes it. A snapshot copies the
// segmentation only when it changed, and of the stroke map only the voxels
// the case reports changed since the snapshot before (the store's thread
// keeps the whole map), so that a stroke costs the window's thread the rows
// it touched rather than the whole map.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "session/CaseSession.h"
#include "session/RecoveryStore.h"

class CCaseRecovery {
 public:
  // Listens to the case's edits; `folder` is the recovery folder.
  CCaseRecovery(CCaseSession& session, std::string folder);
  // Stops listening; what is pending is still written, and the file stays.
  ~CCaseRecovery();
  CCaseRecovery(const CCaseRecovery&) = delete;
  CCaseRecovery& operator=(const CCaseRecovery&) = delete;

  // Takes a snapshot of the case now and hands it over (what an edit does).
  void Note();
  CRecoveryStore& Store() { return m_store; }

 private:
  // Everything but the stroke map, with a copy of the segmentation unless
  // `keptSegmentation` (the copy of an unchanged one) is given.
  CRecoverySnapshot Capture(std::int64_t now, std::shared_ptr<const CVoxel> keptSegmentation) const;
  // Puts the stroke map into the snapshot: its changed voxels when the
  // snapshot before carried a map of the same grid, else a whole copy.
  void CaptureStrokeMap(CRecoverySnapshot& snapshot);

  CCaseSession& m_case;
  CRecoveryStore m_store;
  // The copy of the segmentation the last snapshot took, and its revision.
  std::shared_ptr<const CVoxel> m_segmentation;
  std::uint64_t m_segmentationRevision = 0;
  // The size and geometry (no voxels) of the stroke map the last snapshot
  // carried; null when it carried none.
  std::unique_ptr<CVoxel> m_strokeGrid;
};
