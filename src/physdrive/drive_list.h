// Internal to src/physdrive: the open drive list shared by drives and images.
#pragma once
#include <cstdint>

#include "format/report_options.h"
#include "physdrive/drive_platform.h"

// Pushes an open handle at the front of the open drive list; on failure the
// handle is closed here and -1 returned.
int add_open_drive(int32_t drive_number, drive_handle_t handle);
// Forgets the image table; the list itself closes the handles.
void forget_image_drives();
// The report of one measured drive or image: begin_drive_report writes its
// heading (the drive's number, or the image's path when image_path is not
// null), or opens its object in the JSON document; end_drive_report closes
// it. Between them, report_drive_medium reports the medium under it:
// geometry is null for a drive whose geometry is asked again; medium, when
// given, is read instead of the drive's own (an image in a container).
struct drive_descriptor;
struct medium_reader;
void begin_drive_report(const drive_descriptor* drive, const char* image_path, const report_options& options);
void end_drive_report(const report_options& options);
int report_drive_medium(const drive_descriptor* drive, const disk_geometry* image_geometry,
                        const report_options& options, const medium_reader* medium = nullptr);
