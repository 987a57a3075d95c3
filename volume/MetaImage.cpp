// MetaImage: a text header ("Key = Value" lines) and the voxels in a data file
// beside it, or after the header itself ("ElementDataFile = LOCAL").
#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "volume/ElementConvert.h"
#include "volume/FileIO.h"
#include "volume/ReaderSupport.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace volume {

namespace {

// A header larger than this is not a MetaImage header; reading stops there.
constexpr std::size_t kMaxHeaderBytes = std::size_t{1} << 20;

const char* const kFloatWarning = "Data is float or double. Is it right?!  Use CFVoxel class!! ";

struct MetaImageHeader {
  int dimCount = 0;  // numbers given on the DimSize line
  int ndims = 0;
  bool hasDataFile = false;
  std::string dataPath;
  bool local = false;  // data follows the header in the same file
  std::int64_t localOffset = 0;
  bool hasElementType = false;
  std::string elementType;
  bool msb = false;
  bool compressed = false;
  bool binary = true;
  std::int64_t headerSize = 0;
  int channels = 1;
  bool tooLong = false;
  // TransformMatrix (or Rotation, Orientation): the world direction of voxel
  // axis x, then y, then z, as ITK writes it.
  double matrix[9] = {};
  int matrixCount = 0;
  bool hasSpacing = false;  // an ElementSpacing line
  bool hasOrigin = false;   // an Offset, Origin or Position line
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads up to `count` numbers separated by white space, as sscanf with
// "%d %d %d" or "%f %f %f" does: it stops at the first text that is not a
// number and returns how many it stored. Fields it did not reach keep their values.
template <typename T>
int ScanNumbers(std::string_view text, T* out, int count) {
  const char* p = text.data();
  const char* end = p + text.size();
  int n = 0;
  while (n < count) {
    while (p < end && IsSpace(*p)) ++p;
    if (p < end && *p == '+' && p + 1 < end && *(p + 1) != '-' && *(p + 1) != '+') ++p;
    T value{};
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || next == p) break;
    out[n++] = value;
    p = next;
  }
  return n;
}

bool IsTrue(std::string_view v) { return !v.empty() && (v[0] == 'T' || v[0] == 't' || v[0] == '1'); }

// Reads one line without its terminator (a trailing carriage return is dropped
// too). Returns false at the end of the file with nothing read, or when the
// header grows past its limit.
bool ReadLine(std::FILE* f, std::string& line, std::size_t& used, bool& tooLong) {
  line.clear();
  int c = std::getc(f);
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    if (++used > kMaxHeaderBytes) {
      tooLong = true;
      return false;
    }
    line.push_back(static_cast<char>(c));
    c = std::getc(f);
  }
  ++used;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// Parses the header lines into the volume (DimSize, ElementSpacing, Offset)
// and the returned record. The header ends at an empty line, at the end of
// the file, or right after "ElementDataFile = LOCAL".
MetaImageHeader ParseHeader(InputFile& file, const std::string& headerPath, CVoxel& volume) {
  MetaImageHeader h;
  const std::string folder(FolderOf(headerPath));
  std::string line;
  std::size_t used = 0;
  while (ReadLine(file.Stream(), line, used, h.tooLong)) {
    if (line.empty()) break;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    // One blank is expected on each side of "=": the key loses its last
    // character and the value its first.
    const std::string_view key = eq == 0 ? std::string_view{} : std::string_view(line).substr(0, eq - 1);
    const std::string_view value =
        eq + 2 <= line.size() ? std::string_view(line).substr(eq + 2) : std::string_view{};
    if (key == "DimSize") {
      int dims[3] = {volume.X, volume.Y, volume.Z};
      h.dimCount = ScanNumbers(value, dims, 3);
      volume.X = dims[0];
      volume.Y = dims[1];
      volume.Z = dims[2];
    } else if (key == "ElementSpacing") {
      h.hasSpacing = true;
      ScanNumbers(value, volume.spacing, 3);
    } else if (key == "Offset" || key == "Origin" || key == "Position") {
      h.hasOrigin = true;
      ScanNumbers(value, volume.origin, 3);
    } else if (key == "TransformMatrix" || key == "Rotation" || key == "Orientation") {
      h.matrixCount = ScanNumbers(value, h.matrix, 9);
    } else if (key == "ElementDataFile") {
      h.hasDataFile = true;
      if (value == "LOCAL" || value == "Local" || value == "local") {
        h.local = true;
        h.localOffset = file.Tell();
        break;
      }
      // Headers written on Windows separate folders with "\".
      std::string name(value);
      std::replace(name.begin(), name.end(), '\\', '/');
      h.local = false;
      h.dataPath = folder + name;
    } else if (key == "ElementType") {
      h.hasElementType = true;
      h.elementType = std::string(value);
    } else if (key == "BinaryDataByteOrderMSB" || key == "ElementByteOrderMSB") {
      h.msb = IsTrue(value);
    } else if (key == "CompressedData") {
      h.compressed = IsTrue(value);
    } else if (key == "BinaryData") {
      h.binary = IsTrue(value);
    } else if (key == "HeaderSize") {
      ScanNumbers(value, &h.headerSize, 1);
    } else if (key == "ElementNumberOfChannels") {
      ScanNumbers(value, &h.channels, 1);
    } else if (key == "NDims") {
      ScanNumbers(value, &h.ndims, 1);
    }
  }
  return h;
}

// The direction a header's matrix gives: nine numbers for a volume, four for
// a two-dimensional image. A matrix that is incomplete, not finite or has an
// axis of no length leaves the identity, as if it were absent.
void ApplyDirection(const MetaImageHeader& h, CVoxel& volume) {
  double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  if (h.matrixCount == 9) {
    for (int c = 0; c < 3; ++c)
      for (int r = 0; r < 3; ++r) axes[r][c] = h.matrix[3 * c + r];
  } else if (h.ndims == 2 && h.matrixCount == 4) {
    for (int c = 0; c < 2; ++c)
      for (int r = 0; r < 2; ++r) axes[r][c] = h.matrix[2 * c + r];
  } else {
    return;
  }
  volume.SetDirection(axes);
}

// A header that places the image with only one of spacing and origin means
// MetaImage's default for the other (spacing 1, origin 0), as every MetaImage
// reader takes it. Left at the "not set" marker it would be written back as
// -1, or an origin of -1 -1 -1 would be taken for the marker, and a result
// saved from the image would not lie where the image lies.
void ApplyDefaultPlacement(const MetaImageHeader& h, CVoxel& volume) {
  if (h.hasSpacing && !h.hasOrigin) std::fill(std::begin(volume.origin), std::end(volume.origin), 0.0f);
  if (h.hasOrigin && !h.hasSpacing) std::fill(std::begin(volume.spacing), std::end(volume.spacing), 1.0f);
}

struct ElementTypeName {
  const char* name;
  ElementKind kind;
};
constexpr std::array<ElementTypeName, 12> kElementTypes{{
    {"MET_UCHAR", ElementKind::UInt8},
    {"MET_CHAR", ElementKind::Int8},
    {"MET_SHORT", ElementKind::Int16},
    {"MET_USHORT", ElementKind::UInt16},
    {"MET_INT", ElementKind::Int32},
    {"MET_UINT", ElementKind::UInt32},
    {"MET_LONG", ElementKind::Int32},
    {"MET_ULONG", ElementKind::UInt32},
    {"MET_LONG_LONG", ElementKind::Int64},
    {"MET_ULONG_LONG", ElementKind::UInt64},
    {"MET_FLOAT", ElementKind::Float32},
    {"MET_DOUBLE", ElementKind::Float64},
}};

// Inflates zlib or gzip data from the file as the voxels are filled.
class InflateSource final : public ElementSource {
 public:
  explicit InflateSource(InputFile& file) : m_file(file), m_input(std::size_t{1} << 16) {
    m_ok = inflateInit2(&m_stream, 15 + 32) == Z_OK;  // 15 + 32: zlib or gzip header
    if (!m_ok) error = "the decompressor could not start";
  }
  ~InflateSource() override {
    if (m_ok) inflateEnd(&m_stream);
  }
  InflateSource(const InflateSource&) = delete;
  InflateSource& operator=(const InflateSource&) = delete;

