#include "volume/DicomImage.h"

#include <fcntl.h>
#include <gdcmImage.h>
#include <gdcmImageReader.h>
#include <gdcmPixelFormat.h>
#include <gdcmTrace.h>
#include <gdcmTransferSyntax.h>
#include <gdcmUIDs.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "volume/ElementConvert.h"
#include "volume/FileIO.h"
#include "volume/Isolated.h"
#include "volume/ReaderSupport.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"

namespace volume::dicom {
namespace {

// Encapsulated pixel data may expand by a lot (a blank JPEG 2000 image is a
// few hundred bytes), but not without bound: more than this many decoded
// bytes per byte of file, above a floor, is a corrupt size.
constexpr std::uint64_t kMaxExpansion = 4096;
constexpr std::uint64_t kExpansionFloor = std::uint64_t{64} << 20;

bool KindOfPixelFormat(const gdcm::PixelFormat& format, ElementKind* kind) {
  switch (format.GetScalarType()) {
    case gdcm::PixelFormat::UINT8:
      *kind = ElementKind::UInt8;
      return true;
    case gdcm::PixelFormat::INT8:
      *kind = ElementKind::Int8;
      return true;
    case gdcm::PixelFormat::UINT16:
      *kind = ElementKind::UInt16;
      return true;
    case gdcm::PixelFormat::INT16:
      *kind = ElementKind::Int16;
      return true;
    case gdcm::PixelFormat::UINT32:
      *kind = ElementKind::UInt32;
      return true;
    case gdcm::PixelFormat::INT32:
      *kind = ElementKind::Int32;
      return true;
    case gdcm::PixelFormat::FLOAT32:
      *kind = ElementKind::Float32;
      return true;
    case gdcm::PixelFormat::FLOAT64:
      *kind = ElementKind::Float64;
      return true;
    default:
      return false;
  }
}

std::string TransferSyntaxName(const std::string& uid) {
  gdcm::UIDs uids;
  if (!uid.empty() && uids.SetFromUID(uid.c_str()) && uids.GetName())
    return std::string(uids.GetName()) + " (" + uid + ")";
  return uid.empty() ? std::string("unknown") : uid;
}

// GDCM keeps the length a file declares for its pixel data even when the file
// ends before it, and hands back the missing bytes as zeros. Whether the
// uncompressed pixel value of `declared` bytes really lies within the file:
// its element header (the tag followed by that length) must end where a value
// of that length still fits, so only the part of the file before that point
// is looked into (not the pixels themselves).
bool PixelValueFitsInFile(const std::string& path, std::uint64_t declared, bool bigEndian) {
  std::error_code ec;
  const std::uint64_t size = std::filesystem::file_size(path, ec);
  if (ec || declared > size) return false;
  constexpr std::uint64_t kHeaderRoom = std::uint64_t{1} << 20;
  // The latest a value of `declared` bytes can start, and the header bytes before it.
  const std::uint64_t latestStart = size - declared;
  const std::uint64_t begin = latestStart > kHeaderRoom ? latestStart - kHeaderRoom : 0;
  std::string window(static_cast<std::size_t>(latestStart - begin), '\0');
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    const bool read = std::fseek(f, static_cast<long>(begin), SEEK_SET) == 0 &&
                      std::fread(window.data(), 1, window.size(), f) == window.size();
    std::fclose(f);
    if (!read) return false;
  } else {
    return false;
  }
  const auto u32 = [&](std::size_t at) {
    const auto b = [&](std::size_t i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(window[at + i]));
    };
    return bigEndian ? b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3)
                     : b(3) << 24 | b(2) << 16 | b(1) << 8 | b(0);
  };
  const char tag[4] = {bigEndian ? '\x7f' : '\xe0', bigEndian ? '\xe0' : '\x7f', bigEndian ? '\x00' : '\x10',
                       bigEndian ? '\x10' : '\x00'};
  // Explicit VR: tag, "OB"/"OW" and two reserved bytes, then the length; implicit: tag, length.
  for (std::size_t at = window.find(std::string_view(tag, 4)); at != std::string::npos;
       at = window.find(std::string_view(tag, 4), at + 1)) {
    for (std::size_t lengthAt : {at + 8, at + 4})
      if (lengthAt + 4 <= window.size() && u32(lengthAt) == declared) return true;
  }
  return false;
}

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Decodes one instance and writes its frames into the slices that use them.
class InstanceDecoder {
 public:
  InstanceDecoder(const DicomStack& stack, CVoxel& volume, bool plainOnly)
      : m_stack(stack), m_volume(volume), m_plainOnly(plainOnly) {}

