// DICOM series: the folder scan picks the series the user chose, the reader
// gives what VTK's DICOM reader gives for the same files (VTK is used here
// only as the reference, on files this test wrote), compressed copies read
// as their originals, enhanced multi-frame images read as one volume, and
// geometry is right or refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vtkDICOMImageReader.h>
#include <vtkImageData.h>
#include <vtkNew.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "tests/volume/DicomFiles.h"
#include "tests/volume/TestFiles.h"
#include "tests/volume/TestVolumes.h"
#include "volume/DicomImage.h"
#include "volume/DicomScan.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

using dicomfiles::Slice;
using testfiles::TempDir;
using testfiles::WriteFile;

namespace {

// A series of `count` slices, slice k at first + k * gap along the normal,
// voxel values from `value(x, row, k)`.
struct SeriesLayout {
  int count = 3;
  int rows = 4, columns = 5;
  double gap = 2.5;
  std::array<double, 3> first{1, 2, 3};
  Slice base;
  int (*value)(int x, int row, int k) = [](int x, int row, int k) { return x + 10 * row + 100 * k - 50; };
};

std::vector<Slice> MakeSeries(SeriesLayout layout) {
  layout.base.rows = layout.rows;
  layout.base.columns = layout.columns;
  if (layout.base.seriesUid.empty()) layout.base.seriesUid = dicomfiles::NewUid();
  if (layout.base.studyUid.empty()) layout.base.studyUid = "1.2.3.4";
  const auto& o = layout.base.orientation;
  const double normal[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
  std::vector<Slice> slices;
  for (int k = 0; k < layout.count; ++k) {
    Slice s = layout.base;
    s.instanceNumber = k + 1;
    for (int r = 0; r < 3; ++r) s.position[r] = layout.first[r] + k * layout.gap * normal[r];
    for (int row = 0; row < layout.rows; ++row)
      for (int x = 0; x < layout.columns; ++x) s.pixels.push_back(layout.value(x, row, k));
    slices.push_back(s);
  }
  return slices;
}

void WriteSeries(const std::string& folder, const std::vector<Slice>& slices,
                 const std::string& prefix = "slice") {
  std::filesystem::create_directories(folder);
  for (std::size_t k = 0; k < slices.size(); ++k) {
    char name[64];
    std::snprintf(name, sizeof name, "/%s%02zu.dcm", prefix.c_str(), k);
    ASSERT_TRUE(dicomfiles::WriteSlice(folder + name, slices[k]));
  }
}

// What VTK's DICOM reader made of the folder, turned into voxels the way the
// series reader always has: output row y to voxel row Y - 1 - y, 16 bits kept.
struct VtkResult {
  int dims[3] = {0, 0, 0};
  double spacing[3] = {0, 0, 0};
  std::vector<std::int16_t> voxels;
};

VtkResult ReadWithVtk(const std::string& folder) {
  vtkNew<vtkDICOMImageReader> reader;
  reader->SetDirectoryName(folder.c_str());
  reader->Update();
  vtkImageData* image = reader->GetOutput();
  VtkResult result;
  image->GetDimensions(result.dims);
  image->GetSpacing(result.spacing);
  const int X = result.dims[0], Y = result.dims[1], Z = result.dims[2];
  result.voxels.resize(static_cast<std::size_t>(X) * Y * Z);
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) {
        const double v = image->GetScalarComponentAsDouble(x, y, z, 0);
        result.voxels[static_cast<std::size_t>(x) + X * ((Y - 1 - y) + static_cast<std::size_t>(Y) * z)] =
            static_cast<std::int16_t>(static_cast<std::int32_t>(std::floor(v + 0.5)));
      }
  return result;
}

void ExpectSameAsVtk(const std::string& folder, const CVoxel& v) {
  const VtkResult vtk = ReadWithVtk(folder);
  ASSERT_TRUE(v.HasData());
  ASSERT_EQ(v.Size(), C3DPoint(vtk.dims[0], vtk.dims[1], vtk.dims[2]));
  for (std::size_t i = 0; i < v.VoxelCount(); ++i) ASSERT_EQ(v[i], vtk.voxels[i]) << "voxel " << i;
  EXPECT_FLOAT_EQ(v.spacing[2], static_cast<float>(vtk.spacing[2]));
}

}  // namespace

