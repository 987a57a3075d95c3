// Analyze 7.5, NIfTI-1 and NIfTI-2 volumes through nifticlib's NIfTI-2
// library (which reads all three), read and written (NIfTI-1). The header is
// read first and its sizes checked against the data file, because nifticlib
// allocates whatever a header asks for.
#include <nifti2_io.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "volume/ElementConvert.h"
#include "volume/FileIO.h"
#include "volume/ReaderSupport.h"
#include "volume/Readers.h"
#include "volume/Writers.h"

namespace volume {

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

// Checks the fixed part of a .nii or .hdr header (NIfTI-1 and Analyze in 348
// bytes, NIfTI-2 in 540; plain or gzip-compressed) as nifticlib will, so that
// nifticlib only sees headers it accepts: it prints its own complaints about
// the others on stderr.
bool HeaderLooksValid(const std::string& path, std::string* why) {
  std::string name = Lower(FileNameOf(path));
  if (EndsWith(name, ".gz")) name.resize(name.size() - 3);
  if (!EndsWith(name, ".nii") && !EndsWith(name, ".hdr")) return true;  // nifticlib finds the header itself
  static_assert(sizeof(nifti_1_header) == 348 && sizeof(nifti_2_header) == 540);
  unsigned char bytes[sizeof(nifti_2_header)] = {};
  gzFile file = gzopen(path.c_str(), "rb");
  const int n = file ? gzread(file, bytes, sizeof bytes) : -1;
  if (file) gzclose(file);
  const std::string notNifti = "it is not an Analyze 7.5, NIfTI-1 or NIfTI-2 image";
  if (n < static_cast<int>(sizeof(nifti_1_header))) {
    *why = notNifti + " (the file is too short for a header)";
    return false;
  }
  std::int32_t size = 0;
  std::memcpy(&size, bytes, sizeof size);
  const bool swap = size != 348 && size != 540;
  if (swap) size = static_cast<std::int32_t>(__builtin_bswap32(static_cast<std::uint32_t>(size)));
  if (size != 348 && size != 540) {
    *why = notNifti;
    return false;
  }
  if (size == 540 && n < static_cast<int>(sizeof(nifti_2_header))) {
    *why = "the file is too short for its NIfTI-2 header";
    return false;
  }
  // dim[0..7]: 16-bit at byte 40 of a NIfTI-1 or Analyze header, 64-bit at byte 16 of a NIfTI-2 one.
  auto dim = [&](int i) -> std::int64_t {
    if (size == 348) {
      std::uint16_t v;
      std::memcpy(&v, bytes + offsetof(nifti_1_header, dim) + 2 * i, sizeof v);
      return static_cast<std::int16_t>(swap ? __builtin_bswap16(v) : v);
    }
    std::uint64_t v;
    std::memcpy(&v, bytes + offsetof(nifti_2_header, dim) + 8 * i, sizeof v);
    return static_cast<std::int64_t>(swap ? __builtin_bswap64(v) : v);
  };
  const std::int64_t ndim = dim(0);
  bool dimsOk = ndim >= 1 && ndim <= 7;
  for (int i = 1; dimsOk && i <= ndim; ++i) dimsOk = dim(i) >= 1;
  if (!dimsOk) {
    *why = "the header's dimensions are invalid";
    return false;
  }
  return true;
}

// How stored values become the values they stand for: value * slope + intercept,
// as nibabel and ITK apply it. A slope of 0 or one that is not a finite number
// means the values are stored as they are meant (the intercept is then unused).
// nifticlib has already turned a field that is not a finite number into 0.
struct Scaling {
  bool applied = false;
  double slope = 1.0;
  double intercept = 0.0;
};

Scaling ScalingOf(const nifti_image& image) {
  Scaling s;
  if (image.scl_slope == 0.0 || !std::isfinite(image.scl_slope) || !std::isfinite(image.scl_inter)) return s;
  s.slope = image.scl_slope;
  s.intercept = image.scl_inter;
  s.applied = s.slope != 1.0 || s.intercept != 0.0;
  return s;
}

// The number of 3-D volumes the file holds: the product of its dimensions past
// the third (those beyond the header's dimension count are 1).
std::int64_t VolumeCount(const nifti_image& image) {
  std::int64_t count = 1;
  for (const std::int64_t n : {image.nt, image.nu, image.nv, image.nw}) count *= std::max<std::int64_t>(n, 1);
  return count;
}

constexpr int kMaxTransformCode = 32767;

// NIfTI's world is RAS, the volume's LPS: the first two world axes change sign.
constexpr double kRasToLps[3] = {-1.0, -1.0, 1.0};

// Geometry from the header: the sform when its code is > 0, else the qform when
// its code is > 0, else the voxel size (pixdim) alone at origin 0. A transform
// without a usable axis falls back to the next one.
void ReadGeometry(const nifti_image& image, CVoxel& volume) {
  // NIfTI-2 keeps the codes in 32 bits, NIfTI-1 (which the volume is written as) in 16.
  volume.niftiQformCode = std::clamp(image.qform_code, 0, kMaxTransformCode);
  volume.niftiSformCode = std::clamp(image.sform_code, 0, kMaxTransformCode);
  auto fromMatrix = [&](const nifti_dmat44& m) {
    double axes[3][3], origin[3];
    for (int r = 0; r < 3; ++r) {
      origin[r] = kRasToLps[r] * m.m[r][3];
      for (int c = 0; c < 3; ++c) axes[r][c] = kRasToLps[r] * m.m[r][c];
    }
    return volume.SetGeometryFromMatrix(axes, origin);
  };
  if (image.sform_code > 0 && fromMatrix(image.sto_xyz)) return;
  if (image.qform_code > 0) {
    // The rotation is rebuilt in double precision from the quaternion (as
    // nifticlib builds its float matrix), so that the spacing stays pixdim exactly.
    double b = image.quatern_b, c = image.quatern_c, d = image.quatern_d;
    double a = 1.0 - (b * b + c * c + d * d);
    if (a < 1.0e-7) {
      a = 1.0 / std::sqrt(b * b + c * c + d * d);
      b *= a;
      c *= a;
      d *= a;
      a = 0.0;
    } else {
      a = std::sqrt(a);
    }
    const double rotation[3][3] = {
        {a * a + b * b - c * c - d * d, 2 * b * c - 2 * a * d, 2 * b * d + 2 * a * c},
        {2 * b * c + 2 * a * d, a * a + c * c - b * b - d * d, 2 * c * d - 2 * a * b},
        {2 * b * d - 2 * a * c, 2 * c * d + 2 * a * b, a * a + d * d - c * c - b * b}};
    const double size[3] = {image.dx > 0 ? image.dx : 1.0, image.dy > 0 ? image.dy : 1.0,
                            (image.dz > 0 ? image.dz : 1.0) * (image.qfac < 0 ? -1.0 : 1.0)};
    double axes[3][3];
    const double origin[3] = {kRasToLps[0] * image.qoffset_x, kRasToLps[1] * image.qoffset_y,
                              kRasToLps[2] * image.qoffset_z};
    for (int r = 0; r < 3; ++r)
      for (int col = 0; col < 3; ++col) axes[r][col] = kRasToLps[r] * rotation[r][col] * size[col];
    if (volume.SetGeometryFromMatrix(axes, origin)) return;
  }
  volume.spacing[0] = image.dx;
  volume.spacing[1] = image.dy;
  volume.spacing[2] = image.dz;
  for (int i = 0; i < 3; ++i) {
    volume.origin[i] = 0.0f;
    for (int j = 0; j < 3; ++j) volume.direction[i][j] = i == j ? 1.0 : 0.0;
  }
}

// The bytes of a NIfTI file on their way into a staged file, gzip-compressed
// when asked.
class NiftiStream {
 public:
  NiftiStream(StagedFile& file, bool compress) : m_file(file), m_compress(compress) {
    if (m_compress) {
      m_ok = deflateInit2(&m_z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;  // 16: gzip wrapper
      if (!m_ok) m_error = "the compressor could not start";
      m_started = m_ok;
    }
  }
  ~NiftiStream() {
    if (m_started) deflateEnd(&m_z);
  }
  NiftiStream(const NiftiStream&) = delete;
  NiftiStream& operator=(const NiftiStream&) = delete;

  bool Write(const void* data, std::size_t n) {
    return m_compress ? Deflate(data, n, Z_NO_FLUSH) : Put(data, n);
  }
  bool Finish() { return !m_compress || Deflate(nullptr, 0, Z_FINISH); }
  const std::string& Error() const { return m_error.empty() ? m_file.Error() : m_error; }

 private:
  bool Put(const void* data, std::size_t n) { return m_ok && (m_ok = m_file.Write(data, n)); }
  bool Deflate(const void* data, std::size_t n, int flush) {
    if (!m_ok) return false;
    auto* input = static_cast<const unsigned char*>(data);
    do {
      const std::size_t step = std::min<std::size_t>(n, 1u << 30);
      m_z.next_in = const_cast<unsigned char*>(input);
      m_z.avail_in = static_cast<uInt>(step);
      const int mode = step == n ? flush : Z_NO_FLUSH;
      int rc = Z_OK;
      do {
        unsigned char out[1 << 16];
        m_z.next_out = out;
        m_z.avail_out = sizeof out;
        rc = deflate(&m_z, mode);
        if (rc == Z_STREAM_ERROR) {
          m_error = "the compressor failed";
          return m_ok = false;
        }
        if (!Put(out, sizeof out - m_z.avail_out)) return false;
      } while (m_z.avail_out == 0 || (mode == Z_FINISH && rc != Z_STREAM_END));
      input += step;
      n -= step;
    } while (n > 0);
    return true;
  }

  StagedFile& m_file;
  bool m_compress;
  bool m_ok = true;
  bool m_started = false;
  z_stream m_z{};
  std::string m_error;
};

// The header nifticlib would write for the volume: dimensions, voxel type,
// pixdim, qform and sform in RAS, no scaling, data right after the header.
// False when nifticlib cannot build its record.
bool MakeNiftiHeader(const CVoxel& volume, ElementStorage storage, nifti_1_header& header) {
  const std::int64_t dims[8] = {3, volume.X, volume.Y, volume.Z, 1, 1, 1, 1};
  NiftiImage image(nifti_make_new_nim(dims, storage == ElementStorage::Short ? DT_INT16 : DT_UINT8, 0));
  if (!image) return false;
  double axes[3][3], origin[3];
  volume.GeometryMatrix(axes, origin);
  mat44 world{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) world.m[r][c] = static_cast<float>(kRasToLps[r] * axes[r][c]);
    world.m[r][3] = static_cast<float>(kRasToLps[r] * origin[r]);
  }
  world.m[3][3] = 1.0f;
  // A source without codes (Analyze, or NIfTI placed by pixdim) keeps them:
  // readers that place such a file by a convention of their own then place
  // the result as they place its source.
  const bool fromNifti = volume.niftiQformCode >= 0 && volume.niftiSformCode >= 0;
  image->qform_code = fromNifti ? volume.niftiQformCode : NIFTI_XFORM_SCANNER_ANAT;
  image->sform_code = fromNifti ? volume.niftiSformCode : NIFTI_XFORM_SCANNER_ANAT;
  // NIfTI-1 holds the transforms in single precision: they are built in it.
  nifti_mat44_to_dmat44(&world, &image->sto_xyz);
  float quatern[3], offset[3], size[3], qfac;
  nifti_mat44_to_quatern(world, &quatern[0], &quatern[1], &quatern[2], &offset[0], &offset[1], &offset[2],
                         &size[0], &size[1], &size[2], &qfac);
  image->quatern_b = quatern[0];
  image->quatern_c = quatern[1];
  image->quatern_d = quatern[2];
  image->qoffset_x = offset[0];
  image->qoffset_y = offset[1];
  image->qoffset_z = offset[2];
  image->qfac = qfac;
  // The voxel size is the geometry's spacing exactly, not the length recomputed from the matrix.
  image->dx = image->pixdim[1] = static_cast<float>(volume.SpacingOrUnit(0));
  image->dy = image->pixdim[2] = static_cast<float>(volume.SpacingOrUnit(1));
  image->dz = image->pixdim[3] = static_cast<float>(volume.SpacingOrUnit(2));
  image->pixdim[0] = image->qfac;
  image->xyz_units = NIFTI_UNITS_MM;
  image->scl_slope = 1.0f;
  image->scl_inter = 0.0f;
  image->nifti_type = NIFTI_FTYPE_NIFTI1_1;
  image->iname_offset = sizeof(nifti_1_header) + 4;
  if (nifti_convert_nim2n1hdr(image.get(), &header) != 0) return false;
  header.vox_offset = static_cast<float>(sizeof(nifti_1_header) + 4);
  return true;
}

// NIfTI-1 stores each dimension in a signed 16-bit field.
constexpr int kMaxNiftiDimension = 32767;

}  // namespace