  // False with the reason when the instance cannot be decoded.
  bool Decode(int instanceIndex, const std::vector<int>& slices, ConvertReport& report, std::string* why) {
    const DicomInstance& instance = m_stack.instances[static_cast<std::size_t>(instanceIndex)];
    if (instance.plainPixelLength > 0 && ReadPlain(instance, slices, report)) return true;
    const std::string name = FileName(instance.path);
    const std::string syntax = TransferSyntaxName(instance.transferSyntaxUid);
    if (m_plainOnly) {
      *why = "the image " + name + " (transfer syntax " + syntax + ") cannot be read";
      return false;
    }
    gdcm::ImageReader reader;
    reader.SetFileName(instance.path.c_str());
    if (!reader.Read()) {
      *why = "the image " + name + " (transfer syntax " + syntax + ") cannot be read";
      return false;
    }
    const gdcm::Image& image = reader.GetImage();
    const gdcm::PixelFormat& format = image.GetPixelFormat();
    if (format.GetSamplesPerPixel() != 1) {
      *why = "the image " + name + " is in colour (" + std::to_string(format.GetSamplesPerPixel()) +
             " samples per pixel); only grey-scale images are supported";
      return false;
    }
    ElementKind kind;
    if (!KindOfPixelFormat(format, &kind)) {
      *why = "the image " + name + " has " + std::to_string(format.GetBitsAllocated()) +
             " bits per sample, which is not supported";
      return false;
    }
    const unsigned dimensions = image.GetNumberOfDimensions();
    const std::uint64_t columns = image.GetDimension(0), rows = image.GetDimension(1);
    const std::uint64_t frames = dimensions >= 3 ? image.GetDimension(2) : 1;
    if (columns != static_cast<std::uint64_t>(m_stack.columns) ||
        rows != static_cast<std::uint64_t>(m_stack.rows) ||
        frames < static_cast<std::uint64_t>(instance.frames)) {
      *why = "the image " + name + " holds " + std::to_string(columns) + " x " + std::to_string(rows) +
             " x " + std::to_string(frames) + " pixels where its header describes " +
             std::to_string(m_stack.columns) + " x " + std::to_string(m_stack.rows) + " x " +
             std::to_string(instance.frames);
      return false;
    }
    const std::uint64_t frameElements = columns * rows;
    const std::uint64_t expected = frameElements * frames * static_cast<std::uint64_t>(ElementBytes(kind));
    const std::uint64_t length = image.GetBufferLength();
    if (length != expected) {
      *why = "the image " + name + " decodes to " + std::to_string(length) + " bytes where its size needs " +
             std::to_string(expected);
      return false;
    }
    if (image.GetTransferSyntax().IsEncapsulated()) {
      std::error_code ec;
      const std::uint64_t fileBytes = std::filesystem::file_size(instance.path, ec);
      if (ec || expected > std::max(kExpansionFloor, fileBytes * kMaxExpansion)) {
        *why = "the image " + name + " claims " + std::to_string(expected) +
               " bytes of pixels, far more than its compressed data can hold";
        return false;
      }
    }
    if (!image.GetTransferSyntax().IsEncapsulated()) {
      const gdcm::ByteValue* stored = image.GetDataElement().GetByteValue();
      // A deflated file's bytes are not its elements: only the others can be looked into.
      const gdcm::TransferSyntax ts = image.GetTransferSyntax();
      if (stored && stored->GetLength() >= expected &&
          ts != gdcm::TransferSyntax::DeflatedExplicitVRLittleEndian &&
          !PixelValueFitsInFile(instance.path, stored->GetLength(),
                                ts.GetSwapCode() == gdcm::SwapCode::BigEndian)) {
        *why = "the image " + name + " ends inside its pixel data (the file is cut short)";
        return false;
      }
      if (!stored || stored->GetLength() < expected) {
        *why = "the image " + name + " holds " +
               std::to_string(stored ? std::uint64_t{stored->GetLength()} : std::uint64_t{0}) +
               " bytes of pixels where its size needs " + std::to_string(expected);
        return false;
      }
    }
    std::vector<char>& buffer = m_buffer;
    try {
      buffer.resize(static_cast<std::size_t>(expected));
    } catch (const std::bad_alloc&) {
      *why = "not enough memory to decode the image " + name;
      return false;
    }
    if (!image.GetBuffer(buffer.data())) {
      *why = "the pixel data of " + name + " (transfer syntax " + syntax + ") cannot be decoded";
      return false;
    }
    StoreFrames(kind, frameElements, slices, report);
    return true;
  }

