// Keeps a case's recovery file up to date: after every edit of the case it
// takes a snapshot (on the calling thread: copies of the stroke map and, when
// it changed, of the segmentation) and hands it to the recovery store, whose
// thread encodes and writes it.
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

  // The state of `session` as a recovery file keeps it, with copies of its
  // volumes. `keptSegmentation` is reused when the segmentation is unchanged
  // since it was taken (same revision); the stroke map is copied into
  // `spareVolume` when it has the map's size.
  static CRecoverySnapshot Capture(const CCaseSession& session, std::int64_t now,
                                   std::shared_ptr<const CVoxel> keptSegmentation = nullptr,
                                   std::shared_ptr<CVoxel> spareVolume = nullptr);

 private:
  CCaseSession& m_case;
  CRecoveryStore m_store;
  // The copy of the segmentation the last snapshot took, and its revision.
  std::shared_ptr<const CVoxel> m_segmentation;
  std::uint64_t m_segmentationRevision = 0;
};
