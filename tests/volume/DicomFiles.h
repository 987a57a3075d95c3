// Writes DICOM test series with GDCM: classic images attribute by attribute,
// enhanced multi-frame images with per-frame functional groups, and copies in
// other transfer syntaxes made by GDCM's own codecs.
#pragma once

#include <gdcmDataSet.h>
#include <gdcmImageChangeTransferSyntax.h>
#include <gdcmImageReader.h>
#include <gdcmImageWriter.h>
#include <gdcmItem.h>
#include <gdcmReader.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmTransferSyntax.h>
#include <gdcmUIDGenerator.h>
#include <gdcmWriter.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace dicomfiles {

inline std::string NewUid() {
  gdcm::UIDGenerator generator;
  return generator.Generate();
}

inline void Put(gdcm::DataSet& ds, std::uint16_t group, std::uint16_t element, gdcm::VR vr,
                std::string value) {
  if (value.size() % 2) value.push_back(vr == gdcm::VR::UI ? '\0' : ' ');
  gdcm::DataElement de(gdcm::Tag(group, element));
  de.SetVR(vr);
  de.SetByteValue(value.data(), static_cast<std::uint32_t>(value.size()));
  ds.Replace(de);
}

inline void PutUS(gdcm::DataSet& ds, std::uint16_t group, std::uint16_t element, int v) {
  const char bytes[2] = {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff)};
  Put(ds, group, element, gdcm::VR::US, std::string(bytes, 2));
}

inline std::string Numbers(const std::vector<double>& values) {
  std::string out;
  for (double v : values) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    out += (out.empty() ? "" : "\\") + std::string(text);
  }
  return out;
}

// A sequence with the given items.
inline void PutSequence(gdcm::DataSet& ds, std::uint16_t group, std::uint16_t element,
                        const std::vector<gdcm::DataSet>& items) {
  gdcm::SmartPointer<gdcm::SequenceOfItems> sq = new gdcm::SequenceOfItems;
  sq->SetLengthToUndefined();
  for (const gdcm::DataSet& nested : items) {
    gdcm::Item item;
    item.SetVLToUndefined();
    item.SetNestedDataSet(nested);
    sq->AddItem(item);
  }
  gdcm::DataElement de(gdcm::Tag(group, element));
  de.SetVR(gdcm::VR::SQ);
  de.SetValue(*sq);
  de.SetVLToUndefined();
  ds.Replace(de);
}

// What one image of a test series holds. Pixels are rows x columns 16-bit
// values (or 8-bit when bits == 8), row by row.
struct Slice {
  std::string seriesUid;
  std::string studyUid;
  std::string sopClassUid = "1.2.840.10008.5.1.4.1.1.4";  // MR Image Storage
  std::string description = "T2";
  int instanceNumber = 1;
  int rows = 4, columns = 5;
  int bits = 16;
  bool isSigned = true;
  std::array<double, 3> position{0, 0, 0};
  std::array<double, 6> orientation{1, 0, 0, 0, 1, 0};
  std::array<double, 2> pixelSpacing{0.75, 0.75};  // DICOM order: row spacing, column spacing
  double thickness = 2.5;
  double slope = 1, intercept = 0;
  std::vector<int> pixels;
};

inline void PutCommon(gdcm::DataSet& ds, const Slice& s, const std::string& sopInstance) {
  Put(ds, 0x0008, 0x0016, gdcm::VR::UI, s.sopClassUid);
  Put(ds, 0x0008, 0x0018, gdcm::VR::UI, sopInstance);
  Put(ds, 0x0008, 0x0060, gdcm::VR::CS, "MR");
  Put(ds, 0x0008, 0x103e, gdcm::VR::LO, s.description);
  Put(ds, 0x0010, 0x0010, gdcm::VR::PN, "Phantom");
  Put(ds, 0x0010, 0x0020, gdcm::VR::LO, "0");
  Put(ds, 0x0020, 0x000d, gdcm::VR::UI, s.studyUid);
  Put(ds, 0x0020, 0x000e, gdcm::VR::UI, s.seriesUid);
  Put(ds, 0x0020, 0x0052, gdcm::VR::UI, "1.2.3.4.5");
  Put(ds, 0x0020, 0x0013, gdcm::VR::IS, std::to_string(s.instanceNumber));
  PutUS(ds, 0x0028, 0x0002, 1);
  Put(ds, 0x0028, 0x0004, gdcm::VR::CS, "MONOCHROME2");
  PutUS(ds, 0x0028, 0x0010, s.rows);
  PutUS(ds, 0x0028, 0x0011, s.columns);
  PutUS(ds, 0x0028, 0x0100, s.bits);
  PutUS(ds, 0x0028, 0x0101, s.bits);
  PutUS(ds, 0x0028, 0x0102, s.bits - 1);
  PutUS(ds, 0x0028, 0x0103, s.isSigned ? 1 : 0);
}

