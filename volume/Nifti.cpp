// Analyze 7.5 and NIfTI-1 volumes through nifticlib. The header is read first
// and its sizes checked against the data file, because nifticlib allocates
// whatever a header asks for.
#include <nifti1_io.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>

#include "volume/ElementConvert.h"
#include "volume/FileIO.h"
#include "volume/ReaderSupport.h"
#include "volume/Readers.h"

using namespace volume_io;

namespace {

struct NiftiFree {
  void operator()(nifti_image* image) const { nifti_image_free(image); }
};
using NiftiImage = std::unique_ptr<nifti_image, NiftiFree>;

bool KindOfDatatype(int datatype, ElementKind* kind) {
  switch (datatype) {
    case DT_UINT8:
      *kind = ElementKind::UInt8;
      return true;
    case DT_INT8:
      *kind = ElementKind::Int8;
      return true;
    case DT_INT16:
      *kind = ElementKind::Int16;
      return true;
    case DT_UINT16:
      *kind = ElementKind::UInt16;
      return true;
    case DT_INT32:
      *kind = ElementKind::Int32;
      return true;
    case DT_UINT32:
      *kind = ElementKind::UInt32;
      return true;
    case DT_INT64:
      *kind = ElementKind::Int64;
      return true;
    case DT_UINT64:
      *kind = ElementKind::UInt64;
      return true;
    case DT_FLOAT32:
      *kind = ElementKind::Float32;
      return true;
    case DT_FLOAT64:
      *kind = ElementKind::Float64;
      return true;
    default:
      return false;
  }
}

std::int64_t FileSize(const char* path) {
  struct stat st {};
  if (!path || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

// nifticlib opens the files it looks for beside the path (the .img of a .hdr,
// the .hdr of an .img, compressed variants) with a plain blocking open: one of
// them being a FIFO or a device would stop the program. Every such name that
// exists must be a regular file.
bool CompanionsAreFiles(const std::string& path, std::string* why) {
  std::string base = path;
  if (EndsWith(Lower(base), ".gz")) base.resize(base.size() - 3);
  const std::string lower = Lower(base);
  if (EndsWith(lower, ".nii") || EndsWith(lower, ".hdr") || EndsWith(lower, ".img"))
    base.resize(base.size() - 4);
  for (const char* extension : {".nii", ".hdr", ".img", ".NII", ".HDR", ".IMG"}) {
    for (const char* compressed : {"", ".gz", ".GZ"}) {
      const std::string candidate = base + extension + compressed;
      if (const std::string kind = NotARegularFile(candidate); !kind.empty()) {
        *why = "the file " + candidate + " beside it cannot be used: " + kind;
        return false;
      }
    }
  }
  return true;
}

// Checks the fixed part of a .nii or .hdr header (plain or gzip-compressed) as
// nifticlib will, so that nifticlib only sees headers it accepts: it prints its
// own complaints about the others on stderr.
bool HeaderLooksValid(const std::string& path, std::string* why) {
  std::string name = Lower(FileNameOf(path));
  if (EndsWith(name, ".gz")) name.resize(name.size() - 3);
  if (!EndsWith(name, ".nii") && !EndsWith(name, ".hdr")) return true;  // nifticlib finds the header itself
  nifti_1_header header{};
  gzFile file = gzopen(path.c_str(), "rb");
  const int n = file ? gzread(file, &header, sizeof header) : -1;
  if (file) gzclose(file);
  if (n < static_cast<int>(sizeof header)) {
    *why = "it is not an Analyze 7.5 or NIfTI-1 image (the file is too short for a header)";
    return false;
  }
  const bool swap = header.sizeof_hdr != 348;
  auto get16 = [&](short v) {
    return swap ? static_cast<short>(__builtin_bswap16(static_cast<std::uint16_t>(v))) : v;
  };
  const auto size = swap ? static_cast<int>(__builtin_bswap32(static_cast<std::uint32_t>(header.sizeof_hdr)))
                         : header.sizeof_hdr;
  if (size != 348) {
    *why = size == 540 || header.sizeof_hdr == 540 ? "NIfTI-2 files are not supported"
                                                   : "it is not an Analyze 7.5 or NIfTI-1 image";
    return false;
  }
  const int ndim = get16(header.dim[0]);
  bool dimsOk = ndim >= 1 && ndim <= 7;
  for (int i = 1; dimsOk && i <= ndim; ++i) dimsOk = get16(header.dim[i]) >= 1;
  if (!dimsOk) {
    *why = "the header's dimensions are invalid";
    return false;
  }
  return true;
}

}  // namespace

bool ReadAnalyzeNifti(CVoxel& volume, const std::string& path, MessageSink* sink) {
  const std::string what = "Cannot read Analyze/NIfTI file";
  volume.Release();
  {
    // Only the caller reports a file that cannot be opened at all.
    InputFile file;
    if (!OpenInput(file, volume, sink, what, path)) return false;
  }
  std::string why;
  if (!CompanionsAreFiles(path, &why)) return Refuse(volume, sink, what, path, why);
  if (!HeaderLooksValid(path, &why)) return Refuse(volume, sink, what, path, why);
  static std::once_flag quiet;
  std::call_once(quiet, [] { nifti_set_debug_level(0); });

  NiftiImage image(nifti_image_read(path.c_str(), 0));
  if (!image)
    return Refuse(volume, sink, what, path,
                  "it is not an Analyze 7.5 or NIfTI-1 image (or its data file is missing)");
  if (image->nifti_type == NIFTI_FTYPE_ASCII)
    return Refuse(volume, sink, what, path, "text NIfTI files are not supported");

  ElementKind kind;
  if (!KindOfDatatype(image->datatype, &kind)) {
    return Refuse(
        volume, sink, what, path,
        std::string("the data type ") + nifti_datatype_string(image->datatype) + " is not supported");
  }
  if (image->nbyper != ElementBytes(kind))
    return Refuse(volume, sink, what, path, "the header's element size is inconsistent");

  if (!CheckDimensions(image->nx, image->ny, image->nz, &why)) return Refuse(volume, sink, what, path, why);

  // Every element of every volume in the file (nifticlib reads them all).
  std::int64_t total = image->nbyper;
  const int ndim = std::min(std::max(image->dim[0], 1), 7);
  for (int i = 1; i <= ndim; ++i) {
    const std::int64_t d = std::max(image->dim[i], 1);
    if (total > (std::int64_t{1} << 56) / d)
      return Refuse(volume, sink, what, path, "the header's dimensions are too large");
    total *= d;
  }
  const std::int64_t dataSize = FileSize(image->iname);
  if (dataSize < 0 || image->iname_offset < 0)
    return Refuse(volume, sink, what, path, "its data file cannot be found");
  if (EndsWith(image->iname, ".gz") || EndsWith(image->iname, ".GZ")) {
    if (total > MaxInflatedSize(dataSize)) {
      return Refuse(volume, sink, what, path,
                    "the header asks for " + std::to_string(total) + " bytes of voxels, more than " +
                        std::to_string(dataSize) + " compressed bytes can hold");
    }
  } else if (dataSize - image->iname_offset < total) {
    return Refuse(volume, sink, what, path,
                  "the header asks for " + std::to_string(total) +
                      " bytes of voxels but the data file holds only " +
                      std::to_string(std::max<std::int64_t>(0, dataSize - image->iname_offset)));
  }

  if (nifti_image_load(image.get()) != 0 || !image->data) {
    return Refuse(volume, sink, what, path, "its voxel data cannot be read (short or corrupt file)");
  }
  volume.X = image->nx;
  volume.Y = image->ny;
  volume.Z = image->nz;
  volume.spacing[0] = image->dx;
  volume.spacing[1] = image->dy;
  volume.spacing[2] = image->dz;
  volume.origin[0] = image->qoffset_x;
  volume.origin[1] = image->qoffset_y;
  volume.origin[2] = image->qoffset_z;
  if (!volume.Allocate()) return Refuse(volume, sink, what, path, "not enough memory");

  // nifticlib has already brought the elements into the host's byte order.
  // The first X*Y*Z elements are the first volume, in storage order.
  ConvertReport report;
  ConvertElements(static_cast<const unsigned char*>(image->data), volume.VoxelCount(), kind, false,
                  FloatRule::Round, volume.Data(), report);
  if (report.wrapped) WarnWrapped(sink, path);
  return true;
}
