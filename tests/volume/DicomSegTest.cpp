// DICOM Segmentation objects: written from a label on a DICOM series, checked
// by dciodvfy, read back by DCMTK and by Corvane, and SEGs laid out as other
// tools write them.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmfg/fgderimg.h>
#include <dcmtk/dcmfg/fgfracon.h>
#include <dcmtk/dcmfg/fginterface.h>
#include <dcmtk/dcmfg/fgpixmsr.h>
#include <dcmtk/dcmfg/fgplanor.h>
#include <dcmtk/dcmfg/fgplanpo.h>
#include <dcmtk/dcmseg/segdoc.h>
#include <dcmtk/dcmseg/segment.h>
#include <dcmtk/dcmseg/segutils.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "tests/volume/TestDicomSeries.h"
#include "tests/volume/TestFiles.h"
#include "volume/DicomSeg.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

namespace {

using testdicom::SeriesLayout;

// A label on the image's grid: a blob that leaves the first and last slice
// empty when `emptyEnds`, and touches every slice otherwise.
CVoxel LabelOn(const CVoxel& image, bool emptyEnds) {
  CVoxel label(image.X, image.Y, image.Z);
  label.CopyGeometry(image);
  for (int z = 0; z < label.Z; ++z) {
    if (emptyEnds && (z == 0 || z == label.Z - 1)) continue;
    for (int y = 0; y < label.Y; ++y)
      for (int x = 0; x < label.X; ++x)
        if ((x - 3 - z % 3) * (x - 3 - z % 3) + (y - 4) * (y - 4) <= 6 || (x == label.X - 1 && y == 0))
          label.At(x, y, z) = 1;
  }
  return label;
}

// dciodvfy's findings, one "Error" line each; "skipped" when it is not installed.
std::string DciodvfyErrors(const std::string& path) {
  if (std::system("command -v dciodvfy >/dev/null 2>&1") != 0) return "skipped";
  const std::string command = "dciodvfy '" + path + "' 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string errors;
  char line[4096];
  while (pipe && std::fgets(line, sizeof line, pipe)) {
    if (std::string(line).rfind("Error", 0) == 0) errors += line;
  }
  if (pipe) pclose(pipe);
  return errors;
}

// dciodvfy finds no error in the file (checked where dciodvfy is installed).
void ExpectValid(const std::string& path) {
  const std::string errors = DciodvfyErrors(path);
  if (errors == "skipped") return;
  EXPECT_EQ(errors, "");
}

std::string Text(DcmItem& item, const DcmTagKey& tag, long pos = 0) {
  OFString value;
  item.findAndGetOFString(tag, value, pos);
  return value.c_str();
}

struct SourceFacts {
  std::string file;
  double position[3];
};

// The source series by SOP Instance UID.
std::map<std::string, SourceFacts> SourcesByUid(const std::vector<std::string>& files) {
  std::map<std::string, SourceFacts> byUid;
  for (const std::string& f : files) {
    DcmFileFormat file;
    EXPECT_TRUE(file.loadFile(f.c_str()).good());
    SourceFacts facts{f, {}};
    for (int i = 0; i < 3; ++i)
      file.getDataset()->findAndGetFloat64(DCM_ImagePositionPatient, facts.position[i], i);
    byUid[Text(*file.getDataset(), DCM_SOPInstanceUID)] = facts;
  }
  return byUid;
}

// Reads the SEG with DCMTK alone and checks it against the label and the
// source series: one frame per slice, each at its source's position and
// holding that slice of the label.
void ExpectDcmtkReadsLabel(const std::string& segPath, const CVoxel& label,
                           const std::vector<std::string>& files, const SeriesLayout& layout) {
  DcmFileFormat file;
  ASSERT_TRUE(file.loadFile(segPath.c_str()).good());
  DcmDataset& data = *file.getDataset();
  EXPECT_EQ(Text(data, DCM_SOPClassUID), "1.2.840.10008.5.1.4.1.1.66.4");
  EXPECT_EQ(Text(data, DCM_StudyInstanceUID), layout.studyUid);
  EXPECT_EQ(Text(data, DCM_FrameOfReferenceUID), layout.frameOfReferenceUid);
  EXPECT_EQ(Text(data, DCM_PatientID), "CORVANE-7");
  EXPECT_EQ(Text(data, DCM_PatientName), "Test^Prostate");
  EXPECT_NE(Text(data, DCM_SeriesInstanceUID), layout.seriesUid);
  EXPECT_EQ(Text(data, DCM_SegmentationType), "BINARY");
  DcmItem* referenced = nullptr;
  ASSERT_TRUE(data.findAndGetSequenceItem(DCM_ReferencedSeriesSequence, referenced, 0).good());
  EXPECT_EQ(Text(*referenced, DCM_SeriesInstanceUID), layout.seriesUid);
  DcmSequenceOfItems* instances = nullptr;
  ASSERT_TRUE(referenced->findAndGetSequence(DCM_ReferencedInstanceSequence, instances).good());
  EXPECT_EQ(instances->card(), files.size());

  DcmSegmentation* loaded = nullptr;
  ASSERT_TRUE(DcmSegmentation::loadDataset(data, loaded).good());
  std::unique_ptr<DcmSegmentation> seg(loaded);
  ASSERT_EQ(seg->getNumberOfSegments(), 1u);
  OFString segmentLabel;
  seg->getSegment(1)->getSegmentLabel(segmentLabel);
  EXPECT_EQ(segmentLabel, "Prostate");
  ASSERT_EQ(seg->getNumberOfFrames(), static_cast<size_t>(label.Z));
  const auto sources = SourcesByUid(files);
  FGInterface& groups = seg->getFunctionalGroups();
  for (int z = 0; z < label.Z; ++z) {
    SCOPED_TRACE("frame " + std::to_string(z));
    auto* derivation = dynamic_cast<FGDerivationImage*>(groups.get(z, DcmFGTypes::EFG_DERIVATIONIMAGE));
    ASSERT_NE(derivation, nullptr);
    ASSERT_EQ(derivation->getDerivationImageItems().size(), 1u);
    auto& sourceItems = derivation->getDerivationImageItems()[0]->getSourceImageItems();
    ASSERT_EQ(sourceItems.size(), 1u);
    OFString sourceUid;
    sourceItems[0]->getImageSOPInstanceReference().getReferencedSOPInstanceUID(sourceUid);
    const auto source = sources.find(sourceUid.c_str());
    ASSERT_NE(source, sources.end());
    auto* position = dynamic_cast<FGPlanePosPatient*>(groups.get(z, DcmFGTypes::EFG_PLANEPOSPATIENT));
    ASSERT_NE(position, nullptr);
    double p[3];
    position->getImagePositionPatient(p[0], p[1], p[2]);
    double expected[3];
    label.PhysicalPoint(0, 0, z, expected);
    for (int i = 0; i < 3; ++i) {
      EXPECT_DOUBLE_EQ(p[i], source->second.position[i]);
      EXPECT_NEAR(p[i], expected[i], 1e-3);
    }
    std::unique_ptr<DcmIODTypes::Frame> pixels(DcmSegUtils::unpackBinaryFrame(
        seg->getFrame(z), static_cast<Uint16>(label.Y), static_cast<Uint16>(label.X)));
    ASSERT_NE(pixels, nullptr);
    int differing = 0;
    for (int y = 0; y < label.Y; ++y)
      for (int x = 0; x < label.X; ++x)
        differing +=
            (pixels->pixData[static_cast<std::size_t>(y) * label.X + x] != 0) != (label.At(x, y, z) > 0);
    EXPECT_EQ(differing, 0);
  }
}

void ExpectSameLabel(const CVoxel& read, const CVoxel& label) {
  ASSERT_TRUE(read.HasData());
  ASSERT_TRUE(read.SameSize(label));
  EXPECT_TRUE(SameGeometry(read, label));
  int differing = 0;
  for (std::size_t i = 0; i < label.VoxelCount(); ++i) differing += read[i] != (label[i] > 0 ? 1 : 0);
  EXPECT_EQ(differing, 0);
}

struct RoundTripCase {
  const char* name;
  bool ascending;
  bool oblique;
  bool emptyEnds;
};

class DicomSegRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(DicomSegRoundTrip, WrittenSegIsValidAndReadsBackExactly) {
  const RoundTripCase& c = GetParam();
  testfiles::TempDir dir;
  SeriesLayout layout;
  layout.ascending = c.ascending;
  if (c.oblique) {
    layout.pixelSpacing[0] = 0.8;  // between rows: along y
    layout.pixelSpacing[1] = 0.6;  // between columns: along x
    const double a = 0.3;          // rotation about the patient's y axis
    layout.row[0] = std::cos(a), layout.row[1] = 0, layout.row[2] = std::sin(a);
    layout.column[0] = 0, layout.column[1] = 0.8, layout.column[2] = 0.6;
    // Keep the two in-plane axes orthogonal: column := normalised part orthogonal to row.
    const double dot = layout.row[0] * layout.column[0] + layout.row[1] * layout.column[1] +
                       layout.row[2] * layout.column[2];
    double len = 0;
    for (int i = 0; i < 3; ++i)
      layout.column[i] -= dot * layout.row[i], len += layout.column[i] * layout.column[i];
    for (int i = 0; i < 3; ++i) layout.column[i] /= std::sqrt(len);
  }
  const auto files = testdicom::WriteSeries(dir.Path("study/t2"), layout);
  ASSERT_EQ(files.size(), static_cast<std::size_t>(layout.slices));
  volume::RecordingSink sink;
  CVoxel image(files[2], &sink);
  ASSERT_TRUE(image.HasData()) << (sink.messages.empty() ? "" : sink.messages[0]);
  const CVoxel label = LabelOn(image, c.emptyEnds);

