#include "geometry/LabelRuns.h"

#include <algorithm>

namespace geometry {

LabelRuns::LabelRuns(const C3DPoint& size) : m_size(size) {
  if (m_size.y > 0 && m_size.z > 0)
    m_rowStart.reserve(static_cast<std::size_t>(m_size.y) * static_cast<std::size_t>(m_size.z) + 1);
}

LabelRuns::LabelRuns(const CVoxel& label) {
  if (!label.HasData()) {
    Finish();
    return;
  }
  *this = LabelRuns(label.Size());
  const CVoxel::value_type* row = label.Data();
  for (int z = 0; z < label.Z; ++z)
    for (int y = 0; y < label.Y; ++y, row += label.X) {
      StartRow();
      AddRow(row, label.X);
    }
  Finish();
}

void LabelRuns::AddRow(const CVoxel::value_type* row, int length) {
  for (int x = 0; x < length;) {
    if (row[x] <= 0) {
      ++x;
      continue;
    }
    const int begin = x;
    while (x < length && row[x] > 0) ++x;
    AddRun(begin, x);
  }
}

bool LabelRuns::Inside(int x, int y, int z) const {
  if (!HasRow(y, z) || x < 0 || x >= m_size.x) return false;
  const Run* end = RowEnd(y, z);
  // The first run ending after x holds it if it also begins at or before it.
  const Run* run = std::upper_bound(RowBegin(y, z), end, x, [](int v, const Run& r) { return v < r.second; });
  return run != end && run->first <= x;
}

std::unique_ptr<CVoxel> LabelRuns::ToVolume() const {
  auto volume = std::make_unique<CVoxel>(m_size);
  if (!volume->HasData()) return volume;
  for (int z = 0; z < m_size.z; ++z)
    for (int y = 0; y < m_size.y; ++y)
      for (const Run* run = RowBegin(y, z); run != RowEnd(y, z); ++run)
        std::fill(volume->Data() + volume->Index(run->first, y, z),
                  volume->Data() + volume->Index(run->second, y, z), CVoxel::value_type{1});
  return volume;
}

}  // namespace geometry
