#include "session/CaseRecovery.h"

#include <algorithm>
#include <ctime>

CCaseRecovery::CCaseRecovery(CCaseSession& session, std::string folder)
    : m_case(session), m_store(std::move(folder)) {
  m_case.SetEditListener([this] { Note(); });
}

CCaseRecovery::~CCaseRecovery() { m_case.SetEditListener({}); }

CRecoverySnapshot CCaseRecovery::Capture(const CCaseSession& session, std::int64_t now,
                                         std::shared_ptr<const CVoxel> keptSegmentation,
                                         std::shared_ptr<CVoxel> spareVolume) {
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
  if (const CVoxel* strokes = session.StrokeMap(); strokes && strokes->HasData()) {
    if (spareVolume && spareVolume->HasData() && spareVolume->SameSize(*strokes)) {
      std::copy(strokes->Data(), strokes->Data() + strokes->VoxelCount(), spareVolume->Data());
      spareVolume->CopyGeometry(*strokes);
      state.strokeMap = std::move(spareVolume);
    } else {
      state.strokeMap = strokes->Clone();
    }
  }
  snapshot.savedSegmentation = session.SavedSegmentation();
  return snapshot;
}

void CCaseRecovery::Note() {
  const bool unchanged = m_segmentation && m_segmentationRevision == m_case.SegmentationRevision();
  CRecoverySnapshot snapshot = Capture(m_case, static_cast<std::int64_t>(std::time(nullptr)),
                                       unchanged ? m_segmentation : nullptr, m_store.TakeSpareVolume());
  m_segmentation = snapshot.state.segmentation;
  m_segmentationRevision = m_case.SegmentationRevision();
  m_store.Submit(std::move(snapshot));
}
