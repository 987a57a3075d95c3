// What the SEG reader and writer need to know of DICOM image files: the
// header facts of one instance, and the instances of one series in a folder
// (internal to the volume library).
#pragma once

#include <string>
#include <vector>

namespace dicom_files {

// Header facts of one DICOM instance. Texts are kept as stored (trailing
// padding removed) so that a SEG can repeat them exactly.
struct Instance {
  std::string file;
  std::string sopClassUid;
  std::string sopInstanceUid;
  std::string seriesUid;
  std::string studyUid;
  std::string patientId;
  std::string frameOfReferenceUid;
  std::string positionText[3];
  std::string orientationText[6];
  std::string pixelSpacingText[2];  // between rows (y), between columns (x)
  std::string sliceThicknessText;
  double position[3] = {0, 0, 0};
  double orientation[6] = {0, 0, 0, 0, 0, 0};
  double pixelSpacing[2] = {0, 0};
  int rows = 0;
  int columns = 0;
  bool hasGeometry = false;  // position, orientation and pixel spacing all read
};

// Keeps DCMTK's log quiet (its warnings would go to stderr); call before any DCMTK use.
void QuietDcmtk();

// Reads the header of `file` up to its pixel data. False when the path is no
// regular file or no DICOM file.
bool ReadInstance(const std::string& file, Instance* out);

// The image file a path designates: the file itself, or for a folder the
// first file in it (by name) that is a DICOM image with geometry.
bool DesignatedImage(const std::string& path, Instance* out);

// The instances of series `seriesUid` in `folder` (not below it) that are
// images with geometry, sorted by file name.
std::vector<Instance> SeriesImagesIn(const std::string& folder, const std::string& seriesUid);

}  // namespace dicom_files
