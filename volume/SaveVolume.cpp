// The save commands' choice of writer by the path's ending.
#include <algorithm>
#include <filesystem>

#include "volume/DicomSeg.h"
#include "volume/FileIO.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace volume {

std::string SavedPathFor(const std::string& path) {
  return IsNiftiPath(path) || IsOneFileMetaImagePath(path) || IsDicomSegPath(path) ? path
                                                                                   : WithMhdExtension(path);
}

std::string SavePathProblem(const std::string& path) {
  std::error_code ignored;
  const bool folder = (!path.empty() && path.back() == '/') || std::filesystem::is_directory(path, ignored);
  return folder ? OutputProblem(path) : std::string();
}

ElementStorage StorageThatFits(const CVoxel& volume, ElementStorage storage) {
  if (storage != ElementStorage::UnsignedByte || !volume.HasData()) return storage;
  const CVoxel::value_type* v = volume.Data();
  const bool fits =
      std::all_of(v, v + volume.VoxelCount(), [](CVoxel::value_type x) { return x >= 0 && x <= 255; });
  return fits ? storage : ElementStorage::Short;
}

std::string WidenedSaveText(const std::string& written) {
  return "Saved [" + written + "] with 16-bit voxels: its values do not fit in 0..255";
}

bool SaveVolumeAs(const CVoxel& volume, const std::string& path, ElementStorage storage, std::string* written,
                  std::string* error, bool* widened) {
  const std::string target = SavedPathFor(path);
  if (written) *written = target;
  if (const std::string problem = SavePathProblem(path); !problem.empty()) {
    if (error) *error = problem;
    return false;
  }
  if (IsDicomSegPath(path)) {
    if (error) *error = "a DICOM Segmentation (.dcm) is written only for a label on a DICOM image";
    return false;
  }
  const ElementStorage stored = StorageThatFits(volume, storage);
  if (widened) *widened = stored != storage;
  if (IsNiftiPath(path)) return SaveNifti(volume, target, stored, error);
  return SaveMetaImage(volume, target, stored, error);
}

bool SaveLabelAs(const CVoxel& label, const std::string& path, const std::string& imagePath,
                 SegAlgorithm algorithm, std::string* written, std::string* error) {
  if (!IsDicomSegPath(path)) return SaveVolumeAs(label, path, ElementStorage::UnsignedByte, written, error);
  if (written) *written = path;
  return SaveDicomSegmentation(label, imagePath, algorithm, path, error);
}

}  // namespace volume
