// The SEG writer: one binary segment over every slice of the source series.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcostrma.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmfg/fgderimg.h>
#include <dcmtk/dcmfg/fgfracon.h>
#include <dcmtk/dcmfg/fgpixmsr.h>
#include <dcmtk/dcmfg/fgplanor.h>
#include <dcmtk/dcmfg/fgplanpo.h>
#include <dcmtk/dcmiod/iodreferences.h>
#include <dcmtk/dcmseg/segdoc.h>
#include <dcmtk/dcmseg/segment.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "volume/DicomFiles.h"
#include "volume/DicomSeg.h"
#include "volume/FileIO.h"

using dicom_files::Instance;

namespace {

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

double Distance(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// A decimal string of at most 16 characters, as DICOM's DS allows.
std::string DecimalString(double v) {
  char text[32];
  for (int digits = 12; digits > 0; --digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    if (std::string(text).size() <= 16) break;
  }
  return text;
}

// The images of the series `imagePath` belongs to, one for each slice z of
// `label`, matched by position. False (why) when the label does not lie on
// the series' grid.
bool SourceSlices(const CVoxel& label, const std::string& imagePath, std::vector<Instance>* byZ,
                  std::string* why) {
  const std::string notOnGrid =
      "the segmentation does not lie on the grid of the DICOM image " + imagePath + ": ";
  if (!label.HasData()) return Fail(why, "the segmentation holds no data");
  Instance chosen;
  if (!dicom_files::DesignatedImage(imagePath, &chosen)) {
    return Fail(why,
                imagePath + " is not a DICOM image; a DICOM Segmentation needs the DICOM series it segments");
  }
  if (chosen.columns != label.X || chosen.rows != label.Y) {
    return Fail(why, notOnGrid + "its slices are " + std::to_string(chosen.columns) + " x " +
                         std::to_string(chosen.rows) + " pixels, the segmentation's " +
                         std::to_string(label.X) + " x " + std::to_string(label.Y));
  }
  double axes[3][3], origin[3];
  label.GeometryMatrix(axes, origin);
  const double minSpacing =
      std::min({label.SpacingOrUnit(0), label.SpacingOrUnit(1), label.SpacingOrUnit(2)});
  const double tolerance = 0.1 * minSpacing;
  for (int i = 0; i < 3; ++i) {
    if (std::fabs(label.direction[i][0] - chosen.orientation[i]) > 1e-3 ||
        std::fabs(label.direction[i][1] - chosen.orientation[3 + i]) > 1e-3) {
      return Fail(why, notOnGrid + "its slices are oriented differently");
    }
  }
  if (std::fabs(label.SpacingOrUnit(0) - chosen.pixelSpacing[1]) > 1e-3 * chosen.pixelSpacing[1] ||
      std::fabs(label.SpacingOrUnit(1) - chosen.pixelSpacing[0]) > 1e-3 * chosen.pixelSpacing[0]) {
    return Fail(why, notOnGrid + "its pixel spacing differs");
  }
  std::string folder(FolderOf(chosen.file));
  if (folder.empty()) folder = ".";
  std::vector<Instance> series = dicom_files::SeriesImagesIn(folder, chosen.seriesUid);
  byZ->clear();
  for (int z = 0; z < label.Z; ++z) {
    double where[3];
    label.PhysicalPoint(0, 0, z, where);
    const auto match = std::find_if(series.begin(), series.end(), [&](const Instance& image) {
      return image.rows == chosen.rows && image.columns == chosen.columns &&
             std::equal(image.orientationText, image.orientationText + 6, chosen.orientationText) &&
             Distance(image.position, where) <= tolerance;
    });
    if (match == series.end()) {
      return Fail(why, notOnGrid + "no image of its series lies at slice " + std::to_string(z) +
                           " of the segmentation");
    }
    byZ->push_back(*match);
  }
  return true;
}

// Hands DCMTK's encoded bytes to a staged file.
class StagedConsumer final : public DcmConsumer {
 public:
  explicit StagedConsumer(StagedFile& file) : m_file(file) {}
  OFBool good() const override { return m_ok; }
  OFCondition status() const override { return m_ok ? EC_Normal : EC_InvalidStream; }
  OFBool isFlushed() const override { return OFTrue; }
  offile_off_t avail() const override { return m_ok ? offile_off_t{1} << 30 : 0; }
  offile_off_t write(const void* buf, offile_off_t buflen) override {
    m_ok = m_ok && m_file.Write(buf, static_cast<std::size_t>(buflen));
    return m_ok ? buflen : 0;
  }
  void flush() override {}

 private:
  StagedFile& m_file;
  bool m_ok = true;
};

class StagedStream final : public DcmOutputStream {
 public:
  explicit StagedStream(DcmConsumer* consumer) : DcmOutputStream(consumer) {}
};

std::string NewUid(const char* root) {
  char uid[100];
  return dcmGenerateUniqueIdentifier(uid, root);
}

// Builds the SEG in memory. False (why) when DCMTK refuses a part of it.
bool BuildSegmentation(const CVoxel& label, const std::vector<Instance>& slices, SegAlgorithm algorithm,
                       DcmFileFormat& out, std::string* why) {
  auto check = [&](const OFCondition& result, const char* what) {
    if (result.good()) return true;
    return Fail(why, std::string("cannot build the DICOM Segmentation (") + what + "): " + result.text());
  };
  const Instance& first = slices.front();
  IODGeneralEquipmentModule::EquipmentInfo equipment("Corvane", "Corvane", "1", "1.0");
  ContentIdentificationMacro content;
  content.setInstanceNumber("1");
  content.setContentLabel("PROSTATE");
  content.setContentDescription("Prostate segmentation");
  DcmSegmentation* created = nullptr;
  if (!check(DcmSegmentation::createBinarySegmentation(created, static_cast<Uint16>(label.Y),
                                                       static_cast<Uint16>(label.X), equipment, content),
             "create"))
    return false;
  std::unique_ptr<DcmSegmentation> seg(created);

  // Patient, study and frame of reference of the source; a series and instance of its own.
  {
    DcmFileFormat source;
    if (!check(source.loadFileUntilTag(first.file.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength,
                                       ERM_autoDetect, DCM_PixelData),
               "source image"))
      return false;
    if (!check(seg->importFromSourceImage(*source.getDataset()), "patient and study")) return false;
  }
  seg->getSeries().setSeriesInstanceUID(NewUid(SITE_SERIES_UID_ROOT));
  seg->getSeries().setSeriesNumber("9001");
  seg->getSeries().setSeriesDescription("Corvane prostate segmentation");
  seg->getSOPCommon().setSOPInstanceUID(NewUid(SITE_INSTANCE_UID_ROOT));

  DcmSegment* segment = nullptr;
  const bool manual = algorithm == SegAlgorithm::Manual;
  if (!check(DcmSegment::create(segment, "Prostate",
                                CodeSequenceMacro("123037004", "SCT", "Anatomical Structure"),
                                CodeSequenceMacro("41216001", "SCT", "Prostate"),
                                manual ? DcmSegTypes::SAT_MANUAL : DcmSegTypes::SAT_SEMIAUTOMATIC, "Corvane"),
             "segment"))
    return false;
  Uint16 segmentNumber = 0;
  if (!check(seg->addSegment(segment, segmentNumber), "segment")) {
    delete segment;
    return false;
  }

  std::unique_ptr<FGPlaneOrientationPatient> orientation(FGPlaneOrientationPatient::createMinimal(
      first.orientationText[0].c_str(), first.orientationText[1].c_str(), first.orientationText[2].c_str(),
      first.orientationText[3].c_str(), first.orientationText[4].c_str(), first.orientationText[5].c_str()));
  if (!orientation || !check(seg->addForAllFrames(*orientation), "orientation")) return false;
  FGPixelMeasures measures;
  const std::string spacingText = first.pixelSpacingText[0] + "\\" + first.pixelSpacingText[1];
  const std::string sliceSpacing = DecimalString(label.SpacingOrUnit(2));
  if (!check(measures.setPixelSpacing(spacingText.c_str()), "pixel spacing") ||
      !check(measures.setSliceThickness(
                 (first.sliceThicknessText.empty() ? sliceSpacing : first.sliceThicknessText).c_str()),
             "slice thickness") ||
      !check(measures.setSpacingBetweenSlices(sliceSpacing.c_str()), "slice spacing") ||
      !check(seg->addForAllFrames(measures), "pixel measures"))
    return false;

  const std::string dimensionUid = NewUid(SITE_INSTANCE_UID_ROOT);
  if (!check(seg->getDimensions().addDimensionIndex(DCM_ReferencedSegmentNumber, dimensionUid.c_str(),
                                                    DCM_SegmentIdentificationSequence,
                                                    "ReferencedSegmentNumber"),
             "dimensions") ||
      !check(seg->getDimensions().addDimensionIndex(DCM_ImagePositionPatient, dimensionUid.c_str(),
                                                    DCM_PlanePositionSequence, "ImagePositionPatient"),
             "dimensions"))
    return false;

  std::vector<Uint8> pixels(static_cast<std::size_t>(label.X) * label.Y);
  for (int z = 0; z < label.Z; ++z) {
    const Instance& image = slices[z];
    std::unique_ptr<FGPlanePosPatient> position(FGPlanePosPatient::createMinimal(
        image.positionText[0].c_str(), image.positionText[1].c_str(), image.positionText[2].c_str()));
    FGFrameContent frameContent;
    frameContent.setDimensionIndexValues(segmentNumber, 0);
    frameContent.setDimensionIndexValues(static_cast<Uint32>(z + 1), 1);
    FGDerivationImage derivation;
    DerivationImageItem* derived = nullptr;
    if (!position || !check(derivation.addDerivationImageItem(
                                CodeSequenceMacro("113076", "DCM", "Segmentation"), "", derived),
                            "derivation"))
      return false;
    auto* source = new SourceImageItem;
    derived->getSourceImageItems().push_back(source);
    source->getPurposeOfReferenceCode().set("121322", "DCM", "Source image for image processing operation");
    source->getImageSOPInstanceReference().setReferencedSOPClassUID(image.sopClassUid.c_str());
    source->getImageSOPInstanceReference().setReferencedSOPInstanceUID(image.sopInstanceUid.c_str());

    for (int y = 0; y < label.Y; ++y)
      for (int x = 0; x < label.X; ++x)
        pixels[static_cast<std::size_t>(y) * label.X + x] = label.At(x, y, z) > 0 ? 1 : 0;
    OFVector<FGBase*> groups;
    groups.push_back(position.get());
    groups.push_back(&frameContent);
    groups.push_back(&derivation);
    if (!check(seg->addFrame(pixels.data(), segmentNumber, groups), "frame")) return false;
  }

  IODReferences references;
  for (const Instance& image : slices) {
    references.add(new IODImageReference(first.patientId.c_str(), first.studyUid.c_str(),
                                         first.seriesUid.c_str(), image.sopInstanceUid.c_str(),
                                         image.sopClassUid.c_str()));
  }
  seg->getCommonInstanceReference().addReferences(references, first.studyUid.c_str());
  return check(seg->writeDataset(*out.getDataset()), "write");
}

}  // namespace

bool IsDicomSegPath(std::string_view path) {
  if (path.size() < 4) return false;
  std::string end(path.substr(path.size() - 4));
  std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return std::tolower(c); });
  return end == ".dcm";
}

