// The readers that go through VTK: the single 2048 x 2048 big-endian image and
// DICOM series. VTK's own error texts are caught per reader and passed on to
// the message sink instead of VTK's output window.
#include <DICOMAppHelper.h>
#include <vtkCallbackCommand.h>
#include <vtkCommand.h>
#include <vtkDICOMImageReader.h>
#include <vtkExecutive.h>
#include <vtkImageData.h>
#include <vtkImageReader.h>
#include <vtkNew.h>
#include <vtkSmartPointer.h>
#include <vtkType.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "volume/ElementConvert.h"
#include "volume/FileIO.h"
#include "volume/ReaderSupport.h"
#include "volume/Readers.h"

using namespace volume_io;

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

// Exposes how many DICOM files the reader found in its folder.
class CountingDicomReader : public vtkDICOMImageReader {
 public:
  static CountingDicomReader* New() {
    auto* reader = new CountingDicomReader;
    reader->InitializeObjectBase();
    return reader;
  }
  int FileCount() { return GetNumberOfDICOMFileNames(); }

  // Where the series lies, once it has been read: voxel axis x along the
  // rows (the first orientation vector), y down the columns (the second; the
  // reader turns the rows over and ReadDicomSeries turns them back), z along
  // the slices in the order VTK stacked them, which is by decreasing position
  // along the normal. The reader keeps the position of the last slice it read
  // (the last one); the first follows from the slices' positions along the normal.
  bool PatientGeometry(double axes[3][3], double originLps[3]) {
    std::vector<std::pair<float, std::string>> slices;
    AppHelper->GetImagePositionPatientFilenamePairs(slices, false);
    const float* position = GetImagePositionPatient();
    const float* orientation = GetImageOrientationPatient();
    if (slices.empty() || !position || !orientation) return false;
    const double row[3] = {orientation[0], orientation[1], orientation[2]};
    const double column[3] = {orientation[3], orientation[4], orientation[5]};
    double normal[3] = {row[1] * column[2] - row[2] * column[1], row[2] * column[0] - row[0] * column[2],
                        row[0] * column[1] - row[1] * column[0]};
    const double length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (!(length > 0.0)) return false;
    for (double& n : normal) n /= length;
    const double* spacing = GetDataSpacing();
    const double span = static_cast<double>(slices.front().first) - slices.back().first;
    for (int r = 0; r < 3; ++r) {
      axes[r][0] = row[r] * spacing[0];
      axes[r][1] = column[r] * spacing[1];
      axes[r][2] = -normal[r] * spacing[2];
      originLps[r] = position[r] + span * normal[r];
    }
    return true;
  }
};

bool KindOfScalarType(int type, ElementKind* kind) {
  switch (type) {
    case VTK_SHORT:
      *kind = ElementKind::Int16;
      return true;
    case VTK_UNSIGNED_SHORT:
      *kind = ElementKind::UInt16;
      return true;
    case VTK_INT:
      *kind = ElementKind::Int32;
      return true;
    case VTK_FLOAT:
      *kind = ElementKind::Float32;
      return true;
    // Types a DICOM reader rarely gives: converted like the float case.
    case VTK_CHAR:
    case VTK_SIGNED_CHAR:
      *kind = ElementKind::Int8;
      return true;
    case VTK_UNSIGNED_CHAR:
      *kind = ElementKind::UInt8;
      return true;
    case VTK_UNSIGNED_INT:
      *kind = ElementKind::UInt32;
      return true;
    case VTK_DOUBLE:
      *kind = ElementKind::Float64;
      return true;
    default:
      return false;
  }
}

std::string FolderForDicom(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return path;
  std::string folder(FolderOf(path));
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder.empty() ? std::string(".") : folder;
}

// Bytes in the regular files of a folder: more voxel data than this cannot be in it.
std::int64_t BytesInFolder(const std::string& folder) {
  std::int64_t total = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) {
      const auto size = it->file_size(sizeError);
      if (!sizeError) total += static_cast<std::int64_t>(size);
    }
  }
  return total;
}

