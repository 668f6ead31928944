#pragma once
// The El Torito boot items: the boot record descriptor that points at the
// catalog, and the catalog whose default entry points at the boot image.

#include <cstdint>

#include "engine/image/iso_records.h"

namespace fornax {

// Emulation the catalog announces: the floppy sizes are told by the image's
// sector count, anything else boots as a hard disk.
uint8_t BootMediaType(int32_t bootImageSectors);

TSector BootRecordDescriptor(uint32_t catalogLocation);
TSector BootCatalog(int32_t bootImageSectors, uint32_t bootImageLocation);

// The value that makes the sixteen little-endian words of a validation entry
// sum to zero (computed with the checksum field at zero).
uint16_t ValidationChecksum(const uint8_t* entry);

}  // namespace fornax
