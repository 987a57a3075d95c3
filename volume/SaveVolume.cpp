// The save commands' choice of writer by the path's ending.
#include "volume/Voxel.h"
#include "volume/Writers.h"

std::string SavedPathFor(const std::string& path) {
  return IsNiftiPath(path) ? path : WithMhdExtension(path);
}

bool SaveVolumeAs(const CVoxel& volume, const std::string& path, ElementStorage storage, std::string* written,
                  std::string* error) {
  const std::string target = SavedPathFor(path);
  if (written) *written = target;
  if (IsNiftiPath(path)) return SaveNifti(volume, target, storage, error);
  return SaveMetaImage(volume, target, storage, error);
}
