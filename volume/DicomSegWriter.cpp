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

#include "volume/DicomSeg.h"
#include "volume/DicomSegSupport.h"
#include "volume/FileIO.h"
#include "volume/Readers.h"

namespace volume {

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

// The slices of the DICOM series `imagePath` designates (a file of it, or
// its folder), as the DICOM reader stacks them. False (why) when there is
// none, or when `label` does not lie on their grid: slice z of the label must
// lie where slice z of the stack lies.
bool SourceSlices(const CVoxel& label, const std::string& imagePath, dicom::DicomStack* stack,
                  std::string* why) {
  if (!label.HasData()) return Fail(why, "the segmentation holds no data");
  std::string reason;
  if (!LocateDicomStackIsolated(imagePath, stack, &reason)) {
    return Fail(why, imagePath + " is not a DICOM image series (" + reason +
                         "); a DICOM Segmentation needs the DICOM series it segments");
  }
  if (!stack->hasPlacement || stack->slices.empty()) {
    return Fail(why, "the slices of " + imagePath + " carry no position and orientation to refer to");
  }
  const std::string notOnGrid =
      "the segmentation does not lie on the grid of the DICOM image " + imagePath + ": ";
  if (stack->columns != label.X || stack->rows != label.Y ||
      static_cast<int>(stack->slices.size()) != label.Z) {
    return Fail(why, notOnGrid + "the series has " + std::to_string(stack->columns) + " x " +
                         std::to_string(stack->rows) + " x " + std::to_string(stack->slices.size()) +
                         " voxels, the segmentation " + std::to_string(label.X) + " x " +
                         std::to_string(label.Y) + " x " + std::to_string(label.Z));
  }
  const dicom::DicomFrame& first = stack->slices.front();
  for (int i = 0; i < 3; ++i) {
    if (std::fabs(label.direction[i][0] - first.orientation[i]) > 1e-3 ||
        std::fabs(label.direction[i][1] - first.orientation[3 + i]) > 1e-3) {
      return Fail(why, notOnGrid + "its slices are oriented differently");
    }
  }
  if (std::fabs(label.SpacingOrUnit(0) - first.pixelSpacing[1]) > 1e-3 * first.pixelSpacing[1] ||
      std::fabs(label.SpacingOrUnit(1) - first.pixelSpacing[0]) > 1e-3 * first.pixelSpacing[0]) {
    return Fail(why, notOnGrid + "its pixel spacing differs");
  }
  const double tolerance =
      0.1 * std::min({label.SpacingOrUnit(0), label.SpacingOrUnit(1), label.SpacingOrUnit(2)});
  for (int z = 0; z < label.Z; ++z) {
    double where[3];
    label.PhysicalPoint(0, 0, z, where);
    if (Distance(stack->slices[z].position.data(), where) > tolerance)
      return Fail(why, notOnGrid + "slice " + std::to_string(z) + " lies elsewhere");
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
bool BuildSegmentation(const CVoxel& label, const dicom::DicomStack& stack, SegAlgorithm algorithm,
                       DcmFileFormat& out, std::string* why) {
  auto check = [&](const OFCondition& result, const char* what) {
    if (result.good()) return true;
    return Fail(why, std::string("cannot build the DICOM Segmentation (") + what + "): " + result.text());
  };
  const dicom::DicomFrame& first = stack.slices.front();
  const dicom::DicomInstance& firstImage = stack.InstanceOf(0);
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
  std::string patientId;
  {
    DcmFileFormat source;
    if (!check(source.loadFileUntilTag(firstImage.path.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength,
                                       ERM_autoDetect, DCM_PixelData),
               "source image"))
      return false;
    if (!check(seg->importFromSourceImage(*source.getDataset()), "patient and study")) return false;
    OFString id;
    source.getDataset()->findAndGetOFString(DCM_PatientID, id);
    patientId = id.c_str();
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

  std::string direction[6];
  for (int i = 0; i < 6; ++i) direction[i] = DecimalString(first.orientation[i]);
  std::unique_ptr<FGPlaneOrientationPatient> orientation(FGPlaneOrientationPatient::createMinimal(
      direction[0].c_str(), direction[1].c_str(), direction[2].c_str(), direction[3].c_str(),
      direction[4].c_str(), direction[5].c_str()));
  if (!orientation || !check(seg->addForAllFrames(*orientation), "orientation")) return false;
  FGPixelMeasures measures;
  const std::string spacingText =
      DecimalString(first.pixelSpacing[0]) + "\\" + DecimalString(first.pixelSpacing[1]);
  const std::string sliceSpacing = DecimalString(label.SpacingOrUnit(2));
  if (!check(measures.setPixelSpacing(spacingText.c_str()), "pixel spacing") ||
      !check(measures.setSliceThickness(
                 (first.sliceThickness > 0.0 ? DecimalString(first.sliceThickness) : sliceSpacing).c_str()),
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
    const dicom::DicomFrame& slice = stack.slices[z];
    const dicom::DicomInstance& image = stack.InstanceOf(z);
    const std::string p[3] = {DecimalString(slice.position[0]), DecimalString(slice.position[1]),
                              DecimalString(slice.position[2])};
    std::unique_ptr<FGPlanePosPatient> position(
        FGPlanePosPatient::createMinimal(p[0].c_str(), p[1].c_str(), p[2].c_str()));
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
    // A frame of a multi-frame image is named by its number (from 1).
    if (image.frames > 1) source->getImageSOPInstanceReference().addReferencedFrameNumber(slice.frame + 1);

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
  for (const dicom::DicomInstance& image : stack.instances) {
    references.add(new IODImageReference(patientId.c_str(), stack.studyUid.c_str(), stack.seriesUid.c_str(),
                                         image.sopInstanceUid.c_str(), image.sopClassUid.c_str()));
  }
  seg->getCommonInstanceReference().addReferences(references, stack.studyUid.c_str());
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
  return FormatForPath(path) == VolumeFormat::DicomSeries && !IsDicomSegmentation(path);
}

bool CanSaveDicomSegmentation(const CVoxel& label, const std::string& imagePath, std::string* why) {
  dicom::DicomStack stack;
  return SourceSlices(label, imagePath, &stack, why);
}

bool SaveDicomSegmentation(const CVoxel& label, const std::string& imagePath, SegAlgorithm algorithm,
                           const std::string& path, std::string* error) {
  QuietDcmtk();
  dicom::DicomStack stack;
  std::string why;
  if (!SourceSlices(label, imagePath, &stack, &why)) return Fail(error, why);
  if (label.X > 0xFFFF || label.Y > 0xFFFF) return Fail(error, "the slices are too large for DICOM");
  DcmFileFormat format;
  if (!BuildSegmentation(label, stack, algorithm, format, &why)) return Fail(error, why);

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

}  // namespace volume