// What VTK's DICOM reader takes from one file, as far as the safety checks
// below need it.
struct DicomFileFacts {
  bool isDicom = false;                         // whether VTK's parser reads the file at all
  std::string problem;                          // why VTK must not parse it; empty when it may
  std::map<std::uint32_t, std::string> values;  // the values VTK's callbacks read, by tag
  std::int64_t pixelBytes = 0;                  // length of the pixel data
};

// VTK's DICOM parser walks a file's elements and hands the values of some of
// them to its callbacks, which read them without checking: an empty value, a
// length beyond the end of the file or a file ending inside an element header
// makes it read through a null pointer or past its buffer. This walk mirrors
// the parser's (little-endian, the value representation taken as explicit
// when it is one the parser knows, as implicit otherwise; undefined lengths
// are walked into) and notes the values the callbacks would get.
//
// Which files the parser reads: those with "DICM" at offset 0 or 128 (read
// from just after it), and also, without the magic, those of at least 132
// bytes whose first group number is 0x0002 or 0x0008 (read from offset 0).
// A shorter file without the magic leaves its stream failed before the group
// is read, so the parser passes it by.
DicomFileFacts ExamineDicomFile(const std::string& path) {
  DicomFileFacts facts;
  InputFile file = InputFile::Open(path);
  if (!file.IsOpen()) return facts;  // VTK cannot open it either
  const std::int64_t size = file.Size();
  if (size < 4) return facts;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  if (!file.ReadExact(bytes.data(), bytes.size())) {
    facts.isDicom = true;
    facts.problem = "it cannot be read";
    return facts;
  }
  auto magicAt = [&](std::size_t at) {
    return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, "DICM", 4) == 0;
  };
  std::size_t pos = 0;
  if (magicAt(0)) {
    pos = 4;
  } else if (magicAt(128)) {
    pos = 132;
  } else {
    const unsigned group = bytes.size() >= 132 ? (bytes[0] | bytes[1] << 8) : 0u;
    if (group != 0x0002 && group != 0x0008) return facts;
    pos = 0;
  }
  facts.isDicom = true;
  auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  auto vrIs = [&](std::size_t at, std::initializer_list<const char*> names) {
    for (const char* name : names)
      if (bytes[at] == name[0] && bytes[at + 1] == name[1]) return true;
    return false;
  };
  // The elements VTK's reader hands to a callback.
  static constexpr std::uint32_t kCallbackTags[] = {
      0x00020010, 0x00100010, 0x00180050, 0x00181120, 0x0020000D, 0x0020000E, 0x00200010,
      0x00200013, 0x00200032, 0x00200037, 0x00201041, 0x00280004, 0x00280010, 0x00280011,
      0x00280030, 0x00280100, 0x00280103, 0x00281052, 0x00281053, 0x7FE00010};
  const std::size_t end = bytes.size();
  while (pos < end) {
    if (end - pos < 8) {
      facts.problem = "it ends inside an element header";
      return facts;
    }
    const std::uint32_t tag = u16(pos) << 16 | u16(pos + 2);
    std::size_t value = pos + 8;
    std::uint32_t length = 0;
    // The parser's own split: "UT" (and its private "AW") take a 16-bit
    // length there, unlike the DICOM standard's UT.
    if (vrIs(pos + 4, {"AW", "AE", "AS", "CS", "UI", "DA", "DS", "DT", "IS", "LO", "LT", "PN",
                       "ST", "TM", "UT", "SH", "FL", "SL", "AT", "UL", "US", "SS", "FD"})) {
      length = u16(pos + 6);
    } else if (vrIs(pos + 4, {"OB", "OW", "UN", "SQ"})) {
      if (end - pos < 12) {
        facts.problem = "it ends inside an element header";
        return facts;
      }
      length = u32(pos + 8);
      value = pos + 12;
    } else {
      length = u32(pos + 4);
    }
    const auto signedLength = static_cast<std::int32_t>(length);
    if (std::find(std::begin(kCallbackTags), std::end(kCallbackTags), tag) != std::end(kCallbackTags)) {
      char name[16];
      std::snprintf(name, sizeof name, "(%04X,%04X)", tag >> 16, tag & 0xFFFF);
      // The patient name and study ID callbacks take an empty value as an empty string.
      const bool mayBeEmpty = tag == 0x00100010 || tag == 0x00200010;
      if (signedLength <= 0 && !mayBeEmpty) {
        facts.problem = std::string("its element ") + name + " is empty";
        return facts;
      }
      if (signedLength > 0 && static_cast<std::size_t>(signedLength) > end - value) {
        facts.problem = std::string("its element ") + name + " runs past the end of the file";
        return facts;
      }
      const std::size_t valueLength = signedLength > 0 ? static_cast<std::size_t>(signedLength) : 0;
      if (tag == 0x7FE00010) {
        facts.pixelBytes = signedLength;
      } else {
        facts.values[tag].assign(reinterpret_cast<const char*>(bytes.data() + value), valueLength);
      }
      pos = value + valueLength;
    } else {
      // Like the parser: a negative (undefined) length is walked into.
      pos = value + (signedLength > 0 ? static_cast<std::size_t>(signedLength) : 0);
    }
  }
  return facts;
}