bool IsNiftiPath(const std::string& path) {
  const std::string name = Lower(FileNameOf(path));
  return EndsWith(name, ".nii") || EndsWith(name, ".nii.gz");
}

bool SaveNifti(const CVoxel& volume, const std::string& path, ElementStorage storage, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!volume.HasData()) return fail("the volume holds no data");
  if (std::max({volume.X, volume.Y, volume.Z}) > kMaxNiftiDimension) {
    return fail("NIfTI-1 cannot hold " + SizeText(volume.X, volume.Y, volume.Z) + " voxels (at most " +
                std::to_string(kMaxNiftiDimension) + " along an axis)");
  }
  nifti_1_header header{};
  if (!MakeNiftiHeader(volume, storage, header)) return fail("not enough memory");
  StagedFile file(path);
  if (!file.Create()) return fail(file.Error());
  NiftiStream out(file, EndsWith(Lower(FileNameOf(path)), ".gz"));
  const unsigned char extender[4] = {0, 0, 0, 0};  // no header extensions
  if (!out.Write(&header, sizeof header) || !out.Write(extender, sizeof extender)) return fail(out.Error());
  const std::size_t slice = static_cast<std::size_t>(volume.X) * static_cast<std::size_t>(volume.Y);
  std::vector<unsigned char> buffer(slice * StoredBytes(storage));
  for (std::size_t start = 0; start < volume.VoxelCount(); start += slice) {
    StoreElements(volume.Data() + start, slice, storage, buffer.data());
    if (!out.Write(buffer.data(), buffer.size())) return fail(out.Error());
  }
  if (!out.Finish()) return fail(out.Error());
  return CommitStagedFiles({&file}, error);
}

}  // namespace volume