  bool Next(unsigned char* dst, std::size_t n) override {
    if (!m_ok) return false;
    while (n > 0) {
      if (m_ended) return Fail("the compressed data ends before the last voxel");
      if (m_stream.avail_in == 0) {
        m_stream.next_in = m_input.data();
        m_stream.avail_in = static_cast<uInt>(m_file.ReadSome(m_input.data(), m_input.size()));
      }
      const uInt inputBefore = m_stream.avail_in;
      const std::size_t step = std::min<std::size_t>(n, 1u << 30);
      m_stream.next_out = dst;
      m_stream.avail_out = static_cast<uInt>(step);
      const int rc = inflate(&m_stream, Z_NO_FLUSH);
      const std::size_t produced = step - m_stream.avail_out;
      dst += produced;
      n -= produced;
      if (rc == Z_STREAM_END) {
        m_ended = true;
      } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
        return Fail("the compressed data is corrupt");
      } else if (produced == 0 && m_stream.avail_in == inputBefore) {
        // No progress: the file has no more input, or the stream is stuck.
        return Fail(inputBefore == 0 ? "the compressed data ends before the last voxel"
                                     : "the compressed data is corrupt");
      }
    }
    return true;
  }

 private:
  bool Fail(const char* why) {
    error = why;
    return false;
  }
  InputFile& m_file;
  std::vector<unsigned char> m_input;
  z_stream m_stream{};
  bool m_ok = false;
  bool m_ended = false;
};