// VTK's DICOM reader copies every file's pixels into one block laid out by the
// first file's size, without checking: every file must have the same size,
// sample layout and rescaling, and exactly the pixel bytes that size needs.
std::string SeriesProblem(const DicomFileFacts& file, const DicomFileFacts& first) {
  constexpr std::uint32_t kRows = 0x00280010, kColumns = 0x00280011, kBits = 0x00280100,
                          kPhotometric = 0x00280004, kIntercept = 0x00281052, kSlope = 0x00281053;
  auto value = [](const DicomFileFacts& f, std::uint32_t tag) {
    const auto it = f.values.find(tag);
    return it == f.values.end() ? std::string() : it->second;
  };
  auto number = [&](std::uint32_t tag) {
    const std::string v = value(file, tag);
    return v.size() >= 2 ? static_cast<std::int64_t>(static_cast<unsigned char>(v[0]) |
                                                     static_cast<unsigned char>(v[1]) << 8)
                         : 0;
  };
  for (std::uint32_t tag : {kRows, kColumns, kBits, kPhotometric, kIntercept, kSlope}) {
    if (value(file, tag) != value(first, tag))
      return "its image size, sample layout or rescaling differs from the first file's";
  }
  const std::int64_t bits = number(kBits);
  if (bits != 8 && bits != 16) return std::to_string(bits) + " bits per sample are not supported";
  const std::int64_t samples = value(file, kPhotometric).rfind("RGB", 0) == 0 ? 3 : 1;
  const std::int64_t needed = number(kRows) * number(kColumns) * samples * (bits / 8);
  const std::int64_t pixels = file.pixelBytes;
  if (needed <= 0 || pixels != needed) {
    return "it holds " + std::to_string(pixels) + " bytes of pixels where its size needs " +
           std::to_string(needed);
  }
  return {};
}

// VTK's DICOM reader opens every entry of the folder that is not a folder
// itself, with a blocking open (a FIFO or a device among them would stop the
// program), and parses every DICOM file among them (see ExamineDicomFile and
// SeriesProblem). Returns the first unusable entry (by name) and why.
bool FolderIsSafeForVtk(const std::string& folder, std::string* why) {
  std::error_code ec;
  std::vector<std::string> names;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  std::optional<DicomFileFacts> first;
  for (const std::string& name : names) {
    const std::string entry = folder + "/" + name;
    std::error_code kindError;
    if (std::filesystem::is_directory(entry, kindError)) continue;
    if (const std::string kind = NotARegularFile(entry); !kind.empty()) {
      *why = "it holds " + entry + ", and " + kind;
      return false;
    }
    DicomFileFacts facts = ExamineDicomFile(entry);
    if (!facts.isDicom) continue;
    if (facts.problem.empty()) facts.problem = SeriesProblem(facts, first ? *first : facts);
    if (!facts.problem.empty()) {
      *why = "the DICOM file " + entry + " cannot be read: " + facts.problem;
      return false;
    }
    if (!first) first = std::move(facts);
  }
  return true;
}

}  // namespace