inline std::string PixelBytes(const std::vector<int>& pixels, int bits) {
  std::string bytes;
  for (int v : pixels) {
    bytes.push_back(static_cast<char>(v & 0xff));
    if (bits == 16) bytes.push_back(static_cast<char>((v >> 8) & 0xff));
  }
  return bytes;
}

inline bool WriteDataSet(const std::string& path, gdcm::DataSet ds) {
  if (!ds.FindDataElement(gdcm::Tag(0x0008, 0x0018))) Put(ds, 0x0008, 0x0018, gdcm::VR::UI, NewUid());
  gdcm::Writer writer;
  writer.GetFile().SetDataSet(ds);
  writer.GetFile().GetHeader().SetDataSetTransferSyntax(gdcm::TransferSyntax::ExplicitVRLittleEndian);
  writer.SetFileName(path.c_str());
  return writer.Write();
}

// A classic single-frame image.
// A classic image's data set without its pixel data.
inline gdcm::DataSet ClassicDataSet(const Slice& s) {
  gdcm::DataSet ds;
  PutCommon(ds, s, NewUid());
  Put(ds, 0x0020, 0x0032, gdcm::VR::DS, Numbers({s.position[0], s.position[1], s.position[2]}));
  Put(ds, 0x0020, 0x0037, gdcm::VR::DS,
      Numbers({s.orientation[0], s.orientation[1], s.orientation[2], s.orientation[3], s.orientation[4],
               s.orientation[5]}));
  Put(ds, 0x0028, 0x0030, gdcm::VR::DS, Numbers({s.pixelSpacing[0], s.pixelSpacing[1]}));
  Put(ds, 0x0018, 0x0050, gdcm::VR::DS, Numbers({s.thickness}));
  if (s.slope != 1 || s.intercept != 0) {
    Put(ds, 0x0028, 0x1052, gdcm::VR::DS, Numbers({s.intercept}));
    Put(ds, 0x0028, 0x1053, gdcm::VR::DS, Numbers({s.slope}));
  }
  return ds;
}

inline bool WriteSlice(const std::string& path, const Slice& s) {
  gdcm::DataSet ds = ClassicDataSet(s);
  Put(ds, 0x7fe0, 0x0010, s.bits == 8 ? gdcm::VR::OB : gdcm::VR::OW, PixelBytes(s.pixels, s.bits));
  return WriteDataSet(path, ds);
}

// A classic multi-frame image: the first frame's attributes (one position for
// all), NumberOfFrames and, when given, SpacingBetweenSlices; the frames' pixels in order.
inline bool WriteClassicMultiFrame(const std::string& path, const std::vector<Slice>& frames,
                                   double spacingBetweenSlices = 0) {
  gdcm::DataSet ds = ClassicDataSet(frames.front());
  Put(ds, 0x0028, 0x0008, gdcm::VR::IS, std::to_string(frames.size()));
  if (spacingBetweenSlices > 0) Put(ds, 0x0018, 0x0088, gdcm::VR::DS, Numbers({spacingBetweenSlices}));
  std::string pixels;
  for (const Slice& f : frames) pixels += PixelBytes(f.pixels, frames.front().bits);
  Put(ds, 0x7fe0, 0x0010, frames.front().bits == 8 ? gdcm::VR::OB : gdcm::VR::OW, pixels);
  return WriteDataSet(path, ds);
}

