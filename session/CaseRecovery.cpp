#include "session/CaseRecovery.h"

#include <algorithm>
#include <ctime>

namespace session {

CaseRecovery::CaseRecovery(CaseSession& session, std::string folder)
    : m_case(session), m_store(std::move(folder)) {
  m_case.SetEditListener([this] { Note(); });
}

CaseRecovery::~CaseRecovery() { m_case.SetEditListener({}); }

void CaseRecovery::HandOver(const CVoxel* volume, const VoxelSpan& changed, bool whole,
                            std::shared_ptr<const CVoxel> shared, std::unique_ptr<CVoxel>& lastGrid,
                            VolumeHandover& handover, std::shared_ptr<const CVoxel>& stateVolume) {
  if (!volume || !volume->HasData()) {
    lastGrid.reset();
    return;  // no grid, no volume
  }
  const std::size_t count = volume->VoxelCount();
  const std::size_t first = std::min(changed.begin, count), end = std::min(changed.end, count);
  // A stroke changes a few rows: they are copied. Changes spread far apart (a
  // correction run, a cleared map) go as runs of the whole volume, which are
  // read faster than that many voxels are copied into fresh memory.
  constexpr std::size_t kLargestCopy = std::size_t{1} << 18;
  if (!whole && lastGrid && SameGrid(*lastGrid, *volume) && end - std::min(first, end) <= kLargestCopy) {
    handover.follows = true;
    if (first < end) {
      VolumeChange change;
      change.first = first;
      change.voxels.assign(volume->Data() + first, volume->Data() + end);
      handover.changes.push_back(std::move(change));
    }
    return;
  }
  lastGrid = std::make_unique<CVoxel>();
  lastGrid->X = volume->X;
  lastGrid->Y = volume->Y;
  lastGrid->Z = volume->Z;
  lastGrid->CopyGeometry(*volume);
  if (shared && SameGrid(*shared, *volume)) {
    stateVolume = std::move(shared);  // the store's thread copies it
    return;
  }
  // All of it, as runs (label volumes are mostly long runs).
  handover.grid = *lastGrid;
  VolumeDelta::Between(nullptr, volume, volume->Size(), handover.runs);
}

void CaseRecovery::Note() {
  RecoverySnapshot snapshot;
  RecoveryState& state = snapshot.state;
  state.imagePath = m_case.ImagePath();
  state.segmentationPath = m_case.SegmentationPath();
  state.boundaryPath = m_case.BoundaryPath();
  state.referenceDir = m_case.ReferenceDir();
  state.mode = static_cast<int>(m_case.Mode());
  state.marking = m_case.Marking();
  state.brush3D = m_case.Brush3D();
  state.brushSize = m_case.BrushSize();
  state.lastEdit = static_cast<std::int64_t>(std::time(nullptr));
  snapshot.savedSegmentation = m_case.SavedSegmentation();
  const bool whole = m_store.TakeChangesLost();
  HandOver(m_case.Segmentation(), m_case.TakeSegmentationChanges(), whole,
           m_case.UnchangedSavedSegmentation(), m_segmentationGrid, snapshot.segmentation,
           state.segmentation);
  HandOver(m_case.StrokeMap(), m_case.TakeStrokeMapChanges(), whole, nullptr, m_strokeGrid,
           snapshot.strokeMap, state.strokeMap);
  m_store.Submit(std::move(snapshot));
}

}  // namespace session
