// Images read through a library of the libyal family (libvhdi, libvmdk,
// libqcow, libewf). Each library is optional at build time and loaded at
// run time, when the first image of its format is opened: a run without such
// an image loads none of them.
#pragma once
#include <cstdint>
#include <string>

#include "physdrive/container.h"

// Opens the image at path, whose format header->format a library reads, and
// completes the header from what the library reports. 0 when opened;
// CONTAINER_REFUSED when the library refuses the file (reason: the
// library's own words); CONTAINER_UNUSABLE when this build has no such
// library or it cannot be loaded (reason names the library).
int open_library_image(const char* path, container_header* header, library_image** image, std::string* reason);
// Reads length bytes of the disk from offset on; 0, or -1 with reason set.
int read_library_image(library_image* image, uint64_t offset, uint8_t* buffer, uint32_t length, std::string* reason);
void close_library_image(library_image* image);
// The library that reads format ("libvhdi", ...), or null for the formats
// read without one; *in_build tells whether this build has it.
const char* container_library(container_format format, bool* in_build);
