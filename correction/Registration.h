// Surface registration of two boundary point lists and nearest-neighbour
// resampling through the resulting matrix. Everything works in voxel index
// coordinates: voxel (x, y, z) is the point (x, y, z); spacing plays no part.
#pragma once

#include <memory>

#include "correction/BoundaryPoints.h"
#include "volume/Voxel.h"

class vtkMatrix4x4;

// Landmark modes of the registration.
enum class LandmarkMode : int { RigidBody = 0, Similarity = 1, Affine = 2 };

// Iterative closest point registration of `source` onto `target`; `matrix`
// (created by the caller) receives the map from source positions to target
// positions. The transform always runs `iterations` iterations after matching
// the centroids. Returns false, with the identity in `matrix`, when either list
// is empty: there is nothing to register.
bool RegisterSurfaces(const CBoundaryPoints& source, const CBoundaryPoints& target, vtkMatrix4x4& matrix,
                      int iterations, int mode);

// True when the matrix can be inverted and holds only finite numbers.
bool IsUsableMatrix(const vtkMatrix4x4& matrix);

// A new X x Y x Z volume whose voxel p is moving(round(M^-1 p)), or 0 where
// that position lies outside `moving` (or M cannot be inverted). Spacing and
// origin are left unset.
std::unique_ptr<CVoxel> ResampleByMatrix(const CVoxel& moving, const vtkMatrix4x4& matrix, int X, int Y,
                                         int Z);
// Only the box [boxMinimum, boxMinimum + boxSize) of that resampled volume: a
// box-sized volume whose voxel b is the resampled voxel boxMinimum + b, the
// same values as resampling everything and cropping. Null when the box does not
// lie inside the X x Y x Z grid (`gridSize`).
std::unique_ptr<CVoxel> ResampleBoxByMatrix(const CVoxel& moving, const vtkMatrix4x4& matrix,
                                            const C3DPoint& gridSize, const C3DPoint& boxMinimum,
                                            const C3DPoint& boxSize);