// One enhanced multi-frame image holding `frames` (their series, size and
// pixel format taken from the first), positions and orientations per frame,
// pixel measures shared.
inline bool WriteEnhanced(const std::string& path, const std::vector<Slice>& frames) {
  const Slice& first = frames.front();
  gdcm::DataSet ds;
  Slice s = first;
  s.sopClassUid = "1.2.840.10008.5.1.4.1.1.4.1";  // Enhanced MR Image Storage
  PutCommon(ds, s, NewUid());
  Put(ds, 0x0028, 0x0008, gdcm::VR::IS, std::to_string(frames.size()));
  gdcm::DataSet measures;
  Put(measures, 0x0028, 0x0030, gdcm::VR::DS, Numbers({first.pixelSpacing[0], first.pixelSpacing[1]}));
  Put(measures, 0x0018, 0x0050, gdcm::VR::DS, Numbers({first.thickness}));
  gdcm::DataSet shared;
  PutSequence(shared, 0x0028, 0x9110, {measures});
  PutSequence(ds, 0x5200, 0x9229, {shared});
  std::vector<gdcm::DataSet> perFrame;
  std::string pixels;
  for (const Slice& f : frames) {
    gdcm::DataSet position, orientation, transformation, groups;
    Put(position, 0x0020, 0x0032, gdcm::VR::DS, Numbers({f.position[0], f.position[1], f.position[2]}));
    Put(orientation, 0x0020, 0x0037, gdcm::VR::DS,
        Numbers({f.orientation[0], f.orientation[1], f.orientation[2], f.orientation[3], f.orientation[4],
                 f.orientation[5]}));
    PutSequence(groups, 0x0020, 0x9113, {position});
    PutSequence(groups, 0x0020, 0x9116, {orientation});
    if (f.slope != 1 || f.intercept != 0) {
      Put(transformation, 0x0028, 0x1052, gdcm::VR::DS, Numbers({f.intercept}));
      Put(transformation, 0x0028, 0x1053, gdcm::VR::DS, Numbers({f.slope}));
      PutSequence(groups, 0x0028, 0x9145, {transformation});
    }
    perFrame.push_back(groups);
    pixels += PixelBytes(f.pixels, first.bits);
  }
  PutSequence(ds, 0x5200, 0x9230, perFrame);
  Put(ds, 0x7fe0, 0x0010, first.bits == 8 ? gdcm::VR::OB : gdcm::VR::OW, pixels);
  return WriteDataSet(path, ds);
}

// A copy of `in` in transfer syntax `ts`, encoded by GDCM's codecs.
inline bool Transcode(const std::string& in, const std::string& out, const gdcm::TransferSyntax& ts) {
  if (ts == gdcm::TransferSyntax::DeflatedExplicitVRLittleEndian) {
    gdcm::Reader reader;
    reader.SetFileName(in.c_str());
    if (!reader.Read()) return false;
    gdcm::Writer writer;
    writer.SetFile(reader.GetFile());
    writer.GetFile().GetHeader().SetDataSetTransferSyntax(ts);
    writer.SetFileName(out.c_str());
    return writer.Write();
  }
  gdcm::ImageReader reader;
  reader.SetFileName(in.c_str());
  if (!reader.Read()) return false;
  gdcm::ImageChangeTransferSyntax change;
  change.SetTransferSyntax(ts);
  change.SetInput(reader.GetImage());
  if (!change.Change()) return false;
  gdcm::ImageWriter writer;
  writer.SetFileName(out.c_str());
  writer.SetFile(reader.GetFile());
  writer.SetImage(change.GetOutput());
  return writer.Write();
}

// Copies every file of folder `in` into folder `out` in transfer syntax `ts`.
inline bool TranscodeFolder(const std::string& in, const std::string& out, const gdcm::TransferSyntax& ts) {
  std::filesystem::create_directories(out);
  for (const auto& entry : std::filesystem::directory_iterator(in)) {
    if (!Transcode(entry.path().string(), out + "/" + entry.path().filename().string(), ts)) return false;
  }
  return true;
}

}  // namespace dicomfiles
