// A label held as the runs of its voxels > 0 along x, row by row: what the
// reference votes read of a registered label, in a fraction of its memory.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "volume/Voxel.h"

namespace geometry {

class LabelRuns {
 public:
  using Run = std::pair<int, int>;  // [begin, end) along x

  LabelRuns() = default;
  // The runs of `label`'s voxels > 0 (none for a volume without data).
  explicit LabelRuns(const CVoxel& label);

  // Building row by row, in scan order (z outermost, then y): StartRow before
  // each row's runs, Finish after the last row.
  explicit LabelRuns(const C3DPoint& size);
  void StartRow() { m_rowStart.push_back(static_cast<int>(m_runs.size())); }
  void AddRun(int begin, int end) { m_runs.emplace_back(begin, end); }
  // The runs of one row's values > 0.
  void AddRow(const CVoxel::value_type* row, int length);
  void Finish() { m_rowStart.push_back(static_cast<int>(m_runs.size())); }

  const C3DPoint& Size() const { return m_size; }
  bool HasRow(int y, int z) const { return y >= 0 && z >= 0 && y < m_size.y && z < m_size.z; }
  const Run* RowBegin(int y, int z) const { return m_runs.data() + m_rowStart[RowIndex(y, z)]; }
  const Run* RowEnd(int y, int z) const { return m_runs.data() + m_rowStart[RowIndex(y, z) + 1]; }
  // Whether the voxel is > 0 (false outside the label's volume).
  bool Inside(int x, int y, int z) const;

  // The label as a 0/1 volume of its size.
  std::unique_ptr<CVoxel> ToVolume() const;

 private:
  std::size_t RowIndex(int y, int z) const {
    return static_cast<std::size_t>(y) + static_cast<std::size_t>(m_size.y) * static_cast<std::size_t>(z);
  }

  C3DPoint m_size{0, 0, 0};
  std::vector<int> m_rowStart;  // per row y + Y * z, plus one end marker
  std::vector<Run> m_runs;
};

}  // namespace geometry