bool ReadAnalyzeNifti(CVoxel& volume, const std::string& path, volume::MessageSink* sink) {
  using namespace volume;  // the readers' helpers
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
                  "it is not an Analyze 7.5, NIfTI-1 or NIfTI-2 image (or its data file is missing)");
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
  const Scaling scaling = ScalingOf(*image);

  if (!CheckDimensions(image->nx, image->ny, image->nz, &why)) return Refuse(volume, sink, what, path, why);

  // The data file must hold every element of every volume, although only the
  // first volume is read: a shorter one is cut or corrupt.
  std::int64_t total = image->nbyper;
  const std::int64_t ndim = std::min<std::int64_t>(std::max<std::int64_t>(image->dim[0], 1), 7);
  for (std::int64_t i = 1; i <= ndim; ++i) {
    const std::int64_t d = std::max<std::int64_t>(image->dim[i], 1);
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

  // Only the first volume is read: index 0 along every dimension past the third.
  const std::int64_t firstVolume[8] = {0, -1, -1, -1, 0, 0, 0, 0};
  void* read = nullptr;
  const std::int64_t readBytes = nifti_read_collapsed_image(image.get(), firstVolume, &read);
  const std::unique_ptr<void, decltype(&std::free)> data(read, &std::free);
  const std::int64_t volumeBytes = image->nx * image->ny * image->nz * image->nbyper;
  if (readBytes != volumeBytes || !data)
    return Refuse(volume, sink, what, path, "its voxel data cannot be read (short or corrupt file)");
  volume.X = static_cast<int>(image->nx);
  volume.Y = static_cast<int>(image->ny);
  volume.Z = static_cast<int>(image->nz);
  ReadGeometry(*image, volume);
  if (!volume.Allocate()) return Refuse(volume, sink, what, path, "not enough memory");

  // nifticlib has already brought the elements into the host's byte order;
  // they are in storage order.
  const auto* elements = static_cast<const unsigned char*>(data.get());
  ConvertReport report;
  if (scaling.applied) {
    ConvertRescaled(elements, volume.VoxelCount(), kind, scaling.slope, scaling.intercept, volume.Data(),
                    report);
  } else {
    ConvertElements(elements, volume.VoxelCount(), kind, false, FloatRule::Round, volume.Data(), report);
  }
  if (report.wrapped) WarnWrapped(sink, path);
  if (const std::int64_t volumes = VolumeCount(*image); volumes > 1) {
    Tell(sink, path + " holds " + std::to_string(volumes) + " volumes: only the first was read, " +
                   std::to_string(volumes - 1) + (volumes == 2 ? " volume was" : " volumes were") +
                   " skipped.");
  }
  return true;
}
