// The DICOM folder scan: which objects a folder holds, grouped by series, and
// the stack of slices a chosen file designates, sorted as the volume stacks
// them. Headers only are read here (through GDCM); pixel data is decoded by
// the readers in DicomImage.h. The writers of derived objects (segmentations)
// use the same stack to find, for each slice z of a volume read from DICOM,
// the instance and frame it came from.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace volume::dicom {

// SOP Class UIDs the folder scan treats specially.
inline constexpr const char* kSegmentationStorage = "1.2.840.10008.5.1.4.1.1.66.4";
inline constexpr const char* kMediaDirectoryStorage = "1.2.840.10008.1.3.10";  // DICOMDIR

// One object (one file) of the folder whose header could be read.
struct DicomInstance {
  std::string path;
  std::string sopClassUid;
  std::string sopInstanceUid;
  std::string studyUid;
  std::string seriesUid;
  std::string frameOfReferenceUid;
  std::string transferSyntaxUid;
  std::string seriesDescription;
  std::string modality;
  int instanceNumber = 0;
  int rows = 0;
  int columns = 0;
  int frames = 0;         // frames in the file (1 for a classic image, 0 when it holds no pixel data)
  bool enhanced = false;  // frames placed by per-frame functional groups
  // A plain image (uncompressed little endian, one grey sample of 8 or 16 bits
  // with every bit stored): where its pixel values lie in the file, so that
  // they can be read without parsing the file again. Length 0 for any other.
  std::uint64_t plainPixelOffset = 0;
  std::uint64_t plainPixelLength = 0;
  // BitsAllocated (0 when absent; 1 for a binary segmentation) and whether
  // PixelRepresentation is 1, of any object that describes pixels.
  int bitsAllocated = 0;
  bool signedPixels = false;
  // Whether the object is an image this reader stacks: it has pixel data, rows
  // and columns, and is neither a segmentation nor a directory.
  bool IsImage() const { return frames > 0 && rows > 0 && columns > 0; }
};

// One frame of an image instance with the attributes that place it.
struct DicomFrame {
  int instance = -1;  // index into DicomFolderScan::instances
  int frame = 0;      // 0-based frame within the instance
  bool hasPosition = false;
  std::array<double, 3> position{};  // ImagePositionPatient: centre of the first pixel, LPS mm
  bool hasOrientation = false;
  std::array<double, 6> orientation{};  // ImageOrientationPatient: row direction, column direction
  bool hasPixelSpacing = false;
  // PixelSpacing as DICOM stores it: [0] between rows (along y), [1] between columns (along x).
  std::array<double, 2> pixelSpacing{};
  double sliceThickness = 0.0;        // 0 when absent
  double spacingBetweenSlices = 0.0;  // 0 when absent
  double slope = 1.0;                 // RescaleSlope (1 when absent or unusable)
  double intercept = 0.0;             // RescaleIntercept
};

struct DicomFolderScan {
  std::string folder;
  std::vector<DicomInstance> instances;  // every file whose DICOM header could be read
  std::vector<DicomFrame> frames;        // every frame of every image instance, instance by instance
};

// Reads the headers of the regular files directly in `folder` (no
// subfolders; FIFOs, devices and sockets are never opened). Files that are
// not DICOM are left out.
DicomFolderScan ScanDicomFolder(const std::string& folder);
// The same scan of the given files of `folder` only, in the order given
// (ScanDicomFolder gives them sorted by name).
DicomFolderScan ScanDicomFiles(const std::string& folder, const std::vector<std::string>& paths);

// The slices of one volume: one series, one orientation and image size,
// sorted as the volume stacks them (by decreasing position along the normal
// row x column, the order the DICOM readers have always used; by instance and
// frame number when positions are missing; a classic multi-frame image, whose
// frames share one position, in frame order along the normal).
struct DicomStack {
  std::string folder;
  std::string studyUid;
  std::string seriesUid;
  std::string frameOfReferenceUid;
  int rows = 0;
  int columns = 0;
  std::vector<DicomInstance> instances;  // the instances the slices come from
  std::vector<DicomFrame> slices;        // slice z; slices[z].instance indexes `instances`
  // Where the volume lies: column c of `axes` is voxel axis c scaled by its
  // spacing (x along the rows, y down the columns, z from slice 0 to slice 1),
  // `origin` the centre of voxel (0, 0, 0), both in LPS mm. When the slices
  // carry no position and orientation, hasPlacement is false and only
  // `spacing` is known.
  bool hasPlacement = false;
  double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double origin[3] = {0, 0, 0};
  double spacing[3] = {1, 1, 1};

  const DicomInstance& InstanceOf(int z) const {
    return instances[static_cast<std::size_t>(slices[z].instance)];
  }
};

// Chooses the stack a path designates among the scanned objects: the series
// of the chosen file (and within it the stack sharing that file's
// orientation and size) when `chosenFile` is an image of the scan, or the
// only image series of the folder when `chosenFile` is empty (a folder
// chosen: the largest stack of that series). Checks that the slices are
// evenly spaced along their normal. False with the reason (a sentence
// fragment such as "slices 11 and 12 are 6 mm apart where the others are
// 3 mm") when no such stack can be built.
bool SelectDicomStack(const DicomFolderScan& scan, const std::string& chosenFile, DicomStack* stack,
                      std::string* why);

// The stored element type of an object's pixels as NumPy and nibabel spell
// it ("int16", "uint8", "bit" for the 1-bit frames of a binary segmentation),
// from its header alone; empty when the header says none.
std::string StoredPixelType(const DicomInstance& instance);

// The header of one file, as the folder scan reads it. False when it is not
// a DICOM file whose header could be read.
bool ReadDicomInstance(const std::string& path, DicomInstance* instance);

// The folder a DICOM path designates: the path itself when it is a folder,
// otherwise the folder holding the file.
std::string DicomFolderFor(const std::string& path);

// Scan and selection in one: the stack the file (or folder) at `path`
// designates, sorted exactly as ReadDicomSeries stacks the volume. GDCM runs
// in this process here (ReadDicomSeries runs it in a child, because GDCM ends
// the process on some malformed files): call it for a folder whose series
// ReadDicomSeries has read, e.g. to find the source instance of each slice.
// With `onlyFiles`, only those files of the folder are read (the ones a scan
// in a child process found to be the stack's).
bool LocateDicomStack(const std::string& path, DicomStack* stack, std::string* why,
                      const std::vector<std::string>* onlyFiles = nullptr);

}  // namespace volume::dicom