bool ReadImage2048(CVoxel& volume, const std::string& path, MessageSink* sink) {
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

bool ReadDicomSeries(CVoxel& volume, const std::string& path, MessageSink* sink) {
  const std::string folder = FolderForDicom(path);
  const std::string what = "Cannot read a DICOM series from";
  volume.Release();
  {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return false;
  }
  std::string unusable;
  if (!FolderIsSafeForVtk(folder, &unusable)) return Refuse(volume, sink, what, folder, unusable);
  vtkSmartPointer<CountingDicomReader> reader =
      vtkSmartPointer<CountingDicomReader>::Take(CountingDicomReader::New());
  VtkErrors errors(reader);
  reader->SetDirectoryName(folder.c_str());
  reader->UpdateInformation();
  if (reader->FileCount() <= 0) return Refuse(volume, sink, what, folder, "the folder holds no DICOM images");

  // Check the size the series claims before VTK allocates it.
  const int* extent = reader->GetDataExtent();
  const std::int64_t X = std::int64_t{extent[1]} - extent[0] + 1;
  const std::int64_t Y = std::int64_t{extent[3]} - extent[2] + 1;
  const std::int64_t Z = std::int64_t{extent[5]} - extent[4] + 1;
  std::string why;
  if (!CheckDimensions(X, Y, Z, &why)) return Refuse(volume, sink, what, folder, why);
  ElementKind kind;
  if (!KindOfScalarType(reader->GetDataScalarType(), &kind)) {
    return Refuse(volume, sink, what, folder, "its pixel type is not supported");
  }
  if (reader->GetNumberOfScalarComponents() != 1) {
    return Refuse(volume, sink, what, folder, "colour images are not supported");
  }
  const std::int64_t needed = X * Y * Z * ElementBytes(kind);
  if (needed > BytesInFolder(folder)) {
    return Refuse(volume, sink, what, folder,
                  "its headers describe " + SizeText(X, Y, Z) + " voxels, more than the files hold");
  }

  reader->Update();
  vtkImageData* image = reader->GetOutput();
  int dims[3] = {0, 0, 0};
  if (image) image->GetDimensions(dims);
  if (errors.AnyError() || !image || dims[0] != X || dims[1] != Y || dims[2] != Z ||
      image->GetNumberOfScalarComponents() != 1 || !image->GetScalarPointer() ||
      !KindOfScalarType(image->GetScalarType(), &kind)) {
    return Refuse(volume, sink, what, folder, errors.Any() ? errors.Text() : "its images cannot be read");
  }

  volume.X = dims[0];
  volume.Y = dims[1];
  volume.Z = dims[2];
  const double* spacing = image->GetSpacing();
  const double* origin = image->GetOrigin();
  for (int i = 0; i < 3; ++i) {
    volume.spacing[i] = static_cast<float>(spacing[i]);
    volume.origin[i] = static_cast<float>(origin[i]);
  }
  // DICOM positions are LPS already. A series without a usable orientation
  // (or slice spacing) keeps VTK's spacing and origin.
  double axes[3][3], patientOrigin[3];
  if (reader->PatientGeometry(axes, patientOrigin)) volume.SetGeometryFromMatrix(axes, patientOrigin);
  if (!volume.Allocate()) return Refuse(volume, sink, what, folder, "not enough memory");

  // Each slice is turned upside down: output row y becomes voxel row Y - 1 - y.
  const auto* src = static_cast<const unsigned char*>(image->GetScalarPointer());
  const std::size_t rowBytes = static_cast<std::size_t>(volume.X) * ElementBytes(kind);
  ConvertReport report;
  for (int z = 0; z < volume.Z; ++z) {
    for (int y = 0; y < volume.Y; ++y) {
      const std::size_t row = static_cast<std::size_t>(z) * volume.Y + y;
      ConvertElements(src + row * rowBytes, volume.X, kind, false, FloatRule::Round,
                      &volume.At(0, volume.Y - 1 - y, z), report);
    }
  }
  if (report.wrapped) WarnWrapped(sink, folder);
  return true;
}