bool ReadMetaImageFrom(CVoxel& volume, InputFile& header, const std::string& headerPath, MessageSink* sink) {
  const std::string what = "Cannot read mhd file";
  volume.Release();
  if (header.Size() == 0) return Refuse(volume, sink, what, headerPath, "the file is empty");
  MetaImageHeader h = ParseHeader(header, headerPath, volume);
  ApplyDirection(h, volume);
  ApplyDefaultPlacement(h, volume);
  if (h.tooLong) return Refuse(volume, sink, what, headerPath, "the header is longer than 1 MiB");

  InputFile dataFile;
  InputFile* data = &header;
  if (!h.local) {
    FileCause cause = FileCause::none;
    std::string notRegular;
    dataFile = InputFile::Open(h.hasDataFile ? h.dataPath : std::string(), &cause, &notRegular);
    if (!dataFile.IsOpen()) {
      if (!notRegular.empty()) return Refuse(volume, sink, "Cannot open mhd file", h.dataPath, notRegular);
      Tell(sink, std::string("Cannot open mhd file ") + FileCauseName(cause));
      return false;
    }
    data = &dataFile;
  }

  if (!h.binary)
    return Refuse(volume, sink, what, headerPath, "text voxel data (BinaryData = False) is not supported");
  if (h.channels != 1) {
    return Refuse(
        volume, sink, what, headerPath,
        std::to_string(h.channels) + " values per voxel (ElementNumberOfChannels) are not supported");
  }
  ElementKind kind = ElementKind::UInt8;
  if (h.hasElementType) {
    const auto it = std::find_if(kElementTypes.begin(), kElementTypes.end(),
                                 [&](const ElementTypeName& t) { return h.elementType == t.name; });
    if (it == kElementTypes.end()) {
      return Refuse(volume, sink, what, headerPath,
                    "the element type \"" + h.elementType + "\" is not supported");
    }
    kind = it->kind;
  }
  // A two-dimensional image is one slice.
  if (h.ndims == 2 && h.dimCount == 2) volume.Z = 1;
  std::string why;
  if (!CheckDimensions(volume.X, volume.Y, volume.Z, &why))
    return Refuse(volume, sink, what, headerPath, why);

  const std::int64_t needed =
      static_cast<std::int64_t>(volume::VoxelCount(volume.X, volume.Y, volume.Z)) * ElementBytes(kind);
  const std::int64_t size = data->Size();
  std::int64_t offset = h.local ? h.localOffset : h.headerSize;
  if (!h.local && h.headerSize == -1)
    offset = h.compressed ? 0 : size - needed;  // data at the end of the file
  if (size < 0)
    return Refuse(volume, sink, what, headerPath, "the size of the data file cannot be determined");
  if (offset < 0 || offset > size) {
    return Refuse(
        volume, sink, what, headerPath,
        "the data file holds " + std::to_string(size) + " bytes, the header needs " + std::to_string(needed));
  }
  const std::int64_t available = size - offset;
  if (!h.compressed && available < needed) {
    return Refuse(
        volume, sink, what, headerPath,
        "the data holds " + std::to_string(available) + " bytes, the header needs " + std::to_string(needed));
  }
  if (h.compressed && needed > MaxInflatedSize(available)) {
    return Refuse(volume, sink, what, headerPath,
                  std::to_string(available) + " bytes of compressed data cannot hold the " +
                      std::to_string(needed) + " bytes the header needs");
  }
  if (!data->Seek(offset))
    return Refuse(volume, sink, what, headerPath, "the data file cannot be positioned");
  // Everything that can throw is made before the voxels, which are not
  // zero-filled: from here on only the fill decides whether the volume is kept.
  PlainSource plain(*data);
  InflateSource inflater(*data);
  ElementSource& source = h.compressed ? static_cast<ElementSource&>(inflater) : plain;
  if (!volume.AllocateForReader())
    return Refuse(volume, sink, what, headerPath,
                  "not enough memory for " + SizeText(volume.X, volume.Y, volume.Z) + " voxels");

  const bool swap = h.msb != (std::endian::native == std::endian::big);
  ConvertReport report;
  report.trackRange = IsFloatKind(kind);
  if (!FillVolume(volume, source, kind, swap, FloatRule::Truncate, report)) {
    return Refuse(volume, sink, what, headerPath, source.error);
  }
  if (IsFloatKind(kind)) {
    volume.maximum = report.maximum;
    volume.minimum = report.minimum;
    Tell(sink, kFloatWarning);
  }
  if (report.wrapped) WarnWrapped(sink, headerPath);
  return true;
}

