// The save commands' choice of writer by the path's ending.
#include "volume/DicomSeg.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

std::string SavedPathFor(const std::string& path) {
  return IsNiftiPath(path) || IsDicomSegPath(path) ? path : WithMhdExtension(path);
}

bool SaveVolumeAs(const CVoxel& volume, const std::string& path, ElementStorage storage, std::string* written,
                  std::string* error) {
  const std::string target = SavedPathFor(path);
  if (written) *written = target;
  if (IsDicomSegPath(path)) {
    if (error) *error = "a DICOM Segmentation (.dcm) is written only for a label on a DICOM image";
    return false;
  }
  if (IsNiftiPath(path)) return SaveNifti(volume, target, storage, error);
  return SaveMetaImage(volume, target, storage, error);
}

bool SaveLabelAs(const CVoxel& label, const std::string& path, const std::string& imagePath,
                 SegAlgorithm algorithm, std::string* written, std::string* error) {
  if (!IsDicomSegPath(path)) return SaveVolumeAs(label, path, ElementStorage::UnsignedByte, written, error);
  if (written) *written = path;
  return SaveDicomSegmentation(label, imagePath, algorithm, path, error);
}
