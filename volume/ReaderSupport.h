// Helpers shared by the readers (internal to the volume library).
#pragma once

#include <cstdint>
#include <string>

#include "volume/ElementConvert.h"
#include "volume/FileIO.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

namespace volume {

inline void Tell(MessageSink* sink, const std::string& text) {
  if (sink) sink->ShowMessage(text);
}

// "4 x 3 x 2"
std::string SizeText(std::int64_t X, std::int64_t Y, std::int64_t Z);

// Checks that X, Y, Z describe a volume CVoxel can hold: every dimension at
// least 1 and X*Y*Z within a signed 32-bit count. Returns the reason otherwise.
bool CheckDimensions(std::int64_t X, std::int64_t Y, std::int64_t Z, std::string* why);

// Gives up on a read: frees whatever was allocated, tells the sink
// "<what> <path>: <why>" and returns false.
bool Refuse(CVoxel& volume, MessageSink* sink, const std::string& what, const std::string& path,
            const std::string& why);

// Opens a reader's input file. A path that exists but is no regular file (a
// folder, FIFO, device) is refused at once with "<what> <path>: it is a ...";
// any other open failure is left to the caller, silently. False when not opened.
bool OpenInput(InputFile& file, CVoxel& volume, MessageSink* sink, const std::string& what,
               const std::string& path);

// The warning for integer data that did not fit 16 bits.
void WarnWrapped(MessageSink* sink, const std::string& path);

// Deflate cannot expand data by more than about 1032:1, so a compressed
// stream of n bytes cannot hold more than this many bytes.
inline std::int64_t MaxInflatedSize(std::int64_t compressedBytes) { return compressedBytes * 1032 + 4096; }

// Delivers the stored elements of a volume, in storage order, as bytes.
class ElementSource {
 public:
  virtual ~ElementSource() = default;
  // Fills exactly n bytes; false when the data ends early or is corrupt (see error).
  virtual bool Next(unsigned char* dst, std::size_t n) = 0;
  std::string error;
};

// Plain bytes from a file, starting at its current position.
class PlainSource final : public ElementSource {
 public:
  explicit PlainSource(InputFile& file) : m_file(file) {}
  bool Next(unsigned char* dst, std::size_t n) override;

 private:
  InputFile& m_file;
};

// Fills every voxel of an allocated volume from the source, converting
// element by element in storage order. Reads in blocks, never per voxel.
// False (see source.error) when not every voxel could be written; the caller
// then releases the volume, whose block need not have been zero-filled.
bool FillVolume(CVoxel& volume, ElementSource& source, ElementKind kind, bool swapBytes, FloatRule rule,
                ConvertReport& report);

}  // namespace volume