// ---------------------------------------------------------------------------
// Writing

// The data file of a header: the header path with the extension of its file
// name replaced by ".raw" (".raw" is appended when the name has none).
std::string DataPathFor(const std::string& headerPath) {
  const std::size_t nameStart = headerPath.size() - FileNameOf(headerPath).size();
  const std::size_t dot = headerPath.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return headerPath + ".raw";
  return headerPath.substr(0, dot) + ".raw";
}

std::string Format(const char* format, auto... args) {
  char buffer[256];
  const int n = std::snprintf(buffer, sizeof buffer, format, args...);
  return std::string(buffer,
                     n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

bool WriteMetaImage(const CVoxel& volume, const std::string& headerPath, ElementStorage storedAs,
                    std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!volume.HasData()) return fail("the volume holds no data");
  const bool oneFile = IsOneFileMetaImagePath(headerPath);
  // The data file lies beside the file the header name leads to, which is where
  // the header's relative ElementDataFile is looked up.
  const std::string dataPath = oneFile ? headerPath : DataPathFor(WriteTarget(headerPath));
  if (!oneFile && dataPath == WriteTarget(headerPath))
    return fail("the header " + headerPath + " would overwrite its own data file");

  std::string text;
  text += "ObjectType = Image\n";
  text += "NDims = 3\n";
  text += "BinaryData = True\n";
  text += "BinaryDataByteOrderMSB = False\n";
  text += "CompressedData = False\n";
  // The direction of voxel axis x first, then y, then z (ITK's order). Adding
  // 0.0 turns -0 into 0; 17 digits bring every double back exactly.
  text += "TransformMatrix =";
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) text += Format(" %.17g", volume.direction[r][c] + 0.0);
  text += "\n";
  // Nine significant digits bring every float back exactly. Unset geometry is
  // written as origin 0 and spacing 1.
  text += Format("Offset = %.9g %.9g %.9g\n", volume.OriginOrZero(0) + 0.0, volume.OriginOrZero(1) + 0.0,
                 volume.OriginOrZero(2) + 0.0);
  text += "CenterOfRotation = 0 0 0\n";
  text += "AnatomicalOrientation = RAI\n";
  text += Format("ElementSpacing = %.9g %.9g %.9g\n", volume.SpacingOrUnit(0), volume.SpacingOrUnit(1),
                 volume.SpacingOrUnit(2));
  text += Format("DimSize = %d %d %d\n", volume.X, volume.Y, volume.Z);
  text += storedAs == ElementStorage::Short ? "ElementType = MET_SHORT\n" : "ElementType = MET_UCHAR\n";
  text += "ElementDataFile = " + (oneFile ? std::string("LOCAL") : std::string(FileNameOf(dataPath))) + "\n";

  StagedFile header(headerPath);
  std::optional<StagedFile> separate;
  if (!oneFile) separate.emplace(dataPath);
  StagedFile& data = oneFile ? header : *separate;
  if (!header.Create()) return fail(header.Error());
  if (!oneFile && !data.Create()) return fail(data.Error());
  if (!header.Write(text)) return fail(header.Error());

  const std::size_t count = volume.VoxelCount();
  const CVoxel::value_type* voxels = volume.Data();
  if (storedAs == ElementStorage::Short && std::endian::native == std::endian::little) {
    if (!data.Write(voxels, count * sizeof(CVoxel::value_type))) return fail(data.Error());
  } else {
    // One slice at a time.
    const std::size_t slice = static_cast<std::size_t>(volume.X) * static_cast<std::size_t>(volume.Y);
    std::vector<unsigned char> buffer(slice * StoredBytes(storedAs));
    for (std::size_t start = 0; start < count; start += slice) {
      StoreElements(voxels + start, slice, storedAs, buffer.data());
      if (!data.Write(buffer.data(), buffer.size())) return fail(data.Error());
    }
  }
  if (oneFile) return CommitStagedFiles({&header}, error);
  return CommitStagedFiles({&data, &header}, error);
}

}  // namespace