TEST(DicomSeries, ReadsWhatVtksReaderReadsForTheSameFiles) {
  TempDir dir;
  // Signed, unsigned (40000 keeps its 16 bits), oblique, an integer rescale,
  // 8-bit samples and slices written in shuffled file order.
  SeriesLayout plain;
  SeriesLayout unsignedSpec;
  unsignedSpec.base.isSigned = false;
  unsignedSpec.value = [](int x, int row, int k) { return 40000 + x + 10 * row + 100 * k; };
  SeriesLayout oblique;
  oblique.base.orientation = {0.8, 0.6, 0, 0, 0, -1};
  oblique.first = {-20, 35.5, 12};
  oblique.count = 5;
  SeriesLayout rescaled;
  rescaled.base.slope = 2;
  rescaled.base.intercept = -1024;
  SeriesLayout bytes;
  bytes.base.bits = 8;
  bytes.base.isSigned = false;
  bytes.value = [](int x, int row, int k) { return (x + 10 * row + 60 * k) & 0xff; };
  const std::map<std::string, SeriesLayout> cases = {{"plain", plain},
                                                     {"unsigned", unsignedSpec},
                                                     {"oblique", oblique},
                                                     {"rescaled", rescaled},
                                                     {"bytes", bytes}};
  for (const auto& [name, layout] : cases) {
    SCOPED_TRACE(name);
    const std::string folder = dir.Path(name);
    std::vector<Slice> slices = MakeSeries(layout);
    std::reverse(slices.begin(), slices.end());
    WriteSeries(folder, slices);
    volume::RecordingSink sink;
    const CVoxel v(folder + "/slice01.dcm", &sink);
    ExpectSameAsVtk(folder, v);
    EXPECT_TRUE(sink.messages.empty()) << sink.messages[0];
    // Slice z = 0 lies highest along the normal; the volume's z axis points back down it.
    double p[3];
    v.PhysicalPoint(0, 0, 0, p);
    const Slice& top = slices.front();
    for (int r = 0; r < 3; ++r) EXPECT_NEAR(p[r], top.position[r], 1e-4);
    v.PhysicalPoint(4, 3, 1, p);
    for (int r = 0; r < 3; ++r) {
      const double expected =
          slices[1].position[r] + 4 * 0.75 * top.orientation[r] + 3 * 0.75 * top.orientation[3 + r];
      EXPECT_NEAR(p[r], expected, 1e-4);
    }
  }
}