 private:
  // A plain image's pixels are its file's bytes at a known place: read
  // straight into the buffer, without GDCM parsing the file a second time.
  // False when they cannot be read so (the file changed since its header was
  // read, say): GDCM then reads the file and names what is wrong.
  bool ReadPlain(const DicomInstance& instance, const std::vector<int>& slices, ConvertReport& report) {
    const ElementKind kind = instance.bitsAllocated == 8
                                 ? (instance.signedPixels ? ElementKind::Int8 : ElementKind::UInt8)
                                 : (instance.signedPixels ? ElementKind::Int16 : ElementKind::UInt16);
    const std::uint64_t frameElements =
        static_cast<std::uint64_t>(m_stack.columns) * static_cast<std::uint64_t>(m_stack.rows);
    const std::uint64_t expected =
        frameElements * static_cast<std::uint64_t>(instance.frames) * ElementBytes(kind);
    if (instance.rows != m_stack.rows || instance.columns != m_stack.columns ||
        instance.plainPixelLength < expected)
      return false;
    try {
      m_buffer.resize(static_cast<std::size_t>(expected));
    } catch (const std::bad_alloc&) {
      return false;
    }
    const int fd = ::open(instance.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool read = ReadAllAt(fd, m_buffer.data(), m_buffer.size(), instance.plainPixelOffset);
    ::close(fd);
    if (!read) return false;
    StoreFrames(kind, frameElements, slices, report);
    return true;
  }

  // Converts the frames in the buffer into the slices that use them.
  void StoreFrames(ElementKind kind, std::uint64_t frameElements, const std::vector<int>& slices,
                   ConvertReport& report) {
    const std::size_t bytesPerFrame = static_cast<std::size_t>(frameElements) * ElementBytes(kind);
    for (int z : slices) {
      const DicomFrame& frame = m_stack.slices[static_cast<std::size_t>(z)];
      const auto* src = reinterpret_cast<const unsigned char*>(m_buffer.data()) + bytesPerFrame * frame.frame;
      std::int16_t* dst = &m_volume.At(0, 0, z);
      if (frame.slope == 1.0 && frame.intercept == 0.0) {
        ConvertElements(src, frameElements, kind, false, FloatRule::Round, dst, report);
      } else {
        ConvertRescaled(src, frameElements, kind, frame.slope, frame.intercept, dst, report);
      }
    }
  }

  const DicomStack& m_stack;
  CVoxel& m_volume;
  const bool m_plainOnly;
  // One buffer per decoding thread, kept from image to image: a fresh one for
  // each would be mapped and faulted in page by page every time.
  std::vector<char> m_buffer;
};

}  // namespace