  const std::string segPath = dir.Path("study/seg/prostate.dcm");
  std::filesystem::create_directories(dir.Path("study/seg"));
  std::string error;
  ASSERT_TRUE(
      volume::SaveDicomSegmentation(label, files[0], volume::SegAlgorithm::SemiAutomatic, segPath, &error))
      << error;
  EXPECT_EQ(dir.List("study/seg"), std::vector<std::string>{"prostate.dcm"});  // no temporary left
  ExpectValid(segPath);

  ExpectDcmtkReadsLabel(segPath, label, files, layout);

  EXPECT_TRUE(volume::IsDicomSegmentation(segPath));
  volume::RecordingSink readSink;
  const CVoxel read(segPath, &readSink);  // through the load dispatcher
  ExpectSameLabel(read, label);
  EXPECT_TRUE(readSink.messages.empty());

  volume::DicomSegSummary summary;
  ASSERT_TRUE(volume::DescribeDicomSegmentation(segPath, &summary, &error)) << error;
  EXPECT_EQ(summary.segmentLabel, "Prostate");
  EXPECT_EQ(summary.frames, layout.slices);
  EXPECT_EQ(summary.referencedSeries, layout.seriesUid);
}

INSTANTIATE_TEST_SUITE_P(Series, DicomSegRoundTrip,
                         ::testing::Values(RoundTripCase{"AxialAscending", true, false, false},
                                           RoundTripCase{"AxialDescendingEmptyEnds", false, false, true},
                                           RoundTripCase{"ObliqueAscendingEmptyEnds", true, true, true},
                                           RoundTripCase{"ObliqueDescending", false, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A study with the image series in one folder and the SEG in another.
struct Study {
  testfiles::TempDir dir;
  SeriesLayout layout;
  std::vector<std::string> files;
  CVoxel image;
  CVoxel label;
  std::string segPath;

  explicit Study(bool emptyEnds = true) {
    files = testdicom::WriteSeries(dir.Path("study/t2"), layout);
    image = CVoxel(files[0]);
    label = LabelOn(image, emptyEnds);
    std::filesystem::create_directories(dir.Path("study/seg"));
    segPath = dir.Path("study/seg/prostate.dcm");
  }
};

TEST(DicomSeg, ManualCorrectionsAreRecordedAsManual) {
  Study s;
  ASSERT_TRUE(volume::SaveDicomSegmentation(s.label, s.files[0], volume::SegAlgorithm::Manual, s.segPath));
  DcmFileFormat file;
  ASSERT_TRUE(file.loadFile(s.segPath.c_str()).good());
  DcmItem* segment = nullptr;
  ASSERT_TRUE(file.getDataset()->findAndGetSequenceItem(DCM_SegmentSequence, segment, 0).good());
  EXPECT_EQ(Text(*segment, DCM_SegmentAlgorithmType), "MANUAL");
  ExpectValid(s.segPath);
}

TEST(DicomSeg, ALabelOffTheSeriesGridIsRefusedAndNothingIsWritten) {
  Study s;
  CVoxel shifted = s.label;
  shifted.origin[2] += 1.5f;  // half a slice
  std::string error;
  EXPECT_FALSE(
      volume::SaveDicomSegmentation(shifted, s.files[0], volume::SegAlgorithm::Manual, s.segPath, &error));
  EXPECT_NE(error.find("grid"), std::string::npos) << error;
  CVoxel fewer(s.label.X, s.label.Y, s.label.Z + 1);
  fewer.CopyGeometry(s.label);
  EXPECT_FALSE(
      volume::SaveDicomSegmentation(fewer, s.files[0], volume::SegAlgorithm::Manual, s.segPath, &error));
  CVoxel narrower(s.label.X - 1, s.label.Y, s.label.Z);
  narrower.CopyGeometry(s.label);
  EXPECT_FALSE(
      volume::SaveDicomSegmentation(narrower, s.files[0], volume::SegAlgorithm::Manual, s.segPath, &error));
  EXPECT_TRUE(s.dir.List("study/seg").empty());
}

TEST(DicomSeg, WithoutADicomImageNothingIsWritten) {
  Study s;
  ASSERT_TRUE(s.image.SaveMetaImage(s.dir.Path("image.mhd")));
  std::string error;
  EXPECT_FALSE(volume::SaveDicomSegmentation(s.label, s.dir.Path("image.mhd"), volume::SegAlgorithm::Manual,
                                             s.segPath, &error));
  EXPECT_NE(error.find("not a DICOM image"), std::string::npos) << error;
  EXPECT_FALSE(volume::CanSaveDicomSegmentation(s.label, s.dir.Path("missing.dcm"), &error));
  EXPECT_TRUE(s.dir.List("study/seg").empty());
}

TEST(DicomSeg, AFailedWriteKeepsThePreviousFile) {
  Study s;
  testfiles::WriteFile(s.segPath, "previous");
  // The disk fills up after 2 kB: the SEG is larger.
  const int result = testfiles::RunWithFileSizeLimit(2048, [&] {
    return volume::SaveDicomSegmentation(s.label, s.files[0], volume::SegAlgorithm::Manual, s.segPath) ? 1
                                                                                                       : 0;
  });
  EXPECT_EQ(result, 0) << "the save must report failure";
  EXPECT_EQ(testfiles::ReadFile(s.segPath), "previous");
  EXPECT_EQ(s.dir.List("study/seg"), std::vector<std::string>{"prostate.dcm"});
}

// A file beside the series whose header declares a nested value of nearly
// 4 GiB (found by fuzzing): GDCM allocates and zero-fills what a header
// declares before it reads it. Finding the series' slices to refer to reads
// the folder's headers in a child with a bounded address space first, so the
// save neither waits for nor holds those gigabytes.
TEST(DicomSeg, AHugeDeclaredValueBesideTheSeriesCostsNoMemory) {
#if defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer))
  GTEST_SKIP()
      << "AddressSanitizer ends a process whose allocation fails; the child relies on std::bad_alloc";
#endif
  Study s;
  std::filesystem::copy_file(CORVANE_HUGE_VALUE_DCM, s.dir.Path("study/t2/zz-corrupt.dcm"));
  std::string error;
  ASSERT_TRUE(
      volume::SaveDicomSegmentation(s.label, s.files[0], volume::SegAlgorithm::Manual, s.segPath, &error))
      << error;
  CVoxel read;
  ASSERT_TRUE(volume::ReadDicomSegmentation(read, s.segPath, nullptr));
  EXPECT_TRUE(read.SameSize(s.label));
  rusage self{};
  ASSERT_EQ(getrusage(RUSAGE_SELF, &self), 0);
  EXPECT_LT(self.ru_maxrss, 1L << 20) << "KiB";  // well below the declared 4 GiB
}

TEST(DicomSeg, SeriesIsFoundInTheSegFolderAndBelowIt) {
  Study s;
  // The SEG beside the parent of the series folder: the series is below it.
  const std::string above = s.dir.Path("study/prostate.dcm");
  ASSERT_TRUE(volume::SaveDicomSegmentation(s.label, s.files[0], volume::SegAlgorithm::Manual, above));
  volume::RecordingSink sink;
  ExpectSameLabel(CVoxel(above, &sink), s.label);
  EXPECT_TRUE(sink.messages.empty());
  // Beside its series in the same folder; the series still reads as before.
  const std::string beside = s.dir.Path("study/t2/prostate.dcm");
  ASSERT_TRUE(volume::SaveDicomSegmentation(s.label, s.files[0], volume::SegAlgorithm::Manual, beside));
  ExpectSameLabel(CVoxel(beside, &sink), s.label);
  EXPECT_TRUE(sink.messages.empty());
  const CVoxel image(s.files[0], &sink);
  ASSERT_TRUE(image.HasData());
  EXPECT_TRUE(SameGeometry(image, s.image));
}

TEST(DicomSeg, WithoutItsSeriesTheGridComesFromTheFramesWithOneNotice) {
  Study s(/*emptyEnds=*/false);
  const std::string lone = s.dir.Path("elsewhere/deeper/prostate.dcm");
  std::filesystem::create_directories(s.dir.Path("elsewhere/deeper"));
  ASSERT_TRUE(volume::SaveDicomSegmentation(s.label, s.files[0], volume::SegAlgorithm::Manual, lone));
  volume::RecordingSink sink;
  ExpectSameLabel(CVoxel(lone, &sink), s.label);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("was not found beside it"), std::string::npos) << sink.messages[0];
}

// A SEG as other tools write it: only the frames that hold the segment, in
// the order given, with the source's geometry.
bool WriteSparseSeg(const std::string& path, const Study& s, const std::vector<int>& slices,
                    double shiftMm = 0.0) {
  IODGeneralEquipmentModule::EquipmentInfo equipment("Other", "Other", "2", "2");
  ContentIdentificationMacro content;
  content.setInstanceNumber("1");
  content.setContentLabel("OTHER");
  DcmSegmentation* created = nullptr;
  if (DcmSegmentation::createBinarySegmentation(created, static_cast<Uint16>(s.label.Y),
                                                static_cast<Uint16>(s.label.X), equipment, content)
          .bad())
    return false;
  std::unique_ptr<DcmSegmentation> seg(created);
  seg->importFromSourceImage(s.files[0].c_str());
  seg->getSeries().setSeriesNumber("77");
  DcmSegment* segment = nullptr;
  DcmSegment::create(segment, "Gland", CodeSequenceMacro("123037004", "SCT", "Anatomical Structure"),
                     CodeSequenceMacro("41216001", "SCT", "Prostate"), DcmSegTypes::SAT_MANUAL, "");
  Uint16 number = 0;
  if (seg->addSegment(segment, number).bad()) return false;
  std::unique_ptr<FGPlaneOrientationPatient> orientation(
      FGPlaneOrientationPatient::createMinimal("1", "0", "0", "0", "1", "0"));
  seg->addForAllFrames(*orientation);
  FGPixelMeasures measures;
  measures.setPixelSpacing("0.8\\0.8");
  measures.setSliceThickness("3");
  seg->addForAllFrames(measures);
  seg->getDimensions().addDimensionIndex(DCM_ReferencedSegmentNumber, "1.2.826.0.1.3680043.2.1125.77.9",
                                         DCM_SegmentIdentificationSequence);
  std::vector<Uint8> pixels(static_cast<std::size_t>(s.label.X) * s.label.Y);
  for (int z : slices) {
    double p[3];
    s.label.PhysicalPoint(0, 0, z, p);
    std::unique_ptr<FGPlanePosPatient> position(FGPlanePosPatient::createMinimal(
        testdicom::Ds(p[0]).c_str(), testdicom::Ds(p[1]).c_str(), testdicom::Ds(p[2] + shiftMm).c_str()));
    FGFrameContent frameContent;
    frameContent.setDimensionIndexValues(1, 0);
    for (int y = 0; y < s.label.Y; ++y)
      for (int x = 0; x < s.label.X; ++x)
        pixels[static_cast<std::size_t>(y) * s.label.X + x] = s.label.At(x, y, z) > 0;
    OFVector<FGBase*> groups;
    groups.push_back(position.get());
    groups.push_back(&frameContent);
    if (seg->addFrame(pixels.data(), number, groups).bad()) return false;
  }
  // Point at the series the way every SEG does.
  DcmFileFormat out;
  const OFCondition written = seg->writeDataset(*out.getDataset());
  if (written.bad()) {
    ADD_FAILURE() << written.text();
    return false;
  }
  DcmItem* item = nullptr;
  out.getDataset()->findOrCreateSequenceItem(DCM_ReferencedSeriesSequence, item, 0);
  item->putAndInsertString(DCM_SeriesInstanceUID, s.layout.seriesUid.c_str());
  return out.saveFile(path.c_str(), EXS_LittleEndianExplicit).good();
}

TEST(DicomSeg, FramesASegLeavesOutAreZero) {
  Study s;
  ASSERT_TRUE(WriteSparseSeg(s.segPath, s, {4, 2, 1, 3}));  // out of order, first and last slice left out
  volume::RecordingSink sink;
  ExpectSameLabel(CVoxel(s.segPath, &sink), s.label);
  EXPECT_TRUE(sink.messages.empty());
}

TEST(DicomSeg, SparseFramesWithoutTheirSeriesFillTheGapsOnTheirOwnSpacing) {
  Study s;
  const std::string lone = s.dir.Path("elsewhere/deeper/prostate.dcm");
  std::filesystem::create_directories(s.dir.Path("elsewhere/deeper"));
  ASSERT_TRUE(WriteSparseSeg(lone, s, {1, 2, 4}));  // slice 3 is empty here
  CVoxel expected = s.label;
  for (int y = 0; y < expected.Y; ++y)
    for (int x = 0; x < expected.X; ++x) expected.At(x, y, 3) = 0;
  volume::RecordingSink sink;
  const CVoxel read(lone, &sink);
  ASSERT_TRUE(read.HasData()) << (sink.messages.empty() ? "" : sink.messages[0]);
  // The grid spans slices 1 to 4 of the series.
  ASSERT_EQ(read.Z, 4);
  double top[3], first[3];
  read.PhysicalPoint(0, 0, 0, top);
  s.label.PhysicalPoint(0, 0, 1, first);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(top[i], first[i], 1e-3);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < read.Y; ++y)
      for (int x = 0; x < read.X; ++x) ASSERT_EQ(read.At(x, y, z), expected.At(x, y, z + 1) > 0 ? 1 : 0);
  EXPECT_EQ(sink.messages.size(), 1u);
}

TEST(DicomSeg, FramesOffTheSeriesGridOrUnevenlySpacedAreRefused) {
  Study s;
  ASSERT_TRUE(WriteSparseSeg(s.segPath, s, {1, 2}, /*shiftMm=*/1.0));
  volume::RecordingSink sink;
  CVoxel offGrid(s.segPath, &sink);
  EXPECT_FALSE(offGrid.HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("does not lie on the grid"), std::string::npos) << sink.messages[0];

  // Without the series, frames 3 mm and 4.5 mm apart have no common spacing.
  const std::string lone = s.dir.Path("elsewhere/deeper/uneven.dcm");
  std::filesystem::create_directories(s.dir.Path("elsewhere/deeper"));
  ASSERT_TRUE(WriteSparseSeg(lone, s, {0, 1, 2}));
  {
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(lone.c_str()).good());
    DcmItem* frame = nullptr;
    ASSERT_TRUE(
        file.getDataset()->findAndGetSequenceItem(DCM_PerFrameFunctionalGroupsSequence, frame, 2).good());
    DcmItem* plane = nullptr;
    ASSERT_TRUE(frame->findAndGetSequenceItem(DCM_PlanePositionSequence, plane, 0).good());
    double p[3];
    for (int i = 0; i < 3; ++i) plane->findAndGetFloat64(DCM_ImagePositionPatient, p[i], i);
    p[2] -= 1.5;  // 4.5 mm below the frame before it
    plane->putAndInsertString(
        DCM_ImagePositionPatient,
        (testdicom::Ds(p[0]) + "\\" + testdicom::Ds(p[1]) + "\\" + testdicom::Ds(p[2])).c_str());
    ASSERT_TRUE(file.saveFile(lone.c_str(), EXS_LittleEndianExplicit).good());
  }
  sink.messages.clear();
  CVoxel uneven(lone, &sink);
  EXPECT_FALSE(uneven.HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("not evenly spaced"), std::string::npos) << sink.messages[0];
}

TEST(DicomSeg, NonSegFilesAreNotTakenForSegs) {
  Study s;
  EXPECT_FALSE(volume::IsDicomSegmentation(s.files[0]));
  EXPECT_FALSE(volume::IsDicomSegmentation(s.dir.Path("study/t2")));
  EXPECT_FALSE(volume::IsDicomSegmentation(s.dir.Path("nothing.dcm")));
  testfiles::WriteFile(s.dir.Path("junk.dcm"), std::string(300, 'x'));
  EXPECT_FALSE(volume::IsDicomSegmentation(s.dir.Path("junk.dcm")));
  EXPECT_TRUE(volume::IsDicomSegPath("a/b.dcm"));
  EXPECT_TRUE(volume::IsDicomSegPath("B.DCM"));
  EXPECT_FALSE(volume::IsDicomSegPath("b.mhd"));
  EXPECT_FALSE(volume::IsDicomSegPath("dcm"));
}

TEST(DicomSeg, ACorruptSegIsRefusedWithAMessage) {
  Study s;
  ASSERT_TRUE(volume::SaveDicomSegmentation(s.label, s.files[0], volume::SegAlgorithm::Manual, s.segPath));
  const std::string bytes = testfiles::ReadFile(s.segPath);
  for (std::size_t keep : {bytes.size() - 7, bytes.size() / 2, std::size_t{600}}) {
    SCOPED_TRACE(keep);
    testfiles::WriteFile(s.segPath, bytes.substr(0, keep));
    volume::RecordingSink sink;
    const CVoxel read(s.segPath, &sink);
    if (read.HasData()) continue;  // a cut that DCMTK reads as a shorter file must still give a whole volume
    EXPECT_EQ(sink.messages.size(), 1u);
  }
}

}  // namespace
