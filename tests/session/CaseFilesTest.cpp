// The case model's files: what a load makes of a file, which path a save
// writes, where in space the written volumes lie, and the messages for files
// that cannot be read or written.
#include <filesystem>

#include "SessionFixture.h"
#include "tests/volume/TestDicomSeries.h"
#include "volume/DicomSeg.h"

namespace sessiontest {
namespace {

// Voxel x along -y, y along x, z along z, 0.5 x 0.75 x 2 mm, at (31.5, -12.25, 47 + shift).
void PlaceObliquely(CVoxel& volume, float shift = 0.0f) {
  const float spacing[3] = {0.5f, 0.75f, 2.0f};
  const float origin[3] = {31.5f, -12.25f, 47.0f + shift};
  const double direction[3][3] = {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}};
  for (int i = 0; i < 3; ++i) {
    volume.spacing[i] = spacing[i];
    volume.origin[i] = origin[i];
    for (int j = 0; j < 3; ++j) volume.direction[i][j] = direction[i][j];
  }
}

int Count(const CVoxel& volume, CVoxel::value_type value) {
  return static_cast<int>(std::count(volume.Data(), volume.Data() + volume.VoxelCount(), value));
}

using CaseFilesTest = SessionFixture;

TEST_F(CaseFilesTest, AFileThatCannotBeReadLeavesEveryVolumeInPlace) {
  StartManualCase();
  Stroke(1, 4, 1, 1, 2);
  const std::string label = Write("label.mhd", MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5));
  m_case.AdoptBoundary(m_case.LoadBoundaryVolume(label), label);
  const CVoxel* image = m_case.Image();
  const CVoxel* segmentation = m_case.Segmentation();
  const CVoxel* boundary = m_case.Boundary();
  const CVoxel* strokes = m_case.StrokeMap();
  TakeLines();
  TakeMessages();

  const std::string missing = m_dir.Path("missing.mhd");
  EXPECT_TRUE(m_case.AdoptImage(m_case.LoadVolume(missing), missing).empty());
  EXPECT_TRUE(m_case.AdoptSegmentation(m_case.LoadVolume(missing), missing).empty());
  EXPECT_TRUE(m_case.AdoptBoundary(m_case.LoadBoundaryVolume(missing), missing).empty());
  EXPECT_TRUE(m_case.LoadStrokeMap(m_case.LoadVolume(missing), missing).empty());
  const Lines messages = TakeMessages();
  // One message for each: the reader says nothing of its own about a missing file.
  EXPECT_EQ(messages, Lines(4, "Failed to load [" + missing + "]"));
  EXPECT_EQ(m_case.Image(), image);
  EXPECT_EQ(m_case.Segmentation(), segmentation);
  EXPECT_EQ(m_case.Boundary(), boundary);
  EXPECT_EQ(m_case.StrokeMap(), strokes);
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 3);
  EXPECT_NE(m_case.ImagePath(), missing);
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_EQ(m_case.History().StepCount(), 1u);  // the stroke only
}

TEST_F(CaseFilesTest, ABoundaryIsTheContourOfTheLoadedLabel) {
  LoadImage(MakeImage(kX, kY, kZ));
  TakeLines();
  const std::string path = Write("label.mhd", MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5));
  m_case.AdoptBoundary(m_case.LoadBoundaryVolume(path), path);
  ASSERT_NE(m_case.Boundary(), nullptr);
  const CVoxel& boundary = *m_case.Boundary();
  EXPECT_TRUE(boundary.SameSize(*m_case.Image()));
  EXPECT_EQ(boundary.At(8, 10, 3), 1);   // on the box's x face
  EXPECT_EQ(boundary.At(14, 10, 3), 0);  // inside the box
  EXPECT_EQ(boundary.At(2, 2, 3), 0);    // outside
  EXPECT_EQ(TakeLines(), (Lines{"Load Boundary... Path : [" + path + "]"}));

  // A second image lets go of the boundary as well as of the segmentation.
  LoadSegmentation(MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5));
  const session::RetiredVolumes retired =
      m_case.AdoptImage(std::make_unique<CVoxel>(MakeImage(kX, kY, kZ)), "second");
  EXPECT_EQ(retired.size(), 3u);  // segmentation, boundary, image
  EXPECT_EQ(m_case.Boundary(), nullptr);
  EXPECT_EQ(m_case.Segmentation(), nullptr);
}