bool ReadDicomStack(CVoxel& volume, const DicomStack& stack, MessageSink* sink, const std::string& what,
                    const std::string& name, bool plainOnly) {
  volume.Release();
  std::string why;
  if (!CheckDimensions(stack.columns, stack.rows, static_cast<std::int64_t>(stack.slices.size()), &why))
    return Refuse(volume, sink, what, name, why);
  volume.X = stack.columns;
  volume.Y = stack.rows;
  volume.Z = static_cast<int>(stack.slices.size());
  if (stack.hasPlacement) {
    if (!volume.SetGeometryFromMatrix(stack.axes, stack.origin)) {
      return Refuse(volume, sink, what, name, "its orientation does not describe three independent axes");
    }
  } else {
    for (int i = 0; i < 3; ++i) {
      volume.spacing[i] = static_cast<float>(stack.spacing[i]);
      volume.origin[i] = 0.0f;
    }
  }
  // Every voxel is written below, or the volume released by the refusal.
  if (!volume.AllocateForReader()) return Refuse(volume, sink, what, name, "not enough memory");

  // The slices each instance provides.
  std::vector<std::vector<int>> slicesOf(stack.instances.size());
  for (std::size_t z = 0; z < stack.slices.size(); ++z)
    slicesOf[static_cast<std::size_t>(stack.slices[z].instance)].push_back(static_cast<int>(z));

  const std::size_t count = stack.instances.size();
  const std::size_t workers =
      std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, std::max<std::size_t>(count, 1));
  std::atomic<std::size_t> next{0};
  std::mutex lock;
  std::size_t failedAt = count;
  std::string failure;
  ConvertReport merged;
  auto work = [&] {
    InstanceDecoder decoder(stack, volume, plainOnly);
    ConvertReport report;
    for (std::size_t i = next++; i < count; i = next++) {
      std::string reason;
      bool ok = false;
      try {
        ok = decoder.Decode(static_cast<int>(i), slicesOf[i], report, &reason);
      } catch (const std::bad_alloc&) {
        reason = "not enough memory to decode " + FileName(stack.instances[i].path);
      } catch (...) {
        reason = "the image " + FileName(stack.instances[i].path) + " cannot be decoded";
      }
      if (!ok) {
        const std::lock_guard<std::mutex> guard(lock);
        // The first failing instance in stack order names the cause, whichever thread saw it.
        if (i < failedAt) {
          failedAt = i;
          failure = reason;
        }
      }
    }
    const std::lock_guard<std::mutex> guard(lock);
    merged.wrapped |= report.wrapped;
  };
  if (workers <= 1) {
    work();
  } else {
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < workers; ++t) threads.emplace_back(work);
  }
  if (failedAt < count) return Refuse(volume, sink, what, name, failure);
  if (merged.wrapped) WarnWrapped(sink, name);
  return true;
}

}  // namespace volume::dicom