bool IsDicomImage(const std::string& path) {
  Instance image;
  return dicom_files::DesignatedImage(path, &image) && !IsDicomSegmentation(image.file);
}

bool CanSaveDicomSegmentation(const CVoxel& label, const std::string& imagePath, std::string* why) {
  std::vector<Instance> slices;
  return SourceSlices(label, imagePath, &slices, why);
}

bool SaveDicomSegmentation(const CVoxel& label, const std::string& imagePath, SegAlgorithm algorithm,
                           const std::string& path, std::string* error) {
  dicom_files::QuietDcmtk();
  std::vector<Instance> slices;
  std::string why;
  if (!SourceSlices(label, imagePath, &slices, &why)) return Fail(error, why);
  if (label.X > 0xFFFF || label.Y > 0xFFFF) return Fail(error, "the slices are too large for DICOM");
  DcmFileFormat format;
  if (!BuildSegmentation(label, slices, algorithm, format, &why)) return Fail(error, why);

  StagedFile file(path);
  if (!file.Create()) return Fail(error, file.Error());
  constexpr E_TransferSyntax kSyntax = EXS_LittleEndianExplicit;
  OFCondition result = format.validateMetaInfo(kSyntax);
  if (result.good()) {
    StagedConsumer consumer(file);
    StagedStream stream(&consumer);
    format.transferInit();
    result = format.write(stream, kSyntax, EET_ExplicitLength, nullptr, EGL_recalcGL, EPD_noChange, 0, 0, 0,
                          EWM_fileformat);
    format.transferEnd();
    stream.flush();
    if (result.good() && !consumer.good()) result = EC_InvalidStream;
  }
  if (result.bad()) {
    return Fail(error, file.Error().empty()
                           ? std::string("cannot encode the DICOM Segmentation: ") + result.text()
                           : file.Error());
  }
  return CommitStagedFiles({&file}, error);
}
