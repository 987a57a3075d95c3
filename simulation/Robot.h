// The simulated user: where it draws its next stroke, and the stroke itself.
//
// Each round the robot compares the current segmentation with the truth. The
// error is the missed voxels (truth, not segmentation) and the extra voxels
// (segmentation, not truth); each kind is split into 3-D connected pieces over
// face neighbours. It picks the largest piece that still holds an error voxel
// it has not scribbled (ties: missed before extra, then the piece with the
// lowest first voxel index), and finds the piece's deepest such voxel: the one
// farthest, in mm, from the nearest voxel outside the piece (the volume's edge
// is no border; ties: lowest index). On the axial slice through that voxel it
// takes the piece's cross-section around it (4-connected in the slice) and
// draws along its middle: the brush is set down on every ridge voxel of the
// cross-section (an in-slice distance, in mm, to the nearest voxel outside it
// at least that of each of its 8 neighbours) and on the deepest voxel, with the
// window's brush (disc, or ball with the 3-D brush). The stroke is clipped to
// the truth: foreground scribbles (missed voxels) only inside it, background
// scribbles (extra voxels) only outside. The deepest voxel always receives the
// stroke, so every stroke scribbles at least one new voxel and a case ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "volume/VolumeMemory.h"
#include "volume/Voxel.h"

namespace simulation {

enum class ErrorKind { kMissed, kExtra };

struct ErrorPiece {
  ErrorKind kind = ErrorKind::kMissed;
  std::size_t size = 0;        // voxels
  std::size_t firstVoxel = 0;  // lowest voxel index
};

struct PlanePoint {
  int x = 0, y = 0;
  bool operator==(const PlanePoint&) const = default;
};

struct RobotStroke {
  ErrorPiece piece;
  std::size_t deepestVoxel = 0;     // voxel index
  double depthMm = 0.0;             // its distance to the nearest voxel outside the piece
  int slice = 0;                    // z of the deepest voxel
  std::int16_t value = 0;           // volume::scribble::kForeground for missed voxels, kBackground for extra
  std::vector<PlanePoint> centres;  // where the brush is set down on the slice, in index order
};

class Robot {
 public:
  // `truth` must outlive the robot; non-zero voxels are the organ. `brushRadius`
  // is the window's brush size.
  Robot(const CVoxel& truth, float brushRadius, bool brush3D);

  // The error pieces of `segmentation` (same size as the truth), in the order
  // they are found (by their first voxel).
  std::vector<ErrorPiece> ErrorPieces(const CVoxel& segmentation, const CVoxel* scribbled = nullptr);
  // The next stroke for the segmentation, given the voxels scribbled so far
  // (non-zero in `scribbled`), or nothing when no error voxel is left unscribbled.
  std::optional<RobotStroke> NextStroke(const CVoxel& segmentation, const CVoxel& scribbled);
  // Paints the stroke into `strokeMap` through the window's brush, clipped to
  // the truth. Returns the voxels written.
  std::size_t Paint(const RobotStroke& stroke, CVoxel& strokeMap);

 private:
  struct PieceScan {
    std::vector<ErrorPiece> pieces;
    std::vector<bool> open;  // the piece holds an error voxel not scribbled yet
  };
  PieceScan ScanPieces(const CVoxel& segmentation, const CVoxel* scribbled);
  // The voxels of the piece that holds `first`, ascending, into m_piece.
  void CollectPiece(const CVoxel& segmentation, std::size_t first, ErrorKind kind);

  const CVoxel& m_truth;
  float m_radius;
  bool m_brush3D;
  // The workspace, kept from round to round: on a large volume, memory
  // touched for the first time costs more than the robot's own work. The
  // per-voxel marks are volume memory, whose pages are mapped in one go.
  volume::Block<std::uint8_t> m_visited;  // per voxel: 0 not seen, 1 scanned, 2 collected
  std::vector<std::size_t> m_queue;
  std::vector<std::size_t> m_piece;     // the chosen piece's voxels
  std::vector<double> m_depth;          // squared depths in the piece's box
  std::vector<std::uint8_t> m_section;  // the cross-section in the box's plane
  std::vector<double> m_flat;           // squared in-slice depths of the cross-section
  std::vector<std::uint8_t> m_canvas;   // the brush's voxels in the stroke's box, before the clip
};

}  // namespace simulation