TEST(DicomSeries, TheChosenFileDesignatesItsSeriesAmongEverythingElseInTheFolder) {
  TempDir dir;
  const std::string folder = dir.Path("study");
  SeriesLayout t2;
  t2.base.description = "T2";
  SeriesLayout adc = t2;  // the same size and place: only the series tells them apart
  adc.base.description = "ADC";
  adc.value = [](int x, int row, int k) { return 1000 + x + 10 * row + 100 * k; };
  SeriesLayout localizer;
  localizer.base.description = "Localizer";
  localizer.rows = 6;
  localizer.count = 1;
  const std::vector<Slice> t2Slices = MakeSeries(t2), adcSlices = MakeSeries(adc);
  WriteSeries(folder, t2Slices, "t2_");
  WriteSeries(folder, adcSlices, "adc_");
  WriteSeries(folder, MakeSeries(localizer), "loc_");
  // A structured report, a segmentation and a directory in the same study, a
  // text file and a FIFO.
  gdcm::DataSet report;
  dicomfiles::Put(report, 0x0008, 0x0016, gdcm::VR::UI, "1.2.840.10008.5.1.4.1.1.88.22");
  dicomfiles::Put(report, 0x0008, 0x0018, gdcm::VR::UI, dicomfiles::NewUid());
  dicomfiles::Put(report, 0x0020, 0x000e, gdcm::VR::UI, t2Slices[0].seriesUid);
  ASSERT_TRUE(dicomfiles::WriteDataSet(folder + "/report.dcm", report));
  Slice seg = t2Slices[1];
  seg.sopClassUid = volume::dicom::kSegmentationStorage;
  ASSERT_TRUE(dicomfiles::WriteSlice(folder + "/seg.dcm", seg));
  gdcm::DataSet directory;
  dicomfiles::Put(directory, 0x0008, 0x0016, gdcm::VR::UI, volume::dicom::kMediaDirectoryStorage);
  dicomfiles::Put(directory, 0x0008, 0x0018, gdcm::VR::UI, dicomfiles::NewUid());
  ASSERT_TRUE(dicomfiles::WriteDataSet(folder + "/DICOMDIR", directory));
  WriteFile(folder + "/notes.txt", "exported from the PACS");
  ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0600), 0);

  volume::RecordingSink sink;
  const CVoxel fromT2(folder + "/t2_02.dcm", &sink);
  const CVoxel fromAdc(folder + "/adc_00.dcm", &sink);
  const CVoxel fromLocalizer(folder + "/loc_00.dcm", &sink);
  EXPECT_TRUE(sink.messages.empty()) << sink.messages[0];
  ASSERT_EQ(fromT2.Size(), C3DPoint(5, 4, 3));
  ASSERT_EQ(fromAdc.Size(), C3DPoint(5, 4, 3));
  ASSERT_EQ(fromLocalizer.Size(), C3DPoint(5, 6, 1));
  // z = 0 is the highest slice, k = 2.
  EXPECT_EQ(fromT2.At(1, 2, 0), 1 + 20 + 200 - 50);
  EXPECT_EQ(fromAdc.At(1, 2, 0), 1000 + 1 + 20 + 200);

  // The slice-to-instance map a writer of derived objects relies on.
  volume::dicom::DicomStack stack;
  std::string why;
  ASSERT_TRUE(volume::dicom::LocateDicomStack(folder + "/t2_00.dcm", &stack, &why)) << why;
  ASSERT_EQ(stack.slices.size(), 3u);
  EXPECT_EQ(stack.seriesUid, t2Slices[0].seriesUid);
  EXPECT_EQ(stack.studyUid, "1.2.3.4");
  EXPECT_EQ(stack.frameOfReferenceUid, "1.2.3.4.5");
  for (int z = 0; z < 3; ++z) {
    const volume::dicom::DicomInstance& source = stack.InstanceOf(z);
    EXPECT_EQ(source.path, folder + "/t2_0" + std::to_string(2 - z) + ".dcm");
    EXPECT_EQ(source.sopClassUid, "1.2.840.10008.5.1.4.1.1.4");
    EXPECT_FALSE(source.sopInstanceUid.empty());
    EXPECT_NEAR(stack.slices[z].position[2], t2Slices[2 - z].position[2], 1e-9);
  }

  // The folder itself holds three image series: the user is asked to pick one.
  const CVoxel fromFolder(folder, &sink);
  EXPECT_FALSE(fromFolder.HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0],
            "Cannot read a DICOM series from " + folder +
                ": it holds 3 image series (\"ADC\" (3 images, e.g. adc_00.dcm), "
                "\"Localizer\" (1 image, e.g. loc_00.dcm), \"T2\" (3 images, e.g. t2_00.dcm)); "
                "choose a file of the one to open");
  // Choosing the report or the segmentation says what it is.
  sink.messages.clear();
  EXPECT_FALSE(CVoxel(folder + "/report.dcm", &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("without an image"), std::string::npos) << sink.messages[0];
}

TEST(DicomSeries, AFolderWithOneSeriesReadsAsTheSeriesWhateverElseItHolds) {
  TempDir dir;
  const std::string folder = dir.Path("one");
  WriteSeries(folder, MakeSeries(SeriesLayout{}));
  WriteFile(folder + "/README", "not DICOM");
  gdcm::DataSet report;
  dicomfiles::Put(report, 0x0008, 0x0016, gdcm::VR::UI, "1.2.840.10008.5.1.4.1.1.88.22");
  ASSERT_TRUE(dicomfiles::WriteDataSet(folder + "/sr.dcm", report));
  volume::RecordingSink sink;
  for (const std::string& path : {folder, folder + "/", folder + "/slice01.dcm", folder + "/README"}) {
    SCOPED_TRACE(path);
    const CVoxel v(path, &sink);
    ASSERT_EQ(v.Size(), C3DPoint(5, 4, 3));
    EXPECT_EQ(v.At(0, 0, 0), 200 - 50);
  }
  EXPECT_TRUE(sink.messages.empty());
}