namespace volume {
namespace {

// What the reading process hands back: the messages and, when it succeeded,
// the volume's size, geometry and voxels, as plain bytes.
template <typename T>
void Append(std::string& out, const T& value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
template <typename T>
bool Take(std::string_view& in, T* value) {
  if (in.size() < sizeof(T)) return false;
  std::memcpy(value, in.data(), sizeof(T));
  in.remove_prefix(sizeof(T));
  return true;
}

std::uint64_t LargestFileBytes(const std::string& folder) {
  std::uint64_t largest = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) largest = std::max<std::uint64_t>(largest, it->file_size(sizeError));
  }
  return largest;
}

void AppendText(std::string& out, const std::string& text) {
  Append(out, static_cast<std::uint32_t>(text.size()));
  out += text;
}
bool TakeText(std::string_view& in, std::string* text) {
  std::uint32_t size = 0;
  if (!Take(in, &size) || size > in.size()) return false;
  text->assign(in.substr(0, size));
  in.remove_prefix(size);
  return true;
}

// The report's two ends: one appends values to the report, the other takes
// them back in the same order (false once the report runs short).
struct ReportWriter {
  std::string& out;
  template <typename T>
  bool operator()(T& value) {
    Append(out, value);
    return true;
  }
  bool operator()(std::string& text) {
    AppendText(out, text);
    return true;
  }
  bool operator()(bool& flag) {
    Append(out, static_cast<std::uint8_t>(flag));
    return true;
  }
  // A count of the elements that follow.
  bool Count(std::size_t& n) {
    Append(out, static_cast<std::uint32_t>(n));
    return true;
  }
};
struct ReportReader {
  std::string_view& in;
  template <typename T>
  bool operator()(T& value) {
    return Take(in, &value);
  }
  bool operator()(std::string& text) { return TakeText(in, &text); }
  bool operator()(bool& flag) {
    std::uint8_t byte = 0;
    if (!Take(in, &byte)) return false;
    flag = byte != 0;
    return true;
  }
  bool Count(std::size_t& n) {
    std::uint32_t count = 0;
    if (!Take(in, &count) || count > in.size()) return false;  // each element takes a byte at least
    n = count;
    return true;
  }
};

// What reading a stack of plain images needs, in report order: its size and
// placement, where each instance's pixels lie, and which frame each slice is.
template <typename Io>
bool TransferPlainStack(Io& io, dicom::DicomStack& stack) {
  std::size_t instances = stack.instances.size(), slices = stack.slices.size();
  if (!io(stack.columns) || !io(stack.rows) || !io(stack.hasPlacement) || !io(stack.axes) ||
      !io(stack.origin) || !io(stack.spacing) || !io.Count(instances))
    return false;
  stack.instances.resize(instances);
  for (dicom::DicomInstance& i : stack.instances) {
    if (!io(i.path) || !io(i.transferSyntaxUid) || !io(i.rows) || !io(i.columns) || !io(i.frames) ||
        !io(i.plainPixelOffset) || !io(i.plainPixelLength) || !io(i.bitsAllocated) || !io(i.signedPixels))
      return false;
  }
  if (!io.Count(slices)) return false;
  stack.slices.resize(slices);
  for (dicom::DicomFrame& f : stack.slices)
    if (!io(f.instance) || !io(f.frame) || !io(f.slope) || !io(f.intercept)) return false;
  return true;
}

void AppendPlainStack(std::string& out, dicom::DicomStack stack) {
  ReportWriter writer{out};
  TransferPlainStack(writer, stack);
}

// Takes the stack back, checking what the reading here relies on: plain
// instances of whole frames, slices naming frames that exist.
bool TakePlainStack(std::string_view& in, dicom::DicomStack* stack) {
  ReportReader reader{in};
  if (!TransferPlainStack(reader, *stack)) return false;
  for (const dicom::DicomInstance& i : stack->instances)
    if (i.frames < 1 || !(i.bitsAllocated == 8 || i.bitsAllocated == 16)) return false;
  for (const dicom::DicomFrame& f : stack->slices) {
    if (f.instance < 0 || static_cast<std::size_t>(f.instance) >= stack->instances.size() || f.frame < 0 ||
        f.frame >= stack->instances[static_cast<std::size_t>(f.instance)].frames)
      return false;
  }
  return true;
}

// How the child's report ends: refused; read, the voxels in the channel; or
// a stack of plain images, whose pixels the caller reads itself (no DICOM
// parsing is left to do for them, and the voxels need not travel).
enum class Outcome : std::uint8_t { kRefused = 0, kVoxels = 1, kPlainStack = 2 };

bool AllPlain(const dicom::DicomStack& stack) {
  return std::all_of(stack.instances.begin(), stack.instances.end(),
                     [](const dicom::DicomInstance& i) { return i.plainPixelLength > 0; });
}

// The child's report: the messages, then the outcome and, for a volume read,
// its size and geometry (the voxels go separately), for plain images the stack.
std::string ReadIntoVolume(CVoxel& volume, const std::string& path, const std::string& folder) {
  RecordingSink sink;
  dicom::DicomStack stack;
  std::string why;
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  // Reading headers needs no more than a few copies of the largest file.
  LimitAddressSpace(kGiB + 2 * LargestFileBytes(folder));
  Outcome outcome = Outcome::kRefused;
  if (!dicom::LocateDicomStack(path, &stack, &why)) {
    Refuse(volume, &sink, "Cannot read a DICOM series from", folder, why);
  } else if (AllPlain(stack)) {
    outcome = Outcome::kPlainStack;
  } else {
    // Decoding: the volume, and on each thread a file, its decoded frames and
    // the codec's working copies of them.
    const std::uint64_t voxels = static_cast<std::uint64_t>(stack.columns) *
                                 static_cast<std::uint64_t>(stack.rows) * stack.slices.size();
    LimitAddressSpace(2 * kGiB + 32 * voxels + 4 * LargestFileBytes(folder));
    if (dicom::ReadDicomStack(volume, stack, &sink, "Cannot read a DICOM series from", folder))
      outcome = Outcome::kVoxels;
  }
  std::string out;
  Append(out, static_cast<std::uint32_t>(sink.messages.size()));
  for (const std::string& m : sink.messages) AppendText(out, m);
  Append(out, outcome);
  if (outcome == Outcome::kPlainStack) AppendPlainStack(out, std::move(stack));
  if (outcome != Outcome::kVoxels) return out;
  Append(out, volume.X);
  Append(out, volume.Y);
  Append(out, volume.Z);
  Append(out, volume.spacing);
  Append(out, volume.origin);
  Append(out, volume.direction);
  return out;
}

unsigned ReadingBudgetSeconds(const std::string& folder) {
  std::uint64_t files = 0, bytes = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeError;
    if (!it->is_regular_file(sizeError)) continue;
    ++files;
    bytes += it->file_size(sizeError);
  }
#ifdef CORVANE_FUZZING
  // The fuzzer's inputs are small; a loop must end well within its time limit.
  (void)files;
  (void)bytes;
  return 3;
#else
  // Generous: a loaded machine (or a sanitizer build) must never have a sound
  // series refused for time; only a file that keeps the library busy meets it.
  return static_cast<unsigned>(std::min<std::uint64_t>(30 + files + 2 * (bytes >> 20), 3600));
#endif
}

