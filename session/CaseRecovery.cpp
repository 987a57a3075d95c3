#include "session/CaseRecovery.h"

#include <algorithm>
#include <ctime>

CCaseRecovery::CCaseRecovery(CCaseSession& session, std::string folder)
    : m_case(session), m_store(std::move(folder)) {
  m_case.SetEditListener([this] { Note(); });
}

CCaseRecovery::~CCaseRecovery() { m_case.SetEditListener({}); }

CRecoverySnapshot CCaseRecovery::Capture(std::int64_t now,
                                         std::shared_ptr<const CVoxel> keptSegmentation) const {
  const CCaseSession& session = m_case;
  CRecoverySnapshot snapshot;
  CRecoveryState& state = snapshot.state;
  state.imagePath = session.ImagePath();
  state.segmentationPath = session.SegmentationPath();
  state.boundaryPath = session.BoundaryPath();
  state.referenceDir = session.ReferenceDir();
  state.mode = static_cast<int>(session.Mode());
  state.marking = session.Marking();
  state.brush3D = session.Brush3D();
  state.brushSize = session.BrushSize();
  state.lastEdit = now;
  if (const CVoxel* segmentation = session.Segmentation(); segmentation && segmentation->HasData()) {
    state.segmentation = keptSegmentation ? std::move(keptSegmentation) : segmentation->Clone();
  }
  snapshot.savedSegmentation = session.SavedSegmentation();
  return snapshot;
}

void CCaseRecovery::CaptureStrokeMap(CRecoverySnapshot& snapshot) {
  const VoxelSpan changed = m_case.TakeStrokeMapChanges();
  const CVoxel* strokes = m_case.StrokeMap();
  if (!strokes || !strokes->HasData()) {
    m_strokeGrid.reset();
    return;
  }
  const std::size_t count = strokes->VoxelCount();
  if (m_strokeGrid && SameGrid(*m_strokeGrid, *strokes) && !m_store.TakeStrokeMapLost()) {
    snapshot.strokeMapFollows = true;
    const std::size_t first = std::min(changed.begin, count), end = std::min(changed.end, count);
    if (first < end) {
      CStrokeMapChange change;
      change.first = first;
      change.voxels.assign(strokes->Data() + first, strokes->Data() + end);
      snapshot.strokeChanges.push_back(std::move(change));
    }
    return;
  }
  // The whole map, into the memory of a map the store no longer needs when it fits.
  std::shared_ptr<CVoxel> copy = m_store.TakeSpareVolume();
  if (copy && copy->HasData() && copy->SameSize(*strokes)) {
    std::copy(strokes->Data(), strokes->Data() + count, copy->Data());
    copy->CopyGeometry(*strokes);
  } else {
    copy = strokes->Clone();
  }
  snapshot.state.strokeMap = std::move(copy);
  m_strokeGrid = std::make_unique<CVoxel>();
  m_strokeGrid->X = strokes->X;
  m_strokeGrid->Y = strokes->Y;
  m_strokeGrid->Z = strokes->Z;
  m_strokeGrid->CopyGeometry(*strokes);
}

void CCaseRecovery::Note() {
  const bool unchanged = m_segmentation && m_segmentationRevision == m_case.SegmentationRevision();
  CRecoverySnapshot snapshot =
      Capture(static_cast<std::int64_t>(std::time(nullptr)), unchanged ? m_segmentation : nullptr);
  CaptureStrokeMap(snapshot);
  m_segmentation = snapshot.state.segmentation;
  m_segmentationRevision = m_case.SegmentationRevision();
  m_store.Submit(std::move(snapshot));
}
