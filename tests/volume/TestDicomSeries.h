// MR series written with DCMTK for the DICOM tests: one file per slice,
// uncompressed, with the geometry a scanner writes.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace testdicom {

struct SeriesLayout {
  int columns = 12;
  int rows = 10;
  int slices = 6;
  double pixelSpacing[2] = {0.8, 0.8};  // between rows, between columns
  double sliceSpacing = 3.0;
  double row[3] = {1, 0, 0};
  double column[3] = {0, 1, 0};
  double first[3] = {-20.5, -30.25, 10.0};  // position of the file written first
  bool ascending = true;                    // files step along the normal (else against it)
  std::string studyUid = "1.2.826.0.1.3680043.2.1125.77.1";
  std::string seriesUid = "1.2.826.0.1.3680043.2.1125.77.2";
  std::string frameOfReferenceUid = "1.2.826.0.1.3680043.2.1125.77.3";
};

inline std::string Ds(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v + 0.0);
  return text;
}

inline void Normal(const SeriesLayout& s, double n[3]) {
  n[0] = s.row[1] * s.column[2] - s.row[2] * s.column[1];
  n[1] = s.row[2] * s.column[0] - s.row[0] * s.column[2];
  n[2] = s.row[0] * s.column[1] - s.row[1] * s.column[0];
}

// Position of the k-th file written.
inline void PositionOf(const SeriesLayout& s, int k, double out[3]) {
  double n[3];
  Normal(s, n);
  const double step = (s.ascending ? 1.0 : -1.0) * s.sliceSpacing * k;
  for (int i = 0; i < 3; ++i) out[i] = s.first[i] + step * n[i];
}

// Writes slice00.dcm, slice01.dcm, ... into `folder` (created). Pixel (c, r)
// of file k holds 100 * k + r + c. Returns the file names.
inline std::vector<std::string> WriteSeries(const std::string& folder, const SeriesLayout& s) {
  std::filesystem::create_directories(folder);
  std::vector<std::string> files;
  for (int k = 0; k < s.slices; ++k) {
    DcmFileFormat file;
    DcmDataset& d = *file.getDataset();
    char uid[100];
    d.putAndInsertString(DCM_SOPClassUID, UID_MRImageStorage);
    d.putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT));
    d.putAndInsertString(DCM_StudyInstanceUID, s.studyUid.c_str());
    d.putAndInsertString(DCM_SeriesInstanceUID, s.seriesUid.c_str());
    d.putAndInsertString(DCM_FrameOfReferenceUID, s.frameOfReferenceUid.c_str());
    d.putAndInsertString(DCM_PatientName, "Test^Prostate");
    d.putAndInsertString(DCM_PatientID, "CORVANE-7");
    d.putAndInsertString(DCM_PatientBirthDate, "19500101");
    d.putAndInsertString(DCM_PatientSex, "M");
    d.putAndInsertString(DCM_StudyDate, "20260101");
    d.putAndInsertString(DCM_StudyTime, "101010");
    d.putAndInsertString(DCM_StudyID, "1");
    d.putAndInsertString(DCM_AccessionNumber, "A1");
    d.putAndInsertString(DCM_ReferringPhysicianName, "");
    d.putAndInsertString(DCM_Modality, "MR");
    d.putAndInsertString(DCM_SeriesNumber, "3");
    d.putAndInsertString(DCM_InstanceNumber, std::to_string(k + 1).c_str());
    d.putAndInsertString(DCM_Manufacturer, "Test");
    double p[3];
    PositionOf(s, k, p);
    d.putAndInsertString(DCM_ImagePositionPatient, (Ds(p[0]) + "\\" + Ds(p[1]) + "\\" + Ds(p[2])).c_str());
    std::string orientation;
    for (double v : {s.row[0], s.row[1], s.row[2], s.column[0], s.column[1], s.column[2]})
      orientation += (orientation.empty() ? "" : "\\") + Ds(v);
    d.putAndInsertString(DCM_ImageOrientationPatient, orientation.c_str());
    d.putAndInsertString(DCM_PixelSpacing, (Ds(s.pixelSpacing[0]) + "\\" + Ds(s.pixelSpacing[1])).c_str());
    d.putAndInsertString(DCM_SliceThickness, Ds(s.sliceSpacing).c_str());
    d.putAndInsertUint16(DCM_SamplesPerPixel, 1);
    d.putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    d.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(s.rows));
    d.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(s.columns));
    d.putAndInsertUint16(DCM_BitsAllocated, 16);
    d.putAndInsertUint16(DCM_BitsStored, 16);
    d.putAndInsertUint16(DCM_HighBit, 15);
    d.putAndInsertUint16(DCM_PixelRepresentation, 0);
    std::vector<Uint16> pixels(static_cast<std::size_t>(s.rows) * s.columns);
    for (int r = 0; r < s.rows; ++r)
      for (int c = 0; c < s.columns; ++c)
        pixels[static_cast<std::size_t>(r) * s.columns + c] = 100 * k + r + c;
    d.putAndInsertUint16Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));
    char name[32];
    std::snprintf(name, sizeof name, "slice%02d.dcm", k);
    const std::string path = folder + "/" + name;
    if (file.saveFile(path.c_str(), EXS_LittleEndianExplicit).bad()) return {};
    files.push_back(path);
  }
  return files;
}

}  // namespace testdicom