// The voxels go from the reading process to this one through a file in
// memory: written once, read once, without the many small turns of a pipe.
int OpenVoxelChannel() {
#ifdef MFD_CLOEXEC
  if (const int fd = ::memfd_create("corvane-dicom-voxels", MFD_CLOEXEC); fd >= 0) return fd;
#endif
  return ::open(std::filesystem::temp_directory_path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

}  // namespace
}  // namespace volume

bool ReadDicomSeries(CVoxel& volume, const std::string& path, volume::MessageSink* sink) {
  using namespace volume;  // the readers' helpers
  volume.Release();
  const std::string folder = dicom::DicomFolderFor(path);
  const std::string what = "Cannot read a DICOM series from";
  {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return false;
  }
  // The folder is read by a child process, which sends back the volume (or
  // the stack of plain images to read here) or why it could not be read.
  const int voxels = OpenVoxelChannel();
  std::string report;
  const IsolatedOutcome run =
      voxels < 0 ? IsolatedOutcome::kNoProcess
                 : RunIsolated(
                       [&] {
                         gdcm::Trace::SetWarning(false);
                         gdcm::Trace::SetError(false);
                         gdcm::Trace::SetDebug(false);
                         // Buffers freed by one image are reused by the next instead of being mapped anew.
                         volume::ReuseVolumeMemory();
                         CVoxel read;
                         std::string text = ReadIntoVolume(read, path, folder);
                         if (read.HasData() &&
                             !WriteAll(voxels, read.Data(), read.VoxelCount() * sizeof(CVoxel::value_type)))
                           ::_exit(3);
                         return text;
                       },
                       ReadingBudgetSeconds(folder), &report);
  // The report, then the voxels straight into the volume.
  std::string_view in(report);
  std::uint32_t count = 0;
  std::vector<std::string> messages;
  bool intact = Take(in, &count) && count < 1000;
  for (std::uint32_t i = 0; intact && i < count; ++i) intact = TakeText(in, &messages.emplace_back());
  Outcome outcome = Outcome::kRefused;
  intact = intact && Take(in, &outcome);
  dicom::DicomStack plain;
  if (intact && outcome == Outcome::kVoxels) {
    int X = 0, Y = 0, Z = 0;
    intact = Take(in, &X) && Take(in, &Y) && Take(in, &Z) && CheckDimensions(X, Y, Z, nullptr) &&
             Take(in, &volume.spacing) && Take(in, &volume.origin) && Take(in, &volume.direction);
    if (intact) {
      volume.X = X;
      volume.Y = Y;
      volume.Z = Z;
      intact = volume.AllocateForReader() &&
               ReadAllAt(voxels, volume.Data(), volume.VoxelCount() * sizeof(CVoxel::value_type), 0);
    }
  } else if (intact && outcome == Outcome::kPlainStack) {
    intact = TakePlainStack(in, &plain);
  } else {
    intact = intact && outcome == Outcome::kRefused;
  }
  if (voxels >= 0) ::close(voxels);
  switch (run) {
    case IsolatedOutcome::kNoProcess:
      return Refuse(volume, sink, what, folder, "no process could be started to read it");
    case IsolatedOutcome::kTimedOut:
      return Refuse(volume, sink, what, folder,
                    "reading it did not finish (a corrupt file of the folder keeps the DICOM library busy)");
    case IsolatedOutcome::kFailed:
      return Refuse(volume, sink, what, folder,
                    "the DICOM library failed on a file of the folder (a corrupt or unsupported file)");
    case IsolatedOutcome::kDone:
      break;
  }
  if (!intact) return Refuse(volume, sink, what, folder, "its reading process ended early");
  for (const std::string& m : messages) Tell(sink, m);
  switch (outcome) {
    case Outcome::kVoxels:
      return true;
    case Outcome::kPlainStack:
      return dicom::ReadDicomStack(volume, plain, sink, what, folder, /*plainOnly=*/true);
    case Outcome::kRefused:
      break;
  }
  volume.Release();
  return false;
}