// The chosen path gets ".mhd" unless its ending is exactly "mhd"; the ".raw"
// lies beside the header; a failure names the path that was to be written.
TEST_F(CaseFilesTest, SavesWriteTheMhdPathTheyLogAndReportTheirFailures) {
  StartManualCase();
  Stroke(1, 6, 2, 0, 2);
  Stroke(10, 14, 2, 0, 3);
  TakeLines();
  std::filesystem::create_directories(m_dir.Path("out"));
  const std::pair<std::string, std::string> cases[] = {
      {"out/seg", "out/seg.mhd"}, {"out/seg.mhd", "out/seg.mhd"}, {"out/seg.MHD", "out/seg.MHD.mhd"}};
  for (const auto& [chosen, written] : cases) {
    ASSERT_TRUE(m_case.SaveSegmentation(m_dir.Path(chosen)));
    EXPECT_EQ(TakeLines(), (Lines{"Segmentation is saved at : [" + m_dir.Path(written) + "]"}));
    const CVoxel saved(m_dir.Path(written));
    ASSERT_TRUE(saved.HasData()) << written;
    EXPECT_TRUE(SameVoxels(saved, *m_case.Segmentation())) << written;
  }
  EXPECT_TRUE(std::filesystem::exists(m_dir.Path("out/seg.raw")));

  const std::pair<std::string, std::string> maps[] = {
      {"map", "map.mhd"}, {"map.mhd", "map.mhd"}, {"map.txt", "map.txt.mhd"}};
  for (const auto& [chosen, written] : maps) {
    ASSERT_TRUE(m_case.SaveStrokeMap(m_dir.Path(chosen)));
    EXPECT_EQ(TakeLines(), (Lines{"User interaction map is saved at : [" + m_dir.Path(written) + "]"}));
    const CVoxel saved(m_dir.Path(written));
    ASSERT_TRUE(saved.HasData()) << written;
    EXPECT_EQ(Count(saved, 2), 5) << written;
    EXPECT_EQ(Count(saved, 3), 4) << written;
    EXPECT_EQ(saved.At(11, 2, 0), 3) << written;
  }

  EXPECT_FALSE(m_case.SaveSegmentation(m_dir.Path("no/such/folder/seg")));
  EXPECT_FALSE(m_case.SaveStrokeMap(m_dir.Path("missing/map")));
  EXPECT_EQ(TakeMessages(), (Lines{"Failed to save at : [" + m_dir.Path("no/such/folder/seg") + ".mhd]",
                                   "Failed to save at : [" + m_dir.Path("missing/map") + ".mhd]"}));
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(CaseFilesTest, SavedSegmentationsAndStrokeMapsLieWhereTheImageLiesInEitherFormat) {
  CVoxel image = MakeImage(kX, kY, kZ);
  CVoxel segmentation = MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5);
  PlaceObliquely(image);
  PlaceObliquely(segmentation);
  LoadImage(image);
  LoadSegmentation(segmentation);
  EXPECT_TRUE(TakeMessages().empty());  // the two share their place
  m_case.SetMarkingFlag(true);
  m_case.ApplyMarking();
  Stroke(2, 6, 3, 2, 2);
  TakeLines();

  for (const std::string name : {"seg.nii.gz", "seg.nii", "seg.mhd"}) {
    ASSERT_TRUE(m_case.SaveSegmentation(m_dir.Path(name)));
    EXPECT_EQ(TakeLines(), (Lines{"Segmentation is saved at : [" + m_dir.Path(name) + "]"}));
    const CVoxel saved(m_dir.Path(name));
    ASSERT_TRUE(saved.HasData()) << name;
    EXPECT_TRUE(SameGeometry(saved, segmentation, 1e-6, 1e-5, 1e-6)) << name;
    EXPECT_EQ(saved.CountNonZero(), segmentation.CountNonZero()) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path("seg.nii.gz.mhd")));

  // A stroke map the case created is painted on the image, so it is saved there.
  for (const std::string name : {"map.nii.gz", "map.mhd"}) {
    ASSERT_TRUE(m_case.SaveStrokeMap(m_dir.Path(name)));
    const CVoxel saved(m_dir.Path(name));
    ASSERT_TRUE(saved.HasData()) << name;
    EXPECT_TRUE(SameGeometry(saved, image, 1e-6, 1e-5, 1e-6)) << name;
    EXPECT_EQ(Count(saved, 2), 4) << name;
  }

  // A run's result lies where the segmentation lay, and the fresh stroke map
  // it leaves where the image lies.
  m_case.SetCorrectionMode(session::CorrectionMode::kManual);
  RunCorrection();
  ASSERT_TRUE(m_case.SaveSegmentation(m_dir.Path("result.nii")));
  m_case.SetMarkingFlag(true);
  m_case.ApplyMarking();
  Stroke(2, 4, 5, 1, 3);
  ASSERT_TRUE(m_case.SaveStrokeMap(m_dir.Path("fresh.mhd")));
  const CVoxel result(m_dir.Path("result.nii")), fresh(m_dir.Path("fresh.mhd"));
  ASSERT_TRUE(result.HasData());
  ASSERT_TRUE(fresh.HasData());
  EXPECT_EQ(result.CountNonZero(), segmentation.CountNonZero() + 4);
  EXPECT_TRUE(SameGeometry(result, segmentation, 1e-6, 1e-5, 1e-6));
  EXPECT_TRUE(SameGeometry(fresh, image, 1e-6, 1e-5, 1e-6));
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(CaseFilesTest, AVolumeElsewhereInSpaceLoadsWithOneWarning) {
  CVoxel image = MakeImage(kX, kY, kZ);
  PlaceObliquely(image);
  LoadImage(image);
  CVoxel moved = MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5);
  PlaceObliquely(moved, 0.5f);
  const std::string path = Write("moved.mhd", moved);
  m_case.AdoptSegmentation(m_case.LoadVolume(path), path);
  EXPECT_EQ(TakeMessages(), (Lines{volume::GeometryMismatchText("segmentation", "image")}));
  ASSERT_NE(m_case.Segmentation(), nullptr);
  EXPECT_EQ(TakeLines().back(), "Load Segmentation... Path : [" + path + "]");
  m_case.AdoptBoundary(m_case.LoadBoundaryVolume(path), path);
  EXPECT_EQ(TakeMessages(), (Lines{volume::GeometryMismatchText("boundary", "image")}));
  EXPECT_NE(m_case.Boundary(), nullptr);

  // A difference below the tolerance is no difference; nor is another size.
  PlaceObliquely(moved, 0.0004f);
  LoadSegmentation(moved);
  CVoxel small = MakeBox(8, 8, 2, 1, 3, 1, 3, 0, 1);
  PlaceObliquely(small, 5.0f);
  m_case.WarnIfNotWhereTheImageIs(small, "segmentation");
  EXPECT_TRUE(TakeMessages().empty());
}