TEST(DicomSeries, RowSpacingIsAlongYAndSliceSpacingIsTheGapBetweenPositions) {
  TempDir dir;
  SeriesLayout layout;
  layout.base.pixelSpacing = {0.55, 0.625};  // between rows, between columns
  layout.base.thickness = 1.0;               // thin slices 2.5 mm apart: the gap is the z spacing
  WriteSeries(dir.Path("s"), MakeSeries(layout));
  const CVoxel v(dir.Path("s"));
  ASSERT_TRUE(v.HasData());
  EXPECT_FLOAT_EQ(v.spacing[0], 0.625f);
  EXPECT_FLOAT_EQ(v.spacing[1], 0.55f);
  EXPECT_FLOAT_EQ(v.spacing[2], 2.5f);
  double p[3];
  v.PhysicalPoint(4, 3, 0, p);
  EXPECT_NEAR(p[0], 1 + 4 * 0.625, 1e-5);
  EXPECT_NEAR(p[1], 2 + 3 * 0.55, 1e-5);
}

TEST(DicomSeries, UnevenlySpacedSlicesAreRefusedNamingTheGap) {
  TempDir dir;
  SeriesLayout layout;
  layout.count = 14;
  layout.gap = 3;
  std::vector<Slice> slices = MakeSeries(layout);
  // The slice between volume slices 11 and 12 is missing (z runs from the top down).
  slices.erase(slices.begin() + 2);
  WriteSeries(dir.Path("gap"), slices);
  volume::RecordingSink sink;
  EXPECT_FALSE(CVoxel(dir.Path("gap") + "/slice00.dcm", &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0], "Cannot read a DICOM series from " + dir.Path("gap") +
                                  ": slices 11 and 12 are 6 mm apart where the others are 3 mm");

  // Two images at every position (two echoes in one series).
  std::vector<Slice> echoes = MakeSeries(SeriesLayout{});
  std::vector<Slice> second = echoes;
  for (Slice& s : second) s.instanceNumber += 10;
  echoes.insert(echoes.end(), second.begin(), second.end());
  WriteSeries(dir.Path("echoes"), echoes);
  sink.messages.clear();
  EXPECT_FALSE(CVoxel(dir.Path("echoes"), &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("lie at the same position"), std::string::npos) << sink.messages[0];
}

TEST(DicomSeries, RescaleSlopeAndInterceptAreAppliedAndRounded) {
  TempDir dir;
  SeriesLayout layout;
  layout.base.slope = 1.5;
  layout.base.intercept = -0.5;
  layout.value = [](int x, int row, int k) { return x + 10 * row + 100 * k; };
  WriteSeries(dir.Path("s"), MakeSeries(layout));
  volume::RecordingSink sink;
  const CVoxel v(dir.Path("s"), &sink);
  ASSERT_TRUE(v.HasData());
  EXPECT_TRUE(sink.messages.empty());
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        const int stored = x + 10 * y + 100 * (2 - z);
        ASSERT_EQ(v.At(x, y, z), static_cast<int>(std::floor(stored * 1.5 - 0.5 + 0.5))) << x << y << z;
      }

  // Results beyond 16 bits keep their low bits, with the usual warning.
  SeriesLayout big;
  big.base.slope = 200;
  WriteSeries(dir.Path("big"), MakeSeries(big));
  const CVoxel wrapped(dir.Path("big"), &sink);
  ASSERT_TRUE(wrapped.HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("only their low 16 bits were kept"), std::string::npos);
  EXPECT_EQ(wrapped.At(4, 3, 0), static_cast<std::int16_t>((4 + 30 + 200 - 50) * 200 - 65536));
  EXPECT_EQ(wrapped.At(0, 0, 2), -10000);
}