bool ReadMetaImageStream(CVoxel& volume, std::FILE* header, const std::string& headerPath,
                         MessageSink* sink) {
  if (!header) return false;
  InputFile file = InputFile::Borrow(header);
  return ReadMetaImageFrom(volume, file, headerPath, sink);
}

}  // namespace volume

bool ReadMetaImage(CVoxel& volume, const std::string& headerPath, volume::MessageSink* sink) {
  volume::InputFile file;
  if (!volume::OpenInput(file, volume, sink, "Cannot read mhd file", headerPath)) return false;
  return volume::ReadMetaImageFrom(volume, file, headerPath, sink);
}

bool CVoxel::SaveMetaImage(const std::string& headerPath, std::string* error) const {
  return volume::WriteMetaImage(*this, headerPath, volume::ElementStorage::UnsignedByte, error);
}

bool SaveMetaImage(const CVoxel& volume, const std::string& headerPath, volume::ElementStorage storage,
                   std::string* error) {
  return volume::WriteMetaImage(volume, headerPath, storage, error);
}

namespace volume {

bool SaveMetaImageShort(const CVoxel& volume, const std::string& headerPath, std::string* error) {
  return WriteMetaImage(volume, headerPath, ElementStorage::Short, error);
}

bool IsOneFileMetaImagePath(const std::string& path) {
  const std::size_t n = path.size();
  return n >= 4 && path[n - 4] == '.' && (path[n - 3] | 0x20) == 'm' && (path[n - 2] | 0x20) == 'h' &&
         (path[n - 1] | 0x20) == 'a';
}

std::string WithMhdExtension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::string extension = dot == std::string::npos ? path : path.substr(dot + 1);
  return extension == "mhd" ? path : path + ".mhd";
}

}  // namespace volume
