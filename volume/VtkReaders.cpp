// The reader that goes through VTK: the single 2048 x 2048 big-endian image.
// VTK's own error texts are caught and passed on to the message sink instead
// of VTK's output window.
#include <vtkCallbackCommand.h>
#include <vtkCommand.h>
#include <vtkExecutive.h>
#include <vtkImageData.h>
#include <vtkImageReader.h>
#include <vtkNew.h>
#include <vtkType.h>

#include <string>

#include "volume/ElementConvert.h"
#include "volume/FileIO.h"
#include "volume/ReaderSupport.h"
#include "volume/Readers.h"

namespace volume {

namespace {

constexpr int kImageSide = 2048;

// Keeps the first error or warning text an algorithm (or its executive) reports.
class VtkErrors {
 public:
  explicit VtkErrors(vtkAlgorithm* algorithm) {
    m_callback->SetClientData(this);
    m_callback->SetCallback(&VtkErrors::Record);
    for (vtkObject* o :
         {static_cast<vtkObject*>(algorithm), static_cast<vtkObject*>(algorithm->GetExecutive())}) {
      o->AddObserver(vtkCommand::ErrorEvent, m_callback);
      o->AddObserver(vtkCommand::WarningEvent, m_callback);
    }
  }
  bool Any() const { return m_seen; }
  bool AnyError() const { return m_error; }
  std::string Text() const { return m_text.empty() ? std::string("VTK reported an error") : m_text; }

 private:
  static void Record(vtkObject*, unsigned long event, void* self, void* callData) {
    auto* me = static_cast<VtkErrors*>(self);
    me->m_seen = true;
    if (event == vtkCommand::ErrorEvent) me->m_error = true;
    if (me->m_text.empty() && callData) {
      std::string text = static_cast<const char*>(callData);
      while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
      for (char& c : text) {
        if (c == '\n') c = ' ';
      }
      me->m_text = text;
    }
  }
  vtkNew<vtkCallbackCommand> m_callback;
  std::string m_text;
  bool m_seen = false;
  bool m_error = false;
};

}  // namespace

}  // namespace volume

bool ReadImage2048(CVoxel& volume, const std::string& path, volume::MessageSink* sink) {
  using namespace volume;  // the readers' helpers
  const std::string what = "Cannot read image";
  volume.Release();
  constexpr std::int64_t kBytes = std::int64_t{kImageSide} * kImageSide * 2;
  {
    InputFile file;
    if (!OpenInput(file, volume, sink, what, path)) return false;
    const std::int64_t size = file.Size();
    if (size < kBytes) {
      return Refuse(volume, sink, what, path,
                    "the file holds " + std::to_string(size) + " bytes, a 2048 x 2048 16-bit image needs " +
                        std::to_string(kBytes));
    }
  }
  vtkNew<vtkImageReader> reader;
  VtkErrors errors(reader);
  reader->SetFileDimensionality(2);
  reader->SetDataExtent(0, kImageSide - 1, 0, kImageSide - 1, 0, 0);
  reader->SetNumberOfScalarComponents(1);
  reader->SetDataScalarTypeToUnsignedShort();
  reader->SetDataByteOrderToBigEndian();
  reader->SetFileName(path.c_str());
  reader->Update();
  vtkImageData* image = reader->GetOutput();
  int dims[3] = {0, 0, 0};
  if (image) image->GetDimensions(dims);
  if (errors.AnyError() || !image || dims[0] != kImageSide || dims[1] != kImageSide || dims[2] != 1 ||
      image->GetScalarType() != VTK_UNSIGNED_SHORT || !image->GetScalarPointer()) {
    return Refuse(volume, sink, what, path, errors.Text());
  }
  volume.X = kImageSide;
  volume.Y = kImageSide;
  volume.Z = 1;
  if (!volume.Allocate()) return Refuse(volume, sink, what, path, "not enough memory");
  // The reader's output index is the voxel index: its default row order has
  // already put the file's first row at the bottom (y = 2047).
  ConvertReport report;
  ConvertElements(static_cast<const unsigned char*>(image->GetScalarPointer()), volume.VoxelCount(),
                  ElementKind::UInt16, false, FloatRule::Round, volume.Data(), report);
  return true;
}