TEST(DicomSeries, EnhancedMultiFrameImagesReadAsTheClassicSeries) {
  TempDir dir;
  SeriesLayout layout;
  layout.count = 4;
  layout.base.orientation = {0.8, 0.6, 0, 0, 0, -1};
  layout.base.pixelSpacing = {0.5, 0.8};
  const std::vector<Slice> slices = MakeSeries(layout);
  WriteSeries(dir.Path("classic"), slices);
  // Frames stored in another order than the positions: the reader sorts them.
  std::vector<Slice> frames = {slices[2], slices[0], slices[3], slices[1]};
  frames[1].slope = 2;  // per-frame rescaling
  std::filesystem::create_directories(dir.Path("enhanced"));
  ASSERT_TRUE(dicomfiles::WriteEnhanced(dir.Path("enhanced/mf.dcm"), frames));
  volume::RecordingSink sink;
  const CVoxel classic(dir.Path("classic"), &sink);
  const CVoxel enhanced(dir.Path("enhanced/mf.dcm"), &sink);
  EXPECT_TRUE(sink.messages.empty()) << sink.messages[0];
  ASSERT_TRUE(enhanced.HasData());
  ASSERT_EQ(enhanced.Size(), classic.Size());
  EXPECT_TRUE(SameGeometry(enhanced, classic));
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        // Slice 0 (frame 1) was doubled; it lies lowest, so it is the volume's last slice.
        const int factor = z == 3 ? 2 : 1;
        ASSERT_EQ(enhanced.At(x, y, z), classic.At(x, y, z) * factor) << x << y << z;
      }

  volume::dicom::DicomStack stack;
  std::string why;
  ASSERT_TRUE(volume::dicom::LocateDicomStack(dir.Path("enhanced/mf.dcm"), &stack, &why)) << why;
  ASSERT_EQ(stack.instances.size(), 1u);
  EXPECT_EQ(stack.slices[0].frame, 2);  // slices[3], the highest, is the third frame stored
  EXPECT_EQ(stack.slices[3].frame, 1);
}

// A classic multi-frame image (one position for all frames) stacks its frames
// in frame order along the normal, SpacingBetweenSlices (else the slice
// thickness) apart; beside other images of its series it cannot be placed.
TEST(DicomSeries, ClassicMultiFrameImagesStackTheirFramesAlongTheNormal) {
  TempDir dir;
  SeriesLayout layout;
  layout.count = 4;
  layout.gap = 3;
  layout.base.thickness = 2.5;
  layout.base.orientation = {0, 1, 0, 0, 0, -1};  // sagittal: the normal is -x
  const std::vector<Slice> slices = MakeSeries(layout);
  std::filesystem::create_directories(dir.Path("spaced"));
  std::filesystem::create_directories(dir.Path("thick"));
  ASSERT_TRUE(dicomfiles::WriteClassicMultiFrame(dir.Path("spaced/mf.dcm"), slices, 3));
  ASSERT_TRUE(dicomfiles::WriteClassicMultiFrame(dir.Path("thick/mf.dcm"), slices));
  WriteSeries(dir.Path("classic"), slices);
  volume::RecordingSink sink;
  const CVoxel classic(dir.Path("classic"), &sink);
  const CVoxel spaced(dir.Path("spaced/mf.dcm"), &sink);
  const CVoxel thick(dir.Path("thick/mf.dcm"), &sink);
  ASSERT_TRUE(sink.messages.empty()) << sink.messages[0];
  ASSERT_TRUE(spaced.HasData());
  ASSERT_TRUE(thick.HasData());
  // Frame k lies k gaps along the normal from the first: the same volume as
  // the single-frame series when the spacing is stated.
  EXPECT_TRUE(SameGeometry(spaced, classic));
  EXPECT_TRUE(testvolumes::SameVoxels(spaced, classic));
  EXPECT_TRUE(testvolumes::SameVoxels(thick, classic));
  EXPECT_FLOAT_EQ(thick.spacing[2], 2.5f);
  // The last frame is the highest along the normal: slice 0.
  EXPECT_EQ(spaced.At(0, 0, 0), layout.value(0, 0, 3));

  // With single-frame images of the same series beside it, its frames have no place.
  WriteSeries(dir.Path("spaced"), slices);
  const CVoxel mixed(dir.Path("spaced/mf.dcm"), &sink);
  EXPECT_FALSE(mixed.HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("carries no per-frame positions"), std::string::npos) << sink.messages[0];
}

