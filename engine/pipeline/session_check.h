#pragma once
// Reading back what a write put on the disc, so that a write is not reported
// done when the disc does not give it back.

#include <cstdint>
#include <string>
#include <vector>

namespace fornax {

class TSCSIDevice;

// Whether `sectors` sectors from `lba` read back as `expected`; `why` says
// what failed otherwise.
bool DiscHolds(TSCSIDevice& device, uint32_t lba, const uint8_t* expected, uint32_t sectors, std::string& why);

// The first whole sectors of an image file, at most `sectors` of them.
bool ReadImageHead(const std::string& path, uint32_t sectors, std::vector<uint8_t>& head, std::string& why);

}  // namespace fornax
