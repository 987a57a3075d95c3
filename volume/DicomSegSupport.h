// What the SEG reader and writer share (internal to the volume library).
#pragma once

#include <functional>
#include <string>

#include "volume/DicomScan.h"

namespace volume {

// Keeps DCMTK's log quiet (its warnings would go to stderr); called before any DCMTK use.
void QuietDcmtk();

// The SOP Class UID of the DICOM file at `path`, read with DCMTK from its
// first elements; "" when the path is no regular file or no DICOM file.
std::string SopClassOf(const std::string& path);

// The stack of the DICOM series `path` designates, as the DICOM reader
// stacks it. The series is first read by the DICOM reader (in its own
// process), so the folder scan here only meets files that reader has read
// without harm. False with the reader's reason otherwise.
bool LocateDicomStackIsolated(const std::string& path, dicom::DicomStack* stack, std::string* why);

}  // namespace volume
