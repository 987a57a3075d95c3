// Small synthetic labels for the correction tests.
#pragma once

#include "volume/Voxel.h"

// A solid axis-aligned ellipsoid of `value` centred at (cx, cy, cz) with semi-axes (rx, ry, rz).
inline CVoxel Ellipsoid(const C3DPoint& size, double cx, double cy, double cz, double rx, double ry,
                        double rz, CVoxel::value_type value = 1) {
  CVoxel label(size);
  for (int z = 0; z < size.z; ++z)
    for (int y = 0; y < size.y; ++y)
      for (int x = 0; x < size.x; ++x) {
        const double u = (x - cx) / rx, v = (y - cy) / ry, w = (z - cz) / rz;
        if (u * u + v * v + w * w <= 1.0) label.At(x, y, z) = value;
      }
  return label;
}

// A solid box of 1 over the inclusive corners.
inline CVoxel Block(const C3DPoint& size, const C3DPoint& first, const C3DPoint& last) {
  CVoxel label(size);
  for (int z = first.z; z <= last.z; ++z)
    for (int y = first.y; y <= last.y; ++y)
      for (int x = first.x; x <= last.x; ++x) label.At(x, y, z) = 1;
  return label;
}
