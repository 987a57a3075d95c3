// The save commands' choice of writer by the path's ending.
#include "volume/Voxel.h"
#include "volume/Writers.h"

bool SaveVolumeAs(const CVoxel& volume, const std::string& path, ElementStorage storage, std::string* written,
                  std::string* error) {
  if (IsNiftiPath(path)) {
    if (written) *written = path;
    return SaveNifti(volume, path, storage, error);
  }
  const std::string header = WithMhdExtension(path);
  if (written) *written = header;
  return SaveMetaImage(volume, header, storage, error);
}