// Plain images (uncompressed little endian, every bit stored) have their
// pixels read straight from the file at the place the header scan found;
// GDCM's decoding of the same files is the oracle.
TEST(DicomSeries, PlainImagesReadDirectlyAsGdcmDecodesThem) {
  TempDir dir;
  struct Case {
    const char* name;
    int bits;
    bool isSigned;
    double slope, intercept;
    int (*value)(int x, int row, int k);
  };
  const Case cases[] = {
      {"signed16", 16, true, 1, 0,
       [](int x, int row, int k) { return x * 1000 - row * 7000 + k * 3 - 20000; }},
      {"unsigned16", 16, false, 1, 0, [](int x, int row, int k) { return 65535 - x * 9000 - row * 11 - k; }},
      {"unsigned8", 8, false, 1, 0, [](int x, int row, int k) { return 255 - x * 40 - row * 3 - k; }},
      {"signed8", 8, true, 1, 0, [](int x, int row, int k) { return x * 40 - row * 30 - k - 100; }},
      {"rescaled", 16, true, 1.5, -0.5, [](int x, int row, int k) { return x + 10 * row + 100 * k; }},
  };
  for (const Case& c : cases) {
    SeriesLayout layout;
    layout.base.bits = c.bits;
    layout.base.isSigned = c.isSigned;
    layout.base.slope = c.slope;
    layout.base.intercept = c.intercept;
    layout.value = c.value;
    const std::vector<Slice> slices = MakeSeries(layout);
    const std::string explicitVr = dir.Path(std::string(c.name) + "/explicit");
    const std::string implicitVr = dir.Path(std::string(c.name) + "/implicit");
    const std::string enhanced = dir.Path(std::string(c.name) + "/enhanced");
    WriteSeries(explicitVr, slices);
    ASSERT_TRUE(
        dicomfiles::TranscodeFolder(explicitVr, implicitVr, gdcm::TransferSyntax::ImplicitVRLittleEndian));
    std::filesystem::create_directories(enhanced);
    ASSERT_TRUE(dicomfiles::WriteEnhanced(enhanced + "/mf.dcm", {slices[1], slices[2], slices[0]}));
    for (const std::string& folder : {explicitVr, implicitVr, enhanced}) {
      SCOPED_TRACE(folder);
      volume::dicom::DicomStack stack;
      std::string why;
      ASSERT_TRUE(volume::dicom::LocateDicomStack(folder, &stack, &why)) << why;
      for (const volume::dicom::DicomInstance& i : stack.instances)
        ASSERT_GT(i.plainPixelLength, 0u) << i.path;
      volume::dicom::DicomStack decoded = stack;
      for (volume::dicom::DicomInstance& i : decoded.instances) i.plainPixelLength = 0;
      volume::RecordingSink plainSink, gdcmSink;
      CVoxel plain, oracle;
      ASSERT_TRUE(
          volume::dicom::ReadDicomStack(plain, stack, &plainSink, "read", folder, /*plainOnly=*/true));
      ASSERT_TRUE(volume::dicom::ReadDicomStack(oracle, decoded, &gdcmSink, "read", folder));
      EXPECT_EQ(plainSink.messages, gdcmSink.messages);
      ASSERT_TRUE(plain.SameSize(oracle));
      EXPECT_TRUE(SameGeometry(plain, oracle));
      for (std::size_t n = 0; n < plain.VoxelCount(); ++n) ASSERT_EQ(plain[n], oracle[n]) << n;
      // And through the reading process, as every caller reads a series.
      const CVoxel read(folder, &plainSink);
      ASSERT_TRUE(read.SameSize(oracle));
      for (std::size_t n = 0; n < read.VoxelCount(); ++n) ASSERT_EQ(read[n], oracle[n]) << n;
    }
  }

  // Not plain: a compressed copy, which only GDCM decodes.
  const std::string rle = dir.Path("rle");
  ASSERT_TRUE(
      dicomfiles::TranscodeFolder(dir.Path("signed16/explicit"), rle, gdcm::TransferSyntax::RLELossless));
  volume::dicom::DicomStack stack;
  std::string why;
  ASSERT_TRUE(volume::dicom::LocateDicomStack(rle, &stack, &why)) << why;
  for (const volume::dicom::DicomInstance& i : stack.instances) EXPECT_EQ(i.plainPixelLength, 0u);
  volume::RecordingSink sink;
  CVoxel refused;
  EXPECT_FALSE(volume::dicom::ReadDicomStack(refused, stack, &sink, "read", rle, /*plainOnly=*/true));
  EXPECT_FALSE(refused.HasData());
}