// A segmentation of an image read from DICOM is saved as a DICOM Segmentation
// of that series when the chosen name ends in ".dcm", recording the mode.
TEST_F(CaseFilesTest, ADcmNameSavesADicomSegmentationOfTheImagesSeries) {
  const auto files = testdicom::WriteSeries(m_dir.Path("t2"), testdicom::SeriesLayout{});
  ASSERT_FALSE(files.empty());
  m_case.AdoptImage(m_case.LoadVolume(files[0]), files[0]);
  ASSERT_NE(m_case.Image(), nullptr);
  EXPECT_TRUE(m_case.ImageIsDicom());
  CVoxel segmentation(m_case.Image()->X, m_case.Image()->Y, m_case.Image()->Z);
  segmentation.CopyGeometry(*m_case.Image());
  segmentation.At(2, 3, 1) = 1;
  segmentation.At(5, 3, 4) = 1;
  m_case.AdoptSegmentation(std::make_unique<CVoxel>(segmentation), "seg");
  m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic);
  TakeLines();  // the load lines and the hint that 0.8 mm voxels suit the millimetre mode
  ASSERT_TRUE(m_case.SaveSegmentation(m_dir.Path("prostate.dcm")));
  EXPECT_EQ(TakeLines(), (Lines{"Segmentation is saved at : [" + m_dir.Path("prostate.dcm") + "]"}));
  EXPECT_TRUE(volume::IsDicomSegmentation(m_dir.Path("prostate.dcm")));
  const CVoxel saved(m_dir.Path("prostate.dcm"));
  ASSERT_TRUE(saved.HasData());
  EXPECT_TRUE(SameVoxels(saved, segmentation));
  EXPECT_TRUE(SameGeometry(saved, segmentation));
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(CaseFilesTest, ADcmNameWithoutADicomImageIsRefusedAndWritesNothing) {
  LoadImage(MakeImage(kX, kY, kZ));
  LoadSegmentation(MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5));
  EXPECT_FALSE(m_case.ImageIsDicom());
  TakeMessages();
  TakeLines();
  EXPECT_FALSE(m_case.SaveSegmentation(m_dir.Path("prostate.dcm")));
  const Lines messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Failed to save at : [" + m_dir.Path("prostate.dcm") + "]", 0), 0u)
      << messages[0];
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path("prostate.dcm")));
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path("prostate.dcm.mhd")));
}

}  // namespace
}  // namespace sessiontest
