#pragma once
// Byte layouts of the information answers: INQUIRY, READ DISC INFORMATION,
// READ TRACK INFORMATION, READ CAPACITY, READ FORMAT CAPACITIES and READ
// BUFFER CAPACITY. Pure functions of the model views, before the cut to the
// allocation length.

#include <array>
#include <cstdint>
#include <vector>

#include "simdrive/disc_model.h"
#include "simdrive/drive_state.h"
#include "simdrive/format_unit.h"

namespace fornax::sim {

inline constexpr int kInquiryBytes = 96;
inline constexpr int kDiscInformationBytes = 34;
inline constexpr int kTrackInformationBytes = 36;

std::vector<uint8_t> InquiryAnswer(const Identity& identity);
std::vector<uint8_t> DiscInformationAnswer(const DiscSummary& summary);
std::vector<uint8_t> TrackInformationAnswer(const TrackInfo& track);
std::vector<uint8_t> ReadCapacityAnswer(uint32_t last_lba);
std::vector<uint8_t> FormatCapacitiesAnswer(const CapacityDescriptor& current,
                                            const std::vector<FormatDescriptor>& offered);
// Block = false: buffer and free space in bytes; true: free space in blocks.
std::vector<uint8_t> BufferCapacityAnswer(bool in_blocks, uint32_t buffer_bytes, uint32_t free_bytes);

// An ASCII field padded with blanks, cut to its width.
void PutPaddedText(uint8_t* field, int width, const std::string& text);

}  // namespace fornax::sim