TEST(DicomSeries, CompressedCopiesReadAsTheirOriginals) {
  TempDir dir;
  SeriesLayout layout;
  layout.count = 4;
  layout.rows = 16;
  layout.columns = 12;
  layout.value = [](int x, int row, int k) { return (x * 37 + row * 101 + k * 997) % 4000 - 1000; };
  WriteSeries(dir.Path("original"), MakeSeries(layout));
  volume::RecordingSink sink;
  const CVoxel original(dir.Path("original"), &sink);
  ExpectSameAsVtk(dir.Path("original"), original);
  const std::vector<gdcm::TransferSyntax> lossless = {gdcm::TransferSyntax::ImplicitVRLittleEndian,
                                                      gdcm::TransferSyntax::ExplicitVRBigEndian,
                                                      gdcm::TransferSyntax::DeflatedExplicitVRLittleEndian,
                                                      gdcm::TransferSyntax::RLELossless,
                                                      gdcm::TransferSyntax::JPEGLosslessProcess14_1,
                                                      gdcm::TransferSyntax::JPEGLSLossless,
                                                      gdcm::TransferSyntax::JPEG2000Lossless};
  for (const gdcm::TransferSyntax& ts : lossless) {
    SCOPED_TRACE(ts.GetString());
    const std::string folder = dir.Path(std::string("ts-") + ts.GetString());
    ASSERT_TRUE(dicomfiles::TranscodeFolder(dir.Path("original"), folder, ts));
    volume::dicom::DicomStack stack;
    std::string why;
    ASSERT_TRUE(volume::dicom::LocateDicomStack(folder, &stack, &why)) << why;
    EXPECT_EQ(stack.instances[0].transferSyntaxUid, ts.GetString());
    const CVoxel copy(folder, &sink);
    ASSERT_TRUE(copy.HasData()) << (sink.messages.empty() ? "" : sink.messages.back());
    ASSERT_EQ(copy.Size(), original.Size());
    for (std::size_t i = 0; i < copy.VoxelCount(); ++i) ASSERT_EQ(copy[i], original[i]) << "voxel " << i;
    EXPECT_TRUE(SameGeometry(copy, original));
  }
  // A lossy copy reads as GDCM's decompressed copy of it reads with VTK.
  const std::string lossy = dir.Path("lossy"), back = dir.Path("back");
  ASSERT_TRUE(dicomfiles::TranscodeFolder(dir.Path("original"), lossy, gdcm::TransferSyntax::JPEG2000));
  ASSERT_TRUE(dicomfiles::TranscodeFolder(lossy, back, gdcm::TransferSyntax::ExplicitVRLittleEndian));
  ExpectSameAsVtk(back, CVoxel(lossy, &sink));
  EXPECT_TRUE(sink.messages.empty()) << sink.messages[0];

  // A damaged compressed image is refused naming the file and its transfer syntax.
  const std::string jpeg = dir.Path(
      std::string("ts-") + gdcm::TransferSyntax::GetTSString(gdcm::TransferSyntax::JPEGLosslessProcess14_1));
  std::string bytes = testfiles::ReadFile(jpeg + "/slice02.dcm");
  WriteFile(jpeg + "/slice02.dcm", bytes.substr(0, bytes.size() - 200) + std::string(200, '\xff'));
  EXPECT_FALSE(CVoxel(jpeg, &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("slice02.dcm"), std::string::npos) << sink.messages[0];
}

// A file cut inside its uncompressed pixel data still declares the full length;
// it is refused instead of read with zeros for the missing pixels.
TEST(DicomSeries, AFileCutInsideItsPixelsIsRefused) {
  TempDir dir;
  WriteSeries(dir.Path("cut"), MakeSeries(SeriesLayout{}));
  volume::RecordingSink sink;
  ASSERT_TRUE(CVoxel(dir.Path("cut"), &sink).HasData());
  const std::string bytes = testfiles::ReadFile(dir.Path("cut") + "/slice01.dcm");
  WriteFile(dir.Path("cut") + "/slice01.dcm", bytes.substr(0, bytes.size() - 62));
  EXPECT_FALSE(CVoxel(dir.Path("cut") + "/slice00.dcm", &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("slice01.dcm"), std::string::npos) << sink.messages[0];
}

// The file that made VTK's DICOM reader write past its buffer.
TEST(DicomSeries, TheFileThatOverranVtksBufferIsRefusedQuietly) {
  TempDir dir;
  WriteFile(dir.Path("slice00.dcm"),
            testfiles::ReadFile(CORVANE_DICOM_CORPUS "/heap-overflow-in-vtk-reader"));
  volume::RecordingSink sink;
  const CVoxel v(dir.Path("slice00.dcm"), &sink);
  EXPECT_FALSE(v.HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].rfind("Cannot read a DICOM series from " + dir.Root() + ": ", 0), 0u)
      << sink.messages[0];
}
