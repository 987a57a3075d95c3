// A case model on recording sinks, with small volumes written to a temporary
// folder and the steps a user takes to get a case ready for correcting.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../volume/TestFiles.h"
#include "../volume/TestVolumes.h"
#include "session/CaseSession.h"
#include "volume/Writers.h"

namespace sessiontest {

using Lines = std::vector<std::string>;

using testvolumes::MakeBox;
using testvolumes::MakeImage;
using testvolumes::SameVoxels;

class SessionFixture : public ::testing::Test {
 protected:
  static constexpr int kX = 32, kY = 24, kZ = 6;

  SessionFixture() : m_case(m_sink, m_sink) {}

  std::string Write(const std::string& name, const CVoxel& volume) {
    const std::string path = m_dir.Path(name);
    std::string error;
    EXPECT_TRUE(volume::SaveMetaImageShort(volume, path, &error)) << error;
    return path;
  }

  // What the window does for Load Image and Load Segmentation once the file is chosen.
  void LoadImage(const CVoxel& image) {
    const std::string path = Write("image.mhd", image);
    m_case.AdoptImage(m_case.LoadVolume(path), path);
  }
  void LoadSegmentation(const CVoxel& segmentation) {
    const std::string path = Write("segmentation.mhd", segmentation);
    m_case.AdoptSegmentation(m_case.LoadVolume(path), path);
  }
  // An image, a segmentation box, manual mode and Marking on.
  void StartManualCase() {
    LoadImage(MakeImage(kX, kY, kZ));
    LoadSegmentation(MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5));
    m_case.SetCorrectionMode(session::CorrectionMode::kManual);
    m_case.SetMarkingFlag(true);
    ASSERT_EQ(m_case.ApplyMarking(), session::MarkingOutcome::kOn);
    ASSERT_NE(m_case.StrokeMap(), nullptr);
  }

  // One stroke as the viewer paints it: press, voxels, release.
  void Stroke(int x0, int x1, int y, int z, int value) {
    m_case.BeginStroke();
    for (int x = x0; x < x1; ++x) m_case.StrokeMap()->At(x, y, z) = static_cast<CVoxel::value_type>(value);
    m_case.EndStroke();
  }

  // A whole correction run on the calling thread.
  void RunCorrection() {
    auto job = m_case.StartCorrection();
    ASSERT_NE(job, nullptr);
    job->Run(m_sink, m_sink);
    m_case.FinishCorrection(std::move(job));
  }

  Lines TakeLines() { return std::exchange(m_sink.lines, {}); }
  Lines TakeMessages() { return std::exchange(m_sink.messages, {}); }

  testfiles::TempDir m_dir;
  volume::RecordingSink m_sink;
  session::CaseSession m_case;
};

}  // namespace sessiontest
